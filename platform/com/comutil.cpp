#include "com/comutil.h"

#include <climits>
#include <cstring>
#include <new>

#include "com/sysmsg.h"
#include "com/wstr.h"

// ---------------------------------------------------------------------------
// _com_error

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) noexcept
    : hr_(hr), info_(perrinfo) {
  if (info_ != nullptr && fAddRef) info_->AddRef();
}

_com_error::_com_error(const _com_error& that) noexcept : hr_(that.hr_), info_(that.info_) {
  if (info_ != nullptr) info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& that) noexcept {
  if (this != &that) {
    if (that.info_ != nullptr) that.info_->AddRef();
    if (info_ != nullptr) info_->Release();
    hr_ = that.hr_;
    info_ = that.info_;
    message_.clear();
  }
  return *this;
}

_com_error::~_com_error() {
  if (info_ != nullptr) info_->Release();
}

WORD _com_error::WCode() const noexcept {
  // Codes made from dispatch exception codes (0x80040200 + wCode).
  const auto v = static_cast<std::uint32_t>(hr_);
  if (v >= 0x80040200u && v <= 0x8004FFFFu) return static_cast<WORD>(v - 0x80040200u);
  return 0;
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
  if (info_ != nullptr) info_->AddRef();
  return info_;
}

namespace {

_bstr_t text_of(IErrorInfo* info, HRESULT (STDMETHODCALLTYPE IErrorInfo::*getter)(BSTR*)) {
  if (info == nullptr) return _bstr_t();
  BSTR s = nullptr;
  if (FAILED((info->*getter)(&s))) return _bstr_t();
  return _bstr_t(s, false);
}

}  // namespace

_bstr_t _com_error::Description() const { return text_of(info_, &IErrorInfo::GetDescription); }
_bstr_t _com_error::Source() const { return text_of(info_, &IErrorInfo::GetSource); }
_bstr_t _com_error::HelpFile() const { return text_of(info_, &IErrorInfo::GetHelpFile); }

DWORD _com_error::HelpContext() const noexcept {
  DWORD context = 0;
  if (info_ != nullptr) info_->GetHelpContext(&context);
  return context;
}

::GUID _com_error::GUID() const noexcept {
  ::GUID guid = GUID_NULL;
  if (info_ != nullptr) info_->GetGUID(&guid);
  return guid;
}

