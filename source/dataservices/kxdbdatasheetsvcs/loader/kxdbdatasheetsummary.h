// Summary-sheet membership (kxdbdatasheetsummary.cpp): members of a
// template's classes onto a summary sheet, one object onto a page or into a
// list, with the triggers of the pages they reach.
//
// Conventions as in model/kxdbdatasheetpages.h.
#pragma once

#include <cstdint>
#include <vector>

#include "kxstoreptrs.h"
#include "model/kxdbdatasheetpages.h"

class MainContext;

namespace KXDBDatasheetSvcs {

// `template`'s classes' instances (the take-all flag skips the scope
// test), onto the summary sheet: a page each (page-per-member) or rows of
// its first page (continuous list).
HRESULT AddMembersToSummarySheet(MainContext& main, IKXQObject* datasheet, IKXQTemplate* tmpl,
                                 bool takeAll);
// Places `member` on the highest page of the template page's template, or
// on a new page (a datasheet event). `quiet`: no on-sheet test, no
// triggers.
HRESULT AddSummarySheetPage(MainContext& main, IKXQObject* member, IKXQObject* datasheet,
                            IKXQTemplatePage* templatePage, bool quiet);
// The members as rows of a continuous-list page without rows.
HRESULT AddMembersToPage(MainContext& main, const ComPtrArray<IKXQObject>& members,
                         IKXQObject* page, IKXQTemplatePage* templatePage);
// Adds `object` to the page: placed on a node, or as a continuous-list row
// appended (`row` -1) or inserted at `row`, with its field values and
// revisions and, unless `events` is false, the clients told. The database
// events add rows silently.
HRESULT AddListObject(MainContext& main, IKXQObject* object, IKXQObject* page,
                      IKXQTemplatePage* templatePage, bool continuous, int32_t row, bool force,
                      bool events = true);
// One row to insert: the object and the row it is to stand in.
struct ListRow {
  IKXQObject* object;
  int32_t row;
};
// Inserts the rows into the continuous-list page as AddListObject for each
// in turn would (no events), each list rewritten once where the values'
// slots carry nothing of their own.
HRESULT AddListObjects(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage,
                       const std::vector<ListRow>& rows);
// The field record of a row as a row inserted before it takes it over: its
// attribute id dropped (the new row's object is another). Throws when the
// record does not read.
_bstr_t CopiedRowFieldText(const _bstr_t& text);
// The instances of the template's classes placed on a new page by the
// template page `templatePage` it was made from (its list's rows, when it
// is a list page), whichever page of the template that is.
HRESULT AddObjectsToNewPage(MainContext& main, IKXQObject* page, IKXQTemplate* tmpl,
                            IKXQTemplatePage* templatePage);
// The work behind the automation method "ProcessSummarySheet": the
// template's filter on the sheet, its members added, its sort applied.
HRESULT ProcessSummarySheet(MainContext& main, IKXQTemplate* tmpl, IKXQObject* datasheet);
// Appends the instances of `cls` / of an object collection (references
// taken; null elements kept).
void CollectChildObjects(ComPtrArray<IKXQObject>& objects, IKXQClass* cls);
void CollectEnumObjects(ComPtrArray<IKXQObject>& objects, IKXQObjectCollection* collection);

// Sets up the triggers of every current page of the datasheet.
HRESULT InitializePageTriggerUOM(MainContext& main, IKXQObject* datasheet);

}  // namespace KXDBDatasheetSvcs
