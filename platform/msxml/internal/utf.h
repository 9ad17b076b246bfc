// Strict conversions between the reader's UTF-16 text and expat's UTF-8.
#pragma once

#ifndef KX_MSXML_INTERNAL
#error "msxml/internal headers are private to their library; include its public headers"
#endif

#include <cstddef>
#include <memory>

namespace kx::msxml {

// UTF-8 bytes in a buffer that may be larger than `size`.
struct Utf8Text {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
};

// Converts `text[0, length)` to UTF-8 into `out` (replacing its content).
// Returns the index of the first code unit that is not part of a
// well-formed UTF-16 sequence (an unpaired surrogate), or `length` when the
// whole text converted.
std::size_t Utf16ToUtf8(const char16_t* text, std::size_t length, Utf8Text& out);

// A growable UTF-16 buffer filled from expat's UTF-8. It does not clear
// memory it is about to overwrite: the reader converts every name, value and
// piece of text through one of these.
class Utf16Buffer {
 public:
  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  const char16_t* data() const { return data_.get(); }
  // The text followed by a zero (not counted in size()).
  const char16_t* c_str();

  // Append the UTF-16 form of UTF-8 text: `length` bytes, or up to the
  // terminating zero. expat hands out well-formed UTF-8 only; a malformed
  // byte would become U+FFFD rather than be trusted.
  void AppendUtf8(const char* text, std::size_t length);
  void AppendUtf8z(const char* text);
  void push_back(char16_t c) {
    if (size_ == capacity_) Grow(1);
    data_[size_++] = c;
  }

 private:
  void Grow(std::size_t extra);
  // Decodes the multi-byte sequence at *s (at most `avail` bytes) into
  // one or two code units; advances *s.
  void AppendSequence(const unsigned char*& s, std::size_t avail);

  std::unique_ptr<char16_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace kx::msxml
