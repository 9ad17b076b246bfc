// Compiler COM support: _com_error, _bstr_t, _variant_t and _com_ptr_t,
// holders that own their resource and release it on every path, exceptions
// included.
//
// Failures inside these classes throw _com_error (through _com_issue_error):
// E_OUTOFMEMORY when an allocation fails, the conversion's HRESULT when a
// _variant_t extraction fails, E_POINTER for -> on a null _com_ptr_t.
//
// Differences from the Windows classes, deliberate:
//  - _bstr_t copies its string on copy (no shared buffer); narrow text is
//    UTF-8 (strict: invalid UTF-8 throws E_INVALIDARG);
//  - LONG is 32-bit `int` here, so _variant_t(int) gives VT_I4 (as LONG did
//    on Windows); `long` (64-bit) also gives VT_I4 and throws
//    DISP_E_OVERFLOW when out of range; `long long` gives VT_I8;
//  - _com_ptr_t<I> is parameterised directly by the interface (its IID from
//    kx_uuidof<I>()).
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "com/activation.h"
#include "com/dispatch.h"
#include "com/errorinfo.h"
#include "com/oleauto.h"

class _bstr_t;
class _variant_t;

// ---------------------------------------------------------------------------
class _com_error {
 public:
  // Takes over the reference on perrinfo unless fAddRef (then adds one).
  explicit _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
  _com_error(const _com_error& that) noexcept;
  _com_error& operator=(const _com_error& that) noexcept;
  ~_com_error();

  HRESULT Error() const noexcept { return hr_; }
  WORD WCode() const noexcept;
  // AddRef'd for the caller (null when none).
  IErrorInfo* ErrorInfo() const noexcept;
  // Texts of the error information (empty when there is none).
  _bstr_t Description() const;
  _bstr_t Source() const;
  _bstr_t HelpFile() const;
  DWORD HelpContext() const noexcept;
  ::GUID GUID() const noexcept;
  // The system text for the HRESULT (kx_system_message); valid while this
  // object lives.
  const OLECHAR* ErrorMessage() const;

 private:
  HRESULT hr_;
  IErrorInfo* info_;
  mutable std::u16string message_;
};

// Throws _com_error(hr), with error information when given (its reference
// taken over).
[[noreturn]] void _com_issue_error(HRESULT hr);
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid);
[[noreturn]] void _com_raise_error(HRESULT hr, IErrorInfo* perrinfo = nullptr);

// ---------------------------------------------------------------------------
class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const _bstr_t& s);
  _bstr_t(_bstr_t&& s) noexcept;
  _bstr_t(const char* s);     // UTF-8
  _bstr_t(const OLECHAR* s);  // zero terminated; null = empty
  _bstr_t(std::u16string_view s);
  _bstr_t(const _variant_t& var);  // VariantChangeType to VT_BSTR
  // fCopy false: takes ownership of bstr; true: copies it.
  _bstr_t(BSTR bstr, bool fCopy);
  // Inline: most holders are destroyed empty or hold a short text.
  ~_bstr_t() {
    if (str_ != nullptr) SysFreeString(str_);
  }

  _bstr_t& operator=(const _bstr_t& s);
  _bstr_t& operator=(_bstr_t&& s) noexcept;
  _bstr_t& operator=(const char* s);
  _bstr_t& operator=(const OLECHAR* s);
  _bstr_t& operator=(const _variant_t& var);
  _bstr_t& operator+=(const _bstr_t& s);
  _bstr_t operator+(const _bstr_t& s) const;
  friend _bstr_t operator+(const OLECHAR* s1, const _bstr_t& s2);

  // The BSTR (may be null for the empty string); still owned by this.
  operator const OLECHAR*() const noexcept { return str_; }
  operator OLECHAR*() const noexcept { return str_; }
  bool operator!() const noexcept { return length() == 0; }
  // Compare by characters (null = empty), code unit order.
  bool operator==(const _bstr_t& s) const noexcept;
  bool operator!=(const _bstr_t& s) const noexcept { return !(*this == s); }
  bool operator<(const _bstr_t& s) const noexcept;
  bool operator>(const _bstr_t& s) const noexcept { return s < *this; }
  bool operator<=(const _bstr_t& s) const noexcept { return !(s < *this); }
  bool operator>=(const _bstr_t& s) const noexcept { return !(*this < s); }

  // A copy the caller owns (fCopy) or the held BSTR itself.
  BSTR copy(bool fCopy = true) const;
  UINT length() const noexcept { return SysStringLen(str_); }
  void Assign(BSTR s);  // copies s
  // Frees the held string and gives its address (for [out] BSTR* arguments).
  BSTR* GetAddress();
  BSTR& GetBSTR() noexcept { return str_; }
  void Attach(BSTR s) noexcept;  // takes ownership
  BSTR Detach() noexcept;        // gives ownership away
  // Conversion helpers (not on Windows).
  std::u16string_view view() const noexcept { return {str_ ? str_ : u"", length()}; }
  std::string utf8() const;  // lossy for invalid UTF-16 (U+FFFD)

 private:
  BSTR str_ = nullptr;
};

