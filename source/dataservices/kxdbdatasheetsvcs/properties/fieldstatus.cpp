#include "properties/fieldstatus.h"

#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "properties/fieldpage.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldstatus";
constexpr FrameOptions kFrame{.file = kFile};

// One state summed over a selection: 0 none has it, 1 all have it, 2 some.
class StateSummary {
 public:
  void Add(bool on) { (on ? m_on : m_off) = true; }
  LONG Value() const { return m_on ? (m_off ? 2 : 1) : 0; }

 private:
  bool m_on = false;
  bool m_off = false;
};

}  // namespace

// ---------------------------------------------------------------------------
// "GetFieldStatus"

const GrammarRecord* GetFieldStatusSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(u"GetFieldStatus", 1,
                       {Grammar::Integer(u"PageId", PageId), Grammar::Child(FieldId)}),
      Grammar::Element(u"FieldId", FieldId,
                       {Grammar::Integer(u"ID", ID), Grammar::Integer(u"Index", Index)}));
  return kGrammar.data();
}

HRESULT GetFieldStatusMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case ID: return Store(m_id, value);
    case Index: return Store(m_index, value);
    default: return E_INVALIDARG;
  }
}

HRESULT GetFieldStatusMessageParser::WorkChild(uint32_t element) {
  if (element != FieldId || m_id < 0) return E_INVALIDARG;
  m_fieldIds.push_back(m_id);
  m_rows.push_back(m_index);
  m_id = -1;
  m_index = -1;
  return S_OK;
}

HRESULT GetFieldStatusMessageParser::WritePopStatus() {
  return ServeRequest(u"KXDBDatasheetSvcs::WritePopStatus", kFrame, [&](KXComException& ctx) {
    FieldPage work(*m_pMain, m_pageId);
    StateSummary locked, secured, held;
    std::vector<IKXQObjectPtr> holds;
    for (size_t i = 0; i < m_fieldIds.size(); ++i) {
      IKXQTemplateFieldPtr field;
      work.FieldNumber(m_fieldIds[i], m_rows[i], field);
      FieldValue value;
      FieldPresentation::ResolveFieldValue(work, field, m_rows[i], value);
      VARIANT_BOOL isLocked = VARIANT_FALSE, isSecured = VARIANT_FALSE;
      bool isHeld = false;
      if (value.attribute) {
        KX_CHECK(ctx, value.attribute->IsLocked(value.position, &isLocked));
        KX_CHECK(ctx, value.attribute->IsSecured(value.position, &isSecured));
        isHeld = FieldPresentation::IsValueHeld(value.attribute, value.position);
      }
      locked.Add(isLocked != VARIANT_FALSE);
      secured.Add(isSecured != VARIANT_FALSE);
      held.Add(isHeld);
      if (!isHeld) continue;
      IKXQObjectPtr hold;
      KX_CHECK(ctx, value.attribute->get_HoldObject(value.position, &hold));
      if (!hold) continue;
      bool known = false;
      for (const auto& other : holds) known = known || ObjectIdOf(other) == ObjectIdOf(hold);
      if (!known) holds.push_back(hold);
    }
    std::u16string reason;
    for (const auto& hold : holds) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetObjectNameWithReason(text, hold);
      if (text.length() > 0) reason += static_cast<const OLECHAR*>(text);
      reason += u'\n';
    }
    XMLReply::BeginMessage(Reply(), m_targetId.c_str(), m_status);
    XMLReply::EnsureAttributes(Reply());
    XMLReply::AddLongAttribute(Reply(), u"PageId", m_pageId);
    XMLReply::AddLongAttribute(Reply(), u"Lock", locked.Value());
    XMLReply::AddLongAttribute(Reply(), u"Secure", secured.Value());
    XMLReply::AddLongAttribute(Reply(), u"Hold", held.Value());
    XMLReply::AddStringAttribute(Reply(), u"HoldReason", _bstr_t(reason.c_str()));
    XMLReply::StartElement(Reply(), u"PopStatus");
    for (size_t i = 0; i < m_fieldIds.size(); ++i) {
      XMLReply::AddLongAttribute(Reply(), u"ID", m_fieldIds[i]);
      if (m_rows[i] >= 0) XMLReply::AddLongAttribute(Reply(), u"Index", m_rows[i]);
      XMLReply::WriteElement(Reply(), u"FieldId", nullptr);
    }
    XMLReply::EndElement(Reply(), u"PopStatus");
    XMLReply::EndMessage(Reply());
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::GetFieldStatus(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetFieldStatusMessageParser>(main, u"KXDBDatasheetSvcs::GetFieldStatus",
                                                   request);
}

// ---------------------------------------------------------------------------
// "SetFieldStatus"

const GrammarRecord* SetFieldStatusSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Table(
      Grammar::Envelope(TargetId, Status),
      Grammar::Element(
          u"SetFieldStatus", 1,
          {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"IsLocked", IsLocked),
           Grammar::Integer(u"IsHeld", IsHeld), Grammar::Integer(u"IsSecured", IsSecured),
           Grammar::Integer(u"HoldId", HoldId), Grammar::String(u"ConfirmedClass", ConfirmedClass),
           Grammar::Child(FieldId)}),
      Grammar::Element(u"FieldId", FieldId,
                       {Grammar::Integer(u"ID", ID), Grammar::Integer(u"Index", Index)}));
  return kGrammar.data();
}

