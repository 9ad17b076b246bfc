// Before a value setter writes a field it asserts it: finds the object
// behind the field and, when the row or the root object does not exist yet,
// creates it from the class the editor confirmed ("ConfirmedClass"), places
// it on the page and fills it from the master BEDD data; then the field's
// route leads from the object to the value holder. After the write, an
// object created this way on a filtered summary sheet must still pass the
// sheet's permanent filter.
//
// Everything here throws `KXComException` (source location
// "source/dataservices/kxdbdatasheetsvcs/fieldutils"); objects are
// borrowed. Nothing is undone here on a failure: the host rolls the whole
// request back.
#pragma once

#include <cstdint>
#include <memory>

#include "kxstoreptrs.h"

class MainContext;
struct IKXQApplication;
namespace FieldUtils {
struct SettledWalk;
}

// What an assertion found.
struct AssertedField {
  // The value behind the field; null when there is nothing to write (the
  // class to create went to the host for confirmation).
  IKXQFieldValuePtr holder;
  // The position within the holder.
  _variant_t position;
  // The field's place in the page's "Fields" (1-based).
  int32_t fieldNumber = -1;
  // True when this call created the object behind the field.
  bool created = false;
  // The field's definition on the page's template page.
  IKXQTemplateFieldPtr templateField;
  // On a plain page, the walk to the holder when it changed nothing (for
  // the change event that reads the field again); else null.
  std::shared_ptr<const FieldUtils::SettledWalk> settled;
};

namespace FieldUtils {

// A field of a plain page. Without an object on the field's root node and
// without `confirmedClass` (null or empty) the template's class view name
// goes to the host's class confirmation and `out.holder` stays null.
void AssertField(MainContext& main, IKXQObject* page, int32_t fieldId,
                 const OLECHAR* confirmedClass, AssertedField& out);
// The same for a caller that holds the page's template page already.
void AssertField(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage,
                 int32_t fieldId, const OLECHAR* confirmedClass, AssertedField& out);

// Places `object` on the field's root node of `page` and, for a template of
// kind "Datasheet", on every other current page of the datasheet that is no
// summary page.
void SetFieldRootObject(IKXQApplication* application, IKXQTemplate* tmpl, IKXQObject* page,
                        IKXQTemplateField* field, IKXQObject* object);

// After a value was stored into an object this request created: on a
// summary sheet whose datasheet (or else page) carries an "SSPF" trigger,
// the object must pass the owner's "ObjectFilter". S_OK when nothing was
// checked or it passes; S_FALSE after the alert was written and the object
// taken off the page. `value` is the text the alert shows.
HRESULT CheckPermanentFilterMembership(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                                       int32_t fieldId, int32_t index, IKXQFieldValue* holder,
                                       const VARIANT& position, const OLECHAR* value);

}  // namespace FieldUtils

// A field of a continuous-list page at row `index` (negative: a field
// outside the rows). An empty row is created as a new last row with
// `confirmedClass`; without one the row's class goes to the host and the
// call fails with "Assert Field Error: ...". A field outside the repeating
// block with `index` 0 or more fails (" Field %d not found in continuous
// template %s "), and a list column with `index` below 0 fails ("Field %d
// of page %d is a list column: ..."), before anything is looked up or made.
void AssertContinuousListField(MainContext& main, IKXQObject* page, int32_t fieldId, int32_t index,
                               const OLECHAR* confirmedClass, AssertedField& out);
