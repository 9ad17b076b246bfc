#include "kxxmlutils.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "com/bstr.h"
#include "com/comutil.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxtrace.h"
#include "kxvalueutils.h"

namespace {

const OLECHAR kFile[] = u"source/globalinclude/kxxmlutils";

// Runs one writer operation: failures thrown inside become the returned
// HRESULT with a "<KXError" description on the thread.
template <class Body>
HRESULT Guard(const OLECHAR* method, Body&& body) {
  KXComException ctx = KXComException::Silent(method);
  try {
    body(ctx);
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

// Characters that XML 1.0 does not allow in a document.
bool IsForbidden(char16_t c) {
  return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
}

const char16_t kReplacement[] = u"\uFFFD";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Half of a surrogate pair. Writers pass a whole pair (high half, then low
// half) on together; a half met on its own cannot be encoded by any reader
// and is written as U+FFFD.
bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The decimal text of a 64-bit integer, written at the end of `buffer`.
std::u16string_view DecimalIn(int64_t value, char16_t (&buffer)[24]) {
  int pos = 24;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    buffer[--pos] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) buffer[--pos] = u'-';
  return std::u16string_view(buffer + pos, static_cast<size_t>(24 - pos));
}

std::u16string Decimal(int64_t value) {
  char16_t buffer[24];
  return std::u16string(DecimalIn(value, buffer));
}

std::u16string DoubleText(double value) {
  OLECHAR text[64];
  FormatValueDouble(value, text);
  return std::u16string(text);
}

// The value a VARIANT holds by value or through its reference; a null
// reference reads as the type's zero (a null BSTR), as the value
// conversions read it.
template <class T>
T ValueOf(bool byRef, const T* ref, T value) {
  if (!byRef) return value;
  return ref != nullptr ? *ref : T{};
}

// The text of a VARIANT for an attribute or a whole element; false for a
// type that has no text form. Booleans read "1"/"0", reals and dates "%.16g".
bool VariantText(const VARIANT& input, std::u16string* text) {
  const VARIANT& v = ResolveVariant(input);
  const bool byRef = (v.vt & VT_BYREF) != 0;
  switch (v.vt & ~VT_BYREF) {
    case VT_EMPTY:
    case VT_NULL: text->clear(); return true;
    case VT_I1: *text = Decimal(ValueOf(byRef, v.pcVal, v.cVal)); return true;
    case VT_I2: *text = Decimal(ValueOf(byRef, v.piVal, v.iVal)); return true;
    case VT_I4: *text = Decimal(ValueOf(byRef, v.plVal, v.lVal)); return true;
    case VT_INT: *text = Decimal(ValueOf(byRef, v.pintVal, v.intVal)); return true;
    case VT_UI1: *text = Decimal(ValueOf(byRef, v.pbVal, v.bVal)); return true;
    case VT_UI2: *text = Decimal(ValueOf(byRef, v.puiVal, v.uiVal)); return true;
    case VT_UI4: *text = Decimal(ValueOf(byRef, v.pulVal, v.ulVal)); return true;
    case VT_UINT: *text = Decimal(ValueOf(byRef, v.puintVal, v.uintVal)); return true;
    case VT_R4: *text = DoubleText(ValueOf(byRef, v.pfltVal, v.fltVal)); return true;
    case VT_R8: *text = DoubleText(ValueOf(byRef, v.pdblVal, v.dblVal)); return true;
    case VT_DATE: *text = DoubleText(ValueOf(byRef, v.pdate, v.date)); return true;
    case VT_BSTR: {
      BSTR s = ValueOf(byRef, v.pbstrVal, v.bstrVal);
      text->assign(s != nullptr ? s : u"", s != nullptr ? SysStringLen(s) : 0);
      return true;
    }
    case VT_BOOL:
      *text = ValueOf(byRef, v.pboolVal, v.boolVal) != VARIANT_FALSE ? u"1" : u"0";
      return true;
    default: return false;
  }
}

bool IsTextType(const VARIANT& input) {
  const VARIANT& v = ResolveVariant(input);
  return (v.vt & ~VT_BYREF) == VT_BSTR;
}

// Chunks of writers that are gone, kept for the thread's next writers: most
// writers live for one message and need one chunk, and a block this size is
// costly to take from the heap and give back each time. What a chunk held
// is never read: a writer reads only what it wrote.
class SpareChunks {
 public:
  SpareChunks() = default;
  SpareChunks(const SpareChunks&) = delete;
  SpareChunks& operator=(const SpareChunks&) = delete;
  ~SpareChunks();
  OLECHAR* Take() {
    if (m_count > 0) return m_chunks[--m_count];
    return new OLECHAR[KXXMLStringWriter::kChunkSize];
  }
  void Give(OLECHAR* chunk) {
    if (m_count < kKept) {
      m_chunks[m_count++] = chunk;
    } else {
      delete[] chunk;
    }
  }

 private:
  static constexpr int kKept = 8;
  OLECHAR* m_chunks[kKept] = {};
  int m_count = 0;
};

thread_local SpareChunks g_spareChunks;
// Set when the thread's spares are gone (thread exit): a writer released
// after that frees its chunks.
thread_local bool g_spareChunksGone = false;

SpareChunks::~SpareChunks() {
  g_spareChunksGone = true;
  for (int i = 0; i < m_count; ++i) delete[] m_chunks[i];
  m_count = 0;
}

// The thread's spares while it has them, the heap once they are gone.
OLECHAR* TakeChunk() {
  return g_spareChunksGone ? new OLECHAR[KXXMLStringWriter::kChunkSize] : g_spareChunks.Take();
}

void GiveChunk(OLECHAR* chunk) {
  if (g_spareChunksGone) {
    delete[] chunk;
  } else {
    g_spareChunks.Give(chunk);
  }
}

}  // namespace

// Writers released for the last time, kept for the thread's next writers:
// most messages make and drop several, one after the other.
class KXXMLIdleWriters {
 public:
  KXXMLIdleWriters() = default;
  KXXMLIdleWriters(const KXXMLIdleWriters&) = delete;
  KXXMLIdleWriters& operator=(const KXXMLIdleWriters&) = delete;
  ~KXXMLIdleWriters();
  KXXMLStringWriter* Take() { return m_count > 0 ? m_writers[--m_count] : nullptr; }
  // False when full: the caller deletes the writer.
  bool Keep(KXXMLStringWriter* writer) {
    if (m_count == kKept) return false;
    writer->Reset();
    m_writers[m_count++] = writer;
    return true;
  }

 private:
  static constexpr int kKept = 2;
  KXXMLStringWriter* m_writers[kKept] = {};
  int m_count = 0;
};

namespace {

thread_local KXXMLIdleWriters g_idleWriters;
// Set when the thread's idle writers are gone (thread exit): a writer
// released after that is deleted.
thread_local bool g_idleWritersGone = false;

}  // namespace

KXXMLIdleWriters::~KXXMLIdleWriters() {
  g_idleWritersGone = true;
  for (int i = 0; i < m_count; ++i) delete m_writers[i];
  m_count = 0;
}

void KXXMLStringWriter::Reset() {
  m_startTagOpen = false;
  m_lineBreaks = true;
  m_lastWasEnd = false;
  m_depth = 0;
  m_refs = 0;
  while (m_chunks.size() > 1) {
    GiveChunk(m_chunks.back());
    m_chunks.pop_back();
  }
  m_length = 0;
  PlaceCursor();
}

HRESULT KXXMLStringWriter::CreateInstance(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  KXXMLStringWriter* writer = g_idleWritersGone ? nullptr : g_idleWriters.Take();
  if (writer == nullptr) writer = new (std::nothrow) KXXMLStringWriter();
  if (writer == nullptr) return E_OUTOFMEMORY;
  writer->AddRef();
  HRESULT hr = writer->QueryInterface(iid, out);
  writer->Release();  // frees the writer when the query failed
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

KXXMLStringWriter::~KXXMLStringWriter() {
  for (OLECHAR* chunk : m_chunks) GiveChunk(chunk);
}

HRESULT KXXMLStringWriter::QueryInterface(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ikxXMLWriter || iid == IID_ikxXMLStringWriter) {
    *out = static_cast<ikxXMLStringWriter*>(this);
  } else if (iid == IID_ISequentialStream) {
    *out = static_cast<ISequentialStream*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG KXXMLStringWriter::AddRef() { return ++m_refs; }

ULONG KXXMLStringWriter::Release() {
  ULONG left = --m_refs;
  if (left == 0 && (g_idleWritersGone || !g_idleWriters.Keep(this))) delete this;
  return left;
}

// The pieces that do not fit in the room of the last chunk. Chunks are
// allocated whole; the store keeps room for a terminating zero.
void KXXMLStringWriter::PutSlow(const OLECHAR* text, size_t length) {
  if (length > kMostCharacters - m_length) throw std::bad_alloc();
  const size_t needed = static_cast<size_t>(m_length) + length + 1;
  while (m_chunks.size() * kChunkSize < needed) {
    m_chunks.reserve(m_chunks.size() + 1);
    m_chunks.push_back(TakeChunk());
  }
  size_t at = m_length;
  size_t done = 0;
  while (done < length) {
    OLECHAR* chunk = m_chunks[at / kChunkSize];
    size_t offset = at % kChunkSize;
    size_t n = std::min(length - done, kChunkSize - offset);
    std::memcpy(chunk + offset, text + done, n * sizeof(OLECHAR));
    done += n;
    at += n;
  }
  m_length = static_cast<ULONG>(at);
  PlaceCursor();
}

void KXXMLStringWriter::PlaceCursor() {
  const size_t last = m_length / kChunkSize;
  if (last < m_chunks.size()) {
    const size_t offset = m_length % kChunkSize;
    m_cursor = m_chunks[last] + offset;
    // Never past the length limit PutSlow keeps: the fast road checks none.
    m_room = std::min<size_t>(kChunkSize - offset, size_t{kMostCharacters} + 1 - m_length);
  } else {
    m_cursor = nullptr;
    m_room = 0;
  }
}

void KXXMLStringWriter::PutEscaped(const OLECHAR* text, size_t length) {
  if (text == nullptr) return;
  const OLECHAR* run = text;
  const OLECHAR* end = text + length;
  for (const OLECHAR* p = text; p != end; ++p) {
    const char16_t* entity = nullptr;
    switch (*p) {
      case u'&': entity = u"&amp;"; break;
      case u'<': entity = u"&lt;"; break;
      case u'>': entity = u"&gt;"; break;
      case u'\'': entity = u"&apos;"; break;
      case u'"': entity = u"&quot;"; break;
      case u'\n': entity = u"&#10;"; break;
      case u'\r': entity = u"&#13;"; break;
      // A raw tab in an attribute reads back as a blank, as LF and CR would.
      case u'\t': entity = u"&#9;"; break;
      default:
        if (IsHighSurrogate(*p) && p + 1 != end && IsLowSurrogate(p[1])) {
          ++p;  // a whole pair passes
        } else if (IsForbidden(*p) || IsSurrogate(*p)) {
          entity = kReplacement;
        }
        break;
    }
    if (entity != nullptr) {
      Put(run, static_cast<size_t>(p - run));
      Put(entity);
      run = p + 1;
    }
  }
  Put(run, static_cast<size_t>(end - run));
}

void KXXMLStringWriter::PutEscaped(const OLECHAR* text) {
  if (text != nullptr) PutEscaped(text, std::char_traits<char16_t>::length(text));
}

void KXXMLStringWriter::PutIndent(int32_t depth) {
  if (!m_lineBreaks) return;
  Put(u"\n", 1);
  for (int32_t i = 0; i < depth; ++i) Put(u"  ", 2);
}

void KXXMLStringWriter::CloseOpenTag() {
  if (!m_startTagOpen) return;
  Put(u">", 1);
  m_startTagOpen = false;
}

HRESULT KXXMLStringWriter::StartDocument() {
  return Guard(u"KXXMLStringWriter::StartDocument",
               [&](KXComException&) { Put(u"<?xml version=\"1.0\"?>"); });
}

void KXXMLStringWriter::DoStartElement(const OLECHAR* name) {
  CloseOpenTag();
  PutIndent(m_depth);
  Put(u"<", 1);
  Put(name);
  ++m_depth;
  m_lastWasEnd = false;
  m_startTagOpen = true;
}

void KXXMLStringWriter::DoEndElement(KXComException& ctx, const OLECHAR* name) {
  if (m_depth <= 0) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot close more XML elements than are currently open");
  }
  --m_depth;
  if (m_startTagOpen) {
    Put(u"/>", 2);
    m_startTagOpen = false;
  } else {
    if (m_lastWasEnd) PutIndent(m_depth);
    Put(u"</", 2);
    Put(name);
    Put(u">", 1);
  }
  m_lastWasEnd = true;
}

HRESULT KXXMLStringWriter::StartElement(const OLECHAR* name) {
  return Guard(u"KXXMLStringWriter::StartElement", [&](KXComException&) { DoStartElement(name); });
}

HRESULT KXXMLStringWriter::EndElement(const OLECHAR* name) {
  return Guard(u"KXXMLStringWriter::EndElement",
               [&](KXComException& ctx) { DoEndElement(ctx, name); });
}

HRESULT KXXMLStringWriter::CloseStartTag() {
  return Guard(u"KXXMLStringWriter::CloseStartTag", [&](KXComException&) { CloseOpenTag(); });
}

void KXXMLStringWriter::PutAttribute(KXComException& ctx, const OLECHAR* name,
                                     std::u16string_view value, bool escape) {
  if (name == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"An XML Attribute must have a name and a value");
  }
  if (!m_startTagOpen) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot write attributes outside of an element start");
  }
  const size_t nameLength = std::char_traits<char16_t>::length(name);
  // An attribute that needs no escaping and fits the room left is put in
  // one step, as the four puts below would put it.
  const size_t whole = nameLength + value.size() + 4;
  if (!escape && whole < m_room) {
    OLECHAR* out = m_cursor;
    *out++ = u' ';
    std::memcpy(out, name, nameLength * sizeof(OLECHAR));
    out += nameLength;
    *out++ = u'=';
    *out++ = u'"';
    if (!value.empty()) std::memcpy(out, value.data(), value.size() * sizeof(OLECHAR));
    out += value.size();
    *out++ = u'"';
    m_cursor = out;
    m_room -= whole;
    m_length += static_cast<ULONG>(whole);
    return;
  }
  Put(u" ", 1);
  Put(name, nameLength);
  Put(u"=\"", 2);
  if (escape) {
    PutEscaped(value.data(), value.size());
  } else {
    Put(value.data(), value.size());
  }
  Put(u"\"", 1);
}

HRESULT KXXMLStringWriter::WriteAttribute(const OLECHAR* name, const VARIANT& value) {
  return Guard(u"KXXMLStringWriter::WriteAttribute", [&](KXComException& ctx) {
    std::u16string text;
    if (!VariantText(value, &text)) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Could not convert attribute value to a string");
    }
    PutAttribute(ctx, name, text, IsTextType(value));
  });
}

