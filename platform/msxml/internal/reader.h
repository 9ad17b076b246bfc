// The SAX reader object and the expat run behind one parse.
#pragma once

#ifndef KX_MSXML_INTERNAL
#error "msxml/internal headers are private to their library; include its public headers"
#endif

#include <atomic>
#include <cstddef>
#include <string>

#include "msxml/internal/attributes.h"
#include "msxml/internal/object.h"
#include "msxml/internal/utf.h"

namespace kx::msxml {

struct Limits {
  int max_depth = kSaxMaxElementDepth;
  long max_bytes = kSaxMaxDocumentBytes;
};

class Reader final : public com::Object<Reader, ISAXXMLReader> {
 public:
  HRESULT getFeature(const char16_t* name, VARIANT_BOOL* value) override;
  HRESULT putFeature(const char16_t* name, VARIANT_BOOL value) override;
  HRESULT getProperty(const char16_t* name, VARIANT* value) override;
  HRESULT putProperty(const char16_t* name, VARIANT value) override;
  HRESULT getContentHandler(ISAXContentHandler** handler) override;
  HRESULT putContentHandler(ISAXContentHandler* handler) override;
  HRESULT getErrorHandler(ISAXErrorHandler** handler) override;
  HRESULT putErrorHandler(ISAXErrorHandler* handler) override;
  HRESULT parse(VARIANT input) override;
  HRESULT parseURL(const char16_t* url) override;

 private:
  HRESULT ParseVariant(const VARIANT& input);
  HRESULT ParseText(const char16_t* text, std::size_t length);
  HRESULT ParseStream(IUnknown* source);
  HRESULT ParseFile(const std::string& path);

  Ref<ISAXContentHandler> content_;
  Ref<ISAXErrorHandler> errors_;
  Limits limits_;
  std::atomic<bool> busy_{false};
  ModuleLock module_;
};

// Runs expat over one document and reports it to the handlers. The run
// holds its own references to the handlers for its whole length.
class ParseRun {
 public:
  ParseRun(Ref<ISAXContentHandler> content, Ref<ISAXErrorHandler> errors, const Limits& limits);
  ParseRun(const ParseRun&) = delete;
  ParseRun& operator=(const ParseRun&) = delete;
  ~ParseRun();

  // Parses `bytes`; `encoding` null lets expat detect it, else it overrides
  // any declaration. REQUIRES: length within the limits.
  [[nodiscard]] HRESULT Run(const char* bytes, std::size_t length, const char* encoding);
  // Reports a failure found before expat ran, at the given position.
  [[nodiscard]] HRESULT FailAt(HRESULT code, const std::u16string& message, int line, int column);

 private:
  struct Callbacks;  // expat's entry points, in reader.cpp

  // Calls fatalError and keeps the failure that parse will return.
  void Fatal(HRESULT code, const std::u16string& message);
  // Keeps a failure and stops expat.
  void Stop(HRESULT code);
  // Keeps a handler's result; false when it failed.
  bool Check(HRESULT hr);
  // Delivers the pending run of character data.
  void Flush();

  Ref<ISAXContentHandler> content_;
  Ref<ISAXErrorHandler> errors_;
  Limits limits_;
  Attributes* attributes_;  // owned reference
  Locator* locator_;        // owned reference
  XML_Parser parser_ = nullptr;
  HRESULT failure_ = S_OK;  // the first failure; parse returns it
  int depth_ = 0;
  Utf16Buffer text_;  // character data not yet delivered
  Utf16Buffer name_;
  Utf16Buffer scratch_;
};

}  // namespace kx::msxml
