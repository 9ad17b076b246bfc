// The message "GetFieldObject": the database object that stands behind a
// field of a page (its root object, or the object its qualifier route
// leads to). The grammar, the worker and the handler are in methods.cpp.
#pragma once

#include <cstdint>

#include "fieldmodel/fieldaddress.h"
#include "model/maincontext.h"

class GetFieldObjectSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index, Primary };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetFieldObjectMessageParser final : public GetFieldObjectSchema, public FieldAddress {
 public:
  using GetFieldObjectSchema::GetFieldObjectSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return GetFieldObject(); }
  // The worker: the "FieldObject" reply, the alert for a row without a
  // root object, nothing for a field without any object.
  HRESULT GetFieldObject();

  bool m_primary = false;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetFieldObject(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
