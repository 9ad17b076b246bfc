// The datasheet model: document statuses and page sets, page layout,
// templates and projects, object tests, datasheet names and object lists,
// cases and page clearing.
//
// Conventions:
// - Object, attribute and interface arguments are borrowed; null is allowed
//   only where stated.
// - Routines returning HRESULT catch `KXComException` and `_com_error` at
//   their boundary and leave the "<KXError" description as the thread's
//   error information; their out pointers are set to null first and receive
//   owned (AddRef'd) references; out BSTRs are new strings the caller frees.
// - Routines returning anything else raise `KXComException`, except the
//   Boolean tests said to absorb store failures.
// - Statuses: 1 current ("CurrentPages"), 2 submitted, 3 checked, 4 issued.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/application.h"
#include "kxattributeutils.h"
#include "variantutil.h"

// The page-list attribute of `status` of a datasheet, queried for `iid`
// into *out (owned). Status outside 1..4 raises E_INVALIDARG "Invalid
// status" before the store is asked. Returns the number of pages.
int32_t GetPagesByStatus(IKXQObject* datasheet, int32_t status, REFIID iid, void** out);
// The typed form for the attribute interface.
int32_t GetPagesAttributeByStatus(IKXQObject* datasheet, int32_t status, IKXQAttributePtr& pages);

// The pages of a datasheet's list of one status, each read as
// GetAttributeAsObject reads it when first asked for. While a
// TemplateLookupScope lives, the list, its count and the pages read are
// kept for the next question about the same document and status: its
// name, its scope and its case walk the same pages. Failures are raised as
// the reads that failed raise them, and not kept.
class DocumentPages {
 public:
  // The list as GetPagesAttributeByStatus reads it; with `byName`, status 1
  // read as GetAttributeInterfaceAndCountByName reads "CurrentPages".
  DocumentPages(IKXQObject* datasheet, int32_t status, bool byName = false);
  DocumentPages(const DocumentPages&) = delete;
  DocumentPages& operator=(const DocumentPages&) = delete;
  ~DocumentPages();
  int32_t Count() const { return m_count; }
  // Page `index` (1-based); null where the list holds none.
  void Page(int32_t index, IKXQObjectPtr& page);

 private:
  size_t m_kept;  // the entry in the scope's list, or none
  IKXQAttributePtr m_list;
  int32_t m_count = 0;
};

// Clears the value at `index` (VT_I4) or the whole attribute (VT_EMPTY).
void ClearAttributeValue(IKXQAttribute* attribute, const VARIANT& index);
// Opens the version `value` (a status, as decimal text) of the document
// with access mode 2. `application` is not used.
HRESULT PutDocumentIntegerAsText(IKXQApplication* application, IKXQObject* document, int32_t value);
// The value at 1-based `index` (0: the single value) as an object.
void GetAttributeObjectValue(IKXQAttribute* attribute, IKXQObjectPtr& object, int32_t index);

namespace KXDBDatasheetSvcs {

// ---- Document status and page sets ---------------------------------------

// The schematic object of a diagram for the status. E_INVALIDARG "The
// status of the diagram is invalid"; E_FAIL "Diagram %ls has no schematic
// representation".
HRESULT GetSchematicByStatus(IKXQObject* diagram, int32_t status, IKXQObject** schematic);
// The current page a status copy was made from ("ActivePage"); null when
// none. A null page: E_POINTER.
HRESULT GetActivePage(IKXQObject* page, IKXQObject** activePage);
// The issued copy of a page given as current (status 1) or as its submitted
// or checked copy (2, 3); other statuses E_INVALIDARG. Null when none: the
// first page of the datasheet's "IssuedPages" whose "ActivePage" is the
// current page. While the store does not change, the datasheet's issued
// pages are indexed once and the answers come from the index; it must not
// be asked inside a trigger item or read collection, which would miss the
// reads the index saves.
HRESULT GetIssuedPage(IKXQObject* page, int32_t status, IKXQObject** issuedPage);
// Drops the issued pages kept from one GetIssuedPage to the next (they hold
// store objects): when the module lets its store go.
void ForgetKeptIssuedPages();
// While one lives, its owner vouches that what it changes leaves the
// datasheet's "IssuedPages" and the "ActivePage" of each page listed there
// as they are: GetIssuedPage answers about the datasheet's pages from one
// index made at the first question, whatever else changes meanwhile (a
// workflow step copying or marking every page asks once per page or
// field). Scopes nest; the innermost for the datasheet answers. On the
// apartment thread only.
class IssuedPagesScope {
 public:
  explicit IssuedPagesScope(IKXQObject* datasheet);
  IssuedPagesScope(const IssuedPagesScope&) = delete;
  IssuedPagesScope& operator=(const IssuedPagesScope&) = delete;
  ~IssuedPagesScope();

