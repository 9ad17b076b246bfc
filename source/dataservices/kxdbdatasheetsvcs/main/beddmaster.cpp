// The automation method "LoadBEDDData": a new piece of equipment takes the
// project's basic engineering design data (site conditions) from the one
// master BEDD datasheet, for every value that both the "ProjectSiteConditions"
// definition and the datasheet's template know, once.
#include <map>
#include <string>

#include "kxcomexception.h"
#include "main/main.h"
#include "model/beddpaths.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
// An automation method is an entry point of the host: an exception of
// unknown type is answered here.
constexpr FrameOptions kEntryFrame{.file = kFile, .boundary = true};

// A path's names without their position decorations, joined with ".".
std::u16string UndecoratedKey(const KXDBDatasheetSvcs::NameList& names, bool lower) {
  std::u16string key;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) key += u'.';
    int32_t code = 0;
    _bstr_t base;
    KXDBDatasheetSvcs::ParseIndexedName(names[i], code, base);
    std::u16string name(base.view());
    if (lower) {
      for (char16_t& c : name) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
      }
    }
    key += name;
  }
  return key;
}

}  // namespace

HRESULT Main::LoadBEDDData(BSTR* bstrTemplateId, IDispatch* pObject, VARIANT*) {
  return ServeRequest(u"Main::LoadBEDDData", kEntryFrame, [&](KXComException& ctx) {
    using KXDBDatasheetSvcs::NameList;
    if (!KXDBDatasheetSvcs::NeedsBEDDInitialization(pObject)) return S_OK;
    if (m_pApplication == nullptr) return S_OK;
    IKXQSchemaPtr schema;
    KX_CHECK(ctx, m_pApplication->get_Schema(&schema));
    if (!schema) return S_OK;
    IKXQClassPtr siteConditions;
    KX_CHECK(ctx, schema->get_DataDefinition(_bstr_t(u"ProjectSiteConditions"), &siteConditions));
    if (!siteConditions) return S_OK;
    IKXQClassPtr masterClass;
    KX_CHECK(ctx, schema->get_Class(_bstr_t(u"MasterBEDD"), &masterClass));
    if (!masterClass) return S_OK;
    _com_ptr_t<IKXQObjectCollection> instances;
    KX_CHECK(ctx, masterClass->get_Instances(&instances));
    if (!instances) return S_OK;
    LONG count = 0;
    KX_CHECK(ctx, instances->get_Count(&count));
    if (count == 0) return S_OK;
    if (count > 1) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"BEDD Configuration Error. Multiple BEDD datasheets found when only "
                              u"one may exist.");
    }
    IKXQObjectPtr master;
    KX_CHECK(ctx, instances->get_Item(1, &master));
    if (!master) return S_OK;

    NameList sitePaths;
    NameList stack;
    KXDBDatasheetSvcs::CollectAttributePaths(siteConditions, sitePaths, stack, NameList());
    if (sitePaths.empty()) return S_OK;
    // The first site-condition path of each undecorated key decides what
    // is copied.
    std::map<std::u16string, NameList> pathMap;
    NameList firstNames;
    for (const _bstr_t& path : sitePaths) {
      NameList names;
      KXDBDatasheetSvcs::SplitAttributePath(path, names);
      if (names.empty()) continue;
      int32_t code = 0;
      _bstr_t first;
      KXDBDatasheetSvcs::ParseIndexedName(names.front(), code, first);
      bool known = false;
      for (const _bstr_t& name : firstNames) known = known || name.view() == first.view();
      if (!known) firstNames.push_back(first);
      pathMap.emplace(UndecoratedKey(names, false), names);
    }

    IKXQTemplateLibraryPtr library;
    KX_CHECK(ctx, m_pApplication->get_TemplateLibrary(&library));
    if (!library) return S_OK;
    IKXQTemplatePtr tmpl;
    KX_CHECK(ctx, library->GetTemplate(bstrTemplateId != nullptr ? *bstrTemplateId : nullptr,
                                       _variant_t(), &tmpl));
    if (!tmpl) return S_OK;
    IKXQClassViewPtr view;
    KX_CHECK(ctx, tmpl->get_ClassView(&view));
    if (!view) return S_OK;
    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, view->GetAttachedClasses(0, &raw));
    VariantUtil::SafeArrayVector classes(raw, true);
    if (classes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
    NameList templatePaths;
    for (int32_t i = 0; i < classes.Count(); ++i) {
      IKXQClassPtr cls;
      KX_CHECK(ctx, classes.GetClassAt(i, &cls));
      if (cls) KXDBDatasheetSvcs::CollectAttributePaths(cls, templatePaths, stack, firstNames);
    }
    IKXQObjectPtr object(pObject);
    for (const _bstr_t& path : templatePaths) {
      NameList names;
      KXDBDatasheetSvcs::SplitAttributePath(path, names);
      const auto found = pathMap.find(UndecoratedKey(names, true));
      if (found != pathMap.end()) {
        KXDBDatasheetSvcs::CopyAttributeValueByPath(master, found->second, object);
      }
    }
    KXDBDatasheetSvcs::MarkBEDDInitialized(pObject);
    return S_OK;
  });
}
