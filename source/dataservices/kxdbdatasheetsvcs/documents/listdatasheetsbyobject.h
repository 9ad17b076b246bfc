// "ListDatasheetsByObject": for each object named by an "ObjectId" text
// element, creation entries (one per datasheet template taking its class,
// one per summary template) and every stored datasheet with a page showing
// it, all in one sorted reply ("Documents"); no reply when nothing is
// listed.
#pragma once

#include <cstdint>
#include <vector>

#include "model/kxinfoclasses.h"
#include "model/maincontext.h"

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

  // The objects in request order, each as often as it is named: every
  // entry adds its creation entries again (a datasheet found again is
  // listed once).
  std::vector<int32_t> m_objectIds;
  KXDatasheetInfoList m_list;
};

namespace KXDBDatasheetSvcs {

// Adds the records of one object; an id below 1 adds nothing. The
// creation entries that name the object are also appended to `offers`
// when given. Raises `KXComException`.
void ListDatasheetsForObject(MainContext& main, KXDatasheetInfoList& list, int32_t objectId,
                             std::vector<KXDatasheetInfo>* offers = nullptr);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetsByObject(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
