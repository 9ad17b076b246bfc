// The automation method "LoadBEDDData": a new piece of equipment takes the
// project's basic engineering design data (site conditions) from the one
// master BEDD datasheet, for every value that the "ProjectSiteConditions"
// definition knows and a field of the datasheet's template shows, once.
#include <map>
#include <set>
#include <string>

#include "fieldmodel/fieldutils.h"
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

// The undecorated lower-case paths of the attributes the template's fields
// show: for each field of each page, the names of its nodes below the
// page's root and the attribute its route ends in.
std::set<std::u16string> ShownPaths(KXComException& ctx, IKXQTemplate* tmpl) {
  std::set<std::u16string> shown;
  LONG pageCount = 0;
  KX_CHECK(ctx, tmpl->get_PageCount(&pageCount));
  for (LONG p = 1; p <= pageCount; ++p) {
    IKXQTemplatePagePtr page;
    KX_CHECK(ctx, tmpl->get_Page(p, &page));
    if (!page) continue;
    LONG fieldCount = 0;
    KX_CHECK(ctx, page->get_FieldCount(&fieldCount));
    for (LONG f = 1; f <= fieldCount; ++f) {
      IKXQTemplateFieldPtr field;
      KX_CHECK(ctx, page->get_Field(f, &field));
      if (!field) continue;
      // A qualified field shows its first choice, which a new page takes.
      LONG qualifierPosition = -1;
      KX_CHECK(ctx, field->get_QualifierPosition(&qualifierPosition));
      const LONG qualifier = qualifierPosition >= 0 ? 0 : -1;
      SAFEARRAY* raw = nullptr;
      KX_CHECK(ctx, field->GetNodeList(qualifier, &raw));
      VariantUtil::SafeArrayVector nodes(raw, true);
      if (nodes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
      const std::u16string path = FieldUtils::GetFieldPathFromRoot(ctx, field, qualifier, nodes);
      KXDBDatasheetSvcs::NameList names;
      KXDBDatasheetSvcs::SplitAttributePath(path.c_str(), names);
      shown.insert(UndecoratedKey(names, true));
    }
  }
  return shown;
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
    // Only what the template shows is copied, not all its classes know.
    const std::set<std::u16string> shown = ShownPaths(ctx, tmpl);
    IKXQObjectPtr object(pObject);
    for (const _bstr_t& path : templatePaths) {
      NameList names;
      KXDBDatasheetSvcs::SplitAttributePath(path, names);
      const std::u16string key = UndecoratedKey(names, true);
      if (shown.count(key) == 0) continue;
      const auto found = pathMap.find(key);
      if (found != pathMap.end()) {
        KXDBDatasheetSvcs::CopyAttributeValueByPath(master, found->second, object);
      }
    }
    KXDBDatasheetSvcs::MarkBEDDInitialized(pObject);
    return S_OK;
  });
}
