// Feeds arbitrary bytes, read as UTF-8 (malformed sequences become U+FFFD),
// to the grammar parser: once through the "SetRealField" message parser and
// once as field data. Field data that parses is written in all three forms,
// and each written text must parse again: the writer's output has to stay
// well-formed whatever the record holds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "com/bstr.h"
#include "com/errorinfo.h"
#include "com/wstr.h"
#include "model/kxfielddata.h"
#include "support/setrealfield.h"

namespace {

void DropThreadErrorInfo() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info != nullptr) info->Release();
}

class Bstr {
 public:
  explicit Bstr(std::u16string_view text)
      : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return bstr_; }

 private:
  BSTR bstr_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const uint8_t selector = size > 0 ? data[0] : 0;
  Bstr text(kx_utf8_to_utf16_lossy(bytes));

  {
    kx::test::SetRealFieldMessageParser parser;
    // The worker's answer varies with the input: success, a quiet abort or
    // a failure with a description.
    parser.worker = [selector](kx::test::SetRealFieldMessageParser&) -> HRESULT {
      switch (selector % 3) {
        case 1: return KXSAX_E_ABORT;
        case 2: return kx_set_error_info(E_FAIL, u"worker failed", u"fuzz");
        default: return S_OK;
      }
    };
    parser.SetCompareNoCase((selector & 4) != 0);
    parser.SetIgnoreUnknown((selector & 8) == 0);
    (void)parser.Parse(text);
    DropThreadErrorInfo();
  }

  KXFieldData record;
  const int32_t type = static_cast<int32_t>(selector % 11) - 1;
  const int32_t index = (selector & 16) != 0 ? -1 : static_cast<int32_t>(selector % 4);
  if (FAILED(record.ParseFieldData(type, text, index))) {
    DropThreadErrorInfo();
    return 0;
  }
  for (int32_t mode = 0; mode < 3; ++mode) {
    BSTR written = nullptr;
    HRESULT hr = record.WriteFieldData(&written, mode, 7);
    if (type < kFieldAnnotation || type > kFieldRadio) {
      if (SUCCEEDED(hr)) std::abort();  // only the nine kinds can be written
      SysFreeString(written);
      DropThreadErrorInfo();
      continue;
    }
    if (FAILED(hr)) std::abort();
    KXFieldData reread;
    // The show form has its own element names, which the grammar does not
    // know: it must still be well-formed.
    hr = reread.ParseFieldData(type, written, -1);
    SysFreeString(written);
    if (FAILED(hr)) std::abort();
  }
  DropThreadErrorInfo();
  return 0;
}
