#include "fields/infoforreport.h"

#include <algorithm>
#include <set>
#include <string>

#include "com/comutil.h"
#include "com/wstr.h"
#include "fieldmodel/fieldunits.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/scopedcurrent.h"
#include "variantutil.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/infoforreport";
constexpr FrameOptions kFrame{.file = kFile};

// The field's path from its root node's object for the page's qualifier
// value (FieldUtils::GetFieldPathFromRoot): "A(2).B.C". Null when the
// qualifier cannot be read (the caller's own read of it raises the failure).
_bstr_t GetFieldAttributePath(KXComException& ctx, IKXQObject* page, IKXQTemplateField* field) {
  int32_t qualifier = -1;
  SAFEARRAY* nodes = nullptr;
  try {
    FieldUtils::GetFieldQualifier(page, field, &qualifier, &nodes);
  } catch (const KXComException&) {
    if (nodes != nullptr) SafeArrayDestroy(nodes);
    ClearThreadErrorInfo();
    return _bstr_t();
  }
  VariantUtil::SafeArrayVector list(nodes, true);
  return _bstr_t(FieldUtils::GetFieldPathFromRoot(ctx, field, qualifier, list).c_str());
}

// The field's unit as the page shows it: the unit of the page's "Units"
// entry, or without one the unit of the default display text, and its
// display text. Both empty when the field has no unit.
void GetFieldUnitDisplayText(KXComException& ctx, MainContext& main, IKXQObject* page,
                             IKXQTemplateField* field, _bstr_t& unitText, _bstr_t& display) {
  unitText = _bstr_t();
  display = _bstr_t();
  LONG unitId = -1;
  if (field->get_UnitPosition(&unitId) != S_OK || unitId < 0) {
    ClearThreadErrorInfo();
    return;
  }
  IKXQAttributePtr units;
  GetAttributeInterface(page, u"Units", units);
  if (units && unitId + 1 <= GetAttributeCount(units)) {
    KXDBDatasheetSvcs::GetAttributeValueStringAt(units, unitId + 1, unitText);
  }
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  _com_ptr_t<IKXQTemplateUnit> unit;
  KX_CHECK(ctx, templatePage->get_Unit(unitId, &unit));
  CheckPointerArgument(ctx, unit.GetInterfacePtr());
  if (unitText.length() == 0) {
    KX_CHECK(ctx, unit->GetDefaultText(0, display.GetAddress()));
    unitText = FieldUtils::GetDefaultUnit(unit);
  } else {
    KX_CHECK(ctx, unit->GetDisplayText(unitText, display.GetAddress()));
  }
}

// Whether the report leaves the class out: pages, documents and the
// globals class are no engineering data.
bool IsLeftOut(KXComException& ctx, IKXQClass* cls) {
  for (const OLECHAR* name : {u"Page", u"Document", u"GlobalsClass"}) {
    VARIANT_BOOL is = VARIANT_FALSE;
    KX_CHECK(ctx, cls->IsKindOf(_variant_t(name), &is));
    if (is == VARIANT_TRUE) return true;
  }
  return false;
}

// The text of the value at the field's path on `object`, in `unitText`
// (empty: the value's own unit). Reading never creates anything: an object
// that lacks a link of the path has no value.
_bstr_t ReadInstanceValue(KXComException& ctx, IKXQObject* object, IKXQClassView* root,
                          const _bstr_t& path, int32_t caseId, const _bstr_t& unitText) {
  CheckPointerArgument(ctx, object);
  IKXQViewDefinitionPtr definition;
  KX_CHECK(ctx, root->get_Definition(&definition));
  _variant_t viewDefinition;
  viewDefinition.vt = VT_DISPATCH;
  viewDefinition.pdispVal = definition.GetInterfacePtr();
  viewDefinition.pdispVal->AddRef();
  IKXQViewPtr view;
  KX_CHECK(ctx, object->GetView(viewDefinition, &view));
  CheckPointerArgument(ctx, view.GetInterfacePtr());
  _variant_t position;
  IKXQFieldValuePtr holder;
  const HRESULT hr =
      view->ReadRoute(path, _variant_t(LONG{caseId}), position.GetAddress(), &holder);
  _bstr_t text;
  if (hr == KXQ_E_NOTFOUND) {
    ClearThreadErrorInfo();
    return text;
  }
  KX_CHECK(ctx, hr);
  if (!holder) return text;
  // The value in the field's unit, as the system's own conversion writes it
  // (reals to 15 significant digits, Booleans -1 and 0), not in the XML
  // form of the datasheet's fields.
  const _bstr_t unitName(unitText.length() > 0 ? static_cast<const OLECHAR*>(unitText) : u"");
  _variant_t value;
  KX_CHECK(ctx, holder->GetValue(position, _variant_t(unitName), value.GetAddress()));
  if (V_VT(&value) <= VT_NULL) return text;
  // A value with no text form reports none.
  if (FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
    ClearThreadErrorInfo();
    return text;
  }
  text = _bstr_t(V_BSTR(&value));
  return text;
}

}  // namespace

