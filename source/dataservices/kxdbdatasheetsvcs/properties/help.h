// The help messages "GetDocumentHelp" and "GetFieldHelp": fixed texts sent
// as the whole plain reply. Neither reads the datasheet or the store.
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class GetDocumentHelpSchema : public MessageParser {
 public:
  enum Id : uint32_t {};  // the envelope only: 2, 3
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetDocumentHelpMessageParser final : public GetDocumentHelpSchema {
 public:
  using GetDocumentHelpSchema::GetDocumentHelpSchema;
  HRESULT SetValue(uint32_t, const SAXValue&) override { return E_INVALIDARG; }
  HRESULT Work() override { return GetDocumentHelp(); }
  // The worker: the document's help text.
  HRESULT GetDocumentHelp();
};

class GetFieldHelpSchema : public MessageParser {
 public:
  enum Id : uint32_t { FieldId = 4 };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetFieldHelpMessageParser final : public GetFieldHelpSchema {
 public:
  using GetFieldHelpSchema::GetFieldHelpSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return GetFieldHelp(); }
  // The worker: the field's help text, naming "FieldId" (-1 when absent).
  HRESULT GetFieldHelp();

  int32_t m_fieldId = -1;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetDocumentHelp(MainContext& main, const OLECHAR* request);
HRESULT GetFieldHelp(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
