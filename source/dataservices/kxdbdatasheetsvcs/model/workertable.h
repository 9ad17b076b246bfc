// The table through which `Main` and the module's folders reach what a test
// may want to observe: the workers of the messages, the database-event
// handlers, the summary-sheet classes of start-up and the workers of the
// object services. `MainWorkers` (main/mainworkers.h) is the real table; a
// test derives from it, overrides what it records and passes it to
// `Main::UseWorkers`.
//
// Each operation follows the rules of the operation it stands for: objects
// are borrowed, failures come back as failed HRESULTs with the thread's
// error information, nothing is thrown.
#pragma once

#include <cstdint>

#include "model/maincontext.h"
#include "variantutil.h"

class Main;
class OverspillUtils;
struct IKXQProjectUpdate;
struct PageLoadContext;
namespace VariantUtil {
class SafeArrayMatrix;
}

class WorkerTable {
 public:
  virtual ~WorkerTable() = default;

  // The worker of `element` of a message, run by the message's parser when
  // that element ends: the parser's own (`RunWork`).
  virtual HRESULT RunWorker(MessageParser& request, uint32_t element) = 0;

  // Whether this is the module's own table, not a test's: a shortcut past
  // the table's workers is taken only then.
  virtual bool IsModulesOwn() const = 0;

  // Database events: Main's handlers of the same names.
  virtual HRESULT HandleCreateEvent(Main& main, IKXQObject* object) = 0;
  virtual HRESULT HandleDeleteEvent(Main& main, IKXQObject* object) = 0;
  virtual HRESULT HandleDeleteCaseEvent(Main& main, IKXQObject* object, LONG caseNumber) = 0;
  virtual HRESULT HandleUpdateProjectEvent(Main& main, IKXQProjectUpdate* update) = 0;
  virtual HRESULT HandleDeleteProjectEvent(Main& main, IKXQProject* project) = 0;
  virtual HRESULT HandleChangeClassEvent(Main& main, IKXQObject* object, IKXQClass* newClass) = 0;
  virtual HRESULT HandleChangeClaimStatusEvent(Main& main, IKXQObject* object) = 0;

  // Start-up: KXDBDatasheetSvcs::SummarySheetClasses.
  virtual HRESULT SummarySheetClasses(Main& main, IDispatch* templates, VARIANT* classes) = 0;

  // Workers of the object services' methods, from the document catalogue
  // and the field values. *xml receives a new BSTR that the caller frees.
  virtual HRESULT ValidateDatasheetObject(Main& main, IKXQObject* datasheet) = 0;
  virtual HRESULT ValidateLabelObject(Main& main, IKXQObject* label, LONG status) = 0;
  virtual HRESULT WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml) = 0;

  // What the triggers, their callbacks and the permanent filters use of
  // summary-sheet composition and overspill, of the page operations and of
  // the field writers.
  //
  // The key of "Fields" position `position` of a continuous-list page
  // analysed by `helper` (*key null when the position has none): below the
  // first repeating position its decimal text, else "CL<row object id>:
  // <column>"; the helper's cache of row-object ids is filled from the
  // page's "NodeObjects" first when it is empty.
  virtual HRESULT GetContinuousListKey(ContinuousPageHelper& helper, BSTR* key, int32_t position,
                                       IKXQObject* page) = 0;
  // The overspill association of the page's template page: its list (one
  // association per column: the data view, then the attribute name) and
  // its target. Without association: nothing, or with `required` a failure.
  virtual HRESULT GetOverspillAssociation(OverspillUtils& run, IKXQObject* page, bool required,
                                          VariantUtil::SafeArrayMatrix& list,
                                          IKXQTemplatePage** target) = 0;
  // Spills the entries of vector attribute `name` of the object the page
  // shows at data view `view` that do not fit on the page onto overspill
  // pages the run creates.
  virtual HRESULT OverspillAttribute(OverspillUtils& run, IKXQObject* page, IKXQClassView* view,
                                     BSTR name, IKXQTemplatePage* target) = 0;
  // Registers the pages the run created (triggers, numbers, page count).
  virtual HRESULT RegisterNewPages(OverspillUtils& run) = 0;
  // Summary-sheet membership: `object` as a new row of a continuous-list
  // page (`row` -1 appends; nothing when the page holds it), on a page of
  // its own of a page-per-member sheet (`quiet` false: nothing when a
  // current page shows it already), or taken off a page.
  virtual HRESULT AddListObject(MainContext& main, IKXQObject* object, IKXQObject* page,
                                IKXQTemplatePage* templatePage, bool continuous, int32_t row,
                                bool force, bool events = true) = 0;
  virtual HRESULT AddSummarySheetPage(MainContext& main, IKXQObject* member, IKXQObject* datasheet,
                                      IKXQTemplatePage* templatePage, bool quiet) = 0;
  virtual HRESULT RemoveObjectFromPage(MainContext& main, IKXQObject* page, IKXQObject* object) = 0;
  // Summary-sheet composition and sorting. ComposeDatasheet composes the
  // sheet (`continuous` false: its members as pages; true: the rows of the
  // continuous-list `page`); *count is -1 on entry and the number of members
  // (or rows) when the composition completes. `trigger` (may be null) is the
  // permanent-filter trigger that records the filter tests.
  virtual HRESULT ComposeDatasheet(MainContext& main, const VARIANT& filter, IKXQObject* datasheet,
                                   IKXQObject* page, bool continuous, bool ignoreClaims,
                                   int32_t* count, IKXQTrigger* trigger) = 0;
  // The template page's data views whose parent is its root view (the
  // parentless ones when it has none), appended to `views`.
  virtual HRESULT GetTopLevelDataViews(IKXQTemplatePage* templatePage,
                                       PtrArray<IUnknown>& views) = 0;
  // Sorts the objects of the datasheet's pages by sort `code` at `column`;
  // *count: the rows that held an object and were ordered.
  virtual HRESULT SortDatasheet(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                                const OLECHAR* code, int32_t column, int32_t* count) = 0;
  // The full record of the field at `position` of the page, with its live
  // value, against the page's issued copy, as text in *text.
  virtual HRESULT WriteFields(PageLoadContext& context, IKXQObject* page,
                              IKXQTemplatePage* templatePage, int32_t position,
                              IKXQAttribute* fields, BSTR* text) = 0;
  // The overspill run over the datasheet's current pages in `mode` (2: a
  // datasheet "CreateDocuments" made, no triggers on the pages it makes; 3:
  // after the field-object messages placed objects); S_FALSE for a mode
  // below 1.
  virtual HRESULT CreateOverspillPages(MainContext& main, IKXQObject* datasheet, LONG mode) = 0;
};