// ---------------------------------------------------------------------------
class _variant_t : public tagVARIANT {
 public:
  _variant_t() noexcept { vt = VT_EMPTY; }
  _variant_t(const VARIANT& var);     // VariantCopy
  _variant_t(const VARIANT* pvar);    // VariantCopy
  _variant_t(const _variant_t& var);  // VariantCopy
  _variant_t(_variant_t&& var) noexcept;
  // fCopy false: takes over the contents of var (var becomes VT_EMPTY).
  _variant_t(VARIANT& var, bool fCopy);
  _variant_t(short s, VARTYPE vtSrc = VT_I2);   // VT_I2 or VT_BOOL
  _variant_t(int l, VARTYPE vtSrc = VT_I4);     // VT_I4, VT_ERROR, VT_BOOL, VT_INT
  _variant_t(long l, VARTYPE vtSrc = VT_I4);    // as int; DISP_E_OVERFLOW if out of range
  _variant_t(float f) noexcept;                 // VT_R4
  _variant_t(double d, VARTYPE vtSrc = VT_R8);  // VT_R8 or VT_DATE
  _variant_t(const CY& cy) noexcept;
  _variant_t(const _bstr_t& s);
  _variant_t(const OLECHAR* s);
  _variant_t(const char* s);  // UTF-8
  _variant_t(IDispatch* p, bool fAddRef = true) noexcept;
  _variant_t(IUnknown* p, bool fAddRef = true) noexcept;
  _variant_t(bool b) noexcept;                          // VT_BOOL
  _variant_t(BYTE b) noexcept;                          // VT_UI1
  _variant_t(char c) noexcept;                          // VT_I1
  _variant_t(unsigned short us) noexcept;               // VT_UI2
  _variant_t(unsigned int ul, VARTYPE vtSrc = VT_UI4);  // VT_UI4 or VT_UINT
  _variant_t(unsigned long ul);                         // VT_UI4; overflow throws
  _variant_t(long long ll) noexcept;                    // VT_I8
  _variant_t(unsigned long long ull) noexcept;          // VT_UI8
  // Inline: most VARIANTs destroyed hold nothing to free.
  ~_variant_t() {
    if (vt != VT_EMPTY) VariantClear(this);
  }

  _variant_t& operator=(const VARIANT& var);
  _variant_t& operator=(const _variant_t& var);
  _variant_t& operator=(_variant_t&& var) noexcept;
  _variant_t& operator=(short s);
  _variant_t& operator=(int l);
  _variant_t& operator=(long l);
  _variant_t& operator=(float f);
  _variant_t& operator=(double d);
  _variant_t& operator=(const _bstr_t& s);
  _variant_t& operator=(const OLECHAR* s);
  _variant_t& operator=(const char* s);
  _variant_t& operator=(IDispatch* p);  // AddRefs
  _variant_t& operator=(IUnknown* p);   // AddRefs
  _variant_t& operator=(bool b);
  _variant_t& operator=(BYTE b);
  _variant_t& operator=(long long ll);

  // Extraction through VariantChangeType; throws _com_error on failure.
  operator short() const;
  operator int() const;  // LONG
  operator float() const;
  operator double() const;
  operator bool() const;
  operator BYTE() const;
  operator long long() const;
  operator _bstr_t() const;
  operator IDispatch*() const;  // AddRef'd for the caller
  operator IUnknown*() const;   // AddRef'd for the caller

  // Compares type and value (VarCmp-like for equal types; BSTRs by
  // characters, interfaces by pointer).
  bool operator==(const VARIANT& var) const noexcept;
  bool operator!=(const VARIANT& var) const noexcept { return !(*this == var); }
  bool operator==(const _variant_t& var) const noexcept {
    return *this == static_cast<const VARIANT&>(var);
  }
  bool operator!=(const _variant_t& var) const noexcept { return !(*this == var); }

  void Clear();                  // throws on failure
  void Attach(VARIANT& varSrc);  // takes over varSrc's contents
  VARIANT Detach() noexcept;     // gives the contents away; this becomes empty
  VARIANT& GetVARIANT() noexcept { return *this; }
  VARIANT* GetAddress();  // clears, then gives the address (for [out])
  // Converts in place (or from *pSrc into this); throws on failure.
  void ChangeType(VARTYPE vartype, const _variant_t* pSrc = nullptr);
  void SetString(const char* pSrc);  // UTF-8 -> VT_BSTR
};