const GrammarRecord* GetInfoForReportSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"GetInfoForReport", 1, {Grammar::Child(Field)}),
      Grammar::Element(
          u"Field", Field,
          {Grammar::Integer(u"FieldId", FieldId), Grammar::Integer(u"PageId", PageId)}));
  return kGrammar.data();
}

HRESULT GetInfoForReportMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  int32_t number = -1;
  switch (id) {
    case FieldId:
    case PageId: {
      const HRESULT hr = Store(number, value);
      if (FAILED(hr)) return hr;
      (id == FieldId ? m_fieldIds : m_pageIds).push_back(number);
      return S_OK;
    }
    default: return E_INVALIDARG;
  }
}

HRESULT GetInfoForReportMessageParser::WriteObjectInfo() {
  return ServeRequest(u"KXDBDatasheetSvcs::WriteObjectInfo", kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
    const size_t pairs = std::min(m_fieldIds.size(), m_pageIds.size());
    for (size_t n = 0; n < pairs; ++n) {
      IKXQObjectPtr page;
      GetStoreObject(main.m_pDatabase, page, m_pageIds[n]);
      IKXQObjectPtr datasheet;
      GetOwnerObject(page, datasheet);
      IKXQTemplatePtr tmpl;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplate(main.m_pApplication, datasheet, &tmpl, 1));
      CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
      _bstr_t kind;
      KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
      if (kind.length() > 0 && _wcsicmp(kind, u"Summary") == 0) continue;
      const ScopedCurrentDatasheet currentDatasheet(main.m_pApplication, datasheet);
      const ScopedCurrentPage currentPage(main.m_pApplication, page);

      IKXQTemplateFieldPtr field;
      FieldUtils::GetFieldNumber(main, page, m_fieldIds[n], 0, field);
      CheckPointerArgument(ctx, field.GetInterfacePtr());
      IKXQClassViewPtr root;
      FieldUtils::GetTemplateFieldNode(page, field, true, root);
      CheckPointerArgument(ctx, root.GetInterfacePtr());
      SAFEARRAY* attached = nullptr;
      KX_CHECK(ctx, root->GetAttachedClasses(0, &attached));
      VariantUtil::SafeArrayVector classes(attached, true);
      const _bstr_t path = GetFieldAttributePath(ctx, page, field);
      int32_t qualifier = -1;
      SAFEARRAY* nodes = nullptr;
      FieldUtils::GetFieldQualifier(page, field, &qualifier, &nodes);
      if (nodes != nullptr) SafeArrayDestroy(nodes);
      _bstr_t attributeName;
      KX_CHECK(ctx, field->GetRoute(qualifier, attributeName.GetAddress()));
      _bstr_t unitText, display;
      GetFieldUnitDisplayText(ctx, main, page, field, unitText, display);
      const int32_t caseId = FieldUtils::GetFieldCase(page, field, nullptr, nullptr);

      std::vector<IKXQClass*> seen;
      for (int32_t c = 0; c < classes.Count(); ++c) {
        IKXQClassPtr cls;
        KX_CHECK(ctx, classes.GetClassAt(c, &cls));
        CheckPointerArgument(ctx, cls.GetInterfacePtr());
        if (std::find(seen.begin(), seen.end(), cls.GetInterfacePtr()) != seen.end()) continue;
        seen.push_back(cls.GetInterfacePtr());
        if (IsLeftOut(ctx, cls)) continue;
        _com_ptr_t<IKXQObjectCollection> instances;
        KX_CHECK(ctx, cls->get_Instances(&instances));
        CheckPointerArgument(ctx, instances.GetInterfacePtr());
        LONG count = 0;
        KX_CHECK(ctx, instances->get_Count(&count));
        std::set<std::u16string> names;
        for (LONG i = 1; i <= count; ++i) {
          IKXQObjectPtr object;
          KX_CHECK(ctx, instances->get_Item(i, &object));
          CheckPointerArgument(ctx, object.GetInterfacePtr());
          _bstr_t name;
          KX_CHECK(ctx, object->get_Name(_variant_t(false), name.GetAddress()));
          const OLECHAR* nameText = name.length() > 0 ? static_cast<const OLECHAR*>(name) : u"";
          if (!names.insert(nameText).second) continue;
          const _bstr_t value = ReadInstanceValue(ctx, object, root, path, caseId, unitText);
          XMLReply::EnsureAttributes(Reply());
          XMLReply::AddStringAttribute(Reply(), u"Name", name);
          XMLReply::StartElement(Reply(), u"ObjectInfo");
          XMLReply::WriteElement(Reply(), u"AttributeName", attributeName);
          XMLReply::WriteElement(Reply(), u"Value", value);
          XMLReply::WriteElement(Reply(), u"UOM", display);
          XMLReply::EndElement(Reply(), u"ObjectInfo");
        }
      }
    }
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetInfoForReport(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetInfoForReportMessageParser>(main, u"KXDBDatasheetSvcs::GetInfoForReport",
                                                     request);
}
