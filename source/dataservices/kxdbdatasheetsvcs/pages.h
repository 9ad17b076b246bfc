// The page messages "InsertPages", "DeletePage", "RenamePage", "MovePage",
// "SetPageCase" and "PageLayout": the routines they stand on (the page list
// of a datasheet, "CurrentPages", with each page's "PageNumber" and the
// datasheet's "NumberOfPages"; the page display name), then each message's
// schema and parser with its worker.
//
// The routines raise `KXComException`; the handler's boundary reports it.
// A page given by a request must be a current page ("Page" held in a
// datasheet's "CurrentPages"): anything else is refused with E_INVALIDARG
// before the store is changed.
#pragma once

#include <cstdint>

#include "kxstoreptrs.h"
#include "main.h"

namespace KXDBDatasheetSvcs {

// Places `page` directly before or after `anchor` in the datasheet's
// current pages (appended when `anchor` is none or not among them), moving
// it when it stands there already. Page numbers shift relative to their
// old values: gaps survive. A page placed relative to itself stays where
// it is.
void RenumberPages(IKXQObject* datasheet, IKXQObject* page, IKXQObject* anchor, bool before);

// The text shown for a page: its "Name" with the first integer directive
// ("%d", "%i", "%u", with flags and width) replaced by its "PageNumber" and
// "%%" by "%"; any other "%" sequence stays as it is, so a name never acts
// as a format. At most the name's length + 7 characters. An empty name
// shows the number, or "Unnamed" without one. *name: a new BSTR the caller
// frees. A null page raises E_POINTER.
void GetPageDisplayName(IKXQObject* page, BSTR* name);
// The formatting of GetPageDisplayName on its own.
_bstr_t FormatPageName(const OLECHAR* name, int32_t pageNumber);

// The current page `pageId` of any datasheet, and its datasheet in
// `datasheet` (may be null). E_INVALIDARG "Object %d is not a current page of a datasheet"
// for anything else.
IKXQObjectPtr GetCurrentPage(Main& main, int32_t pageId, IKXQObjectPtr& datasheet);

// State of one "InsertPages" request, carried from one "Page" element to
// the next.
struct InsertPagesState {
  int32_t anchorPageId = -1;
  bool before = false;
  bool alerted = false;  // the summary-sheet alert was written
};

// One "Page" element of "InsertPages": creates the page from the template
// page, places it by the anchor and counts it; on a summary sheet writes the
// alert (once per request) instead.
void InsertPage(Main& main, const OLECHAR* targetId, int32_t objectId, const OLECHAR* templateId,
                const OLECHAR* templatePageId, InsertPagesState& state);
// "DeletePage": the request text is the page id, read as `_wtol` reads.
void DeletePage(Main& main, const OLECHAR* request);
// The datasheet named by a request's "TargetId" (a decimal id).
IKXQObjectPtr GetTargetDatasheet(Main& main, const OLECHAR* targetId);

// The named page attribute (selector -1) written as VT_BOOL / VT_R8; the
// page's class without it: E_POINTER.
void SetAttributeBoolByName(IKXQObject* page, const OLECHAR* name, bool value, int32_t selector);
void SetAttributeRealByName(IKXQObject* page, const OLECHAR* name, double value, int32_t selector);

}  // namespace KXDBDatasheetSvcs

// The messages' schemas (value ids) and parsers with their workers; the
// grammars, workers and handlers (Main's methods of the same names) are in
// pages.cpp. "DeletePage" has no grammar: its request is the bare page id.

// "InsertPages" holds any number of "Page" elements: each makes one page
// when it ends (WorkChild); the datasheet event follows the last (Work).
class InsertPagesSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    Page = 2,
    TargetId,
    Status,
    PageId,
    Before,
    ObjectId,
    TemplateId,
    TemplatePageId
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class InsertPagesMessageParser final : public InsertPagesSchema {
 public:
  using InsertPagesSchema::InsertPagesSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return InsertPagesDone(); }
  HRESULT WorkChild(uint32_t element) override;
  // The workers: one page, and the datasheet event at the end.
  HRESULT InsertPage();
  HRESULT InsertPagesDone();

  KXDBDatasheetSvcs::InsertPagesState m_state;  // "PageId", "Before", the alert
  int32_t m_objectId = -1;                      // per "Page"
  SAXText m_templateId;                         // per "Page"
  SAXText m_templatePageId;                     // per "Page"
};

class RenamePageSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, Name };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class RenamePageMessageParser final : public RenamePageSchema {
 public:
  using RenamePageSchema::RenamePageSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return RenamePage(); }
  // The worker: "Name" stored as given, then a datasheet event.
  HRESULT RenamePage();

  int32_t m_pageId = -1;
  SAXText m_name;
};

class MovePageSchema : public MessageParser {
 public:
  enum Id : uint32_t { MovePageId = 4, PageId, Before };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class MovePageMessageParser final : public MovePageSchema {
 public:
  using MovePageSchema::MovePageSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return MovePage(); }
  // The worker: the page before or after the anchor, then a datasheet event.
  HRESULT MovePage();

  int32_t m_movePageId = -1;
  int32_t m_anchorPageId = -1;
  bool m_before = false;
};

class SetPageCaseSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, CaseId };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class SetPageCaseMessageParser final : public SetPageCaseSchema {
 public:
  using SetPageCaseSchema::SetPageCaseSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return SetPageCase(); }
  // The worker: the page's first case and a page event, unless it is the
  // case already.
  HRESULT SetPageCase();

  int32_t m_pageId = -1;
  int32_t m_caseId = -1;
};

class PageLayoutSchema : public MessageParser {
 public:
  enum Id : uint32_t {
    PageId = 4,
    Orientation,
    ScaleMode,
    ScaleFactor,
    CenterHorizontal,
    CenterVertical,
    TopMargin,
    LeftMargin,
    BottomMargin,
    RightMargin,
    PaperSize,
    PaperWidth,
    PaperLength,
    PaperSource,
  };
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

// Each layout value is written to the page as it arrives (SetValue); values
// before "PageId" have no page and are dropped.
class PageLayoutMessageParser final : public PageLayoutSchema {
 public:
  using PageLayoutSchema::PageLayoutSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return PageLayoutDone(); }
  // The worker at the end: the datasheet event.
  HRESULT PageLayoutDone();

  IKXQObjectPtr m_page;
};
