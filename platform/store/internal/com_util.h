// Helpers shared by the interface implementations: the base class, text and
// VARIANT conversion, index parsing, and the factories of the cached
// interface objects.
#pragma once

#ifndef KX_STORE_INTERNAL
#error "store/internal headers are private to their library; include its public headers"
#endif

#include <span>
#include <vector>

#include "com/dispatch_impl.h"
#include "com/object.h"
#include "store/database.h"
#include "store/internal/core.h"
#include "store/object.h"
#include "store/templates.h"
#include "store/view.h"

namespace kx::store {

// Base of the store's dispatch interfaces: no dispatch members (no type
// information); the interfaces are called directly.
template <class D, class First, class... Rest>
class StoreObject : public kx::com::DispatchObject<D, First, Rest...> {
 public:
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return {}; }
};

#define KX_RETURN_IF_FAILED(expr) \
  do {                            \
    HRESULT hr_ = (expr);         \
    if (FAILED(hr_)) return hr_;  \
  } while (0)

// Checks an out pointer and clears it: E_POINTER for null.
template <class T>
HRESULT OutPtr(T** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return S_OK;
}

inline HRESULT OutLong(LONG v, LONG* out) {
  if (!out) return E_POINTER;
  *out = v;
  return S_OK;
}

// The failure of LiveCheck, out of the callers' way.
[[gnu::cold, gnu::noinline]] HRESULT LiveFailure(StoreCore& core, const ObjectRec* rec);
// S_OK for a live object of an open store; else the failure, with error
// information set. Asked on every call: the passing test is inline.
inline HRESULT LiveCheck(StoreCore& core, const ObjectRec* rec) {
  if (core.closed() || !rec->live) [[unlikely]]
    return LiveFailure(core, rec);
  return S_OK;
}

// A BSTR copy of s (caller frees); null only when out of memory.
BSTR ToBstr(const u16& s);
u16 FromBstr(BSTR b);
// The text of `b` without a copy (null: empty).
inline std::u16string_view BstrView(BSTR b) {
  return b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view();
}
HRESULT OutBstr(const u16& s, BSTR* out);

// ParseIndex for any index but the plain ones it answers inline.
HRESULT ParseOtherIndex(const VARIANT& index, size_t* pos, bool* whole);
// Index VARIANT: VT_EMPTY / VT_ERROR(missing) -> *whole = true, *pos = 1;
// numbers -> *pos. Positions below 1 fail with DISP_E_BADINDEX. A position
// in range as a plain VT_I4, and VT_EMPTY, are answered inline.
inline HRESULT ParseIndex(const VARIANT& index, size_t* pos, bool* whole) {
  if (V_VT(&index) == VT_I4 && index.lVal >= 1 && static_cast<size_t>(index.lVal) <= kMaxPosition) {
    *whole = false;
    *pos = static_cast<size_t>(index.lVal);
    return S_OK;
  }
  if (V_VT(&index) == VT_EMPTY) {
    *whole = true;
    *pos = 1;
    return S_OK;
  }
  return ParseOtherIndex(index, pos, whole);
}
// Text of a VARIANT (VT_BSTR or convertible); VT_EMPTY gives "".
HRESULT VariantText(const VARIANT& v, u16* text);
// Converts v into a value for def. *clear set when v empties the slot.
HRESULT ToValue(StoreCore& core, const AttrDef* def, const VARIANT& v, const VARIANT& unit,
                Value* out, bool* clear);
// Fills *out (cleared first) with value v of def, reals in unit.
HRESULT FromValue(StoreCore& core, const AttrDef* def, const Value& v, const VARIANT& unit,
                  VARIANT* out);
std::string Base64Encode(const std::string& bytes);
bool Base64Decode(const u16& text, std::string* bytes);

// Interface objects (AddRef'd; one per record).
IKXQObject* ObjectCom(StoreCore& core, ObjectRec* rec);
IKXQClass* ClassCom(StoreCore& core, ClassRec* rec);
IKXQProject* ProjectCom(StoreCore& core, ProjectRec* rec);
IKXQDimension* DimensionCom(StoreCore& core, DimensionRec* rec);
IKXQObjectFilter* FilterCom(StoreCore& core, FilterRec* rec);
IKXQSortDefinition* SortCom(StoreCore& core, SortRec* rec);
IKXQTrigger* TriggerCom(StoreCore& core, TriggerRec* rec);
IKXQTemplate* TemplateCom(StoreCore& core, TemplateRec* rec);
IKXQDatabase* DatabaseCom(StoreCore& core);
IKXQSchema* SchemaCom(StoreCore& core);
IKXQTemplateLibrary* LibraryCom(StoreCore& core);
IKXQAttributeDef* AttrDefCom(StoreCore& core, AttrDef* def);
IKXQObjectCollection* CollectionCom(StoreCore& core, const std::vector<ObjectRec*>& items);
IKXQAttribute* AttributeCom(StoreCore& core, ObjectRec* rec, AttrDef* def);

// The record behind an interface of this store, or null.
ObjectRec* ObjectFromCom(StoreCore& core, IUnknown* unk);
ClassRec* ClassFromVariant(StoreCore& core, const VARIANT& v);

// SAFEARRAY helpers (lower bound lb); null on out of memory.
SAFEARRAY* BstrVector(const std::vector<u16>& items, LONG lb = 0);
// Takes one reference of each element (AddRef'd by the caller beforehand).
SAFEARRAY* DispatchVector(const std::vector<IDispatch*>& items, LONG lb = 0);
SAFEARRAY* VariantDispatchVector(const std::vector<IDispatch*>& items, LONG lb = 0);
SAFEARRAY* I4Vector(const std::vector<LONG>& items, LONG lb = 0);

inline VARIANT_BOOL Bool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace kx::store
