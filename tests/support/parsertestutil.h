// Small helpers shared by the parser tests and the field-data tests.
#pragma once

#include <string>

#include "com/bstr.h"
#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/wstr.h"

namespace kx::test {

// Takes the calling thread's error information and returns its description
// ("" when there is none); the slot is empty afterwards.
inline std::u16string TakeThreadErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return u"";
  BSTR description = nullptr;
  (void)info->GetDescription(&description);
  std::u16string text(description != nullptr ? description : u"", SysStringLen(description));
  SysFreeString(description);
  info->Release();
  return text;
}

// For readable failure messages.
inline std::string U8(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

// A BSTR owned by the test.
using Bstr = _bstr_t;

}  // namespace kx::test