 private:
  struct Pinned;
  std::unique_ptr<Pinned> m_pinned;
  IKXQObjectPtr m_datasheet;  // held: no other object takes its address
};
// The page of the datasheet's `status` set with the same "PageId",
// "Checknum" (exact texts) and "PageNumber" as `page`; null when none.
HRESULT FindPageInStatusSet(IKXQObject* page, IKXQObject* datasheet, int32_t status,
                            IKXQObject** found);
// The case name of a document: its default case's name, "<Varies>" when a
// datasheet page of that status has another first case, "<Unknown>" when
// the case has no name or the store fails. Never empty.
_bstr_t GetCaseName(IKXQApplication* application, IKXQObject* document, int32_t status);
// The same text, lent: by the open CaseNameScope while it lives, else from
// `name`, which holds it.
const OLECHAR* GetCaseNameLent(IKXQApplication* application, IKXQObject* document, int32_t status,
                               _bstr_t& name);
// While one lives (one request that changes no case, on the apartment
// thread), GetCaseName keeps the name it read of each case and whether
// each class it met is a datasheet class: a listing asks both for every
// datasheet. Failures are not kept; nothing outlives the outermost scope.
class CaseNameScope {
 public:
  CaseNameScope();
  CaseNameScope(const CaseNameScope&) = delete;
  CaseNameScope& operator=(const CaseNameScope&) = delete;
  ~CaseNameScope();

 private:
  bool m_outermost;
};
// "[Submitted] ", "[Checked] " or "[Issued] " for statuses 2-4, the name,
// " (", the case name, ")".
HRESULT DecorateNameWithStatus(IKXQApplication* application, IKXQObject* document,
                               const OLECHAR* name, int32_t status, BSTR* decorated);

// ---- Page layout ----------------------------------------------------------

// While one lives (on the apartment thread), the list attributes of its page
// that the layout and the field routes read ("NodeObjects", "NodeIndices",
// "Cases", "Qualifiers") are looked up by name once and shared by every
// reader, so that a page's writer and its trigger set-up do not look them
// up again for each field. Only the attributes are shared: their values are
// read at each use, as the triggers record what their items read. Scopes
// nest; the innermost one answers for its page.
class PageListsScope {
 public:
  explicit PageListsScope(IKXQObject* page);
  PageListsScope(const PageListsScope&) = delete;
  PageListsScope& operator=(const PageListsScope&) = delete;
  ~PageListsScope();

