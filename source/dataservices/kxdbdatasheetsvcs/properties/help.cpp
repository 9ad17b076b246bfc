#include "properties/help.h"

#include <string>

#include "com/wstr.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/help";
constexpr FrameOptions kWorkerFrame{.file = kFile, .silent = true};

// Sends `text` as the reply, inside a frame of its own so that a missing
// response is reported from here.
HRESULT SendHelp(HostConnection& reply, const OLECHAR* worker, const std::u16string& text) {
  return ServeRequest(worker, kWorkerFrame, [&](KXComException&) {
    XMLReply::SendText(reply, text.c_str());
    return S_OK;
  });
}

}  // namespace

// ---------------------------------------------------------------------------
// "GetDocumentHelp"

const GrammarRecord* GetDocumentHelpSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Table(Grammar::Envelope(), Grammar::Element(u"GetDocumentHelp", 1));
  return kGrammar.data();
}

HRESULT GetDocumentHelpMessageParser::GetDocumentHelp() {
  return SendHelp(Reply(), u"GetDocumentHelpMessageParser::GetDocumentHelp",
                  u"c:\\temp\\helptest.doc");
}

HRESULT KXDBDatasheetSvcs::GetDocumentHelp(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetDocumentHelpMessageParser>(main, u"KXDBDatasheetSvcs::GetDocumentHelp",
                                                    request);
}

// ---------------------------------------------------------------------------
// "GetFieldHelp"

const GrammarRecord* GetFieldHelpSchema::GetSchema() const {
  static constexpr auto kGrammar =
      Grammar::Message(u"GetFieldHelp", {Grammar::Integer(u"FieldId", FieldId)});
  return kGrammar.data();
}

HRESULT GetFieldHelpMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  if (id == FieldId) return Store(m_fieldId, value);
  return E_INVALIDARG;
}

HRESULT GetFieldHelpMessageParser::GetFieldHelp() {
  return SendHelp(Reply(), u"GetFieldHelpMessageParser::GetFieldHelp",
                  u"This is help for FieldId " + kx_format(u"%d", static_cast<int>(m_fieldId)));
}

HRESULT KXDBDatasheetSvcs::GetFieldHelp(MainContext& main, const OLECHAR* request) {
  return ServeMessage<GetFieldHelpMessageParser>(main, u"KXDBDatasheetSvcs::GetFieldHelp", request);
}
