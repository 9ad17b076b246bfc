// The page messages: "OpenPage" and "ListPageObjects" (a bare page id as
// request text) and "ComparePages" (a page written against a second
// document version), which read a page; "InsertPages", "DeletePage",
// "RenamePage", "MovePage", "SetPageCase" and "PageLayout", which change the page list of a
// datasheet
// ("CurrentPages", each page's "PageNumber", the datasheet's
// "NumberOfPages") and its pages, and the template-page listings, which
// tell a client which template pages it may insert: "ListTemplatePages"
// (request: a datasheet id in decimal, also the reply's "TargetId") and
// "ListTemplatePagesByObject" (request: "ObjectId" elements) collect, per
// object or class, the templates of the library valid for it and reply with
// every page of each, labelled for the user. The handlers are the functions
// KXDBDatasheetSvcs::<message name> (pages.cpp; the three that read a page in
// openpage.cpp).
//
// The routines of the first group raise `KXComException`; the handler's
// boundary reports it. A page given by a request must be a current page
// ("Page" held in a datasheet's "CurrentPages"): anything else is refused
// with E_INVALIDARG before the store is changed.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "kxstoreptrs.h"
#include "loader/pageoperations.h"
#include "model/maincontext.h"

struct PageLoadContext;

namespace KXDBDatasheetSvcs {

// The current page `pageId` of any datasheet, and its datasheet in
// `datasheet` (may be null). E_INVALIDARG "Object %d is not a current page of a datasheet"
// for anything else.
IKXQObjectPtr GetCurrentPage(MainContext& main, int32_t pageId, IKXQObjectPtr& datasheet);

// State of one "InsertPages" request, carried from one "Page" element to
// the next and from one message element to the next.
struct InsertPagesState {
  int32_t anchorPageId = -1;  // "PageId"; then the last page made without "Before"
  bool before = false;
  bool alerted = false;  // the summary-sheet alert was written: once a request
  // The anchor of the message element's pages, looked up when its first
  // page is made; without "Before" each page made becomes the next one's.
  bool anchorFound = false;
  IKXQObjectPtr anchor;
  // The request's first page is placed when it is made, so that the store
  // sees its changes in the order one inserted page makes them; the later
  // ones, of every message element, are placed together when the request
  // ends (PlaceInsertedPages): placing each as it is made would rewrite the
  // rest of the list once per page.
  bool placedFirst = false;
  IKXQObjectPtr datasheet;
  PagePlacements later;
};

// One "Page" element of "InsertPages": creates the page from the template
// page, places it by the message element's anchor and counts it; on a
// summary sheet writes the alert (once per request) instead. A datasheet
// whose template the library does not hold fails with E_POINTER.
void InsertPage(MainContext& main, const OLECHAR* targetId, int32_t objectId,
                const OLECHAR* templateId, const OLECHAR* templatePageId, InsertPagesState& state);
// Writes the placements InsertPage kept for the end of the request.
void PlaceInsertedPages(InsertPagesState& state);
// "DeletePage": the request text is the page id (`MessageKit::ReadBareId`).
void DeleteRequestedPage(MainContext& main, const OLECHAR* request);
// The datasheet named by a request's "TargetId" (a decimal id).
IKXQObjectPtr GetTargetDatasheet(MainContext& main, const OLECHAR* targetId);
// The current template of `datasheet`; one the template library does not
// hold is a missing interface: E_POINTER with a text naming both.
IKXQTemplatePtr GetDatasheetTemplate(MainContext& main, IKXQObject* datasheet);

// The named page attribute (selector -1) written as VT_BOOL / VT_R8; the
// page's class without it: E_POINTER.
void SetAttributeBoolByName(IKXQObject* page, const OLECHAR* name, bool value, int32_t selector);
void SetAttributeRealByName(IKXQObject* page, const OLECHAR* name, double value, int32_t selector);

}  // namespace KXDBDatasheetSvcs

// One object or class and the templates valid for it.
struct KXClassTemplatesInfo {
  IKXQObjectPtr object;  // null: the record stands for its class alone
  IKXQClassPtr cls;      // null: the templates were given, not collected
  std::vector<IKXQTemplatePtr> templates;
};

// The collection behind both messages. Every operation throws
// KXComException; store and library failures are raised as they come.
class TemplatePageListing {
 public:
  void SetTargetId(std::u16string_view targetId) { m_targetId = targetId; }
  const std::u16string& TargetId() const { return m_targetId; }

  // The object of `id` joins the objects asked about unless it is there;
  // an id that names no object fails.
  void InternalAddObject(IKXQDatabase* database, int32_t id);
  void AddObject(IKXQObject* object);
  // One record per object asked about (with its class); without objects,
  // one per class of `tmpl` (may be null: no records) or, when it has no
  // classes, one for the schema's "GlobalsClass". Then AddValidTemplates.
  void ListTemplatePagesByObject(IKXQApplication* application, IKXQSchema* schema,
                                 IKXQTemplate* tmpl);
  // Adds to each record with a class every template of the library valid
  // for it: a "Datasheet" template attached to the class, or a
  // continuous-list "Summary" template attached to it.
  void AddValidTemplates(IKXQApplication* application);
  // One record (no object, no class) per continuous-list summary template.
  void ListContinuousDatasheets(IKXQApplication* application);
  // One record holding `tmpl` alone.
  void ListSummaryPages(IKXQTemplate* tmpl);

