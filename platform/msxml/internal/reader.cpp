#include "msxml/internal/reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "com/dispatch.h"
#include "com/stream.h"
#include "msxml/internal/utf.h"

namespace kx::msxml {

namespace {

// Clears the busy flag on every way out of a parse.
class BusyGuard {
 public:
  explicit BusyGuard(std::atomic<bool>& busy) : busy_(busy) {
    entered_ = !busy_.exchange(true, std::memory_order_acquire);
  }
  ~BusyGuard() {
    if (entered_) busy_.store(false, std::memory_order_release);
  }
  bool entered() const { return entered_; }

 private:
  std::atomic<bool>& busy_;
  bool entered_;
};

// Runs `f` and turns an escaping exception into its HRESULT.
template <class F>
HRESULT Shield(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

std::u16string_view View(const char16_t* s) {
  return s == nullptr ? std::u16string_view() : std::u16string_view(s);
}

struct Feature {
  std::u16string_view name;
  bool value;
};
constexpr Feature kFeatures[] = {
    {u"prohibit-dtd", true},
    {u"http://xml.org/sax/features/namespaces", false},
    {u"http://xml.org/sax/features/namespace-prefixes", false},
    {u"http://xml.org/sax/features/external-general-entities", false},
    {u"http://xml.org/sax/features/external-parameter-entities", false},
};

const Feature* FindFeature(const char16_t* name) {
  for (const Feature& f : kFeatures) {
    if (f.name == View(name)) return &f;
  }
  return nullptr;
}

constexpr std::u16string_view kMaxDepth = u"max-element-depth";
constexpr std::u16string_view kMaxSize = u"max-xml-size";

// 1-based line and column of code unit `at`, counting line ends as XML does
// (CR LF, CR or LF) and a surrogate pair as one column.
void PositionOf(const char16_t* text, std::size_t at, int& line, int& column) {
  line = 1;
  column = 1;
  for (std::size_t i = 0; i < at; ++i) {
    char16_t c = text[i];
    if (c == u'\r' && i + 1 < at && text[i + 1] == u'\n') continue;
    if (c == u'\n' || c == u'\r') {
      ++line;
      column = 1;
    } else if (c < 0xDC00 || c > 0xDFFF || i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF) {
      ++column;
    }
  }
}

std::u16string TooLargeMessage(long max_bytes) {
  std::string n = std::to_string(max_bytes);
  return u"The document is larger than " + std::u16string(n.begin(), n.end()) + u" bytes";
}

}  // namespace

HRESULT Reader::getFeature(const char16_t* name, VARIANT_BOOL* value) {
  if (value == nullptr) return E_POINTER;
  const Feature* f = FindFeature(name);
  if (f == nullptr) return E_INVALIDARG;
  *value = f->value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT Reader::putFeature(const char16_t* name, VARIANT_BOOL value) {
  const Feature* f = FindFeature(name);
  if (f == nullptr) return E_INVALIDARG;
  return (value != VARIANT_FALSE) == f->value ? S_OK : E_NOTIMPL;
}

HRESULT Reader::getProperty(const char16_t* name, VARIANT* value) {
  if (value == nullptr) return E_POINTER;
  long n;
  if (View(name) == kMaxDepth) {
    n = limits_.max_depth;
  } else if (View(name) == kMaxSize) {
    n = limits_.max_bytes / 1024;
  } else {
    return E_INVALIDARG;
  }
  VariantInit(value);
  value->vt = VT_I4;
  value->lVal = static_cast<LONG>(n);
  return S_OK;
}

HRESULT Reader::putProperty(const char16_t* name, VARIANT value) {
  if (busy_.load(std::memory_order_acquire)) return E_UNEXPECTED;
  VARIANT n;
  VariantInit(&n);
  if (FAILED(VariantChangeType(&n, &value, 0, VT_I4))) return E_INVALIDARG;
  const long v = n.lVal;
  if (View(name) == kMaxDepth) {
    if (v < 1 || v > kSaxMaxElementDepth) return E_INVALIDARG;
    limits_.max_depth = static_cast<int>(v);
    return S_OK;
  }
  if (View(name) == kMaxSize) {
    if (v < 1 || v > kSaxMaxDocumentBytes / 1024) return E_INVALIDARG;
    limits_.max_bytes = v * 1024;
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT Reader::getContentHandler(ISAXContentHandler** handler) {
  if (handler == nullptr) return E_POINTER;
  *handler = Ref<ISAXContentHandler>(content_).Detach();
  return S_OK;
}

HRESULT Reader::putContentHandler(ISAXContentHandler* handler) {
  content_ = Ref<ISAXContentHandler>(handler);
  return S_OK;
}

HRESULT Reader::getErrorHandler(ISAXErrorHandler** handler) {
  if (handler == nullptr) return E_POINTER;
  *handler = Ref<ISAXErrorHandler>(errors_).Detach();
  return S_OK;
}

HRESULT Reader::putErrorHandler(ISAXErrorHandler* handler) {
  errors_ = Ref<ISAXErrorHandler>(handler);
  return S_OK;
}

HRESULT Reader::parse(VARIANT input) {
  BusyGuard busy(busy_);
  if (!busy.entered()) return E_UNEXPECTED;
  return Shield([&] { return ParseVariant(input); });
}

HRESULT Reader::parseURL(const char16_t* url) {
  if (url == nullptr) return E_INVALIDARG;
  BusyGuard busy(busy_);
  if (!busy.entered()) return E_UNEXPECTED;
  return Shield([&]() -> HRESULT {
    std::u16string_view u(url);
    constexpr std::u16string_view kFile = u"file://";
    if (u.substr(0, kFile.size()) == kFile) {
      u.remove_prefix(kFile.size());
      constexpr std::u16string_view kLocalhost = u"localhost";
      if (u.substr(0, kLocalhost.size()) == kLocalhost) u.remove_prefix(kLocalhost.size());
      if (u.empty() || u.front() != u'/') return E_NOTIMPL;  // a remote host
    } else if (u.find(u"://") != std::u16string_view::npos) {
      return E_NOTIMPL;
    }
    Utf8Text utf8;
    if (Utf16ToUtf8(u.data(), u.size(), utf8) != u.size()) return E_INVALIDARG;
    std::string path(utf8.data.get(), utf8.size);
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    return ParseFile(path);
  });
}

HRESULT Reader::ParseVariant(const VARIANT& input) {
  switch (input.vt) {
    case VT_BSTR: return ParseText(input.bstrVal, SysStringLen(input.bstrVal));
    case VT_BSTR | VT_BYREF:
      if (input.pbstrVal == nullptr) return E_INVALIDARG;
      return ParseText(*input.pbstrVal, SysStringLen(*input.pbstrVal));
    case VT_VARIANT | VT_BYREF:
      if (input.pvarVal == nullptr || input.pvarVal->vt == (VT_VARIANT | VT_BYREF)) {
        return E_INVALIDARG;
      }
      return ParseVariant(*input.pvarVal);
    case VT_UNKNOWN: return ParseStream(input.punkVal);
    case VT_DISPATCH: return ParseStream(input.pdispVal);
    default: return E_INVALIDARG;
  }
}

HRESULT Reader::ParseText(const char16_t* text, std::size_t length) {
  ParseRun run(content_, errors_, limits_, parser_);
  // Every code unit gives at least one byte: a text longer than the limit in
  // code units is too large without converting it.
  if (length > static_cast<std::size_t>(limits_.max_bytes)) {
    return run.FailAt(KXSAX_E_TOO_LARGE, TooLargeMessage(limits_.max_bytes), 1, 1);
  }
  HRESULT simple = S_OK;
  if (run.RunSimple(text, length, simple)) return simple;
  Utf8Text bytes;
  std::size_t bad = Utf16ToUtf8(text, length, bytes);
  if (bad != length) {
    int line, column;
    PositionOf(text, bad, line, column);
    return run.FailAt(KXSAX_E_INVALID_UTF16,
                      u"The text is not valid UTF-16 (an unpaired surrogate)", line, column);
  }
  if (bytes.size > static_cast<std::size_t>(limits_.max_bytes)) {
    return run.FailAt(KXSAX_E_TOO_LARGE, TooLargeMessage(limits_.max_bytes), 1, 1);
  }
  // The text is UTF-16 whatever its declaration says; expat reads the
  // converted bytes as UTF-8.
  return run.Run(bytes.data.get(), bytes.size, "UTF-8");
}

HRESULT Reader::ParseStream(IUnknown* source) {
  if (source == nullptr) return E_INVALIDARG;
  Ref<ISequentialStream> stream;
  {
    void* p = nullptr;
    if (SUCCEEDED(source->QueryInterface(IID_ISequentialStream, &p))) {
      stream = Ref<ISequentialStream>::Adopt(static_cast<ISequentialStream*>(p));
    } else if (SUCCEEDED(source->QueryInterface(IID_IStream, &p))) {
      stream = Ref<ISequentialStream>::Adopt(static_cast<IStream*>(p));
    }
  }
  if (!stream) return E_INVALIDARG;
  ParseRun run(content_, errors_, limits_, parser_);
  std::string bytes;
  constexpr ULONG kChunk = 64 * 1024;
  for (;;) {
    const std::size_t have = bytes.size();
    if (have > static_cast<std::size_t>(limits_.max_bytes)) {
      return run.FailAt(KXSAX_E_TOO_LARGE, TooLargeMessage(limits_.max_bytes), 1, 1);
    }
    bytes.resize(have + kChunk);
    ULONG got = 0;
    HRESULT hr = stream->Read(bytes.data() + have, kChunk, &got);
    if (FAILED(hr)) return hr;
    bytes.resize(have + (got > kChunk ? kChunk : got));
    if (got == 0 || hr == S_FALSE) break;
  }
  if (bytes.size() > static_cast<std::size_t>(limits_.max_bytes)) {
    return run.FailAt(KXSAX_E_TOO_LARGE, TooLargeMessage(limits_.max_bytes), 1, 1);
  }
  return run.Run(bytes.data(), bytes.size(), nullptr);
}

HRESULT Reader::ParseFile(const std::string& path) {
  ParseRun run(content_, errors_, limits_, parser_);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) {
    char buffer[128];
    Utf16Buffer text;
    text.AppendUtf8z(strerror_r(errno, buffer, sizeof buffer));  // the GNU form
    std::u16string message = u"Cannot open the file: " + std::u16string(text.data(), text.size());
    return run.FailAt(KXSAX_E_OPEN_FAILED, message, 1, 1);
  }
  std::string bytes;
  char buffer[64 * 1024];
  bool too_large = false;
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) {
    if (bytes.size() + got > static_cast<std::size_t>(limits_.max_bytes)) {
      too_large = true;
      break;
    }
    bytes.append(buffer, got);
  }
  const bool failed = std::ferror(f.get()) != 0;
  f.reset();
  if (too_large) return run.FailAt(KXSAX_E_TOO_LARGE, TooLargeMessage(limits_.max_bytes), 1, 1);
  if (failed) return run.FailAt(KXSAX_E_OPEN_FAILED, u"Cannot read the file", 1, 1);
  return run.Run(bytes.data(), bytes.size(), nullptr);
}

}  // namespace kx::msxml
