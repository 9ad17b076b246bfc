// The sort messages "ListDatasheetSorts" (the schema's sort definitions)
// and "ApplyDatasheetSort" (a list page sorted on one column). The sorting
// itself is `Composition::SortDatasheet` (composition.h).
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class ListDatasheetSortsSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetSortsMessageParser final : public ListDatasheetSortsSchema {
 public:
  using ListDatasheetSortsSchema::ListDatasheetSortsSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDatasheetSorts(); }
  // The worker: the schema's whole list; no reply when it is empty.
  HRESULT ListDatasheetSorts();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
};

class ApplyDatasheetSortSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, SortId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ApplyDatasheetSortMessageParser final : public ApplyDatasheetSortSchema {
 public:
  using ApplyDatasheetSortSchema::ApplyDatasheetSortSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ApplyDatasheetSort(); }
  // The worker: sorts and alerts "Sorted %d object(s)".
  HRESULT ApplyDatasheetSort();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
  SAXText m_sortId;
};

// The "XMLMessage" to "App" holding one "ALERT" message with `text`, and
// the count alert "<verb> %d object" with an "s" unless the count is 1.
void WriteAlertReply(HostConnection& reply, const OLECHAR* text);
void WriteCountAlert(HostConnection& reply, const OLECHAR* verb, int32_t count);
// The reply listing `items` (a SAFEARRAY of VT_DISPATCH sort definitions or
// object filters, destroyed): "XMLMessage" with the request's "TargetId" and
// "Status", element `list` (with "CurrentFilter" when `current` is given),
// one empty `element` with "Name" and "Title" per item. An empty list
// writes nothing: false. Throws KXComException.
template <class Item>
bool WriteNameTitleList(HostConnection& reply, const OLECHAR* targetId, LONG status,
                        SAFEARRAY* items, const OLECHAR* list, const OLECHAR* element,
                        const _bstr_t* current);

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetSorts(MainContext& main, const OLECHAR* request);
HRESULT ApplyDatasheetSort(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
