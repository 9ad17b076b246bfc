#include "store/internal/fixture_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <expat.h>
#include <string_view>
#include <sys/stat.h>

#include "com/errorinfo.h"
#include "store/internal/com_util.h"

namespace kx::store {

namespace {

constexpr int kMaxDepth = 64;
// The largest document: expat counts in int, and a plant stays well below.
constexpr uint64_t kMaxDocument = uint64_t{1} << 30;
// A file is read and parsed this much at a time.
constexpr size_t kPiece = 1 << 16;

class TextSource : public FixtureSource {
 public:
  explicit TextSource(const std::string& xml) : xml_(xml) {}
  uint64_t Size() const override { return xml_.size(); }
  bool Next(size_t want, const char** data, size_t* length) override {
    if (at_ >= xml_.size()) return false;
    *data = xml_.data() + at_;
    *length = std::min(want, xml_.size() - at_);
    at_ += *length;
    return true;
  }
  bool Failed() const override { return false; }
  void Rewind() override { at_ = 0; }
  bool Slice(long begin, long end, std::string* out) override {
    if (begin < 0 || end < begin || static_cast<size_t>(end) > xml_.size()) return false;
    out->assign(xml_, static_cast<size_t>(begin), static_cast<size_t>(end - begin));
    return true;
  }

 private:
  const std::string& xml_;
  size_t at_ = 0;
};

// A pipe or another file that cannot be read twice: read whole, once.
struct OwnedText {
  std::string text;
};
class ReadWholeSource final : private OwnedText, public TextSource {
 public:
  explicit ReadWholeSource(std::string whole)
      : OwnedText{std::move(whole)}, TextSource(OwnedText::text) {}
};

class FileSource final : public FixtureSource {
 public:
  FileSource(std::FILE* file, uint64_t size) : file_(file), size_(size), buffer_(kPiece) {}
  ~FileSource() override { std::fclose(file_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  uint64_t Size() const override { return size_; }
  bool Next(size_t want, const char** data, size_t* length) override {
    // A piece longer than usual is given up once it is no longer asked for.
    if (buffer_.size() < want || (want <= kPiece && buffer_.size() > kPiece))
      std::vector<char>(std::max(want, kPiece)).swap(buffer_);
    const size_t n = std::fread(buffer_.data(), 1, std::min(want, buffer_.size()), file_);
    if (n == 0) {
      failed_ = std::ferror(file_) != 0;
      return false;
    }
    *data = buffer_.data();
    *length = n;
    return true;
  }
  bool Failed() const override { return failed_; }
  void Rewind() override {
    failed_ = std::fseek(file_, 0, SEEK_SET) != 0;
    std::clearerr(file_);
  }
  bool Slice(long begin, long end, std::string* out) override {
    if (begin < 0 || end < begin) return false;
    const long at = std::ftell(file_);
    out->resize(static_cast<size_t>(end - begin));
    const bool ok = std::fseek(file_, begin, SEEK_SET) == 0 &&
                    std::fread(out->data(), 1, out->size(), file_) == out->size();
    return std::fseek(file_, at, SEEK_SET) == 0 && ok;
  }

 private:
  std::FILE* file_;
  uint64_t size_;
  std::vector<char> buffer_;
  bool failed_ = false;
};

// The byte order of a document in UTF-16, found as XML finds it: from a
// byte-order mark (*mark), or from the zero byte of a first character
// below 256. A document in UTF-32 is told by its mark or its first "<" and
// not read. Anything else is read as UTF-8.
enum class Utf16 { kNo, kLittle, kBig, kUtf32 };
Utf16 Utf16Order(const char* data, size_t length, bool* mark) {
  const auto* b = reinterpret_cast<const unsigned char*>(data);
  if (length >= 4) {
    const uint32_t big = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    if (big == 0x0000FEFF || big == 0xFFFE0000 || big == 0x0000003C || big == 0x3C000000)
      return Utf16::kUtf32;
  }
  *mark = length >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE));
  if (length < 2) return Utf16::kNo;
  if (*mark) return b[0] == 0xFE ? Utf16::kBig : Utf16::kLittle;
  if (b[0] == 0) return Utf16::kBig;
  if (b[1] == 0) return Utf16::kLittle;
  return Utf16::kNo;
}

// UTF-16 bytes, given a piece at a time, as UTF-8.
class Utf16Text {
 public:
  explicit Utf16Text(bool big) : big_(big) {}
  // Appends the UTF-8 of the next bytes to *out; false (Error tells why) at
  // text that is not UTF-16.
  bool Add(const unsigned char* b, size_t n, std::string* out) {
    for (size_t k = 0; k < n; ++k) {
      if (!haveByte_) {
        byte_ = b[k];
        haveByte_ = true;
        continue;
      }
      haveByte_ = false;
      const char32_t unit = big_ ? (char32_t{byte_} << 8 | b[k]) : (char32_t{b[k]} << 8 | byte_);
      const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
      if (high_ != 0) {
        if (!low) return Fail("text that is not UTF-16");
        Put(0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00), out);
        high_ = 0;
      } else if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_ = unit;
      } else if (low) {
        return Fail("text that is not UTF-16");
      } else if (unit == 0) {
        // XML allows no NUL; in UTF-8 it would read as UTF-16 again.
        return Fail("a NUL character, which XML does not allow");
      } else {
        line_ += unit == u'\n';
        Put(unit, out);
      }
    }
    return true;
  }
  // At the end of the text: false when it stops inside a character.
  bool Finish() {
    return (haveByte_ || high_ != 0) ? Fail("the text ends inside a character") : true;
  }
  long Line() const { return line_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const char* why) {
    error_ = why;
    return false;
  }
  static void Put(char32_t c, std::string* out) {
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | c >> 6));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | c >> 12));
      out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | c >> 18));
      out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }

  bool big_;
  bool haveByte_ = false;
  unsigned char byte_ = 0;
  char32_t high_ = 0;  // a high surrogate waiting for its low one
  long line_ = 1;
  std::string error_;
};

