#include "recorder.h"

#include <cstdio>

#include "com/activation.h"
#include "com/clsids.h"
#include "com/variant.h"
#include "com/wstr.h"

namespace kx::msxml::test {

std::string Narrow(const char16_t* s, int n) {
  return kx_utf16_to_utf8_lossy(std::u16string_view(s, static_cast<size_t>(n)));
}

Recorder::~Recorder() {
  if (locator != nullptr) locator->Release();
}

std::string Recorder::Trace() const {
  std::string out;
  for (const std::string& e : events) out += e + "\n";
  return out;
}

HRESULT Recorder::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_ISAXContentHandler) {
    *out = static_cast<ISAXContentHandler*>(this);
  } else if (iid == IID_ISAXErrorHandler) {
    *out = static_cast<ISAXErrorHandler*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT Recorder::Event(const char* name, std::string line) {
  if (on_event) on_event(name);
  if (name != fail_on) {
    events.push_back(std::move(line));
    return S_OK;
  }
  if (++seen_ != fail_at) {
    events.push_back(std::move(line));
    return S_OK;
  }
  events.push_back("FAIL " + line);
  if (throw_what == "runtime") throw std::runtime_error("handler failure");
  if (throw_what == "bad_alloc") throw std::bad_alloc();
  return fail_with;
}

HRESULT Recorder::putDocumentLocator(ISAXLocator* l) {
  if (l != nullptr) l->AddRef();
  if (locator != nullptr) locator->Release();
  locator = l;
  return Event("putDocumentLocator", "putDocumentLocator");
}

HRESULT Recorder::startElement(const char16_t* uri, int cchUri, const char16_t* local, int cchLocal,
                               const char16_t* qname, int cchQName, ISAXAttributes* atts) {
  std::string line = "start(" + Narrow(local, cchLocal) + ")";
  if (cchUri != 0 || uri == nullptr) line += "!uri";
  if (Narrow(qname, cchQName) != Narrow(local, cchLocal)) line += "!qname";
  int n = 0;
  atts->getLength(&n);
  if (n > 0) {
    line += "[";
    for (int i = 0; i < n; ++i) {
      const char16_t* name;
      const char16_t* value;
      int cn, cv;
      atts->getLocalName(i, &name, &cn);
      atts->getValue(i, &value, &cv);
      if (i > 0) line += ",";
      line += Narrow(name, cn) + "=" + Narrow(value, cv);
    }
    line += "]";
  }
  return Event("startElement", line);
}

HRESULT Recorder::endElement(const char16_t*, int, const char16_t* local, int cchLocal,
                             const char16_t*, int) {
  return Event("endElement", "end(" + Narrow(local, cchLocal) + ")");
}

HRESULT Recorder::characters(const char16_t* chars, int n) {
  ++pieces;
  if (n <= 0) saw_empty_piece = true;
  if (n > 0 && chars[n] != 0) saw_unterminated = true;
  text16.append(chars, static_cast<std::size_t>(n));
  std::string piece = Narrow(chars, n);
  HRESULT hr = Event("characters", "text(" + piece + ")");
  // Join with the previous piece so that traces do not depend on how the
  // reader splits a run of text.
  if (events.size() >= 2 && events.back().rfind("text(", 0) == 0 &&
      events[events.size() - 2].rfind("text(", 0) == 0) {
    std::string& prev = events[events.size() - 2];
    prev.insert(prev.size() - 1, piece);
    events.pop_back();
  }
  return hr;
}

HRESULT Recorder::processingInstruction(const char16_t* target, int cchTarget, const char16_t* data,
                                        int cchData) {
  return Event("processingInstruction",
               "pi(" + Narrow(target, cchTarget) + "|" + Narrow(data, cchData) + ")");
}

HRESULT Recorder::error(ISAXLocator*, const char16_t*, HRESULT hr) {
  events.push_back("error(" + std::to_string(hr) + ")");
  return hr;
}

HRESULT Recorder::fatalError(ISAXLocator* l, const char16_t* text, HRESULT hr) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "fatal(%08X)", static_cast<unsigned>(hr));
  events.push_back(buf);
  if (++fatal_count == 1) {
    std::u16string t(text);
    message = Narrow(t.data(), static_cast<int>(t.size()));
    code = hr;
    if (l != nullptr) {
      l->getLineNumber(&line);
      l->getColumnNumber(&column);
    }
  }
  return fatal_returns;
}

HRESULT Recorder::ignorableWarning(ISAXLocator*, const char16_t*, HRESULT hr) {
  events.push_back("warning(" + std::to_string(hr) + ")");
  return S_OK;
}

HRESULT ParseText(ISAXXMLReader* reader, std::u16string_view text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  HRESULT hr = reader->parse(v);
  VariantClear(&v);
  return hr;
}

std::u16string U16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    auto b = static_cast<unsigned char>(utf8[i]);
    int n = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t c = n == 0 ? b : b & (0x3F >> n);
    for (int k = 1; k <= n; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<std::size_t>(n) + 1;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

void SaxTest::SetUp() {
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                                   reinterpret_cast<void**>(&reader_)));
  rec_ = new Recorder;
  ASSERT_EQ(S_OK, reader_->putContentHandler(rec_));
  ASSERT_EQ(S_OK, reader_->putErrorHandler(rec_));
}

void SaxTest::TearDown() {
  if (reader_ != nullptr) {
    reader_->putContentHandler(nullptr);
    reader_->putErrorHandler(nullptr);
    reader_->Release();
  }
  if (rec_ != nullptr) {
    EXPECT_EQ(1u, rec_->refs());
    rec_->Release();
  }
}

}  // namespace kx::msxml::test
