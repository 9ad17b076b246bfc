// Thin wrappers around the object store that turn failures into raised
// `KXComException`s, and the conversion of VARIANT arguments into store
// objects.
//
// Every routine here throws; none traces. Out holders are cleared first and
// receive an owned reference.
#pragma once

#include <cstdint>
#include <functional>

#include "kxstoreptrs.h"

// The object of `database` with that id. A null database raises E_FAIL
// "Do not have access to object store"; the store's failure (an unknown id)
// is raised with its error information.
void GetStoreObject(IKXQDatabase* database, IKXQObjectPtr& object, int32_t id);

// The object's id; 0 for a null object (or one the store cannot name).
int32_t ObjectIdOf(IKXQObject* object);

// The object that owns `held` (a page's datasheet); null for a null `held`
// or an object without owner.
void GetOwnerObject(IKXQObject* held, IKXQObjectPtr& owner);

// Number of values of the attribute. Null: E_POINTER.
int32_t GetAttributeCount(IKXQAttribute* attribute);

// The attribute's single value as an integer; 0 with *hasValue false when
// it holds none. "Cannot coerce attribute to an integer" when the value is
// no integer. `hasValue` may be null.
int32_t GetAttributeAsInteger(IKXQAttribute* attribute, bool* hasValue = nullptr);
// The same for the value that `index` selects (an empty VARIANT: the single
// value).
int32_t ReadAttributeInteger(IKXQAttribute* attribute, const VARIANT& index, bool* hasValue);

// A plain 1-based position for a store read: a VT_I4 that needs no clearing.
inline VARIANT PositionVariant(int32_t index) {
  VARIANT position;
  VariantInit(&position);
  position.vt = VT_I4;
  position.lVal = index;
  return position;
}

// The value at 1-based `index` (0: the single value) as an object; null for
// no value. "Cannot coerce attribute value into an object" for other values.
void GetAttributeAsObject(IKXQAttribute* attribute, int32_t index, IKXQObjectPtr& object);

// Writes `text` as the value at 1-based `index`. Null attribute: E_POINTER.
void SetAttributeValueAt(IKXQAttribute* attribute, int32_t index, const OLECHAR* text);

// True when the list holds `wanted` among its values (false for a null
// `wanted`): one store call, however long the list. Null list: E_POINTER.
bool ListHoldsObject(IKXQAttribute* list, IKXQObject* wanted);

// True when the named attribute of `object` holds `wanted` among its values
// (by identity). "Attribute %ls is not accessible" when the object has no
// such attribute.
bool AttributeContainsObject(IKXQObject* object, const OLECHAR* name, IKXQObject* wanted);

// Calls `visit(object)` for each instance of the schema class `className`
// (and its subclasses) in the order of the class's instance enumeration.
// Empty items are skipped; an item that is no store object raises
// E_POINTER. A null schema raises "Do not have access to object store", a
// class the schema does not know E_FAIL "Class %ls is not defined in the
// schema".
void ForEachClassInstance(IKXQSchema* schema, const OLECHAR* className,
                          const std::function<void(IKXQObject*)>& visit);

namespace KXDBDatasheetSvcs {

// The name of the owner's attribute that holds `object` (for a page
// "CurrentPages", "SubmittedPages", "CheckedPages" or "IssuedPages"); empty
// when nothing holds it. A null object: E_POINTER.
_bstr_t GetHoldingAttributeName(IKXQObject* object);

// The status of the page set a page is held in, from that name compared
// without regard to case: "SubmittedPages" 2, "CheckedPages" 3,
// "IssuedPages" 4, any other 1.
int32_t GetPageStatusFromHoldingName(const OLECHAR* name);

// The status of the page set that holds `page`: 2, 3 or 4 for a submitted,
// checked or issued copy, 1 for a current page and for an object that no
// page set holds. A null page: E_POINTER.
int32_t GetPageStatus(IKXQObject* page);

// A copy is the record of the version it was made for: a request does not
// write it. Raises E_INVALIDARG "Page %d is an issued copy, not a current
// page: it keeps what was issued" (submitted, checked) for a copy of
// status `lowest` or above; does nothing for any other page.
void RefuseStatusCopy(IKXQObject* page, int32_t lowest = 2);

// A VARIANT argument as an object: no value gives null; an integer above 0
// is looked up in `database` (may be null), 0 gives null; a negative id,
// an id without database and any other type raise E_FAIL "Unable to coerce
// argument to an KXObject". Interfaces are queried for IKXQObject.
void GetObjectFromVariant(IKXQObjectPtr& object, const VARIANT& value, IKXQDatabase* database);

}  // namespace KXDBDatasheetSvcs