 private:
  friend void GetPageList(IKXQObject* page, const OLECHAR* name, IKXQAttributePtr& list);
  static constexpr int kLists = 4;
  IKXQObject* m_page;
  IKXQAttributePtr m_lists[kLists];
  bool m_found[kLists] = {};
  PageListsScope* m_outer;
};
// The page's list attribute `name` (null when its class has none), from the
// open scope of the page when there is one.
void GetPageList(IKXQObject* page, const OLECHAR* name, IKXQAttributePtr& list);

// The object at a template node on a page ("NodeIndices" at node index + 1
// gives its position in "NodeObjects"); null when the node has none.
void GetNodeObject(IKXQObjectPtr& object, IKXQObject* page, IKXQClassView* node);
// Starts (forgetting what was kept) or ends keeping GetNodeObject's answers
// by page and node index; the outermost TemplateLookupScope calls it.
void KeepNodeObjects(bool keep);
// GetNodeObject's answer for the node of `index`, read in fewer calls (and
// kept alike while a TemplateLookupScope keeps node objects). False when this way
// cannot answer (any departure from the plain case): the caller asks
// GetNodeObject, which reads every value this one read.
// `reads`: the page's. `position`: the node's entry in "NodeIndices" when
// read already; `firstObject`: the first entry of "NodeObjects" when read
// already.
bool FindListedNodeObject(IKXQObject* page, IKXQValueReads* reads, int32_t index,
                          const VARIANT* position, const VARIANT* firstObject,
                          IKXQObjectPtr& object);
// The object `row` positions after the node's own (row 0 is the node's).
void GetNodeObjectAtRow(IKXQObjectPtr& object, IKXQObject* page, int32_t row, IKXQClassView* node);
// The 1-based position of `object` in "NodeObjects" (by identity), or -1;
// *nodeIndex receives the node index whose entry holds that position, or
// -1.
int32_t GetObjectNodeIndex(IKXQObject* page, IKXQObject* object, int32_t* nodeIndex);
// `object` (AddRef'd) when its id is among the rows starting at the node,
// else null.
void FindObjectInNodeRows(IKXQObjectPtr& found, IKXQObject* page, IKXQObject* object,
                          IKXQClassView* node);

// ---- Templates, template pages and projects -------------------------------

// The template of a datasheet or page. For a page of status 2-4 the version
// its "Checknum" names, or the current version when that one is gone. An
// unknown template id is no failure: *tmpl stays null.
HRESULT GetTemplate(IKXQApplication* application, IKXQObject* document, IKXQTemplate** tmpl,
                    int32_t status);
// The template page of a page; null when its template is unknown. An
// answer is kept for the next question about the page while the values
// the lookup read (the page's "TemplateId", "PageId" and, for a status
// copy, "Checknum") and the template library stay as they were (the
// store's value stamps say so).
HRESULT GetTemplatePage(IKXQApplication* application, IKXQObject* page,
                        IKXQTemplatePage** templatePage, int32_t status);
// Drops the template pages kept from one lookup to the next (they hold
// store objects): when the module lets its store go.
void ForgetKeptTemplatePages();
// While one lives (on the apartment thread, nothing changing the store),
// the template and template page found for a document and status are kept
// and given again to the next question about the same document, so that
// the several answers about one document (its name, its objects, its
// scope) look its templates up once. Failures are not kept. Scopes nest;
// the outermost one keeps the answers. It keeps the objects found at a
// page's template nodes (GetNodeObject) the same way: the name's primary
// objects and the scope test look each node up once; and a document's page
// lists (DocumentPages).
class TemplateLookupScope {
 public:
  TemplateLookupScope();
  TemplateLookupScope(const TemplateLookupScope&) = delete;
  TemplateLookupScope& operator=(const TemplateLookupScope&) = delete;
  ~TemplateLookupScope();

 private:
  bool m_outermost;
};
// Whether a TemplateLookupScope lives: its shared answers read nothing, so
// what is read meanwhile is not all that the answers rest on.
bool TemplateLookupsShared();
// The classes the template accepts: *classes receives a SAFEARRAY the caller
// destroys.
HRESULT GetTemplateClasses(IKXQTemplate* tmpl, SAFEARRAY** classes);
// While one lives (one request that changes no template, on the apartment
// thread), the parts of templates that every document of a template asks
// for alike are read from the store once and lent to every later
// question: a template page's root nodes (with their node indexes) and
// whether it is laid out as a continuous list, a template's classes, kind and
// pages by id, and answers about schema classes (the schema does not change
// either). A listing of thousands of documents of a few templates reads them
// a few times instead of thousands. Failures are not kept. Scopes nest; the
// outermost one keeps the parts.
class TemplatePartsScope {
 public:
  TemplatePartsScope();
  TemplatePartsScope(const TemplatePartsScope&) = delete;
  TemplatePartsScope& operator=(const TemplatePartsScope&) = delete;
  ~TemplatePartsScope();