// ---------------------------------------------------------------------------
template <class I>
class _com_ptr_t {
 public:
  using Interface = I;
  static const IID& GetIID() noexcept { return kx_uuidof<I>(); }

  _com_ptr_t() noexcept = default;
  _com_ptr_t(std::nullptr_t) noexcept {}
  // AddRefs p.
  _com_ptr_t(I* p) noexcept : p_(p) { _AddRef(); }
  _com_ptr_t(I* p, bool fAddRef) noexcept : p_(p) {
    if (fAddRef) _AddRef();
  }
  _com_ptr_t(const _com_ptr_t& cp) noexcept : p_(cp.p_) { _AddRef(); }
  _com_ptr_t(_com_ptr_t&& cp) noexcept : p_(cp.p_) { cp.p_ = nullptr; }
  // Another interface: QueryInterface (null when refused).
  template <class J,
            class = std::enable_if_t<!std::is_same_v<J, I> && std::is_base_of_v<IUnknown, J>>>
  _com_ptr_t(J* p) {
    _QueryFrom(p);
  }
  template <class J, class = std::enable_if_t<!std::is_same_v<J, I>>>
  _com_ptr_t(const _com_ptr_t<J>& cp) {
    _QueryFrom(cp.GetInterfacePtr());
  }
  // From a VARIANT holding VT_UNKNOWN/VT_DISPATCH (also by reference):
  // QueryInterface; throws DISP_E_TYPEMISMATCH for other types.
  _com_ptr_t(const VARIANT& var) {
    const VARIANT* v = &var;
    // Bounded as in VariantCopyInd: a chain this long is a cycle, refused
    // below as a type mismatch.
    for (int depth = 0; v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr && depth <= 64;
         ++depth)
      v = v->pvarVal;
    IUnknown* unk = nullptr;
    switch (v->vt) {
      case VT_UNKNOWN: unk = v->punkVal; break;
      case VT_DISPATCH: unk = v->pdispVal; break;
      case VT_BYREF | VT_UNKNOWN: unk = v->ppunkVal ? *v->ppunkVal : nullptr; break;
      case VT_BYREF | VT_DISPATCH: unk = v->ppdispVal ? *v->ppdispVal : nullptr; break;
      case VT_EMPTY:
      case VT_NULL: break;
      default: _com_issue_error(DISP_E_TYPEMISMATCH);
    }
    _QueryFrom(unk);
  }
  // Creates an instance (null when creation fails; see CreateInstance).
  explicit _com_ptr_t(REFCLSID clsid, IUnknown* outer = nullptr, DWORD ctx = CLSCTX_ALL) {
    (void)CreateInstance(clsid, outer, ctx);
  }
  ~_com_ptr_t() { _Release(); }

  _com_ptr_t& operator=(I* p) noexcept {
    if (p != p_) {
      I* old = p_;
      p_ = p;
      _AddRef();
      if (old != nullptr) old->Release();
    }
    return *this;
  }
  _com_ptr_t& operator=(const _com_ptr_t& cp) noexcept { return *this = cp.p_; }
  _com_ptr_t& operator=(_com_ptr_t&& cp) noexcept {
    // operator& is the out-parameter accessor: compare real addresses.
    if (this != std::addressof(cp)) {
      _Release();
      p_ = cp.p_;
      cp.p_ = nullptr;
    }
    return *this;
  }
  _com_ptr_t& operator=(std::nullptr_t) noexcept {
    _Release();
    return *this;
  }
  template <class J,
            class = std::enable_if_t<!std::is_same_v<J, I> && std::is_base_of_v<IUnknown, J>>>
  _com_ptr_t& operator=(J* p) {
    _com_ptr_t tmp(p);
    return *this = std::move(tmp);
  }
  template <class J, class = std::enable_if_t<!std::is_same_v<J, I>>>
  _com_ptr_t& operator=(const _com_ptr_t<J>& cp) {
    return *this = cp.GetInterfacePtr();
  }

  // Takes over a reference (no AddRef) / gives it away.
  void Attach(I* p) noexcept {
    _Release();
    p_ = p;
  }
  void Attach(I* p, bool fAddRef) noexcept {
    _Release();
    p_ = p;
    if (fAddRef) _AddRef();
  }
  I* Detach() noexcept { return std::exchange(p_, nullptr); }