  const std::vector<KXClassTemplatesInfo>& Records() const { return m_records; }
  // The reply: nothing at all without records; else "XMLMessage" with
  // "TargetId", one "Pages" per record and template, one "Page" per
  // template page. The records are dropped afterwards.
  void WriteReply(HostConnection& host);
  // Forgets the objects asked about and any records.
  void Clear() {
    m_objects.clear();
    m_records.clear();
  }

 private:
  std::u16string m_targetId;
  std::vector<IKXQObjectPtr> m_objects;  // in the order asked, no repeats
  std::vector<KXClassTemplatesInfo> m_records;
};

// "ListTemplatePagesByObject": any number of "ObjectId" elements (integer
// text) inside the message element.
class ListTemplatePagesSchema : public MessageParser {
 public:
  enum Id : uint32_t { ObjectId = 4 };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ListTemplatePagesMessageParser final : public ListTemplatePagesSchema {
 public:
  using ListTemplatePagesSchema::ListTemplatePagesSchema;
  // Each "ObjectId" adds its object (InternalAddObject); an id that names
  // no object fails the request there.
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  HRESULT Work() override { return ListTemplatePagesByObject(); }
  void ForgetEntries() override { m_listing.Clear(); }
  // The worker: the records of the objects asked about, then the reply
  // (nothing at all without objects).
  HRESULT ListTemplatePagesByObject();

  TemplatePageListing m_listing;
};

namespace KXDBDatasheetSvcs {

// The label of page `number` of `tmpl` as listed: "OBJECT: " when there
// is an object, the template's name when not empty, " - ", and the page's
// name formatted with its number (FormatPageName), or the bare number for a
// page without name.
std::u16string TemplatePageLabel(IKXQObject* object, const std::u16string& templateName,
                                 const std::u16string& pageName, int32_t number);

}  // namespace KXDBDatasheetSvcs

// The messages' schemas (value ids) and parsers with their workers; the
// grammars, workers and handlers (KXDBDatasheetSvcs::<message name>) are in
// pages.cpp and openpage.cpp. "DeletePage" has no grammar: its request is the bare page id.

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
  // The end of "XMLMessage": the pages kept for the end are placed.
  HRESULT EndElement(uint32_t id) override;
  // A later "InsertPages" element looks its own anchor up; its pages follow
  // those made so far unless it names its own "PageId".
  void ForgetEntries() override;
  // The workers: one page, the datasheet event at the end of each message
  // element, the placing at the end of the request.
  HRESULT InsertPage();
  HRESULT InsertPagesDone();
  HRESULT InsertPagesPlaced();

  KXDBDatasheetSvcs::InsertPagesState m_state;  // "PageId", "Before", the alert, the placing
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

// ---------------------------------------------------------------------------
// Open page, page objects and page comparison.

class ComparePagesSchema : public MessageParser {
 public:
  enum Id : uint32_t { PageId = 4, DocumentId2, Status2 };  // 2, 3: the envelope
  using MessageParser::MessageParser;
  const GrammarRecord* GetSchema() const override;
};

class ComparePagesMessageParser final : public ComparePagesSchema {
 public:
  using ComparePagesSchema::ComparePagesSchema;
  HRESULT SetValue(uint32_t id, const SAXValue& value) override;
  // Each comparison is written once per request: a later message element
  // asking for it again (an empty one keeps the values before it) would
  // only write the same page again, a whole page for a few bytes of
  // request; it gets no reply.
  HRESULT Work() override {
    return m_compared.insert({m_pageId, m_documentId2, m_status2}).second ? ComparePages() : S_OK;
  }
  // The worker; reports its own failures and throws nothing.
  HRESULT ComparePages();

  int32_t m_pageId = -1;       // "PageId"
  int32_t m_documentId2 = -1;  // "DocumentId2"
  int32_t m_status2 = -1;      // "Status2"
  std::set<std::array<int32_t, 3>> m_compared;
};

namespace KXDBDatasheetSvcs {

// Makes `document2` (read with `status2`) the comparison partner of the
// load when its template version equals that of `document` (read with
// `status`); a missing template on either side leaves the load without one.
// Throws KXComException.
void SetComparisonPartner(PageLoadContext& context, IKXQApplication* application,
                          IKXQObject* document, int32_t status, IKXQObject* document2,
                          int32_t status2);

}  // namespace KXDBDatasheetSvcs

// The handlers of the messages above, rows of the data-service map.
namespace KXDBDatasheetSvcs {

HRESULT ListTemplatePages(MainContext& main, const OLECHAR* request);
HRESULT ListTemplatePagesByObject(MainContext& main, const OLECHAR* request);
HRESULT InsertPages(MainContext& main, const OLECHAR* request);
HRESULT DeletePage(MainContext& main, const OLECHAR* request);
HRESULT RenamePage(MainContext& main, const OLECHAR* request);
HRESULT MovePage(MainContext& main, const OLECHAR* request);
HRESULT SetPageCase(MainContext& main, const OLECHAR* request);
HRESULT PageLayout(MainContext& main, const OLECHAR* request);
HRESULT OpenPage(MainContext& main, const OLECHAR* request);
HRESULT ListPageObjects(MainContext& main, const OLECHAR* request);
HRESULT ComparePages(MainContext& main, const OLECHAR* request);

}  // namespace KXDBDatasheetSvcs
