// The XML writer interface and its in-memory implementation.
//
// `ikxXMLWriter` emits elements with an open start tag to which typed
// attributes are added, escaped text, CDATA sections and whole value
// elements, with an optional line feed and indentation (two spaces per
// level) before each start tag. `ikxXMLStringWriter` adds the text store:
// raw appends, clearing and reading the text back. `KXXMLStringWriter`
// implements both and also `ISequentialStream` (UTF-16 bytes written are
// appended unescaped; reading is refused).
//
// Every operation returns an HRESULT; a failure leaves a "<KXError"
// description as the thread's error information.
//
// Escaped text writes & < > ' " as entities and LF, CR and tab as character
// references, so that attribute values read back unchanged.
//
// Text written is always well-formed character data: a NUL character, the
// other C0 controls but tab, line feed and carriage return, the
// non-characters U+FFFE and U+FFFF and a half of a surrogate pair without
// its other half are written as U+FFFD.
//
// Thread affinity: a writer is used by one thread; its count is not atomic.
// A writer released for the last time is kept, emptied and reset, for the
// releasing thread's next CreateInstance: a writer alive is never handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "com/stream.h"
#include "com/types.h"
#include "com/variant.h"

class KXComException;

struct ikxXMLWriter : IUnknown {
 public:
  // The line-break option: a line feed and indentation before each start tag
  // and before an end tag that follows a closed child.
  virtual bool GetOption() = 0;
  virtual void SetOption(bool lineBreaks) = 0;
  // Writes "<?xml version=\"1.0\"?>" (no line feed).
  [[nodiscard]] virtual HRESULT StartDocument() = 0;
  // Attributes of the open start tag. The VARIANT form writes integers as
  // decimal, reals and dates as "%.16g" with ".", BSTRs escaped, Booleans
  // "1"/"0", empty and null as ""; other types fail. A null text is written
  // as empty.
  [[nodiscard]] virtual HRESULT WriteAttribute(const OLECHAR* name, const VARIANT& value) = 0;
  [[nodiscard]] virtual HRESULT WriteAttribute(const OLECHAR* name, double value) = 0;
  [[nodiscard]] virtual HRESULT WriteAttribute(const OLECHAR* name, LONG value) = 0;
  [[nodiscard]] virtual HRESULT WriteAttribute(const OLECHAR* name, bool value) = 0;
  [[nodiscard]] virtual HRESULT WriteAttribute(const OLECHAR* name, const OLECHAR* value) = 0;
  [[nodiscard]] virtual HRESULT StartElement(const OLECHAR* name) = 0;
  // Closes the innermost element; the caller passes its name (the writer
  // keeps none). Fails when no element is open.
  [[nodiscard]] virtual HRESULT EndElement(const OLECHAR* name) = 0;
  [[nodiscard]] virtual HRESULT CloseStartTag() = 0;
  // A CDATA section; "]]>" inside the text is split across two sections.
  [[nodiscard]] virtual HRESULT WriteCData(const OLECHAR* text) = 0;
  [[nodiscard]] virtual HRESULT WriteText(const OLECHAR* text) = 0;
  // Whole elements: an empty-element tag for an empty value.
  [[nodiscard]] virtual HRESULT WriteElement(const OLECHAR* name, const VARIANT& value) = 0;
  [[nodiscard]] virtual HRESULT WriteElement(const OLECHAR* name, double value) = 0;
  [[nodiscard]] virtual HRESULT WriteElement(const OLECHAR* name, LONG value) = 0;
  [[nodiscard]] virtual HRESULT WriteElement(const OLECHAR* name, bool value) = 0;
  [[nodiscard]] virtual HRESULT WriteElement(const OLECHAR* name, const OLECHAR* value) = 0;

 protected:
  ~ikxXMLWriter() = default;
};
KX_DEFINE_IID(ikxXMLWriter, 0x6f3c2a51, 0x8e0b, 0x4c6d, 0x9a, 0x1e, 0x2b, 0x7d, 0x5c, 0x40, 0xa1,
              0x01)

struct ikxXMLStringWriter : ikxXMLWriter {
 public:
  // Raw text into the store, unescaped. Nothing for a null text or length 0.
  [[nodiscard]] virtual HRESULT Append(const OLECHAR* text, ULONG length) = 0;
  // Empties the text; the element state (open start tag, depth) is kept.
  [[nodiscard]] virtual HRESULT Clear() = 0;
  // `*text` receives a new BSTR with the whole text; the caller frees it.
  [[nodiscard]] virtual HRESULT GetString(BSTR* text) = 0;
  // The length of the text in UTF-16 units.
  virtual ULONG GetLength() = 0;
  // Copies the text and a terminating zero into `buffer`.
  // REQUIRES: `buffer` holds at least GetLength() + 1 characters.
  [[nodiscard]] virtual HRESULT CopyTo(OLECHAR* buffer) = 0;

 protected:
  ~ikxXMLStringWriter() = default;
};
KX_DEFINE_IID(ikxXMLStringWriter, 0x6f3c2a52, 0x8e0b, 0x4c6d, 0x9a, 0x1e, 0x2b, 0x7d, 0x5c, 0x40,
              0xa1, 0x02)

