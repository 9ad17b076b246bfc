#include "fields/unitfield.h"

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/unitfield";
constexpr FrameOptions kFrame{.file = kFile};

// The common start of both messages: the page (straight from the
// database), its template page's unit field `unitId` and its unit list.
void GetUnitField(KXComException& ctx, MainContext& main, int32_t pageId, int32_t unitId,
                  IKXQObjectPtr& page, _com_ptr_t<IKXQTemplateUnit>& unit,
                  VariantUtil::SafeArrayVector& units) {
  if (unitId < 0) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Invalid unit id %d",
                            static_cast<int>(unitId));
  }
  GetStoreObject(main.m_pDatabase, page, pageId);
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  KX_CHECK(ctx, templatePage->get_Unit(unitId, &unit));
  CheckPointerArgument(ctx, unit.GetInterfacePtr());
  SAFEARRAY* list = nullptr;
  KX_CHECK(ctx, unit->get_Units(&list));
  units.AttachStrings(list, true);
}

}  // namespace

// ---------------------------------------------------------------------------
// "GetUnits"

const GrammarRecord* GetUnitsSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"GetUnits", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"UnitId", UnitId)});
  return kGrammar.data();
}

HRESULT GetUnitsMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case UnitId: return Store(m_unitId, value);
    default: return E_INVALIDARG;
  }
}

HRESULT GetUnitsMessageParser::WritePopUnits() {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePopUnits", kFrame, [&](KXComException& ctx) {
    IKXQObjectPtr page;
    _com_ptr_t<IKXQTemplateUnit> unit;
    VariantUtil::SafeArrayVector units;
    GetUnitField(ctx, *m_pMain, m_pageId, m_unitId, page, unit, units);
    XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
    XMLReply::EnsureAttributes(Reply());
    XMLReply::AddLongAttribute(Reply(), u"PageId", m_pageId);
    XMLReply::AddLongAttribute(Reply(), u"UnitId", m_unitId);
    XMLReply::StartElement(Reply(), u"PopUnits");
    for (int32_t i = 0; i < units.Count(); ++i) {
      _bstr_t text;
      KX_CHECK(ctx, units.GetStringAt(i, text.GetAddress()));
      _bstr_t display;
      KX_CHECK(ctx, unit->GetDisplayText(text, display.GetAddress()));
      XMLReply::WriteElement(Reply(), u"Value", display);
    }
    XMLReply::EndElement(Reply(), u"PopUnits");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetUnits(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetUnitsMessageParser>(main, u"KXDBDatasheetSvcs::GetUnits", request);
}

// ---------------------------------------------------------------------------
// "SetUnit"

const GrammarRecord* SetUnitSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetUnit", {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"UnitId", UnitId),
                   Grammar::Integer(u"Index", Index)});
  return kGrammar.data();
}

HRESULT SetUnitMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case UnitId: return Store(m_unitId, value);
    case Index: m_index.Store(value); return S_OK;
    default: return E_INVALIDARG;
  }
}

HRESULT SetUnitMessageParser::SetUnitValue() {
  return ServeRequest(u"KXDBDatasheetSvcs::SetUnitValue", kFrame, [&](KXComException& ctx) {
    m_index.Check(ctx, KX_HERE(kFile),
                  kx_format(u"unit field %d of page %d", static_cast<int>(m_unitId),
                            static_cast<int>(m_pageId))
                      .c_str());
    IKXQObjectPtr page;
    _com_ptr_t<IKXQTemplateUnit> unit;
    VariantUtil::SafeArrayVector units;
    GetUnitField(ctx, *m_pMain, m_pageId, m_unitId, page, unit, units);
    KXDBDatasheetSvcs::RefuseStatusCopy(page);
    IKXQAttributePtr pageUnits;
    GetAttributeInterface(page, u"Units", pageUnits);
    CheckPointerArgument(ctx, pageUnits.GetInterfacePtr());
    _bstr_t current;
    bool has = false;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(pageUnits, m_unitId + 1, current, &has);
    _bstr_t chosen;
    KX_CHECK(ctx, units.GetStringAt(m_index.value, chosen.GetAddress()));
    if (current == chosen) return S_OK;
    KX_CHECK(ctx, pageUnits->PutValue(_variant_t(static_cast<LONG>(m_unitId + 1)), _variant_t(),
                                      _variant_t(chosen)));
    KX_CHECK(ctx, m_pMain->LaunchUnitFieldEvent(page, m_unitId, 1));
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetUnit(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetUnitMessageParser>(main, u"KXDBDatasheetSvcs::SetUnit", request);
}
