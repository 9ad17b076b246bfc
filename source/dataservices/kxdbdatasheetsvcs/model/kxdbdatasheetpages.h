// The datasheet model, part two: what changes the objects on a page
// (placing and removing objects, continuous-list rows and their field
// values), a datasheet's dimension set and units and cases of all pages.
// Summary-sheet membership, which sets up triggers, is in
// loader/kxdbdatasheetsummary.h.
//
// Conventions as in kxdbdatasheetutils.h: objects and attributes are
// borrowed; routines returning HRESULT report failures as the thread's
// error information and throw nothing; the others raise `KXComException`.
// Every change goes straight to the store; a failure part-way leaves what
// was written (the host rolls the whole call back).
#pragma once

#include <cstdint>
#include <vector>

#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"

class MainContext;
struct IKXQApplication;

namespace KXDBDatasheetSvcs {

// Calls `visit(page)` for each current page of the datasheet in order,
// skipping empty slots.
template <class Visit>
void ForEachCurrentPage(IKXQObject* datasheet, Visit&& visit) {
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);
  for (int32_t i = 1; i <= count; ++i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, i, page);
    if (page) visit(page.GetInterfacePtr());
  }
}

// ---- Objects on pages -------------------------------------------------

// Puts `object` (may be null: only empties) at the template node `view`:
// the node's old object is dropped from "NodeObjects" unless another node
// still points at it; the object goes where "NodeObjects" already holds
// it, else into the first empty position, else at the end; every nested
// node of the view is emptied. `unhide` clears the node's "HiddenObjects"
// entry.
void GetPageNodeObjects(IKXQObject* page, IKXQClassView* view, IKXQObject* object, bool unhide);
// Appends `object` to "NodeObjects" ("NodeIndices" untouched).
void AppendNodeObject(IKXQObject* page, IKXQClassView* view, IKXQObject* object);
// Places `object` on the root node that accepts its class: with
// `firstMatch` the last such node, else the first free matching node after
// the last occupied one; on a continuous list an occupied match appends.
// False when no node takes it.
bool PlaceObjectOnPage(IKXQObject* page, IKXQTemplatePage* templatePage, IKXQObject* object,
                       bool firstMatch);
// Removes `object` from the page. On a continuous list its row goes: its
// field values and revisions are removed, the following rows' field values
// renumbered, and the clients told, whoever took the row off: a field event
// for every field of the row and of each row after it (one page event
// instead for more than 100 values), and one for the first field of the
// row that no longer exists.
HRESULT RemoveObjectFromPage(MainContext& main, IKXQObject* page, IKXQObject* object);
// Removes `objects` from a continuous-list page as RemoveObjectFromPage
// for each in turn would (the same lists, change order and events), each
// list rewritten once where the values' slots carry nothing of their own.
HRESULT RemoveObjectsFromPage(MainContext& main, IKXQObject* page,
                              const std::vector<IKXQObject*>& objects);
// The field record `text` with row number `row`, written out whole as
// RenumberFieldRows writes it; empty for a text of blanks. Throws when the
// record does not read.
_bstr_t RenumberedFieldText(const _bstr_t& text, int32_t row);
// Rewrites the row number of every field record of "Fields" from position
// `start` on: `row` for the first `fieldsPerRow` positions, then row + 1...
void RenumberFieldRows(IKXQAttribute* fields, int32_t row, int32_t start, int32_t fieldsPerRow);
// Marks a page of a continuous-list template page as such ("ContinuousFormat"
// true, the request context told); a warning when the page class lacks the
// attribute. Nothing outside a request.
void GetContinuousFormat(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage);

// ---- Cases, events and notifications ----------------------------------

// Case `caseId` on every current page (a page event each), then the
// datasheet's "DefaultCase" and "CaseName".
HRESULT SetDatasheetCase(MainContext& main, IKXQObject* datasheet, int32_t caseId);
// A case id from a request: 0 (no case) or a case of the store. Another id
// is refused with E_INVALIDARG "There is no case %d".
void RequireCaseId(MainContext& main, int32_t caseId);
// "Cases" at 0-based `position` := caseId. Null object: E_POINTER.
HRESULT SetCaseAt(IKXQObject* object, int32_t position, int32_t caseId);
HRESULT FirePageEvent(MainContext& main, IKXQObject* page);
// Hands the datasheet's template id and checknum to the template library.
HRESULT NotifyTemplateLibrary(IKXQApplication* application, IKXQObject* datasheet);
// Hands `value` as decimal text to the object's text operation (PutText);
// its HRESULT. Null object: E_POINTER.
HRESULT PutObjectIntegerAsText(IKXQObject* object, int32_t value);

// ---- Dimension sets and units -----------------------------------------

// The schema's spelling of dimension set `setName`, found in any letter
// case as the store finds its sets; empty when the schema does not list it
// (or there is no schema). Throws KXComException.
_bstr_t FindDimensionSetName(MainContext& main, const OLECHAR* setName);
// Records `setName` (in the schema's spelling when the schema lists it) as
// the datasheet's "BaseDimensionSet" and sets every unit field of its
// current pages to the set's units; a unit-field event for each text that
// changed. Every unit is found before anything is written.
HRESULT ChangeDSDimensionSet(MainContext& main, IKXQObject* datasheet, const OLECHAR* setName);
// Sets every unit field of `dimension` on the current pages to `units`,
// once every unit field of the pages has been read. A unit definition is
// of `dimension` when it names it exactly: one spelt in other letters is
// left as it is. The unit is not
// checked here: the messages check it against the schema first.
HRESULT ChangeDSDimensionUnits(MainContext& main, IKXQObject* datasheet, const OLECHAR* dimension,
                               const OLECHAR* units);

// ---- Services of neighbouring parts -------------------------------------

// The filter id and sort of a template from "FilterSort.xml" (empty when
// none), loading, and sorting a summary sheet with it.
void LoadFilterSortFile(MainContext& main);
_bstr_t GetTemplateFilterId(MainContext& main, const OLECHAR* templateId);
HRESULT ApplyTemplateFilterSort(MainContext& main, IKXQObject* datasheet);

}  // namespace KXDBDatasheetSvcs