 private:
  bool m_outermost;
};
// The template page's root nodes in *roots (IKXQTemplatePage::get_RootNodes)
// and its HRESULT. *owned tells whether the caller destroys the array; an
// array kept by the open TemplatePartsScope is lent until it ends.
HRESULT GetTemplatePageRoots(IKXQTemplatePage* templatePage, SAFEARRAY** roots, bool* owned);
// Whether the template page has a continuous format, and the HRESULT of
// reading it.
HRESULT IsTemplatePageContinuous(IKXQTemplatePage* templatePage, bool* continuous);
// GetTemplateClasses, lent as GetTemplatePageRoots lends.
HRESULT GetTemplateClassesLent(IKXQTemplate* tmpl, SAFEARRAY** classes, bool* owned);
// What a template is for: its kind (IKXQTemplate::get_Kind) compared with
// "Datasheet" and "Summary" without regard to case.
enum class TemplateKind { kOther, kDatasheet, kSummary };
// The template's kind and the HRESULT of reading it; kept as the open
// TemplatePartsScope keeps a template's classes.
HRESULT GetTemplateKind(IKXQTemplate* tmpl, TemplateKind* kind);
// A yes/no answer about a schema class, kept by the open TemplatePartsScope
// (the schema does not change while it lives): `question` (an address that
// stays the same while the scope lives) tells answers about one class
// apart. Find gives false when none is kept.
bool FindKeptClassAnswer(IKXQClass* cls, const void* question, bool* answer);
void KeepClassAnswer(IKXQClass* cls, const void* question, bool answer);
// A template page's root node and its node index.
struct RootNode {
  IKXQClassViewPtr node;
  int32_t index = -1;
};
// The template page's root nodes, kept by the open TemplatePartsScope and
// lent until it ends, and whether it is continuous; false when none is
// open, or they cannot be read (ask GetTemplatePageRoots then).
bool GetKeptRootNodes(IKXQTemplatePage* templatePage, const RootNode** nodes, size_t* count,
                      bool* continuous);
// For a walk of current pages (a TemplatePartsScope open): the page's
// template and template page as GetTemplatePage finds them, from the page's
// values the caller read; kept alike while a TemplateLookupScope lives.
// False when this way cannot answer (asked already, or any departure from
// the plain case): the caller asks GetTemplate and GetTemplatePage.
// `templateId`, `pageId`: the page's values as read (null: its class lacks
// the attribute). *classes: the template's (GetTemplateClassesLent), lent.
bool FindListedTemplatePage(IKXQApplication* application, IKXQObject* page,
                            const VARIANT* templateId, const VARIANT* pageId, IKXQTemplate** tmpl,
                            IKXQTemplatePage** templatePage, SAFEARRAY** classes);
HRESULT GetTemplatesFolder(IKXQApplication* application, BSTR* folder);
// A page name used as a format with the page number: the first integer
// directive ("%d", "%i" or "%u", with flags, width, precision and an "l" or
// "h" size) becomes `number`, "%%" becomes "%", and every other "%" is kept
// as it stands; the result holds at most the name's length plus 7
// characters (a buffer of the length plus 8 with its terminator). The name
// is never handed to a printf-style formatter.
std::u16string FormatPageName(std::u16string_view name, int32_t number);
// Breadth-first search of the project tree from `root`; null when absent.
HRESULT FindProject(IKXQProject* root, int32_t projectId, IKXQProject** project);
// The name of the document's project ("ProjectId"): "Unknown" for no or an
// unknown id; for the root project (id 1) its name, or null with
// `skipRoot`.
HRESULT GetProjectName(IKXQApplication* application, IKXQObject* document, bool skipRoot,
                       BSTR* name);
// The project of a summary sheet found by its "ProjectId"; null when none.
HRESULT GetSummarySheetProject(IKXQApplication* application, IKXQObject* datasheet,
                               IKXQProject** project);
bool AttributeHasValue(IKXQAttribute* attribute);
// The datasheet's object filter: the text "KX_CLAIM_ONLY" (VT_BSTR) or the
// schema's filter (VT_DISPATCH) in *filter; left as given when there is
// none.
HRESULT IsClaimOnlyFilter(IKXQSchema* schema, IKXQObject* datasheet, VARIANT* filter);

// ---- Object tests ---------------------------------------------------------

bool IsActiveProjectRootProject(IKXQApplication* application);
bool IsClaimedByActiveProject(IKXQApplication* application, IKXQObject* object);
// True only for VARIANT_TRUE from the store; a failed test answers false.
bool IsObjectScoped(IKXQObject* object);
bool IsNodeRunScoped(IKXQObject* page, IKXQClassView* view);
// `seen` is set when a view with an object of interest was reached.
bool IsDataViewScoped(IKXQObject* page, SAFEARRAY* views, bool& seen, int32_t mode);
// *isSummary VARIANT_TRUE when the datasheet's template is of kind
// "Summary".
HRESULT IsSummarySheet(IKXQApplication* application, IKXQObject* datasheet,
                       VARIANT_BOOL* isSummary);
bool CheckSummarySheetProject(IKXQApplication* application, IKXQObject* datasheet, bool* local,
                              bool* related);
bool IsObjectOnPage(IKXQObject* object, IKXQObject* page, IKXQTemplatePage* templatePage);
bool IsObjectOnDatasheet(IKXQObject* object, IKXQObject* datasheet, IKXQTemplatePage* templatePage);
// While one lives, IsObjectOnDatasheet for its datasheet and template page
// tests only the pages whose "NodeObjects" hold the object's id (and any
// page without that list), from the last page to the first, as it would
// test every page: a page holding no such id answers no at once. A
// composition asks once for each member it adds, so the pages are read
// once, at the first question, and the pages added since at each later
// one (all of them again when there are fewer pages, or the last page read
// is no longer at its place). Meanwhile the pages read may gain only
// objects not asked about again (the member just placed): a page that lost
// an object is still tested and answers no.
class DatasheetObjectsScope {
 public:
  DatasheetObjectsScope(IKXQObject* datasheet, IKXQTemplatePage* templatePage);
  DatasheetObjectsScope(const DatasheetObjectsScope&) = delete;
  DatasheetObjectsScope& operator=(const DatasheetObjectsScope&) = delete;
  ~DatasheetObjectsScope();