// What the XML declaration at the start of `text` (UTF-8) names as the
// document's encoding: "" when it names none or there is no declaration.
std::string DeclaredEncoding(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!text.starts_with("<?xml") || text.size() < 6 || !std::strchr(" \t\r\n", text[5])) return {};
  text = text.substr(0, text.find("?>"));
  const size_t at = text.find("encoding");
  if (at == std::string_view::npos) return {};
  size_t k = text.find_first_not_of(" \t\r\n", at + 8);
  if (k == std::string_view::npos || text[k] != '=') return {};
  k = text.find_first_not_of(" \t\r\n", k + 1);
  if (k == std::string_view::npos || (text[k] != '"' && text[k] != '\'')) return {};
  const size_t end = text.find(text[k], k + 1);
  return end == std::string_view::npos ? std::string()
                                       : std::string(text.substr(k + 1, end - k - 1));
}

// Whether a document whose declaration names `encoding` is read: UTF-8 (and
// US-ASCII, a part of it) or UTF-16, whichever the bytes are; the passes
// read UTF-8 and would take another encoding's letters for UTF-8.
bool ReadEncoding(const std::string& encoding) {
  std::string upper = encoding;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.empty() || upper == "UTF-8" || upper == "US-ASCII" || upper == "UTF-16" ||
         upper == "UTF-16LE" || upper == "UTF-16BE";
}

bool RefusedEncoding(const std::string& encoding, long* line, std::string* error) {
  if (ReadEncoding(encoding)) return false;
  *line = 1;
  *error = "the document is declared in \"" + encoding +
           "\", which is not read: a fixture is in UTF-8 or UTF-16";
  return true;
}