HRESULT SetFieldStatusMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case IsLocked: return Store(m_isLocked, value);
    case IsHeld: return Store(m_isHeld, value);
    case IsSecured: return Store(m_isSecured, value);
    case HoldId: return Store(m_holdId, value);
    case ConfirmedClass: return Store(m_confirmedClass, value);
    case ID: return Store(m_id, value);
    case Index: return Store(m_index, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetFieldStatusMessageParser::WorkChild(uint32_t element) {
  if (element != FieldId || m_id == -1) return E_INVALIDARG;
  const HRESULT hr = SetFieldStatusValue(m_id, m_index);
  m_id = -1;
  m_index = -1;
  return hr;
}

HRESULT SetFieldStatusMessageParser::SetFieldStatusValue(int32_t fieldId, int32_t row) {
  return ServeRequest(u"KXDBDatasheetSvcs::SetFieldStatusValue", kFrame, [&](KXComException& ctx) {
    MainContext& main = *m_pMain;
    FieldPage work(main, m_pageId);
    // A copy keeps the presentation and states it recorded: refused before
    // anything is asserted, changed or announced.
    KXDBDatasheetSvcs::RefuseStatusCopy(work.page);
    const bool continuous = work.IsContinuous();
    IKXQTemplateFieldPtr field;
    // Numbered first: a field outside the rows addressed with a row, or a
    // list column without one, is refused before its route is walked from
    // a row's object.
    int32_t number = work.FieldNumber(fieldId, row, field);
    if (continuous) {
      FieldUtils::CheckListColumnRow(main.GetContinuousPageHelper(), work.page, field, row);
    }
    FieldValue value;
    FieldPresentation::ResolveFieldValue(work, field, row, value);
    if (!value.holder && (m_isLocked != 0 || m_isSecured != 0 || m_isHeld != 0)) {
      FieldPresentation::AssertFieldValue(work, fieldId, row, continuous, m_confirmedClass.c_str(),
                                          value, number);
    }
    if (value.attribute) {
      FieldPresentation::ApplyValueStatus(main, value.attribute, value.position, m_isLocked,
                                          m_isSecured, m_isHeld, m_holdId);
    }
    KX_CHECK(ctx, main.LaunchDataFieldEvent(work.page, number, 1, false));
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetFieldStatus(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetFieldStatusMessageParser>(main, u"KXDBDatasheetSvcs::SetFieldStatus",
                                                   request);
}