  I* GetInterfacePtr() const noexcept { return p_; }
  I*& GetInterfacePtr() noexcept { return p_; }
  operator I*() const noexcept { return p_; }
  I& operator*() const {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    return *p_;
  }
  // Releases the held reference and gives the address (for [out] I**).
  I** operator&() noexcept {
    _Release();
    return &p_;
  }
  I* operator->() const {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    return p_;
  }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool operator!() const noexcept { return p_ == nullptr; }

  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
  bool operator==(I* p) const noexcept { return p_ == p; }
  // Identity comparison (both queried for IUnknown).
  template <class J>
  bool operator==(const _com_ptr_t<J>& cp) const noexcept {
    return _SameObject(p_, cp.GetInterfacePtr());
  }

  void AddRef() {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    p_->AddRef();
  }
  // Releases and nulls; E_POINTER (thrown) when already null.
  void Release() {
    if (p_ == nullptr) _com_issue_error(E_POINTER);
    _Release();
  }

  HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer = nullptr,
                         DWORD ctx = CLSCTX_ALL) noexcept {
    _Release();
    void* out = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, outer, ctx, GetIID(), &out);
    p_ = SUCCEEDED(hr) ? static_cast<I*>(out) : nullptr;
    return hr;
  }
  // A ProgID or a braced class id text.
  HRESULT CreateInstance(LPCOLESTR clsidString, IUnknown* outer = nullptr,
                         DWORD ctx = CLSCTX_ALL) noexcept {
    CLSID clsid;
    HRESULT hr = (clsidString != nullptr && clsidString[0] == u'{')
                     ? CLSIDFromString(clsidString, &clsid)
                     : CLSIDFromProgID(clsidString, &clsid);
    if (FAILED(hr)) {
      _Release();
      return hr;
    }
    return CreateInstance(clsid, outer, ctx);
  }
  template <class Q>
  HRESULT QueryInterface(REFIID iid, Q** p) const noexcept {
    if (p == nullptr) return E_POINTER;
    *p = nullptr;
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(iid, reinterpret_cast<void**>(p));
  }
  template <class Q>
  HRESULT QueryInterface(REFIID iid, Q*& p) const noexcept {
    return QueryInterface(iid, &p);
  }

 private:
  void _AddRef() noexcept {
    if (p_ != nullptr) p_->AddRef();
  }
  void _Release() noexcept {
    if (I* old = std::exchange(p_, nullptr)) old->Release();
  }
  template <class J>
  void _QueryFrom(J* p) noexcept {
    p_ = nullptr;
    if (p == nullptr) return;
    void* out = nullptr;
    if (SUCCEEDED(p->QueryInterface(GetIID(), &out))) p_ = static_cast<I*>(out);
  }
  template <class A, class B>
  static bool _SameObject(A* a, B* b) noexcept {
    if (a == nullptr || b == nullptr) return a == nullptr && b == nullptr;
    void* ua = nullptr;
    void* ub = nullptr;
    a->QueryInterface(IID_IUnknown, &ua);
    b->QueryInterface(IID_IUnknown, &ub);
    const bool same = ua != nullptr && ua == ub;
    if (ua != nullptr) static_cast<IUnknown*>(ua)->Release();
    if (ub != nullptr) static_cast<IUnknown*>(ub)->Release();
    return same;
  }

  I* p_ = nullptr;
};

namespace kx::com {

// The interface holder under the names the platform's own code uses: no
// QueryInterface on construction, `T` may be a class as well as an
// interface. Released on destruction and on reassignment; copies AddRef.
template <class T>
class Ref : public _com_ptr_t<T> {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  // Takes over a reference the caller already owns.
  static Ref Adopt(T* object) {
    Ref ref;
    ref.Attach(object);
    return ref;
  }
  // Adds a reference of its own.
  explicit Ref(T* object) : _com_ptr_t<T>(object) {}
  // From a holder of a derived class: the reference moves over.
  template <class U>
  Ref(Ref<U>&& other) noexcept : _com_ptr_t<T>(other.Detach(), false) {}

  T* get() const { return this->GetInterfacePtr(); }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
  explicit operator bool() const { return get() != nullptr; }

  // A new reference for an out-parameter.
  T* AddRefCopy() const {
    if (get() != nullptr) get()->AddRef();
    return get();
  }
};

}  // namespace kx::com

// IFooPtr for interface IFoo.
#define KX_SMARTPTR_TYPEDEF(Interface) using Interface##Ptr = _com_ptr_t<Interface>

KX_SMARTPTR_TYPEDEF(IUnknown);
KX_SMARTPTR_TYPEDEF(IDispatch);
KX_SMARTPTR_TYPEDEF(IErrorInfo);
KX_SMARTPTR_TYPEDEF(ICreateErrorInfo);
KX_SMARTPTR_TYPEDEF(ISupportErrorInfo);
KX_SMARTPTR_TYPEDEF(IClassFactory);
