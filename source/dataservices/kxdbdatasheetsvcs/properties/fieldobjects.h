// The field-object messages: "ShowFieldObjects", "HideFieldObjects" and
// "DeleteFieldObjects" act on the objects behind a selection of fields
// (asking first, or offering candidates first), "ShowPrimaryObjects" tells
// which empty fields can take a primary object, "AddFieldObjects" and
// "RemoveFieldObjects" are accepted and do nothing. The grammars, the
// workers and the handlers are in fieldobjects.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fieldmodel/fieldaddress.h"
#include "kxstoreptrs.h"
#include "model/maincontext.h"

class FieldPage;

// The three messages share their grammar but for the message's name.
class FieldObjectsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Field = 2, TargetId, Status, PageId, Confirmed, FieldId, Index, ObjectId };
  using MessageParser::MessageParser;
};

// One field to act on or report.
struct FieldObjectRecord {
  IKXQObjectPtr object;
  IKXQClassViewPtr node;
  int32_t fieldId = -1;
  int32_t index = -1;
  bool primary = false;
  std::vector<IKXQObjectPtr> candidates;
  std::u16string text;
};

class FieldObjectsMessageParser : public FieldObjectsSchema, public FieldAddress {
 public:
  enum Mode { kShow = 0, kHide = 1, kDelete = 2 };
  // A requested field and row with its key text "FieldId:Index", made once;
  // keys go in the order of their texts, letter case aside: "10:-1" comes
  // before "9:-1".
  struct FieldKey {
    FieldKey(int32_t field, int32_t row);
    bool operator<(const FieldKey& other) const;
    int32_t fieldId;
    int32_t index;
    std::u16string text;
  };
  FieldObjectsMessageParser(MainContext* main, Mode mode)
      : FieldObjectsSchema(main), m_mode(mode) {}
  const GrammarRecord* GetSchema() const override;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override;
  void ForgetEntries() override {
    m_requested.clear();
    m_records.clear();
  }
  HRESULT ShowFieldObjects();
  HRESULT HideFieldObjects();
  HRESULT DeleteFieldObjects();

  bool m_confirmed = false;
  int32_t m_objectId = -1;
  // The requested fields: the object id asked for.
  std::map<FieldKey, int32_t> m_requested;
  // In the order of FieldId, then Index.
  std::vector<FieldObjectRecord> m_records;

 private:
  void CollateFieldData(FieldPage& work, Mode mode);
  void PlaceParentObjects(FieldPage& work, IKXQClassView* node, SAFEARRAY* sourceChain);
  // The datasheet whose other pages follow a shown or hidden primary
  // object: the one "TargetId" names (its decimal id), else the page's
  // own. A "TargetId" naming another object is refused: its pages were
  // never addressed.
  IKXQObjectPtr TargetDatasheet(FieldPage& work);
  void UpdateDatasheetPages(IKXQObject* datasheet, Mode mode, IKXQObject* primary);
  void WriteReply();
  void WriteQuestion();

  Mode m_mode;
  bool m_continuous = false;
  // The node indices of the records' nodes, while the records are worked.
  std::unordered_set<LONG> m_recordNodes;
};

// The parser of one of the three messages.
template <FieldObjectsMessageParser::Mode M>
class FieldObjectsParserFor final : public FieldObjectsMessageParser {
 public:
  explicit FieldObjectsParserFor(MainContext* main) : FieldObjectsMessageParser(main, M) {}
};

class ShowPrimaryObjectsSchema : public MessageParser {
 public:
  enum Id : uint32_t { Field = 2, TargetId, Status, PageId, FieldId, Index };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ShowPrimaryObjectsMessageParser final : public ShowPrimaryObjectsSchema, public FieldAddress {
 public:
  using ShowPrimaryObjectsSchema::ShowPrimaryObjectsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT WorkChild(uint32_t element) override;
  HRESULT Work() override { return ShowPrimaryObjects(); }
  void ForgetEntries() override {
    m_fieldIds.clear();
    m_rows.clear();
  }
  // The worker: the empty fields whose first node takes a template class.
  HRESULT ShowPrimaryObjects();

  std::vector<int32_t> m_fieldIds;
  std::vector<int32_t> m_rows;
};

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ShowFieldObjects(MainContext& main, const OLECHAR* request);
HRESULT HideFieldObjects(MainContext& main, const OLECHAR* request);
HRESULT DeleteFieldObjects(MainContext& main, const OLECHAR* request);
HRESULT AddFieldObjects(MainContext& main, const OLECHAR* request);
HRESULT RemoveFieldObjects(MainContext& main, const OLECHAR* request);
HRESULT ShowPrimaryObjects(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