class KXXMLStringWriter final : public ikxXMLStringWriter, public ISequentialStream {
 public:
  // A new writer (line-break option on) queried for `iid`; `*out` receives it
  // with one reference, or null on failure.
  [[nodiscard]] static HRESULT CreateInstance(const IID& iid, void** out);

  // Characters per chunk of the text store.
  static constexpr ULONG kChunkSize = 2056;
  // The longest text a writer holds (its length travels as a ULONG and a
  // BSTR's byte count).
  static constexpr ULONG kMostCharacters = 0x7FFFFFF0u;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(const IID& iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ikxXMLWriter
  bool GetOption() override { return m_lineBreaks; }
  void SetOption(bool lineBreaks) override { m_lineBreaks = lineBreaks; }
  [[nodiscard]] HRESULT StartDocument() override;
  [[nodiscard]] HRESULT WriteAttribute(const OLECHAR* name, const VARIANT& value) override;
  [[nodiscard]] HRESULT WriteAttribute(const OLECHAR* name, double value) override;
  [[nodiscard]] HRESULT WriteAttribute(const OLECHAR* name, LONG value) override;
  [[nodiscard]] HRESULT WriteAttribute(const OLECHAR* name, bool value) override;
  [[nodiscard]] HRESULT WriteAttribute(const OLECHAR* name, const OLECHAR* value) override;
  [[nodiscard]] HRESULT StartElement(const OLECHAR* name) override;
  [[nodiscard]] HRESULT EndElement(const OLECHAR* name) override;
  [[nodiscard]] HRESULT CloseStartTag() override;
  [[nodiscard]] HRESULT WriteCData(const OLECHAR* text) override;
  [[nodiscard]] HRESULT WriteText(const OLECHAR* text) override;
  [[nodiscard]] HRESULT WriteElement(const OLECHAR* name, const VARIANT& value) override;
  [[nodiscard]] HRESULT WriteElement(const OLECHAR* name, double value) override;
  [[nodiscard]] HRESULT WriteElement(const OLECHAR* name, LONG value) override;
  [[nodiscard]] HRESULT WriteElement(const OLECHAR* name, bool value) override;
  [[nodiscard]] HRESULT WriteElement(const OLECHAR* name, const OLECHAR* value) override;

  // ikxXMLStringWriter
  [[nodiscard]] HRESULT Append(const OLECHAR* text, ULONG length) override;
  [[nodiscard]] HRESULT Clear() override;
  [[nodiscard]] HRESULT GetString(BSTR* text) override;
  ULONG GetLength() override { return m_length; }
  [[nodiscard]] HRESULT CopyTo(OLECHAR* buffer) override;

  // ISequentialStream: `Write` appends `count` bytes of UTF-16 text
  // unescaped (an odd count fails); `Read` fails with STG_E_ACCESSDENIED.
  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;

 private:
  friend class KXXMLIdleWriters;
  KXXMLStringWriter() = default;
  ~KXXMLStringWriter();
  // Empties the writer and puts its state back as made, keeping one chunk.
  void Reset();
  KXXMLStringWriter(const KXXMLStringWriter&) = delete;
  KXXMLStringWriter& operator=(const KXXMLStringWriter&) = delete;

  // Internal steps; they throw (KXComException, std::bad_alloc).
  // Most pieces fit in the room left in the last chunk (which keeps room
  // for a terminating zero); the rest take the slow road.
  void Put(const OLECHAR* text, size_t length) {
    if (text == nullptr || length == 0) return;
    if (length < m_room) {
      std::memcpy(m_cursor, text, length * sizeof(OLECHAR));
      m_cursor += length;
      m_room -= length;
      m_length += static_cast<ULONG>(length);
      return;
    }
    PutSlow(text, length);
  }
  void PutSlow(const OLECHAR* text, size_t length);
  // Puts the cursor and room after the text held.
  void PlaceCursor();
  void Put(const OLECHAR* text) {
    if (text != nullptr) Put(text, std::char_traits<char16_t>::length(text));
  }
  void PutEscaped(const OLECHAR* text, size_t length);
  void PutEscaped(const OLECHAR* text);
  void PutIndent(int32_t depth);
  void CloseOpenTag();
  void DoStartElement(const OLECHAR* name);
  void DoEndElement(KXComException& ctx, const OLECHAR* name);
  void PutAttribute(KXComException& ctx, const OLECHAR* name, std::u16string_view value,
                    bool escape);
  void PutElement(const OLECHAR* name, const OLECHAR* value);
  void PutText(KXComException& ctx, const OLECHAR* name, std::u16string_view value);

  bool m_startTagOpen = false;
  bool m_lineBreaks = true;
  bool m_lastWasEnd = false;
  int32_t m_depth = 0;
  ULONG m_refs = 0;
  std::vector<OLECHAR*> m_chunks;  // each kChunkSize characters, owned
  ULONG m_length = 0;
  // Where the next character goes in the last chunk written, and the room
  // there: a piece shorter than it goes in directly (0: take the slow road).
  OLECHAR* m_cursor = nullptr;
  size_t m_room = 0;
};