HRESULT KXXMLStringWriter::WriteAttribute(const OLECHAR* name, double value) {
  return Guard(u"KXXMLStringWriter::WriteAttribute",
               [&](KXComException& ctx) { PutAttribute(ctx, name, DoubleText(value), false); });
}

HRESULT KXXMLStringWriter::WriteAttribute(const OLECHAR* name, LONG value) {
  return Guard(u"KXXMLStringWriter::WriteAttribute", [&](KXComException& ctx) {
    char16_t digits[24];
    PutAttribute(ctx, name, DecimalIn(value, digits), false);
  });
}

HRESULT KXXMLStringWriter::WriteAttribute(const OLECHAR* name, bool value) {
  return Guard(u"KXXMLStringWriter::WriteAttribute",
               [&](KXComException& ctx) { PutAttribute(ctx, name, value ? u"1" : u"0", false); });
}

HRESULT KXXMLStringWriter::WriteAttribute(const OLECHAR* name, const OLECHAR* value) {
  return Guard(u"KXXMLStringWriter::WriteAttribute", [&](KXComException& ctx) {
    PutAttribute(ctx, name, value != nullptr ? value : u"", true);
  });
}

HRESULT KXXMLStringWriter::WriteCData(const OLECHAR* text) {
  return Guard(u"KXXMLStringWriter::WriteCData", [&](KXComException&) {
    CloseOpenTag();
    if (text == nullptr || *text == 0) return;
    Put(u"<![CDATA[");
    const OLECHAR* run = text;
    for (const OLECHAR* p = text; *p != 0; ++p) {
      if (p[0] == u']' && p[1] == u']' && p[2] == u'>') {
        Put(run, static_cast<size_t>(p - run));
        Put(u"]]><![CDATA[]]]]><![CDATA[>");
        p += 2;
        run = p + 1;
      } else if (IsHighSurrogate(p[0]) && IsLowSurrogate(p[1])) {
        ++p;  // a whole pair passes
      } else if (IsForbidden(*p) || IsSurrogate(*p)) {
        Put(run, static_cast<size_t>(p - run));
        Put(kReplacement, 1);
        run = p + 1;
      }
    }
    Put(run);
    Put(u"]]>", 3);
  });
}

