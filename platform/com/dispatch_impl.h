// Table-driven IDispatch, for objects that must answer GetIDsOfNames and
// Invoke without a type library, and a helper to call Invoke.
//
//   static const kx::com::DispatchEntry kEntries[] = {
//     {u"Write", 0xFFFF, DISPATCH_METHOD, 1,
//      [](void* self, WORD, VARIANT* const* args, VARIANT*) {
//        return static_cast<Journal*>(self)->Write(args[0]); }},
//   };
//   class Journal : public kx::com::DispatchObject<Journal, IKXQJournal> {
//    public:
//     std::span<const kx::com::DispatchEntry> dispatch_entries() const { return kEntries; }
//   };
#pragma once

#include <span>

#include "com/object.h"

namespace kx::com {

// Largest argument count a table member may take.
inline constexpr UINT kMaxDispatchArgs = 8;

struct DispatchEntry {
  // Compared case-insensitively (ASCII letters), as automation names are.
  const char16_t* name;
  DISPID dispid;
  // The DISPATCH_* kinds the member answers (an Invoke with flags 0 counts
  // as DISPATCH_METHOD).
  WORD flags;
  // Number of arguments (a property put's value included); the last
  // `optional_count` of them may be left out.
  UINT arg_count;
  // Called with `self` = the object, the Invoke flags, the arguments in
  // natural order (first argument first; VT_BYREF|VT_VARIANT already
  // followed; read-only) and the result VARIANT (VariantInit'ed; may be
  // null when the caller wants no result).
  // An optional argument left out reaches `call` as VT_ERROR with
  // DISP_E_PARAMNOTFOUND, as automation passes a missing optional argument.
  HRESULT (*call)(void* self, WORD flags, VARIANT* const* args, VARIANT* result);
  UINT optional_count = 0;
};

// The shared logic behind DispatchObject, usable by hand-written IDispatch
// implementations too.
//  - GetIDsOfNames: riid must be IID_NULL (DISP_E_UNKNOWNINTERFACE); the
//    first name is looked up (DISP_E_UNKNOWNNAME, its DISPID set to
//    DISPID_UNKNOWN); further names (argument names) are not supported and
//    get DISPID_UNKNOWN with DISP_E_UNKNOWNNAME.
//  - Invoke: DISP_E_MEMBERNOTFOUND for an unknown id or a kind the member
//    does not answer; DISP_E_BADPARAMCOUNT for a count outside the member's range;
//    DISP_E_NONAMEDARGS for named arguments other than DISPID_PROPERTYPUT
//    on a put. The member's HRESULT is returned as it is (its error
//    information stays on the thread; pExcepInfo is not filled). An
//    exception from the member never escapes: E_OUTOFMEMORY for
//    std::bad_alloc, E_UNEXPECTED for anything else.
HRESULT dispatch_get_ids(std::span<const DispatchEntry> entries, REFIID riid, LPOLESTR* names,
                         UINT count, DISPID* ids);
HRESULT dispatch_invoke(std::span<const DispatchEntry> entries, void* self, DISPID id, REFIID riid,
                        WORD flags, DISPPARAMS* params, VARIANT* result, UINT* arg_err);

// IDispatch over a table, for every dispatch interface among `Bases` (and
// their bases). Derived provides
//   std::span<const DispatchEntry> dispatch_entries() const;
// GetTypeInfoCount answers 0 (there is no type information);
// GetTypeInfo: E_POINTER for a null out pointer, DISP_E_BADINDEX otherwise.
// The one IDispatch of the project: a class with an identity of its own
// (QueryInterface, reference count) derives from it directly, the others
// through DispatchObject.
template <class Derived, class... Bases>
class DispatchImpl : public Bases... {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo == nullptr) return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return dispatch_get_ids(static_cast<const Derived*>(this)->dispatch_entries(), riid, names,
                            count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_err) override {
    return dispatch_invoke(static_cast<const Derived*>(this)->dispatch_entries(),
                           static_cast<Derived*>(this), id, riid, flags, params, result, arg_err);
  }

 protected:
  ~DispatchImpl() = default;
};

// A whole object: identity, reference count and IDispatch over a table.
template <class Derived, class First, class... Rest>
class DispatchObject : public DispatchImpl<Derived, Object<Derived, First, Rest...>> {};

}  // namespace kx::com

// Looks up one member name through target->GetIDsOfNames.
HRESULT kx_get_dispid(IDispatch* target, const OLECHAR* name, DISPID* id);
// Calls target->Invoke(id, IID_NULL, lcid, flags, ...) with args given in
// natural order (first argument first; they are passed as they are, not
// copied, and must not be changed by the callee). For DISPATCH_PROPERTYPUT
// and PUTREF the last argument is passed as the named DISPID_PROPERTYPUT
// value. result may be null. excep (may be null) is filled by the callee on
// DISP_E_EXCEPTION; the caller frees its BSTRs.
HRESULT kx_invoke(IDispatch* target, DISPID id, WORD flags, const VARIANT* args, UINT count,
                  VARIANT* result, LCID lcid = LOCALE_USER_DEFAULT, EXCEPINFO* excep = nullptr);