 private:
  friend bool IsObjectOnDatasheet(IKXQObject* object, IKXQObject* datasheet,
                                  IKXQTemplatePage* templatePage);
  // Reads the pages of "CurrentPages" up to `count` not read yet.
  void ReadPages(IKXQAttribute* pages, int32_t count);
  // The positions of the pages to test for `id`, the last first.
  void PagesToTest(int32_t id, std::vector<int32_t>& positions) const;
  IKXQObject* m_datasheet;
  IKXQTemplatePage* m_templatePage;
  int32_t m_read = 0;
  // The id of the page at position m_read when it was read (0: none).
  int32_t m_lastPage = 0;
  // Object id: the positions of the pages whose "NodeObjects" hold it,
  // ascending, each once.
  std::unordered_map<int32_t, std::vector<int32_t>> m_positions;
  // The positions of the pages without "NodeObjects", ascending.
  std::vector<int32_t> m_unlisted;
  DatasheetObjectsScope* m_outer;
};
// Whether `object` passes a summary sheet's filter: no value passes, a text
// is the object's own filter test, an object filter is evaluated with
// "SummaryDoc" bound to `summaryDocument` (may be null). `context` (may be
// null) brackets the evaluation.
bool IsObjectInFilter(IKXQApplication* application, const VARIANT& filter, IKXQObject* object,
                      IKXQObject* summaryDocument, IKXQEvaluationContext* context = nullptr);
// The first object on a page's root nodes whose class is a template class,
// and (when `further` is given) the last further one.
HRESULT GetPagePrimaryObject(IKXQApplication* application, IKXQObject* page, IKXQTemplate* tmpl,
                             IKXQObject** primary, IKXQObject** further, int32_t status);
// For a walk of current pages (a TemplatePartsScope open):
// GetPagePrimaryObject's answers for the page and its own template, with
// fewer store calls (FindListedTemplatePage, FindListedNodeObject). False
// when this way cannot answer: the caller asks GetTemplate and
// GetPagePrimaryObject. Either way the page's "TemplateId", "PageId",
// "NodeIndices" and "NodeObjects" are read, and nothing else of it.
bool FindListedPagePrimaryObject(IKXQApplication* application, IKXQObject* page,
                                 IKXQObject** primary, IKXQObject** further);
// The first page of the status whose "Checknum" differs from its
// template's, or whose template page is gone; null when all match.
// Traced at severity 1.
HRESULT IsValidTemplate(IKXQApplication* application, IKXQObject* datasheet, int32_t status,
                        IKXQObject** page);
// Appends every view below `view`, depth first in pre-order (references
// taken).
void CollectDataViews(IKXQClassView* view, ComPtrArray<IKXQClassView>& views);
bool IsClassInArray(IKXQClass* cls, SAFEARRAY* classes);
// Object `id` of the database when it is of one of `classes` (or derives
// from one). Another object is refused with E_INVALIDARG "Object %d is a
// <class>, not <expected>", an id that names none as the store refuses it.
void GetObjectOfClass(IKXQDatabase* database, int32_t id,
                      std::initializer_list<const OLECHAR*> classes, const OLECHAR* expected,
                      IKXQObjectPtr& object);
// The document a "Datasheet" element (`diagram` false) or a "Diagram"
// element names: GetObjectOfClass with "Datasheet" ("a datasheet") or
// "Diagram" ("a diagram"), so that the other kind is refused too.
void GetNamedDocument(IKXQDatabase* database, int32_t id, bool diagram, IKXQObjectPtr& document);
// Refuses `object`, whose id is `id`, with E_INVALIDARG "Object %d is a
// <class>, not <expected>".
[[noreturn]] void RefuseObjectClass(IKXQObject* object, int32_t id, const OLECHAR* expected);

// ---- Datasheet names and object lists -------------------------------------

// The readable name of a datasheet: "DatasheetSheetName" when set, else the
// objects it describes, ": ", its name, optionally decorated with status
// and case, and a summary sheet's project in " [" "]".
// `documentName`: its "DocumentName" when the caller has read it already.
// Without it, the name is kept for the next question about the datasheet
// with the same flag and status while the values it was made from stay as
// they were (the store's value stamps say so); its reads are recorded again
// at each answer, in the trigger items open then.
HRESULT GetDatasheetName(IKXQApplication* application, IKXQObject* datasheet, BSTR* name,
                         bool decorate, int32_t status, const _bstr_t* documentName = nullptr);
// Drops the names kept from one GetDatasheetName to the next (they hold
// store objects): when the module lets its store go.
void ForgetKeptDatasheetNames();
HRESULT GetDiagramName(IKXQApplication* application, IKXQObject* diagram, BSTR* name, bool decorate,
                       int32_t status);
// The distinct primary (and further) objects of the current pages, appended
// in page order with references taken.
HRESULT CollectDatasheetObjects(IKXQApplication* application, IKXQObject* datasheet,
                                IKXQTemplate* tmpl, ComPtrArray<IKXQObject>& objects,
                                int32_t status);
// The distinct objects on the root nodes (rows on continuous-list pages) of
// the current pages whose class is a template class: *objects receives a
// 1-D SAFEARRAY of VARIANT (VT_DISPATCH elements, lower bound 1) the caller
// destroys, or null when the datasheet has no template.
HRESULT GetDatasheetObjects(IKXQApplication* application, IKXQObject* datasheet,
                            SAFEARRAY** objects);
bool IsDatasheetScoped(IKXQApplication* application, IKXQObject* datasheet, int32_t mode);
bool DiagramObjectsInScope(IKXQObject* diagram, int32_t status);
bool IsObjectInUse(IKXQObject* object);
// The object's name, ": " when it is not empty, and its "CreatedReason".
const _bstr_t& GetObjectNameWithReason(_bstr_t& name, IKXQObject* object);

// ---- Discipline, cases and page clearing ----------------------------------

// With the host setting "IDWF" "TRUE" (any case) only a user of the
// document's "OwningDiscipline" may submit, check or issue it.
HRESULT CheckIDWFDiscipline(IKXQApplication* application, IKXQObject* document);
// Raises a page change event (status 1) for a page whose case was cleared.
using PageEventLauncher = void (*)(void* cookie, IKXQObject* page);
// Clears the first "Cases" entry of every current page (launching a page
// event for each through `launch`, may be null) and the datasheet's
// "DefaultCase" and "CaseName".
HRESULT ClearDatasheetCase(IKXQObject* datasheet, PageEventLauncher launch, void* cookie);
// Clears entry `caseIndex` (0-based) of the object's "Cases", or the whole
// list for -1.
HRESULT ClearObjectCase(IKXQObject* object, int32_t caseIndex);
// Deletes every page held in the list, from the last position to the first.
HRESULT ClearPages(IKXQAttribute* pages);
// A current page lists the status copies made from it in "RevisedPages";
// a copy about to be deleted leaves that list first (it is positional, so
// a deleted copy would leave an empty slot behind).
void AddStatusCopy(IKXQObject* page, IKXQObject* copy);
void ForgetStatusCopy(IKXQObject* copy);
// Empties the datasheet's page lists named by `lists` (those its class
// defines): every page object they hold is deleted once, except a page that
// the list `keep` (may be null) also holds, which only leaves these lists.
// A page may stand in several lists; deleting it takes it out of all.
HRESULT EmptyPageLists(IKXQObject* datasheet, std::initializer_list<const OLECHAR*> lists,
                       const OLECHAR* keep);
// Clears the value at 1-based `index`, or the whole attribute for 0.
void ClearAttributeValueAt(IKXQAttribute* attribute, int32_t index);

// The work of `Main::HasLocalPrivilege`: the first row of the host's local
// privilege table whose name equals `privilege` exactly decides (granted
// unless its flag is false); a privilege missing from the table is granted.
// A failing host call is raised.
bool HasLocalPrivilege(IKXQApplication* application, const OLECHAR* privilege);

}  // namespace KXDBDatasheetSvcs