HRESULT KXXMLStringWriter::WriteText(const OLECHAR* text) {
  return Guard(u"KXXMLStringWriter::WriteText", [&](KXComException&) {
    CloseOpenTag();
    PutEscaped(text);
  });
}

// A whole element holding an already formatted (unescaped) value.
void KXXMLStringWriter::PutElement(const OLECHAR* name, const OLECHAR* value) {
  CloseOpenTag();
  PutIndent(m_depth);
  Put(u"<", 1);
  Put(name);
  if (value == nullptr || *value == 0) {
    Put(u"/>", 2);
  } else {
    Put(u">", 1);
    Put(value);
    Put(u"</", 2);
    Put(name);
    Put(u">", 1);
  }
  m_lastWasEnd = true;
}

// The text form: StartElement, WriteText when the text is not empty,
// EndElement.
void KXXMLStringWriter::PutText(KXComException& ctx, const OLECHAR* name,
                                std::u16string_view value) {
  DoStartElement(name);
  if (!value.empty()) {
    CloseOpenTag();
    PutEscaped(value.data(), value.size());
  }
  DoEndElement(ctx, name);
}

HRESULT KXXMLStringWriter::WriteElement(const OLECHAR* name, const VARIANT& value) {
  return Guard(u"KXXMLStringWriter::WriteElement", [&](KXComException& ctx) {
    std::u16string text;
    if (!VariantText(value, &text)) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Could not convert element value to a string");
    }
    if (IsTextType(value) || text.empty()) {
      PutText(ctx, name, text);
    } else {
      PutElement(name, text.c_str());
    }
  });
}

