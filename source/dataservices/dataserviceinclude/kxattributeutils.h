// Typed access to the attributes of store objects.
//
// An object's named attribute is fetched as an IKXQAttribute and its value
// read or written as an object, Boolean, integer, real (in a unit) or text,
// either the single value or one value of a list at a 1-based position.
// Every failure is raised as a `KXComException`; a missing value is no
// failure: getters give their default and a false has-value flag.
//
// Conventions: object and attribute arguments are borrowed and may be null
// where stated (else E_POINTER is raised); out holders are cleared first
// and receive an owned reference; out texts are `_bstr_t`s (null for no
// value). `hasValue` arguments may be null.
#pragma once

#include <cstdint>
#include <string>

#include "kxstoreptrs.h"

// The attribute `name` of `object` with an empty selector, as IKXQAttribute.
// A class that does not define the attribute leaves `attribute` null.
void GetAttributeInterface(IKXQObject* object, const OLECHAR* name, IKXQAttributePtr& attribute);
// The same with a VT_I4 selector (-1 by most callers), passed to the store.
void GetAttributeInterfaceAt(IKXQObject* object, const OLECHAR* name, IKXQAttributePtr& attribute,
                             int32_t selector);
// The attribute (a missing one raises E_FAIL with no text) and its number
// of values.
int32_t GetAttributeInterfaceAndCount(IKXQObject* object, const OLECHAR* name,
                                      IKXQAttributePtr& attribute, const VARIANT& selector);
int32_t GetAttributeInterfaceAndCountByName(IKXQObject* object, const OLECHAR* name,
                                            IKXQAttributePtr& attribute);

// `name` as a BSTR for a store call by name, borrowed: the copy kept for
// the name, good until the next such call on this thread.
BSTR AttributeNameText(const OLECHAR* name);

// Writes an integer / a text as the single value of the attribute found
// with `selector`; no such attribute: E_POINTER.
void SetAttributeLong(IKXQObject* object, const OLECHAR* name, int32_t value, int32_t selector);
void SetAttributeStringByName(IKXQObject* object, const OLECHAR* name, const OLECHAR* text,
                              int32_t selector);

// A VARIANT as an object filter / as IDispatch: VT_BYREF|VT_VARIANT
// followed; interfaces (also by reference) queried; no value or a null
// pointer gives null and S_OK; other types DISP_E_TYPEMISMATCH. Never
// throws; *out receives an owned reference.
[[nodiscard]] HRESULT VariantToInterface(const VARIANT& value, IKXQObjectFilter** out);
[[nodiscard]] HRESULT VariantToDispatch(const VARIANT& value, IDispatch** out);
[[nodiscard]] HRESULT VariantToInterface(const VARIANT& value, IKXQClassView** out);

