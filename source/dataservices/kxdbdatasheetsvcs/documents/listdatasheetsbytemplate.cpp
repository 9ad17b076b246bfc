#include "documents/listdatasheetsbytemplate.h"

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listdatasheetsbytemplate";

// One creation entry per instance of the template's classes, each object
// once.
void AddObjectEntries(KXDatasheetInfoList& list, IKXQTemplate* tmpl, const _bstr_t& name,
                      const OLECHAR* templateId, const _bstr_t& category) {
  KXComException ctx = KXComException::Silent();
  SAFEARRAY* rawClasses = nullptr;
  KX_CHECK(ctx, GetTemplateClasses(tmpl, &rawClasses));
  VariantUtil::SafeArrayVector classes(rawClasses, true);
  SortedIdArray seen;
  for (int32_t c = 0; c < classes.Count(); ++c) {
    IKXQClass* element = nullptr;
    KX_CHECK(ctx, classes.GetInterfaceAt(c, &element));
    IKXQClassPtr cls;
    cls.Attach(element);
    if (!cls) continue;
    _com_ptr_t<IKXQObjectCollection> instances;
    KX_CHECK(ctx, cls->get_Instances(&instances));
    LONG count = 0;
    if (instances) KX_CHECK(ctx, instances->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
      IKXQObjectPtr object;
      KX_CHECK(ctx, instances->get_Item(i, &object));
      LONG id = 0;
      if (object) KX_CHECK(ctx, object->get_Id(&id));
      if (id <= 0 || !seen.Add(id)) continue;
      _bstr_t objectName;
      GetObjectName(object, objectName, false);
      list.AddTemplateEntry(name, CreationTitle(objectName, name), object, templateId, false,
                            category, true);
    }
  }
}

}  // namespace

namespace KXDBDatasheetSvcs {

void ListDatasheetsForTemplate(MainContext& main, KXDatasheetInfoList& list,
                               const OLECHAR* templateId) {
  KXComException ctx = KXComException::Silent();
  IKXQTemplateLibraryPtr library;
  KX_CHECK(ctx, main.m_pApplication->get_TemplateLibrary(&library));
  if (!library) return;
  IKXQTemplatePtr tmpl;
  if (FAILED(library->GetTemplate(_bstr_t(templateId), _variant_t(), &tmpl)) || !tmpl) {
    // An id the library does not know lists nothing.
    ClearThreadErrorInfo();
    return;
  }
  _bstr_t name;
  _bstr_t kind;
  KX_CHECK(ctx, tmpl->get_Name(name.GetAddress()));
  KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
  const bool summary = kx_wcsicmp(kind.view(), u"Summary") == 0;
  const _bstr_t category = TemplateCategory(tmpl);
  list.AddTemplateEntry(name, name, nullptr, templateId, summary, category, true);
  if (!summary) AddObjectEntries(list, tmpl, name, templateId, category);

  const std::u16string_view wanted = templateId ? std::u16string_view(templateId) : u"";
  for (const IKXQObjectPtr& datasheet : ClassInstances(main, u"Datasheet")) {
    _bstr_t id;
    if (ClassHasAttribute(datasheet, u"TemplateId"))
      GetAttributeString(datasheet, id, u"TemplateId", -1);
    if (kx_wcsicmp(id.view(), wanted) == 0) list.AddDatasheet(main.m_pApplication, datasheet);
  }
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* ListDatasheetsByTemplateSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(),
                     Grammar::Element(u"ListDatasheetsByTemplate", 1, {Grammar::Child(TemplateId)}),
                     Grammar::StringElement(u"TemplateId", TemplateId));
  return kGrammar.data();
}

HRESULT ListDatasheetsByTemplateMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id != TemplateId) return E_INVALIDARG;
  std::u16string text(value.text ? value.text : u"");
  if (m_namedIds.insert(text).second) m_templateIds.push_back(std::move(text));
  return S_OK;
}

HRESULT ListDatasheetsByTemplateMessageParser::ListDatasheets() {
  return RunListing(kFile, [&] {
    for (const std::u16string& id : m_templateIds) {
      ListDatasheetsForTemplate(*m_pMain, m_list, id.c_str());
    }
    WriteDatasheetList(*m_pMain, m_list);
  });
}

void ListDatasheetsByTemplateMessageParser::ForgetEntries() {
  m_templateIds.clear();
  m_namedIds.clear();
  m_list.RemoveAll();
}

HRESULT KXDBDatasheetSvcs::ListDatasheetsByTemplate(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetsByTemplateMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetsByTemplate", request);
}
