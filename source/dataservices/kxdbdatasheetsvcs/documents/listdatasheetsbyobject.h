// "ListDatasheetsByObject": for each object named by an "ObjectId" text
// element, creation entries (one per datasheet template taking its class,
// one per summary template) and every stored datasheet with a page showing
// it, all in one sorted reply ("Documents"); no reply when nothing is
// listed.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "main/main.h"
#include "model/kxinfoclasses.h"

class ListDatasheetsByObjectSchema : public MessageParser {
 public:
  enum Id : uint32_t { ObjectId = 4 };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetsByObjectMessageParser final : public ListDatasheetsByObjectSchema {
 public:
  using ListDatasheetsByObjectSchema::ListDatasheetsByObjectSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDatasheets(); }
  void ForgetEntries() override;
  // The worker: lists every object's datasheets and writes the reply.
  HRESULT ListDatasheets();

  // Each object once, in the order first named: a repeated id would list
  // the same records again, only to have them merged away.
  std::vector<int32_t> m_objectIds;
  std::unordered_set<int32_t> m_namedIds;
  KXDatasheetInfoList m_list;
};

namespace KXDBDatasheetSvcs {

// Adds the records of one object; an id below 1 adds nothing. Raises
// `KXComException`.
void ListDatasheetsForObject(Main& main, KXDatasheetInfoList& list, int32_t objectId);

}  // namespace KXDBDatasheetSvcs