namespace KXDBDatasheetSvcs {

void GetAttribute(IKXQObject* object, IKXQAttributePtr& attribute, const OLECHAR* name,
                  const VARIANT& selector);

// Getters. Text values are read with the words of ParseBoolean for
// Booleans, with "." as decimal point for reals; `unit` (may be null) is the
// unit a real is read in.
bool GetAttributeBoolean(IKXQAttribute* attribute, bool* hasValue = nullptr);
int32_t GetAttributeIntegerAt(IKXQAttribute* attribute, int32_t index, bool* hasValue = nullptr);
double GetAttributeReal(IKXQAttribute* attribute, const OLECHAR* unit, bool* hasValue = nullptr);
void GetAttributeObject(IKXQAttribute* attribute, IKXQObjectPtr& object);
void GetAttributeObjectAt(IKXQAttribute* attribute, IKXQObjectPtr& object, int32_t index);
// Texts: a text value as it is, other values in their XML form. The flag is
// set for every present value; the `At` form leaves it false for an empty
// text.
void GetAttributeValueString(IKXQAttribute* attribute, _bstr_t& text, bool* hasValue = nullptr);
// The text GetAttributeValueString makes of `value` as GetValue gave it
// (a text is taken over, `value` is left empty).
void ValueReadText(_variant_t& value, _bstr_t& text, bool* hasValue = nullptr);
// The object's several-values-at-once reads, or null where `object` is
// null or does not answer them (the caller then reads value by value).
_com_ptr_t<IKXQValueReads> ValueReadsOf(IKXQObject* object);
// The integer ReadAttributeInteger reads at `index` of attribute `name` of
// `object` (0 where its class lacks the attribute, as a caller finding no
// attribute takes it), in one store call where the store answers so. False
// when it does not, or when that read fails: the caller reads it attribute
// by attribute then, to fail as that fails.
bool ReadIntegerByName(IKXQObject* object, const OLECHAR* name, const VARIANT& index,
                       int32_t* value);
void GetAttributeValueStringAt(IKXQAttribute* attribute, int32_t index, _bstr_t& text,
                               bool* hasValue = nullptr);
const _bstr_t& GetAttributeStringAt(IKXQAttribute* attribute, _bstr_t& text, int32_t index,
                                    bool* hasValue);
// The attribute's unit text; `which` (may be null or empty) names a unit or
// dimension set.
const _bstr_t& GetAttributeUnit(IKXQAttribute* attribute, _bstr_t& unit,
                                const OLECHAR* which = nullptr);

// By object and name.
void GetAttributeString(IKXQObject* object, _bstr_t& text, const OLECHAR* name, int32_t selector);
void GetAttributeObjectByName(IKXQObject* object, IKXQObjectPtr& value, const OLECHAR* name);
// The first non-null object among the values of an object attribute; a
// non-object attribute raises E_FAIL "Attribute %ls is not an object
// attribute".
void GetObjectAttribute(IKXQObject* object, IKXQObjectPtr& value, const OLECHAR* name);
// The object's class; null for a null object and when the store fails (the
// failure is absorbed).
void GetObjectClass(IKXQObject* object, IKXQClassPtr& cls);
void GetObjectName(IKXQObject* object, _bstr_t& name, bool option);
void GetClassText(IKXQClass* cls, _bstr_t& text);
bool IsObjectOfClass(IKXQObject* object, const OLECHAR* className);
bool ClassHasAttribute(IKXQObject* object, const OLECHAR* attributeName);

// Setters of the single value (or of the value at a 1-based index).
void SetAttributeBoolean(IKXQAttribute* attribute, bool value);
void SetAttributeInteger(IKXQAttribute* attribute, int32_t value);
void SetAttributeIntegerAt(IKXQAttribute* attribute, int32_t index, int32_t value);
// A null object writes an empty object reference (frees a node slot). The
// store takes its own reference.
void SetAttributeObjectAt(IKXQAttribute* attribute, int32_t index, IKXQObject* object);
void SetAttributeReal(IKXQAttribute* attribute, const OLECHAR* unit, double value);
void SetAttributeString(IKXQAttribute* attribute, const OLECHAR* text);

// List values.
void InsertAttributeValue(IKXQAttribute* attribute, int32_t position);
void RemoveAttributeValue(IKXQAttribute* attribute, int32_t position);
// Inserts or removes values at the end until the list holds `count`.
void ResizeAttributeValues(IKXQAttribute* attribute, int32_t count);

// Three-way natural order: digit runs compare by numeric value (of any
// length, without overflow: "007" equals "7", "a9" < "a10"), other
// characters by their lower-case form (ASCII letters folded). Null equals
// the empty text. Negative, zero or positive.
int CompareNatural(const OLECHAR* a, const OLECHAR* b);

// Appends to `key` the text's natural-order key: keys made this way compare
// (plain lexicographic order of their code units) with the sign of
// `CompareNatural`, so that a list sorted by many comparisons splits each
// text into its runs once. A character stands as its lower-case form; a
// digit run as "0", its length without leading zeros (two units, high
// half first), then those digits ("0" stands for every digit run: against
// any other character all digits compare alike).
void AppendNaturalKey(const OLECHAR* text, std::u16string& key);

}  // namespace KXDBDatasheetSvcs
