#include "kxfilestream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "chunkedtextbuffer.h"
#include "com/bstr.h"
#include "com/errorinfo.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxtrace.h"

namespace {

// The system's text of an errno value, as the host shows system texts.
std::u16string SystemText(int code) { return kx_utf8_to_utf16_lossy(std::strerror(code)); }

constexpr OLECHAR kFile[] = u"source/globalinclude/kxfilestream";

// Reports `text` as a "<KXError" failure raised at `line` of this file.
HRESULT Fail(int line, HRESULT hr, const std::u16string& text) {
  KXComException ctx = KXComException::Silent();
  const SourceLocation location{kFile, line};
  return ReportComError(ctx, &location, hr, u"%ls", text.c_str());
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the Base64 text of `count` bytes; only the last call of a file
// may pass a count that is not a multiple of 3.
void Encode(ChunkedTextBuffer& out, const uint8_t* bytes, size_t count) {
  OLECHAR group[4];
  for (size_t i = 0; i < count; i += 3) {
    const size_t left = count - i;
    const uint32_t word = (uint32_t{bytes[i]} << 16) |
                          (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0) |
                          (left > 2 ? uint32_t{bytes[i + 2]} : 0);
    group[0] = static_cast<OLECHAR>(kAlphabet[(word >> 18) & 63]);
    group[1] = static_cast<OLECHAR>(kAlphabet[(word >> 12) & 63]);
    group[2] = left > 1 ? static_cast<OLECHAR>(kAlphabet[(word >> 6) & 63]) : u'=';
    group[3] = left > 2 ? static_cast<OLECHAR>(kAlphabet[word & 63]) : u'=';
    out.Append(group, 4);
  }
}

}  // namespace

HRESULT KXFileStream::Open(const OLECHAR* path, bool write) {
  Trace(1, '>', u"KXFileStream::Open");
  (void)Close();  // closing answers S_OK
  if (path == nullptr || *path == 0) return Fail(__LINE__, E_INVALIDARG, u"No filename provided");
  const std::string narrow = kx_utf16_to_utf8_lossy(path);
  const int flags = write ? (O_RDWR | O_CREAT | O_TRUNC) : O_RDONLY;
  m_fd = ::open(narrow.c_str(), flags | O_CLOEXEC, 0644);
  if (m_fd < 0) {
    const int code = errno;
    return Fail(__LINE__, E_FAIL,
                kx_format(u"Open failed: GetLastError returned %u: %ls\n",
                          static_cast<unsigned>(code), SystemText(code).c_str()));
  }
  return S_OK;
}

HRESULT KXFileStream::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  return S_OK;
}

HRESULT KXFileStream::Read(void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (buffer == nullptr) return STG_E_INVALIDPOINTER;
  if (count == 0) return S_OK;
  uint32_t total = 0;
  while (total < count) {
    const ssize_t got = ::read(m_fd, static_cast<char*>(buffer) + total, count - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) m_lastError = errno;
    if (got <= 0) break;
    total += static_cast<uint32_t>(got);
  }
  if (done) *done = total;
  return total == count ? S_OK : S_FALSE;
}

HRESULT KXFileStream::Write(const void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (buffer == nullptr) return STG_E_INVALIDPOINTER;
  if (count == 0) return S_OK;
  uint32_t total = 0;
  while (total < count) {
    const ssize_t put = ::write(m_fd, static_cast<const char*>(buffer) + total, count - total);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) m_lastError = errno;
    if (put <= 0) break;
    total += static_cast<uint32_t>(put);
  }
  if (done) *done = total;
  return total == count ? S_OK : S_FALSE;
}

HRESULT ReadFileAsBase64(const OLECHAR* path, BSTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  KXFileStream stream;
  const HRESULT opened = stream.Open(path, false);
  if (FAILED(opened)) return opened;
  ChunkedTextBuffer buffer;
  uint8_t block[KXFileStream::kBlockBytes];
  for (;;) {
    uint32_t got = 0;
    (void)stream.Read(block, sizeof block, &got);
    // A failed read is not the end of the file: a partial text would be
    // stored as if it were the whole sketch.
    if (stream.LastError() != 0) {
      const int code = stream.LastError();
      return Fail(__LINE__, E_FAIL,
                  kx_format(u"Read failed: error %u: %ls\n", static_cast<unsigned>(code),
                            SystemText(code).c_str()));
    }
    Encode(buffer, block, got);
    if (got < sizeof block) break;
  }
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(buffer.Length()));
  if (out == nullptr) return E_OUTOFMEMORY;
  for (uint64_t i = 0, at = 0; i < buffer.ChunkCount(); ++i) {
    const uint64_t n = std::min<uint64_t>(ChunkedTextBuffer::kChunkChars, buffer.Length() - at);
    std::memcpy(out + at, buffer.Chunk(i), n * sizeof(OLECHAR));
    at += n;
  }
  *text = out;
  return S_OK;
}
