// The filter messages of summary sheets: "ListDatasheetFilters" (the
// schema's object filters and the one in force), "ApplyDatasheetFilter"
// (attach or detach a filter and recompose) and "MakeSummaryProjectWide".
#pragma once

#include <cstdint>

#include "model/maincontext.h"

class ListDatasheetFiltersSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListDatasheetFiltersMessageParser final : public ListDatasheetFiltersSchema {
 public:
  using ListDatasheetFiltersSchema::ListDatasheetFiltersSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListDatasheetFilters(); }
  HRESULT ListDatasheetFilters();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
};

class ApplyDatasheetFilterSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, FieldId, FilterId, Attach };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ApplyDatasheetFilterMessageParser final : public ApplyDatasheetFilterSchema {
 public:
  using ApplyDatasheetFilterSchema::ApplyDatasheetFilterSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ApplyDatasheetFilter(); }
  HRESULT ApplyDatasheetFilter();

  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
  SAXText m_filterId;
  bool m_attach = false;
};

class MakeSummaryProjectWideSchema : public MessageParser {
 public:
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class MakeSummaryProjectWideMessageParser final : public MakeSummaryProjectWideSchema {
 public:
  using MakeSummaryProjectWideSchema::MakeSummaryProjectWideSchema;
  HRESULT SetValue(uint32_t, const SAXValue&) override { return E_INVALIDARG; }
  HRESULT Work() override { return MakeSummaryProjectWide(); }
  HRESULT MakeSummaryProjectWide();
};

namespace Composition {

// Attaches (or detaches) filter `name` on the summary sheet's target (the
// continuous-list page, else the datasheet) and recomposes it. A datasheet
// that is no summary sheet gets the refusal alert and S_FALSE, count 0.
HRESULT ApplyDatasheetFilter(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                             const OLECHAR* name, bool attach, int32_t* count);

}  // namespace Composition

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListDatasheetFilters(MainContext& main, const OLECHAR* request);
HRESULT ApplyDatasheetFilter(MainContext& main, const OLECHAR* request);
HRESULT MakeSummaryProjectWide(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