const OLECHAR* _com_error::ErrorMessage() const {
  if (message_.empty()) message_ = kx_system_message(hr_);
  return message_.c_str();
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

void _com_raise_error(HRESULT hr, IErrorInfo* perrinfo) { throw _com_error(hr, perrinfo); }

void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid) {
  IErrorInfo* info = nullptr;
  if (punk != nullptr) {
    ISupportErrorInfo* support = nullptr;
    if (SUCCEEDED(
            punk->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
      if (support->InterfaceSupportsErrorInfo(riid) == S_OK && GetErrorInfo(0, &info) != S_OK)
        info = nullptr;
      support->Release();
    }
  }
  throw _com_error(hr, info);
}

// ---------------------------------------------------------------------------
// _bstr_t

namespace {

BSTR copy_or_throw(const OLECHAR* s, std::size_t n) {
  if (n == 0 && s == nullptr) return nullptr;
  if (n > 0x7FFFFFF0u) _com_issue_error(E_OUTOFMEMORY);
  BSTR b = SysAllocStringLen(s, static_cast<UINT>(n));
  if (b == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return b;
}

BSTR from_utf8(const char* s) {
  if (s == nullptr) return nullptr;
  std::u16string wide;
  if (!kx_utf8_to_utf16(s, &wide)) _com_issue_error(E_INVALIDARG);
  return copy_or_throw(wide.data(), wide.size());
}

}  // namespace

_bstr_t::_bstr_t(const _bstr_t& s) : str_(copy_or_throw(s.str_, s.length())) {}
_bstr_t::_bstr_t(_bstr_t&& s) noexcept : str_(std::exchange(s.str_, nullptr)) {}
_bstr_t::_bstr_t(const char* s) : str_(from_utf8(s)) {}
_bstr_t::_bstr_t(const OLECHAR* s) : str_(s ? copy_or_throw(s, kx_wcslen(s)) : nullptr) {}
_bstr_t::_bstr_t(std::u16string_view s) : str_(copy_or_throw(s.data(), s.size())) {}
_bstr_t::_bstr_t(BSTR bstr, bool fCopy)
    : str_(fCopy ? copy_or_throw(bstr, SysStringLen(bstr)) : bstr) {}

_bstr_t::_bstr_t(const _variant_t& var) {
  if (var.vt == VT_BSTR) {
    str_ = copy_or_throw(var.bstrVal, SysStringLen(var.bstrVal));
    return;
  }
  _variant_t text;
  const HRESULT hr = VariantChangeType(&text, &var, 0, VT_BSTR);
  if (FAILED(hr)) _com_issue_error(hr);
  str_ = std::exchange(text.bstrVal, nullptr);
  text.vt = VT_EMPTY;
}

_bstr_t& _bstr_t::operator=(const _bstr_t& s) {
  if (this != &s) {
    BSTR fresh = copy_or_throw(s.str_, s.length());
    SysFreeString(str_);
    str_ = fresh;
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& s) noexcept {
  if (this != &s) {
    SysFreeString(str_);
    str_ = std::exchange(s.str_, nullptr);
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(const char* s) { return *this = _bstr_t(s); }
_bstr_t& _bstr_t::operator=(const OLECHAR* s) { return *this = _bstr_t(s); }
_bstr_t& _bstr_t::operator=(const _variant_t& var) { return *this = _bstr_t(var); }

_bstr_t& _bstr_t::operator+=(const _bstr_t& s) {
  BSTR joined = nullptr;
  const HRESULT hr = VarBstrCat(str_, s.str_, &joined);
  if (FAILED(hr)) _com_issue_error(hr);
  SysFreeString(str_);
  str_ = joined;
  return *this;
}

_bstr_t _bstr_t::operator+(const _bstr_t& s) const {
  _bstr_t result(*this);
  result += s;
  return result;
}

_bstr_t operator+(const OLECHAR* s1, const _bstr_t& s2) {
  _bstr_t result(s1);
  result += s2;
  return result;
}

bool _bstr_t::operator==(const _bstr_t& s) const noexcept { return view() == s.view(); }
bool _bstr_t::operator<(const _bstr_t& s) const noexcept { return view() < s.view(); }

BSTR _bstr_t::copy(bool fCopy) const { return fCopy ? copy_or_throw(str_, length()) : str_; }

void _bstr_t::Assign(BSTR s) {
  BSTR fresh = copy_or_throw(s, SysStringLen(s));
  SysFreeString(str_);
  str_ = fresh;
}

BSTR* _bstr_t::GetAddress() {
  SysFreeString(str_);
  str_ = nullptr;
  return &str_;
}

void _bstr_t::Attach(BSTR s) noexcept {
  SysFreeString(str_);
  str_ = s;
}

BSTR _bstr_t::Detach() noexcept { return std::exchange(str_, nullptr); }

std::string _bstr_t::utf8() const { return kx_utf16_to_utf8_lossy(view()); }

// ---------------------------------------------------------------------------
// _variant_t

namespace {

void check(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

_variant_t::_variant_t(const VARIANT& var) {
  VariantInit(this);
  check(VariantCopy(this, &var));
}

_variant_t::_variant_t(const VARIANT* pvar) {
  VariantInit(this);
  if (pvar == nullptr) _com_issue_error(E_POINTER);
  check(VariantCopy(this, pvar));
}

_variant_t::_variant_t(const _variant_t& var) {
  VariantInit(this);
  check(VariantCopy(this, &var));
}

_variant_t::_variant_t(_variant_t&& var) noexcept {
  std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&var), sizeof(VARIANT));
  var.vt = VT_EMPTY;
}

_variant_t::_variant_t(VARIANT& var, bool fCopy) {
  VariantInit(this);
  if (fCopy) {
    check(VariantCopy(this, &var));
  } else {
    std::memcpy(static_cast<VARIANT*>(this), &var, sizeof(VARIANT));
    var.vt = VT_EMPTY;
  }
}

_variant_t::_variant_t(short s, VARTYPE vtSrc) {
  if (vtSrc == VT_BOOL) {
    vt = VT_BOOL;
    boolVal = s ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vtSrc == VT_I2) {
    vt = VT_I2;
    iVal = s;
  } else {
    vt = VT_EMPTY;
    _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(int l, VARTYPE vtSrc) {
  switch (vtSrc) {
    case VT_I4:
      vt = VT_I4;
      lVal = l;
      break;
    case VT_INT:
      vt = VT_INT;
      intVal = l;
      break;
    case VT_ERROR:
      vt = VT_ERROR;
      scode = l;
      break;
    case VT_BOOL:
      vt = VT_BOOL;
      boolVal = l ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    default: vt = VT_EMPTY; _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(long l, VARTYPE vtSrc) : _variant_t(0, vtSrc) {
  if (l < INT32_MIN || l > INT32_MAX) {
    vt = VT_EMPTY;
    _com_issue_error(DISP_E_OVERFLOW);
  }
  *this = _variant_t(static_cast<int>(l), vtSrc);
}

_variant_t::_variant_t(float f) noexcept {
  vt = VT_R4;
  fltVal = f;
}

_variant_t::_variant_t(double d, VARTYPE vtSrc) {
  if (vtSrc == VT_DATE) {
    vt = VT_DATE;
    date = d;
  } else if (vtSrc == VT_R8) {
    vt = VT_R8;
    dblVal = d;
  } else {
    vt = VT_EMPTY;
    _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(const CY& cy) noexcept {
  vt = VT_CY;
  cyVal = cy;
}

_variant_t::_variant_t(const _bstr_t& s) {
  vt = VT_EMPTY;
  bstrVal = s.copy();
  vt = VT_BSTR;
}

_variant_t::_variant_t(const OLECHAR* s) {
  vt = VT_EMPTY;
  bstrVal = s ? copy_or_throw(s, kx_wcslen(s)) : nullptr;
  vt = VT_BSTR;
}

_variant_t::_variant_t(const char* s) {
  vt = VT_EMPTY;
  bstrVal = from_utf8(s);
  vt = VT_BSTR;
}

_variant_t::_variant_t(IDispatch* p, bool fAddRef) noexcept {
  vt = VT_DISPATCH;
  pdispVal = p;
  if (p != nullptr && fAddRef) p->AddRef();
}

_variant_t::_variant_t(IUnknown* p, bool fAddRef) noexcept {
  vt = VT_UNKNOWN;
  punkVal = p;
  if (p != nullptr && fAddRef) p->AddRef();
}

_variant_t::_variant_t(bool b) noexcept {
  vt = VT_BOOL;
  boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(BYTE b) noexcept {
  vt = VT_UI1;
  bVal = b;
}

_variant_t::_variant_t(char c) noexcept {
  vt = VT_I1;
  cVal = c;
}

_variant_t::_variant_t(unsigned short us) noexcept {
  vt = VT_UI2;
  uiVal = us;
}

_variant_t::_variant_t(unsigned int ul, VARTYPE vtSrc) {
  if (vtSrc == VT_UINT) {
    vt = VT_UINT;
    uintVal = ul;
  } else if (vtSrc == VT_UI4) {
    vt = VT_UI4;
    ulVal = ul;
  } else {
    vt = VT_EMPTY;
    _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(unsigned long ul) {
  vt = VT_EMPTY;
  if (ul > UINT32_MAX) _com_issue_error(DISP_E_OVERFLOW);
  vt = VT_UI4;
  ulVal = static_cast<ULONG>(ul);
}

_variant_t::_variant_t(long long ll) noexcept {
  vt = VT_I8;
  llVal = ll;
}

_variant_t::_variant_t(unsigned long long ull) noexcept {
  vt = VT_UI8;
  ullVal = ull;
}

_variant_t& _variant_t::operator=(const VARIANT& var) {
  check(VariantCopy(this, &var));
  return *this;
}

_variant_t& _variant_t::operator=(const _variant_t& var) {
  check(VariantCopy(this, &var));
  return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& var) noexcept {
  if (this != &var) {
    VariantClear(this);
    std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&var), sizeof(VARIANT));
    var.vt = VT_EMPTY;
  }
  return *this;
}

_variant_t& _variant_t::operator=(short s) { return *this = _variant_t(s); }
_variant_t& _variant_t::operator=(int l) { return *this = _variant_t(l); }
_variant_t& _variant_t::operator=(long l) { return *this = _variant_t(l); }
_variant_t& _variant_t::operator=(float f) { return *this = _variant_t(f); }
_variant_t& _variant_t::operator=(double d) { return *this = _variant_t(d); }
_variant_t& _variant_t::operator=(const _bstr_t& s) { return *this = _variant_t(s); }
_variant_t& _variant_t::operator=(const OLECHAR* s) { return *this = _variant_t(s); }
_variant_t& _variant_t::operator=(const char* s) { return *this = _variant_t(s); }
_variant_t& _variant_t::operator=(IDispatch* p) { return *this = _variant_t(p); }
_variant_t& _variant_t::operator=(IUnknown* p) { return *this = _variant_t(p); }
_variant_t& _variant_t::operator=(bool b) { return *this = _variant_t(b); }
_variant_t& _variant_t::operator=(BYTE b) { return *this = _variant_t(b); }
_variant_t& _variant_t::operator=(long long ll) { return *this = _variant_t(ll); }

namespace {

// A converted copy of v (throws on failure).
_variant_t converted(const VARIANT& v, VARTYPE vt) {
  _variant_t out;
  check(VariantChangeType(&out, &v, 0, vt));
  return out;
}

}  // namespace

_variant_t::operator short() const { return vt == VT_I2 ? iVal : converted(*this, VT_I2).iVal; }
_variant_t::operator int() const { return vt == VT_I4 ? lVal : converted(*this, VT_I4).lVal; }
_variant_t::operator float() const { return vt == VT_R4 ? fltVal : converted(*this, VT_R4).fltVal; }
_variant_t::operator double() const {
  return vt == VT_R8 ? dblVal : converted(*this, VT_R8).dblVal;
}
_variant_t::operator bool() const {
  return (vt == VT_BOOL ? boolVal : converted(*this, VT_BOOL).boolVal) != VARIANT_FALSE;
}
_variant_t::operator BYTE() const { return vt == VT_UI1 ? bVal : converted(*this, VT_UI1).bVal; }
_variant_t::operator long long() const {
  return vt == VT_I8 ? llVal : converted(*this, VT_I8).llVal;
}
_variant_t::operator _bstr_t() const { return _bstr_t(*this); }

_variant_t::operator IDispatch*() const {
  _variant_t v = converted(*this, VT_DISPATCH);
  return std::exchange(v.pdispVal, nullptr);
}

_variant_t::operator IUnknown*() const {
  _variant_t v = converted(*this, VT_UNKNOWN);
  return std::exchange(v.punkVal, nullptr);
}

bool _variant_t::operator==(const VARIANT& var) const noexcept {
  if (vt != var.vt) return false;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL: return true;
    case VT_BSTR:
      return std::u16string_view(bstrVal ? bstrVal : u"", SysStringLen(bstrVal)) ==
             std::u16string_view(var.bstrVal ? var.bstrVal : u"", SysStringLen(var.bstrVal));
    case VT_I1:
    case VT_UI1: return bVal == var.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return iVal == var.iVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR: return lVal == var.lVal;
    case VT_R4: return fltVal == var.fltVal;
    case VT_R8:
    case VT_DATE: return dblVal == var.dblVal;
    case VT_DECIMAL:
      return std::memcmp(&decVal, &var.decVal, sizeof(DECIMAL)) == 0 ||
             (decVal.Hi32 == var.decVal.Hi32 && decVal.Lo64 == var.decVal.Lo64 &&
              decVal.signscale == var.decVal.signscale);
    default: return llVal == var.llVal;  // I8, UI8, CY, pointers
  }
}

void _variant_t::Clear() { check(VariantClear(this)); }

void _variant_t::Attach(VARIANT& varSrc) {
  Clear();
  std::memcpy(static_cast<VARIANT*>(this), &varSrc, sizeof(VARIANT));
  varSrc.vt = VT_EMPTY;
}

VARIANT _variant_t::Detach() noexcept {
  VARIANT out;
  std::memcpy(&out, static_cast<VARIANT*>(this), sizeof(VARIANT));
  vt = VT_EMPTY;
  return out;
}

VARIANT* _variant_t::GetAddress() {
  Clear();
  return this;
}

void _variant_t::ChangeType(VARTYPE vartype, const _variant_t* pSrc) {
  check(VariantChangeType(this, pSrc != nullptr ? pSrc : this, 0, vartype));
}

void _variant_t::SetString(const char* pSrc) { *this = _variant_t(pSrc); }