struct WalkState {
  XML_Parser parser = nullptr;
  PassHandler* handler = nullptr;
  std::unique_ptr<Element> root;       // the tree of the root, when kept
  std::unique_ptr<Element> delivered;  // the tree being read for Done
  // The elements open, innermost last: the element read (null for one
  // passed) and whether its children are met.
  struct Open {
    Element* e;
    bool children;
  };
  std::vector<Open> stack;
  int depth = 0;
  int skipFrom = -1;  // the depth from which elements are passed over
  std::string error;
  long errorLine = 0;
  std::exception_ptr failure;  // thrown by the handler

  long Line() const { return static_cast<long>(XML_GetCurrentLineNumber(parser)); }
  void Stop(std::string why) {
    error = std::move(why);
    errorLine = Line();
    XML_StopParser(parser, XML_FALSE);
  }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto* st = static_cast<WalkState*>(data);
  if (st->depth >= kMaxDepth) {
    st->Stop("elements are nested deeper than " + std::to_string(kMaxDepth));
    return;
  }
  const int depth = st->depth++;
  if (st->skipFrom >= 0) return;
  try {
    auto e = std::make_unique<Element>();
    e->name = name;
    e->line = st->Line();
    e->begin = static_cast<long>(XML_GetCurrentByteIndex(st->parser));
    e->startTagEnd = e->begin + XML_GetCurrentByteCount(st->parser);
    for (int k = 0; attrs[k]; k += 2) e->attrs[attrs[k]] = attrs[k + 1];
    using Take = PassHandler::Take;
    const Take take = !st->stack.empty() && !st->stack.back().children
                          ? Take::kSkip
                          : st->handler->Start(*e, depth);
    if (take == Take::kSkip) {
      st->skipFrom = depth;
      return;
    }
    if (take == Take::kPass) {
      st->stack.push_back({nullptr, true});
      return;
    }
    Element* raw = e.get();
    Element* parent = st->stack.empty() ? nullptr : st->stack.back().e;
    if (parent)
      parent->children.push_back(std::move(e));
    else if (take == Take::kDeliver || !st->stack.empty())
      st->delivered = std::move(e);
    else
      st->root = std::move(e);
    st->stack.push_back({raw, take != Take::kShallow});
  } catch (...) {
    st->failure = std::current_exception();
    XML_StopParser(st->parser, XML_FALSE);
  }
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  auto* st = static_cast<WalkState*>(data);
  const int depth = --st->depth;
  if (st->skipFrom >= 0) {
    if (depth == st->skipFrom) st->skipFrom = -1;
    return;
  }
  Element* e = st->stack.back().e;
  st->stack.pop_back();
  if (!e) return;
  // An empty-element tag reports no bytes of its own here: it ends with its
  // start tag (searching the text for "/>" would stop inside an attribute
  // value that holds one).
  const int count = XML_GetCurrentByteCount(st->parser);
  e->end =
      count > 0 ? static_cast<long>(XML_GetCurrentByteIndex(st->parser) + count) : e->startTagEnd;
  if (st->delivered.get() == e) {
    try {
      st->handler->Done(std::move(st->delivered));
    } catch (...) {
      st->failure = std::current_exception();
      XML_StopParser(st->parser, XML_FALSE);
    }
  }
}

void XMLCALL OnText(void* data, const XML_Char* s, int len) {
  auto* st = static_cast<WalkState*>(data);
  // An element kept without its children keeps none of its text either: the
  // white space between the objects of a section grows with the plant.
  if (st->skipFrom >= 0 || st->stack.empty() || !st->stack.back().e || !st->stack.back().children)
    return;
  try {
    st->stack.back().e->text.append(s, static_cast<size_t>(len));
  } catch (...) {
    st->failure = std::current_exception();
    XML_StopParser(st->parser, XML_FALSE);
  }
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  static_cast<WalkState*>(data)->Stop("a document type declaration is not allowed");
}

}  // namespace

void Throw(const Element& e, std::string message) {
  throw FixtureError{e.line, std::move(message)};
}

u16 Text16(const Element& e, const std::string& s) {
  u16 out;
  if (!FromUtf8(s, &out)) Throw(e, "text that is not UTF-8");
  return out;
}

