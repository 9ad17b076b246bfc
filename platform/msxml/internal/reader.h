// The SAX reader object and the expat run behind one parse.
#pragma once

#ifndef KX_MSXML_INTERNAL
#error "msxml/internal headers are private to their library; include its public headers"
#endif

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "msxml/internal/attributes.h"
#include "msxml/internal/object.h"
#include "msxml/internal/utf.h"

namespace kx::msxml {

struct Limits {
  int max_depth = kSaxMaxElementDepth;
  long max_bytes = kSaxMaxDocumentBytes;
};

// The short way's view of a document: its tags and attribute texts as
// offsets into the text (simple_doc.cpp).
struct SimpleSpan {
  std::uint32_t at, length;
};
struct SimpleTag {
  enum Kind : std::uint8_t { kStart, kEnd, kEmpty } kind;
  std::uint32_t at;   // of the '<'
  std::uint32_t end;  // just past the '>'
  SimpleSpan name;
  std::uint32_t first_attribute;  // index into the spans (name, value, ...)
  std::uint32_t attribute_count;
};

// What a reader keeps between its parses, since making it anew costs more
// than reading a short document: one expat parser, reset and given all its
// handlers again by every parse so that no setting outlives a parse; the
// attribute list and locator while no handler holds them; text buffers.
// Used only by the parse that holds the reader's busy flag.
class ParserSlot {
 public:
  ParserSlot() = default;
  ParserSlot(const ParserSlot&) = delete;
  ParserSlot& operator=(const ParserSlot&) = delete;
  ~ParserSlot();

  // A parser ready for a new document in `encoding` (null: detected), owned
  // by the slot; null when out of memory.
  XML_Parser Take(const char* encoding);
  // Frees the parser when it read a large document, so that an idle reader
  // does not hold a large buffer.
  void Done(std::size_t length);
  // An attribute list and a locator no one else holds, with a reference for
  // the caller.
  Attributes* TakeAttributes();
  Locator* TakeLocator();

  Utf16Buffer text, name, scratch;
  std::vector<SimpleTag> tags;
  std::vector<SimpleSpan> spans, open;

 private:
  XML_Parser parser_ = nullptr;
  Attributes* attributes_ = nullptr;  // owned reference
  Locator* locator_ = nullptr;        // owned reference
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
  ParserSlot parser_;  // used only while busy_ is held
  ModuleLock module_;
};

// Runs expat over one document and reports it to the handlers. The run
// holds its own references to the handlers for its whole length.
class ParseRun {
 public:
  ParseRun(Ref<ISAXContentHandler> content, Ref<ISAXErrorHandler> errors, const Limits& limits,
           ParserSlot& slot);
  ParseRun(const ParseRun&) = delete;
  ParseRun& operator=(const ParseRun&) = delete;
  ~ParseRun();

  // Parses `bytes`; `encoding` null lets expat detect it, else it overrides
  // any declaration. REQUIRES: length within the limits.
  [[nodiscard]] HRESULT Run(const char* bytes, std::size_t length, const char* encoding);
  // Runs a document of the simplest form (elements and double-quoted
  // attributes only) without expat, with the same events and positions;
  // false, with nothing delivered, for any other text.
  [[nodiscard]] bool RunSimple(const char16_t* text, std::size_t length, HRESULT& result);
  // Reports a failure found before expat ran, at the given position.
  [[nodiscard]] HRESULT FailAt(HRESULT code, const std::u16string& message, int line, int column);

 private:
  struct Callbacks;  // expat's entry points, in parse_run.cpp

  // Runs `f` unless the run failed already; what it throws becomes the
  // run's failure: nothing may unwind through expat's C frames.
  template <class F>
  void Guarded(F&& f) noexcept {
    if (FAILED(failure_)) return;
    try {
      f(*this);
    } catch (const std::bad_alloc&) {
      Stop(E_OUTOFMEMORY);
    } catch (...) {
      Stop(E_FAIL);
    }
  }

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
  ParserSlot& slot_;
  XML_Parser parser_ = nullptr;  // the slot's, while the run has one
  std::size_t length_ = 0;       // of the document given to expat
  HRESULT failure_ = S_OK;       // the first failure; parse returns it
  int depth_ = 0;
  Utf16Buffer& text_;  // character data not yet delivered
  Utf16Buffer& name_;
  Utf16Buffer& scratch_;
};

}  // namespace kx::msxml
