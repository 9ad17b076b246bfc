// Views and value holders: an object seen through a view definition, and
// the value at the end of a route. Ownership: see fwd.h.
//
// A route text is one or more steps joined by "."; a step is an attribute
// name, optionally followed by a 1-based list position in parentheses
// ("Nozzles(2)"). Every step but the last names an object attribute and
// leads to the object at that position (1 when none is given); the last step
// names the value holder, and *value receives the position (VT_I4). The case
// VARIANT selects nothing in this store.
#pragma once

#include "store/fwd.h"

struct IKXQView : IDispatch {
  virtual HRESULT get_Definition(IKXQViewDefinition** def) = 0;  // AddRef'd
  virtual HRESULT get_Object(IKXQObject** obj) = 0;              // may be null
  // One route step (a route text, dotted paths allowed) for a case (VT_I4,
  // or VT_EMPTY). *value: the position reached (caller clears); *holder the
  // value holder (AddRef'd). The read form fails (KXQ_E_NOTFOUND) when a link
  // is missing; the write form creates the missing object (of the
  // attribute's referenced class, owned by the object before it) and places
  // it at the position.
  virtual HRESULT ReadRoute(BSTR route, VARIANT caseId, VARIANT* value,
                            IKXQFieldValue** holder) = 0;
  virtual HRESULT WriteRoute(BSTR route, VARIANT caseId, VARIANT* value,
                             IKXQFieldValue** holder) = 0;
};
KX_DEFINE_IID(IKXQView, 0x4b585104, 0x0001, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54, 0x31)

// The item behind one value: the owning object, the attribute name and its
// number (the attribute definition's id).
struct IKXQValueItem : IDispatch {
  virtual HRESULT get_Object(IKXQObject** obj) = 0;  // AddRef'd
  virtual HRESULT get_Name(BSTR* name) = 0;          // caller frees
  virtual HRESULT get_Number(LONG* number) = 0;
};
KX_DEFINE_IID(IKXQValueItem, 0x4b585104, 0x0002, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x32)

// A value holder at the end of a route; positions and formats as for
// IKXQAttribute (format: a unit text for reals, "Base64" for binary).
struct IKXQFieldValue : IDispatch {
  virtual HRESULT GetValue(VARIANT position, VARIANT format, VARIANT* value) = 0;
  virtual HRESULT PutValue(VARIANT position, VARIANT format, VARIANT value) = 0;
  virtual HRESULT get_Name(BSTR* name) = 0;
  virtual HRESULT get_IsContained(VARIANT_BOOL* contained) = 0;
  virtual HRESULT get_DataType(LONG* type) = 0;
  virtual HRESULT HasValue(VARIANT position, VARIANT_BOOL* has) = 0;
  virtual HRESULT ClearValue(VARIANT position) = 0;
  virtual HRESULT PutPrefix(VARIANT position, BSTR text) = 0;
  virtual HRESULT GetPrefix(VARIANT position, BSTR* text) = 0;
  virtual HRESULT PutPostfix(VARIANT position, BSTR text) = 0;
  virtual HRESULT GetPostfix(VARIANT position, BSTR* text) = 0;
  virtual HRESULT PutSubstitution(VARIANT position, BSTR text) = 0;
  virtual HRESULT GetSubstitution(VARIANT position, BSTR* text) = 0;
  // The object value at a position seen as a view (VT_DISPATCH IKXQView, or
  // VT_EMPTY when there is none). The view's definition is the member of the
  // holder's definition named like the attribute.
  virtual HRESULT GetViewAt(VARIANT position, VARIANT* view) = 0;
  virtual HRESULT get_UnitText(VARIANT which, BSTR* unit) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT GetItem(VARIANT position, IKXQValueItem** item) = 0;
  virtual HRESULT GetStates(VARIANT position, VARIANT_BOOL* s1, VARIANT_BOOL* s2, VARIANT_BOOL* s3,
                            VARIANT_BOOL* s4, VARIANT_BOOL* s5) = 0;
  // As GetViewAt, creating (and placing) the object when it is missing.
  virtual HRESULT GetViewForWrite(VARIANT position, IKXQView** view) = 0;
  // The attribute behind the holder, for what it offers beyond values (its
  // lock, secure and hold states, disciplines). AddRef'd.
  virtual HRESULT get_Attribute(IKXQAttribute** attribute) = 0;
  // As IKXQAttribute::SameNumberTexts for the value at a position.
  virtual HRESULT SameNumberTexts(VARIANT position, const OLECHAR* prefix, const OLECHAR* postfix,
                                  const OLECHAR* substitution, VARIANT_BOOL* same) = 0;
};
KX_DEFINE_IID(IKXQFieldValue, 0x4b585104, 0x0003, 0x4000, 0x80, 0x00, 0x4b, 0x58, 0x51, 0x53, 0x54,
              0x33)