u16 AttrText(const Element& e, const char* key, const char* fallback) {
  const std::string* v = e.Attr(key);
  if (!v) {
    if (fallback) return U16(fallback);
    Throw(e, "<" + e.name + "> needs the attribute \"" + key + "\"");
  }
  return Text16(e, *v);
}

long AttrLong(const Element& e, const char* key, long fallback, bool required) {
  const std::string* v = e.Attr(key);
  if (!v) {
    if (required) Throw(e, "<" + e.name + "> needs the attribute \"" + key + "\"");
    return fallback;
  }
  char* endp = nullptr;
  errno = 0;
  long n = std::strtol(v->c_str(), &endp, 10);
  if (v->empty() || *endp || errno || n < -2147483647L - 1 || n > 2147483647L)
    Throw(e, "attribute \"" + std::string(key) + "\" is not an integer: \"" + *v + "\"");
  return n;
}

double ParseDouble(const Element& e, const std::string& s, const char* what) {
  char* endp = nullptr;
  double d = std::strtod(s.c_str(), &endp);
  if (s.empty() || *endp || !std::isfinite(d))
    Throw(e, std::string(what) + " is not a number: \"" + s + "\"");
  return d;
}

bool AttrBool(const Element& e, const char* key, bool fallback) {
  const std::string* v = e.Attr(key);
  if (!v) return fallback;
  if (*v == "true" || *v == "1") return true;
  if (*v == "false" || *v == "0") return false;
  Throw(e, "attribute \"" + std::string(key) + "\" must be true or false, not \"" + *v + "\"");
}

void CheckChildren(const Element& e, std::initializer_list<const char*> allowed) {
  for (auto& c : e.children) {
    bool ok = false;
    for (const char* a : allowed) ok = ok || c->name == a;
    if (!ok) Throw(*c, "unexpected element <" + c->name + "> in <" + e.name + ">");
  }
}

void CheckHr(const Element& e, HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  std::string text;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR desc = nullptr;
    info->GetDescription(&desc);
    text = ToUtf8(FromBstr(desc));
    SysFreeString(desc);
    info->Release();
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
  Throw(e, text.empty() ? std::string("failed with ") + hex : text);
}

