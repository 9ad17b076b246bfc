#include "documents/listdatasheetsbyobject.h"

#include <unordered_map>
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "loader/templatelibrary.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"

using namespace KXDBDatasheetSvcs;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/listdatasheetsbyobject";

// One creation entry per available datasheet or summary template whose
// classes take the object's class; the datasheet templates' entries, which
// name the object, are also appended to `offers` when given.
void AddCreationEntries(MainContext& main, KXDatasheetInfoList& list, IKXQObject* object,
                        std::vector<KXDatasheetInfo>* offers) {
  KXComException ctx = KXComException::Silent();
  IKXQClassPtr cls;
  GetObjectClass(object, cls);
  _bstr_t objectName;
  GetObjectName(object, objectName, false);
  VisitLibraryTemplates(ctx, main.m_pApplication, [&](IKXQTemplate* tmpl) {
    _bstr_t kind;
    KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
    const bool datasheet = kx_wcsicmp(kind.view(), u"Datasheet") == 0;
    const bool summary = kx_wcsicmp(kind.view(), u"Summary") == 0;
    VARIANT_BOOL available = VARIANT_FALSE;
    KX_CHECK(ctx, tmpl->get_Available(&available));
    if ((!datasheet && !summary) || available == VARIANT_FALSE) return;
    SAFEARRAY* rawClasses = nullptr;
    KX_CHECK(ctx, GetTemplateClasses(tmpl, &rawClasses));
    VariantUtil::SafeArrayVector classes(rawClasses, true);
    if (!IsClassInArray(cls, rawClasses)) return;
    _bstr_t id;
    _bstr_t name;
    KX_CHECK(ctx, tmpl->get_Id(id.GetAddress()));
    KX_CHECK(ctx, tmpl->get_Name(name.GetAddress()));
    const _bstr_t category = TemplateCategory(tmpl);
    if (datasheet) {
      const KXDatasheetInfo& offer = list.AddTemplateEntry(name, CreationTitle(objectName, name),
                                                           object, id, false, category, true);
      if (offers != nullptr) offers->push_back(offer);
    } else {
      list.AddTemplateEntry(name, name, nullptr, id, true, category, false);
    }
  });
}

}  // namespace

namespace KXDBDatasheetSvcs {

void ListDatasheetsForObject(MainContext& main, KXDatasheetInfoList& list, int32_t objectId,
                             std::vector<KXDatasheetInfo>* offers) {
  if (objectId < 1) return;
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr object;
  GetStoreObject(main.m_pDatabase, object, objectId);
  AddCreationEntries(main, list, object, offers);

  // The datasheets whose pages show the object.
  if (!ClassHasAttribute(object, u"DataViews")) return;
  IKXQAttributePtr views;
  const int32_t count = GetAttributeInterfaceAndCountByName(object, u"DataViews", views);
  if (main.m_pSchema == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
  }
  IKXQClassPtr pageClass;
  KX_CHECK(ctx, main.m_pSchema->get_Class(_bstr_t(u"Page"), &pageClass));
  if (!pageClass) return;
  const _variant_t page(static_cast<IDispatch*>(pageClass.GetInterfacePtr()));
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr view;
    GetAttributeAsObject(views, i, view);
    if (!view) continue;
    IKXQClassPtr viewClass;
    GetObjectClass(view, viewClass);
    VARIANT_BOOL isPage = VARIANT_FALSE;
    if (viewClass) KX_CHECK(ctx, viewClass->IsKindOf(page, &isPage));
    if (isPage == VARIANT_FALSE) continue;
    IKXQObjectPtr datasheet;
    GetOwnerObject(view, datasheet);
    if (datasheet) list.AddDatasheet(main.m_pApplication, datasheet);
  }
}

}  // namespace KXDBDatasheetSvcs

const GrammarRecord* ListDatasheetsByObjectSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(),
                     Grammar::Element(u"ListDatasheetsByObject", 1, {Grammar::Child(ObjectId)}),
                     Grammar::IntegerElement(u"ObjectId", ObjectId));
  return kGrammar.data();
}

HRESULT ListDatasheetsByObjectMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id != ObjectId) return E_INVALIDARG;
  m_objectIds.push_back(value.integer);
  return S_OK;
}

HRESULT ListDatasheetsByObjectMessageParser::ListDatasheets() {
  return RunListing(kFile, [&] {
    // An object named again offers its datasheet templates again; its
    // datasheets, and its summary templates' entries (which name no
    // object), would be listed once whatever: they are not looked up again,
    // so that a repeated entry costs only the records it adds.
    std::unordered_map<int32_t, std::vector<KXDatasheetInfo>> offers;
    for (const int32_t id : m_objectIds) {
      const auto [at, first] = offers.try_emplace(id);
      if (first) {
        ListDatasheetsForObject(*m_pMain, m_list, id, &at->second);
      } else {
        for (const KXDatasheetInfo& offer : at->second) m_list.AddRecord(offer, true);
      }
    }
    WriteDatasheetList(*m_pMain, m_list);
  });
}

void ListDatasheetsByObjectMessageParser::ForgetEntries() {
  m_objectIds.clear();
  m_list.RemoveAll();
}

HRESULT KXDBDatasheetSvcs::ListDatasheetsByObject(MainContext& main, const OLECHAR* request) {
  return ServeMessage<ListDatasheetsByObjectMessageParser>(
      main, u"KXDBDatasheetSvcs::ListDatasheetsByObject", request);
}
