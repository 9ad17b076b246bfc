// Summary-sheet and continuous-list composition, and the row work that
// composition, sorting and packing share.
//
// A summary sheet lists objects one per page (a page-per-member sheet) or
// one per row of a continuous-list page. Composition keeps the members that
// pass the sheet's claim and filter tests, closes up the gaps, adds the new
// members and renumbers the pages. Sorting and packing gather the rows of a
// list, work out a new order and hand it to the row write-back, which puts
// each row's objects (and the objects of its sub-views) onto the slot now
// standing at its place.
//
// Conventions: objects are borrowed; routines returning HRESULT report
// failures as the thread's error information and throw nothing; the others
// raise `KXComException` at this file's source location.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kxstoreptrs.h"
#include "variantutil.h"

class MainContext;
class ContinuousPageHelper;
struct IKXQApplication;

// One slot of a list: the data view (`item`) that makes it on `page`, the
// object it shows once expanded, its sub-views' rows, and the row whose slot
// receives its objects in a write-back.
struct ListRowEntry {
  ListRowEntry(IKXQClassView* rowItem, IKXQObject* rowPage) : item(rowItem), page(rowPage) {}
  ListRowEntry(const ListRowEntry&) = delete;
  ListRowEntry& operator=(const ListRowEntry&) = delete;

  IKXQClassViewPtr item;
  IKXQObjectPtr page;
  IKXQObjectPtr placed;
  std::vector<std::unique_ptr<ListRowEntry>> children;
  const ListRowEntry* target = nullptr;  // not owned
  bool vectorRow = false;                // made from a vector attribute
};

using ListRows = std::vector<std::unique_ptr<ListRowEntry>>;

namespace Composition {

// The data views of a SAFEARRAY of VT_DISPATCH class views, in order, null
// elements left out; the array is destroyed.
std::vector<IKXQClassViewPtr> ClassViews(SAFEARRAY* array);
// Whether two pointers are one COM object (two nulls are).
bool SameObject(IUnknown* a, IUnknown* b);

// The template page's root data views without a parent, appended to
// `views`.
HRESULT GetTopLevelDataViews(IKXQTemplatePage* templatePage, PtrArray<IUnknown>& views);

// One row per top-level data view of the first page's template page on
// every current page of the datasheet, page by page.
void CollectPageRows(MainContext& main, IKXQObject* datasheet, IKXQObject* firstPage,
                     ListRows& rows);
// The object now on the row's item on its page, and a child row per
// sub-view, expanded depth first.
void ExpandRowTree(ListRowEntry& row);
// Puts the objects of `newOrder[i]` on the slot of `gathered[i]`; every row
// is expanded before the first is written. A sub-view's objects go to the
// first sub-view of the slot with the same whole name, without regard to
// case; one without such a sub-view is not written. The two lists have one
// size.
void WriteBackRows(IKXQApplication* application, const ListRows& gathered, ListRows& newOrder);

// Deletes the pages after the first that show no member object, rewrites
// the page numbers when one went and sets "NumberOfPages".
void RenumberPages(MainContext& main, IKXQObject* datasheet);

// Composes a summary sheet: its members as pages (`continuous` false) or
// the rows of the continuous-list `page`. *count is -1 first; afterwards
// the number of members (rows). `trigger` (may be null): the summary's
// permanent-filter trigger, which records the filter tests.
HRESULT ComposeDatasheet(MainContext& main, const VARIANT& filter, IKXQObject* datasheet,
                         IKXQObject* page, bool continuous, bool ignoreClaims, int32_t* count,
                         IKXQTrigger* trigger);

// The key of "Fields" position `position` of the continuous-list page
// analysed by `helper`: its decimal text below the first repeating field,
// else "CL<row object id>:<column>"; *key null past the last row.
HRESULT GetContinuousListKey(ContinuousPageHelper& helper, BSTR* key, int32_t position,
                             IKXQObject* page);

// A row of a continuous list: its object and the 0-based row it stood on
// (-1 for a new row).
struct ListRow {
  IKXQObjectPtr object;
  int32_t oldRow = -1;
};
// Rewrites the rows of the continuous-list page analysed by main's helper
// in the order of `rows`: "NodeObjects" from the root position on, each
// row's field records (re-stamped with its new row) and revisions taken
// from the row it stood on. The old lists are read whole before anything is
// written, so a row never takes the texts of another.
void RewriteListRows(MainContext& main, IKXQObject* page, const std::vector<ListRow>& rows);

// Re-records the page's "Field" trigger (when it has one) for the rows as
// they now stand.
void RebindFieldTrigger(MainContext& main, IKXQObject* page);

// The slots of field `column` of the page's template page: summary sheets
// give a row per slot view on every current page, vector lists a row per
// member over the page's overspill chain (vector-row flag set). `listView`
// receives the view that repeats. A field whose objects are not held in a
// vector on a non-summary page: E_FAIL "Can only sort/pack objects that are
// contained in a vector".
void SortPackObjects(MainContext& main, IKXQObject* datasheet, IKXQObject* page, int32_t column,
                     IKXQClassViewPtr& listView, ListRows& rows);

// Sorts the datasheet's list at `page`, `column` by `code` ("CLA"/"CLD" on
// a continuous list, else a sort definition of the schema); *count: the
// rows that held an object and were ordered.
HRESULT SortDatasheet(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                      const OLECHAR* code, int32_t column, int32_t* count);

}  // namespace Composition