HRESULT KXXMLStringWriter::WriteElement(const OLECHAR* name, double value) {
  return Guard(u"KXXMLStringWriter::WriteElement",
               [&](KXComException&) { PutElement(name, DoubleText(value).c_str()); });
}

HRESULT KXXMLStringWriter::WriteElement(const OLECHAR* name, LONG value) {
  return Guard(u"KXXMLStringWriter::WriteElement",
               [&](KXComException&) { PutElement(name, Decimal(value).c_str()); });
}

HRESULT KXXMLStringWriter::WriteElement(const OLECHAR* name, bool value) {
  return Guard(u"KXXMLStringWriter::WriteElement",
               [&](KXComException&) { PutElement(name, value ? u"1" : u"0"); });
}

HRESULT KXXMLStringWriter::WriteElement(const OLECHAR* name, const OLECHAR* value) {
  return Guard(u"KXXMLStringWriter::WriteElement",
               [&](KXComException& ctx) { PutText(ctx, name, value != nullptr ? value : u""); });
}

HRESULT KXXMLStringWriter::Append(const OLECHAR* text, ULONG length) {
  return Guard(u"KXXMLStringWriter::Append", [&](KXComException&) { Put(text, length); });
}

HRESULT KXXMLStringWriter::Clear() {
  m_length = 0;
  PlaceCursor();
  return S_OK;
}

