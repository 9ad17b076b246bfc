// Feeds arbitrary bytes to the SAX reader as request text. The first byte
// picks how the bytes become UTF-16: as UTF-8 (lossy, so every input reaches
// expat) or as raw code units (so unpaired surrogates reach the strict
// converter). The handler touches every text it is given, fails now and then
// to exercise the stop path, and the error handler reads the locator.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "com/activation.h"
#include "com/bstr.h"
#include "com/clsids.h"
#include "com/object.h"
#include "com/variant.h"
#include "com/wstr.h"
#include "msxml/sax.h"

namespace {

unsigned Touch(const char16_t* text, int length) {
  unsigned sum = 0;
  for (int i = 0; i < length; ++i) sum += text[i];
  return sum;
}

class Handler final : public kx::com::Object<Handler, ISAXContentHandler, ISAXErrorHandler> {
 public:
  explicit Handler(unsigned failAt) : failAt_(failAt) {}

  HRESULT putDocumentLocator(ISAXLocator*) override { return S_OK; }
  HRESULT startDocument() override { return S_OK; }
  HRESULT endDocument() override { return S_OK; }
  HRESULT startPrefixMapping(const char16_t*, int, const char16_t*, int) override { return S_OK; }
  HRESULT endPrefixMapping(const char16_t*, int) override { return S_OK; }
  HRESULT startElement(const char16_t*, int, const char16_t* name, int cchName, const char16_t*,
                       int, ISAXAttributes* attributes) override {
    sum_ += Touch(name, cchName);
    int count = 0;
    if (attributes != nullptr && SUCCEEDED(attributes->getLength(&count))) {
      for (int i = 0; i < count; ++i) {
        const char16_t* text = nullptr;
        int length = 0;
        if (SUCCEEDED(attributes->getLocalName(i, &text, &length))) sum_ += Touch(text, length);
        if (SUCCEEDED(attributes->getValue(i, &text, &length))) sum_ += Touch(text, length);
      }
    }
    return Step();
  }
  HRESULT endElement(const char16_t*, int, const char16_t* name, int cchName, const char16_t*,
                     int) override {
    sum_ += Touch(name, cchName);
    return Step();
  }
  HRESULT characters(const char16_t* text, int length) override {
    sum_ += Touch(text, length);
    return Step();
  }
  HRESULT ignorableWhitespace(const char16_t*, int) override { return S_OK; }
  HRESULT processingInstruction(const char16_t*, int, const char16_t*, int) override {
    return S_OK;
  }
  HRESULT skippedEntity(const char16_t*, int) override { return S_OK; }

  HRESULT error(ISAXLocator* locator, const char16_t* message, HRESULT code) override {
    return Report(locator, message, code);
  }
  HRESULT fatalError(ISAXLocator* locator, const char16_t* message, HRESULT code) override {
    return Report(locator, message, code);
  }
  HRESULT ignorableWarning(ISAXLocator* locator, const char16_t* message, HRESULT code) override {
    return Report(locator, message, code);
  }

 private:
  HRESULT Step() { return ++events_ == failAt_ ? static_cast<HRESULT>(0x8004C001) : S_OK; }
  HRESULT Report(ISAXLocator* locator, const char16_t* message, HRESULT code) {
    int line = 0, column = 0;
    if (locator != nullptr) {
      locator->getLineNumber(&line);
      locator->getColumnNumber(&column);
    }
    if (message != nullptr) sum_ += Touch(message, static_cast<int>(kx_wcslen(message)));
    return code;
  }

  unsigned failAt_;
  unsigned events_ = 0;
  unsigned sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;

  std::u16string text;
  if (mode & 1) {
    text.resize(size / 2);
    std::memcpy(text.data(), data, text.size() * 2);
  } else {
    text = kx_utf8_to_utf16_lossy(std::string_view(reinterpret_cast<const char*>(data), size));
  }

  ISAXXMLReader* reader = nullptr;
  if (FAILED(CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                              reinterpret_cast<void**>(&reader)))) {
    __builtin_trap();
  }
  // Fail at a handler event chosen by the mode byte (0: never).
  Handler* handler = new Handler(static_cast<unsigned>(mode >> 1) % 16);
  reader->putContentHandler(handler);
  reader->putErrorHandler(handler);

  VARIANT input;
  VariantInit(&input);
  V_VT(&input) = VT_BSTR;
  V_BSTR(&input) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  reader->parse(input);
  VariantClear(&input);

  reader->putContentHandler(nullptr);
  reader->putErrorHandler(nullptr);
  handler->Release();
  reader->Release();
  return 0;
}