u16 Trim(const u16& s) {
  size_t a = s.find_first_not_of(u" \t\r\n");
  if (a == u16::npos) return u16();
  size_t b = s.find_last_not_of(u" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::unique_ptr<FixtureSource> FixtureSource::Text(const std::string& xml) {
  return std::make_unique<TextSource>(xml);
}

std::unique_ptr<FixtureSource> FixtureSource::File(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  struct stat info {};
  if (!file || ::fstat(::fileno(file), &info) != 0) {
    if (file) std::fclose(file);
    *error = "cannot be read";
    return nullptr;
  }
  if (S_ISREG(info.st_mode))
    return std::make_unique<FileSource>(file, static_cast<uint64_t>(info.st_size));
  std::string text;
  std::vector<char> piece(kPiece);
  size_t n = 0;
  while ((n = std::fread(piece.data(), 1, piece.size(), file)) > 0 && text.size() <= kMaxDocument)
    text.append(piece.data(), n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *error = "cannot be read";
    return nullptr;
  }
  return std::make_unique<ReadWholeSource>(std::move(text));
}

std::unique_ptr<FixtureSource> AsUtf8(std::unique_ptr<FixtureSource> source, long* line,
                                      std::string* error) {
  *line = 0;
  source->Rewind();
  const char* data = nullptr;
  size_t length = 0;
  bool mark = false;
  Utf16 order = Utf16::kNo;
  if (source->Next(kPiece, &data, &length)) {
    order = Utf16Order(data, length, &mark);
    if (order == Utf16::kNo &&
        RefusedEncoding(DeclaredEncoding(std::string_view(data, length)), line, error))
      return nullptr;
  }
  source->Rewind();
  if (order == Utf16::kUtf32) {
    *line = 1;
    *error = "the document is in UTF-32, which is not read: a fixture is in UTF-8 or UTF-16";
    return nullptr;
  }
  if (order == Utf16::kNo) return source;
  // The passes read the document several times and cut templates out of
  // it by byte position: they read the UTF-8 text, kept on disk as a plant
  // is too large to hold.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
  if (!file) {
    *error =
        std::string("a UTF-16 document is read through a temporary file: ") + std::strerror(errno);
    return nullptr;
  }
  Utf16Text text(order == Utf16::kBig);
  std::string piece;
  uint64_t size = 0;
  for (bool first = true; source->Next(kPiece, &data, &length); first = false) {
    const size_t skip = first && mark ? 2 : 0;
    piece.clear();
    if (!text.Add(reinterpret_cast<const unsigned char*>(data) + skip, length - skip, &piece)) {
      *line = text.Line();
      *error = text.Error();
      return nullptr;
    }
    if (first && RefusedEncoding(DeclaredEncoding(piece), line, error)) return nullptr;
    size += piece.size();
    if (size > kMaxDocument) {
      *error = "the document is larger than 1 GiB";
      return nullptr;
    }
    if (std::fwrite(piece.data(), 1, piece.size(), file.get()) != piece.size()) {
      *error = std::string("a UTF-16 document is read through a temporary file: ") +
               std::strerror(errno);
      return nullptr;
    }
  }
  if (source->Failed()) {
    *error = "cannot be read";
    return nullptr;
  }
  if (!text.Finish()) {
    *line = text.Line();
    *error = text.Error();
    return nullptr;
  }
  if (std::fflush(file.get()) != 0) {
    *error =
        std::string("a UTF-16 document is read through a temporary file: ") + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<FileSource>(file.release(), size);
}

bool Walk(FixtureSource& source, PassHandler& handler, std::unique_ptr<Element>* root, long* line,
          std::string* error, long* pieces) {
  if (source.Size() > kMaxDocument) {
    *error = "the document is larger than 1 GiB";
    *line = 0;
    return false;
  }
  WalkState st;
  st.handler = &handler;
  st.parser = XML_ParserCreate("UTF-8");
  if (!st.parser) {
    *error = "out of memory";
    return false;
  }
  XML_SetUserData(st.parser, &st);
  XML_SetElementHandler(st.parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(st.parser, OnText);
  XML_SetStartDoctypeDeclHandler(st.parser, OnDoctype);
  source.Rewind();
  bool ok = true;
  const char* data = nullptr;
  size_t length = 0;
  uint64_t fed = 0;
  size_t want = kPiece;
  while (ok && source.Next(want, &data, &length)) {
    if (pieces) ++*pieces;
    ok = XML_Parse(st.parser, data, static_cast<int>(length), XML_FALSE) == XML_STATUS_OK;
    fed += length;
    // The parser reads a token it could not finish (a start tag whose
    // attributes go on) again from its start with each piece: a next piece
    // as long as what it holds of it at least doubles that, so that a long
    // token costs a few readings, not one per piece.
    const XML_Index at = XML_GetCurrentByteIndex(st.parser);
    const uint64_t held = at >= 0 && static_cast<uint64_t>(at) < fed ? fed - at : 0;
    want = static_cast<size_t>(std::max<uint64_t>(kPiece, held));
  }
  if (ok && source.Failed()) {
    XML_ParserFree(st.parser);
    *error = "cannot be read";
    *line = 0;
    return false;
  }
  if (ok) ok = XML_Parse(st.parser, nullptr, 0, XML_TRUE) == XML_STATUS_OK;
  if (!ok && !st.failure) {
    if (st.error.empty()) {
      st.error = XML_ErrorString(XML_GetErrorCode(st.parser));
      st.errorLine = static_cast<long>(XML_GetCurrentLineNumber(st.parser));
    }
    *error = st.error;
    *line = st.errorLine;
  }
  XML_ParserFree(st.parser);
  if (st.failure) std::rethrow_exception(st.failure);
  if (ok && root) *root = std::move(st.root);
  return ok;
}

}  // namespace kx::store
