// "GetOptions": the values a field offers for choice (its drop-down list).
// A template field carries a fixed list or computes its options for the
// object behind the field; for those the object is asserted first (made
// with "ConfirmedClass" where missing, as a value write would), and when
// that fails the knowledge base of the object's class gets one chance,
// through its method "FieldDataMissing", to supply what is missing.
#pragma once

#include <cstdint>

#include "fieldmodel/fieldaddress.h"
#include "model/maincontext.h"

class GetOptionsSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, Index, ConfirmedClass };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class GetOptionsMessageParser final : public GetOptionsSchema, public FieldAddress {
 public:
  using GetOptionsSchema::GetOptionsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return PopOptions(); }
  // The worker: the "PopOptions" reply, or none when the field has no
  // object to compute options for.
  HRESULT PopOptions();

  SAXText m_confirmedClass;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT GetOptions(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
