// Small owning holders for the tests' BSTRs and VARIANTs.
#pragma once

#include <string>
#include <string_view>

#include "com/comutil.h"
#include "com/oleauto.h"
#include "host/utf.h"

namespace kx::host::test {

using Bstr = _bstr_t;

// A VARIANT that clears itself.
class Var {
 public:
  Var() { VariantInit(&v_); }
  ~Var() { VariantClear(&v_); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  static Var I4(LONG value) {
    Var v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
  }
  static Var R8(double value) {
    Var v;
    v.v_.vt = VT_R8;
    v.v_.dblVal = value;
    return v;
  }
  static Var Bool(bool value) {
    Var v;
    v.v_.vt = VT_BOOL;
    v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  static Var Str(std::u16string_view text) {
    Var v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
  }
  Var(Var&& other) noexcept {
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  VARIANT& operator*() { return v_; }
  VARIANT* get() { return &v_; }

 private:
  VARIANT v_;
};

inline std::string U8(std::u16string_view text) { return internal::Utf16ToUtf8(text); }

}  // namespace kx::host::test