HRESULT KXXMLStringWriter::GetString(BSTR* text) {
  return Guard(u"KXXMLStringWriter::GetString", [&](KXComException& ctx) {
    CheckPointerArgument(ctx, text);
    *text = nullptr;
    BSTR result = SysAllocStringLen(nullptr, m_length);
    if (result == nullptr) throw std::bad_alloc();
    ULONG done = 0;
    for (size_t i = 0; done < m_length; ++i) {
      ULONG n = std::min<ULONG>(m_length - done, kChunkSize);
      std::memcpy(result + done, m_chunks[i], n * sizeof(OLECHAR));
      done += n;
    }
    *text = result;
  });
}

HRESULT KXXMLStringWriter::CopyTo(OLECHAR* buffer) {
  return Guard(u"KXXMLStringWriter::CopyTo", [&](KXComException& ctx) {
    CheckPointerArgument(ctx, buffer);
    ULONG done = 0;
    for (size_t i = 0; done < m_length; ++i) {
      ULONG n = std::min<ULONG>(m_length - done, kChunkSize);
      std::memcpy(buffer + done, m_chunks[i], n * sizeof(OLECHAR));
      done += n;
    }
    buffer[m_length] = 0;
  });
}

HRESULT KXXMLStringWriter::Read(void*, ULONG, ULONG* read) {
  if (read != nullptr) *read = 0;
  return Guard(u"KXXMLStringWriter::Read", [&](KXComException& ctx) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), STG_E_ACCESSDENIED,
                            u"Stream does not support Read operations");
  });
}

HRESULT KXXMLStringWriter::Write(const void* buffer, ULONG count, ULONG* written) {
  Trace(0, '>', u"KXXMLStringWriter::Write");
  if (written != nullptr) *written = 0;
  return Guard(u"KXXMLStringWriter::Write", [&](KXComException& ctx) {
    if (count % 2 != 0) {
      ThrowKXComExceptionHrAt(
          ctx, KX_HERE(kFile), E_FAIL,
          u"Cannot write a UTF-16 stream that is not a whole number of wide characters");
    }
    if (count == 0) return;
    CheckPointerArgument(ctx, buffer);
    // The bytes need not be aligned for OLECHAR: copy them out in pieces.
    OLECHAR piece[512];
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    ULONG left = count / 2;
    while (left > 0) {
      ULONG n = std::min<ULONG>(left, 512);
      std::memcpy(piece, bytes, n * sizeof(OLECHAR));
      Put(piece, n);
      bytes += n * sizeof(OLECHAR);
      left -= n;
    }
    if (written != nullptr) *written = count;
  });
}
