#include "properties/holds.h"

#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/holds";
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};

// The reason handed to the host: the text, or no value for an empty one.
_variant_t ReasonVariant(const SAXText& reason) {
  if (reason.IsEmpty()) return _variant_t();
  return _variant_t(reason.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// "ListHolds"

HRESULT KXDBDatasheetSvcs::ListHolds(MainContext& main, const OLECHAR* /*request*/) {
  return ServeRequest(u"KXDBDatasheetSvcs::ListHolds", [&](KXComException&) {
    XMLReply::BeginMessage(main, u"App", -1);
    XMLReply::StartElement(main, u"Holds");
    ForEachClassInstance(main.m_pSchema, u"Hold", [&](IKXQObject* hold) {
      IKXQAttributePtr inactive;
      GetAttributeInterface(hold, u"InActive", inactive);
      if (inactive && KXDBDatasheetSvcs::GetAttributeBoolean(inactive)) return;
      LONG id = 0;
      KXComException ctx = KXComException::Silent();
      KX_CHECK(ctx, hold->get_Id(&id));
      _bstr_t name;
      KXDBDatasheetSvcs::GetObjectName(hold, name, false);
      XMLReply::AddLongAttribute(main, u"HoldId", id);
      XMLReply::AddStringAttribute(main, u"Name", name.GetBSTR());
      XMLReply::WriteElement(main, u"Hold", nullptr);
    });
    XMLReply::EndElement(main, u"Holds");
    XMLReply::EndMessage(main);
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// "CreateHold"

const GrammarRecord* CreateHoldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"CreateHold",
      {Grammar::String(u"HoldName", HoldName), Grammar::String(u"HoldReason", HoldReason)});
  return kGrammar.data();
}

HRESULT CreateHoldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case HoldName: return Store(m_holdName, value);
    case HoldReason: return Store(m_holdReason, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CreateHoldMessageParser::CreateHold() {
  constexpr auto kMethod = u"CreateHoldMessageParser::CreateHold";
  return ServeRequest(kMethod, kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, m_pMain->m_pApplication);
    const _bstr_t name(m_holdName.IsNull() ? u"" : m_holdName.c_str());
    IKXQObjectPtr hold;
    KX_CHECK(ctx, m_pMain->m_pApplication->CreateHold(name, ReasonVariant(m_holdReason), &hold));
    CheckPointerArgument(ctx, hold.GetInterfacePtr(), u"The host created no hold");
    _bstr_t created;
    KXDBDatasheetSvcs::GetObjectName(hold, created, false);
    XMLReply::SendText(Reply(), created.length() > 0 ? static_cast<const OLECHAR*>(created) : u"");
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::CreateHold(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CreateHoldMessageParser>(main, u"KXDBDatasheetSvcs::CreateHold", request);
}

// ---------------------------------------------------------------------------
// "CloseHold"

const GrammarRecord* CloseHoldSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"CloseHold",
      {Grammar::Integer(u"HoldId", HoldId), Grammar::String(u"HoldReason", HoldReason)});
  return kGrammar.data();
}

HRESULT CloseHoldMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case HoldId: return Store(m_holdId, value);
    case HoldReason: return Store(m_holdReason, value);
    default: return E_INVALIDARG;
  }
}

HRESULT CloseHoldMessageParser::CloseHold() {
  return ServeRequest(u"CloseHoldMessageParser::CloseHold", kWorkerFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, m_pMain->m_pApplication);
    IKXQObjectPtr hold;
    GetStoreObject(m_pMain->m_pDatabase, hold, m_holdId);
    // Closing sets "InActive" on whatever the host is given: only holds.
    if (!KXDBDatasheetSvcs::IsObjectOfClass(hold, u"Hold")) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Object %d is not a hold",
                              static_cast<int>(m_holdId));
    }
    KX_CHECK(ctx, m_pMain->m_pApplication->CloseHold(hold, ReasonVariant(m_holdReason)));
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::CloseHold(MainContext& main, const OLECHAR* request) {
  return ServeMessage<CloseHoldMessageParser>(main, u"KXDBDatasheetSvcs::CloseHold", request);
}
