// Test doubles for the SAX reader.
//
// Recorder is both content handler and error handler. It writes every event
// it receives into `events` as one line of text, so that a test compares a
// whole parse with one expectation:
//   start(Name)[a=1,b=2]   element start, attributes in the order given
//   end(Name)
//   text(...)              character data; adjacent pieces are joined into
//                          one line and `pieces` counts the calls
//   pi(target|data)
//   fatal(code)            fatalError; `message`, `line`, `column` kept
// Texts are written as UTF-8, other than the raw UTF-16 kept in `text16`.
// A failure can be injected: `fail_on` names the event ("startElement",
// "endElement", "characters", "startDocument", "endDocument") and
// `fail_at` which occurrence (1-based) returns `fail_with`, or throws when
// `throw_what` is set ("runtime" or "bad_alloc"). `on_event` runs before
// each content event, for tests that act on the reader from inside a call.
// The count is atomic and checked by the tests: Recorder is created with
// one reference, the test's.
#pragma once

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "msxml/sax.h"

namespace kx::msxml::test {

std::string Narrow(const char16_t* s, int n);

class Recorder final : public ISAXContentHandler, public ISAXErrorHandler {
 public:
  std::vector<std::string> events;
  std::u16string text16;  // all character data, joined
  int pieces = 0;         // calls of characters
  bool saw_empty_piece = false;
  bool saw_unterminated = false;
  ISAXLocator* locator = nullptr;  // held while set
  std::string message;             // of the first fatalError
  HRESULT code = S_OK;
  int line = 0, column = 0;
  int fatal_count = 0;
  HRESULT fatal_returns = S_OK;  // what fatalError answers

  std::string fail_on;
  int fail_at = 1;
  HRESULT fail_with = E_FAIL;
  std::string throw_what;
  std::function<void(const std::string& event)> on_event;

  ~Recorder();
  ULONG refs() const { return refs_.load(); }
  // The events, one per line.
  std::string Trace() const;
  // Counts the occurrences of `fail_on` from zero again.
  void Rearm() { seen_ = 0; }

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT putDocumentLocator(ISAXLocator* l) override;
  HRESULT startDocument() override { return Event("startDocument", "startDocument"); }
  HRESULT endDocument() override { return Event("endDocument", "endDocument"); }
  HRESULT startPrefixMapping(const char16_t*, int, const char16_t*, int) override {
    return Event("startPrefixMapping", "startPrefixMapping");
  }
  HRESULT endPrefixMapping(const char16_t*, int) override {
    return Event("endPrefixMapping", "endPrefixMapping");
  }
  HRESULT startElement(const char16_t* uri, int cchUri, const char16_t* local, int cchLocal,
                       const char16_t* qname, int cchQName, ISAXAttributes* atts) override;
  HRESULT endElement(const char16_t* uri, int cchUri, const char16_t* local, int cchLocal,
                     const char16_t* qname, int cchQName) override;
  HRESULT characters(const char16_t* chars, int n) override;
  HRESULT ignorableWhitespace(const char16_t*, int) override {
    return Event("ignorableWhitespace", "ignorableWhitespace");
  }
  HRESULT processingInstruction(const char16_t* target, int cchTarget, const char16_t* data,
                                int cchData) override;
  HRESULT skippedEntity(const char16_t*, int) override {
    return Event("skippedEntity", "skippedEntity");
  }

  HRESULT error(ISAXLocator*, const char16_t*, HRESULT) override;
  HRESULT fatalError(ISAXLocator* l, const char16_t* text, HRESULT hr) override;
  HRESULT ignorableWarning(ISAXLocator*, const char16_t*, HRESULT) override;

  ISAXContentHandler* content() { return this; }
  ISAXErrorHandler* errors() { return this; }

 private:
  // Records `line` and answers the injected result for `name`.
  HRESULT Event(const char* name, std::string line);

  std::atomic<ULONG> refs_{1};
  int seen_ = 0;
};

// Parses `text` as a VT_BSTR request.
HRESULT ParseText(ISAXXMLReader* reader, std::u16string_view text);
// Widens ASCII/UTF-8 test text.
std::u16string U16(std::string_view utf8);

// A reader made through activation, with a Recorder as both handlers. On
// tear-down the handlers are put back to null, as callers do, and the
// Recorder must be left with only the test's reference.
class SaxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  HRESULT Parse(std::u16string_view text) { return ParseText(reader_, text); }
  HRESULT Parse(std::string_view utf8) { return ParseText(reader_, U16(utf8)); }

  ISAXXMLReader* reader_ = nullptr;
  Recorder* rec_ = nullptr;
};

}  // namespace kx::msxml::test
