// The message "PackObjects": the objects of one column of a list page moved
// up over its empty slots, in order, across the page's overspill chain (or
// over the pages of a summary sheet), from the page's own slot of the list
// to the last object; a page after the last object has nothing to move.
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class PackObjectsSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class PackObjectsMessageParser final : public PackObjectsSchema {
 public:
  using PackObjectsSchema::PackObjectsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return PackObjects(); }
  // The worker: packs and alerts "Packed %d object(s)"; nothing at all on a
  // continuous-list page.
  HRESULT PackObjects();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT PackObjects(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
