// What the field property, status, format, object and case messages share:
// the page they work on (made the host's current page, with its datasheet,
// for the call), the value behind a field, the lock, secure and hold states
// of that value, and a field's presentation in its "Fields" record.
//
// Everything here throws KXComException; objects are borrowed.
#pragma once

#include <cstdint>
#include <memory>

#include "kxstoreptrs.h"
#include "model/scopedcurrent.h"

class MainContext;
struct PageLoadContext;

// A page in work: the page, its datasheet (its owner) and its template
// page; the datasheet and page are the host's current ones while it lives.
class FieldPage {
 public:
  // `makeCurrent` false leaves the host's current datasheet and page alone.
  FieldPage(MainContext& main, int32_t pageId, bool makeCurrent = true);
  ~FieldPage();
  FieldPage(const FieldPage&) = delete;
  FieldPage& operator=(const FieldPage&) = delete;

  // Whether the template page is a continuous list; the first call analyses
  // the page with `Main`'s continuous-page helper.
  bool IsContinuous();
  // The number of field `fieldId` on the page at `row` and its template
  // field. On a continuous list a field outside the rows addressed with a
  // row is refused: it has no entry per row.
  int32_t FieldNumber(int32_t fieldId, int32_t row, IKXQTemplateFieldPtr& field);
  // Refuses a row (`row` 0 or more) of a field outside the repeating block
  // of a continuous list (" Field %d not found in continuous template %s ",
  // as the value setters say): read as a position, it would name another
  // row's object. A row of a list column, no row, and any row on a page
  // that is no list (where the field's own object is meant) pass.
  void CheckListRow(IKXQTemplateField* field, int32_t row);
  // CheckListRow, and also refuses any row on a page that is no list
  // (DISP_E_BADINDEX "Page %d is no list: field %d has no row %d"), for a
  // caller that would add the row to the field's position.
  void CheckFieldRow(int32_t fieldId, IKXQTemplateField* field, int32_t row);
  // The page's "Fields" list.
  IKXQAttributePtr Fields();
  // The page's overspill chain (owned by the page; null when none).
  SAFEARRAY* OverspillChain();
  // The field writers' context for the page: its overspill chain, and
  // whether it is a continuous list.
  PageLoadContext& LoadContext();

  MainContext& main;
  IKXQObjectPtr page;
  IKXQObjectPtr datasheet;
  IKXQTemplatePagePtr templatePage;

 private:
  ScopedCurrentDatasheet m_currentDatasheet;
  ScopedCurrentPage m_currentPage;
  int m_continuous = -1;
  std::unique_ptr<PageLoadContext> m_loadContext;
};

// The value behind a field: its holder (null when none), the position
// within it, and the attribute that offers the value's states.
struct FieldValue {
  IKXQFieldValuePtr holder;
  _variant_t position;
  IKXQAttributePtr attribute;
  void SetHolder(IKXQFieldValue* value);
};

namespace FieldPresentation {

// The field-data kind of a template field's type name ("String" ...
// "Radio", any case); -1 for another name.
int32_t KindOfType(const OLECHAR* typeName);
// Whether fields of the kind keep an alignment (String to Date).
bool HasAlignment(int32_t kind);

// The value behind field `field` of the page, at `row` on a continuous list
// (read only: nothing is created).
void ResolveFieldValue(FieldPage& work, IKXQTemplateField* field, int32_t row, FieldValue& out);

// Lock (1) or unlock (0), secure or unsecure, hold with the hold object
// `holdId` (1 and up; a value already held keeps its hold) or release (0);
// other values change nothing. A hold to apply is looked up first
// (RequireHold): one that names no hold changes nothing of the value.
void ApplyValueStatus(MainContext& main, IKXQAttribute* attribute, const VARIANT& position,
                      int32_t isLocked, int32_t isSecured, int32_t isHeld, int32_t holdId);
bool IsValueHeld(IKXQAttribute* attribute, const VARIANT& position);
// The hold that `isHeld` 1 with `holdId` (1 and up) asks for; raises
// "Object N is a Pump, not a hold" or "No object with id N" when `holdId`
// names none. Null when no hold is asked for.
IKXQObjectPtr RequireHold(MainContext& main, int32_t isHeld, int32_t holdId);

// The presentation given to a field's record `current` (one field's text,
// row `row` when 0 or more): alignments when 0 or more, `format` when not
// empty and the kind has one. Returns whether the written text differs
// from `current` (letter case counts only for a Boolean format change).
// Sketch, check and radio fields are left as they are.
bool ApplyFieldFormat(const OLECHAR* current, const OLECHAR* typeName, int32_t fieldId, int32_t row,
                      int32_t alignment, int32_t verticalAlignment, const OLECHAR* format,
                      _bstr_t& text);

// ApplyFieldFormat on the field's record `number` as the page shows it
// (`CurrentFieldText`): a changed text is stored, unless `store` is false,
// and the clients told (a data-field event). Returns the record's text
// with the presentation applied, changed or not.
_bstr_t StoreFieldFormat(FieldPage& work, IKXQAttribute* fields, int32_t number,
                         const OLECHAR* typeName, int32_t fieldId, int32_t row, int32_t alignment,
                         int32_t verticalAlignment, const OLECHAR* format, bool store = true);

// The other rows of a list taking a named row's presentation:
// ApplyFieldFormat on row `row`'s stored record `number` (not as the page
// shows it), stored and told as StoreFieldFormat does when the row's text
// changes.
void StoreRowFieldFormat(FieldPage& work, IKXQAttribute* fields, int32_t number,
                         const OLECHAR* typeName, int32_t fieldId, int32_t row, int32_t alignment,
                         int32_t verticalAlignment, const OLECHAR* format);

// The stored form of the field at `number` as the page shows it now: its
// record with the template field's alignments where it sets none.
_bstr_t CurrentFieldText(FieldPage& work, IKXQAttribute* fields, int32_t number);

// Makes what the field needs behind it (with `confirmedClass`), as a value
// setter would, and hands out its value; `number` becomes the field's
// number on the page when the assertion tells it.
void AssertFieldValue(FieldPage& work, int32_t fieldId, int32_t row, bool continuous,
                      const OLECHAR* confirmedClass, FieldValue& value, int32_t& number);

// The stored "Fields" text at `number` ("" when none).
_bstr_t StoredFieldText(IKXQAttribute* fields, int32_t number);

}  // namespace FieldPresentation
