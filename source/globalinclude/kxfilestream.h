// A byte stream over a file, and a file read whole as Base64 text: how the
// file of a sketch that waits for its field reaches a page.
//
// Files are read sequentially in blocks of kBlockBytes (a multiple of 3,
// so every block but the last encodes without padding) and the text is
// gathered in fixed chunks; one allocation of the final length makes the
// BSTR. Not copyable; closes its file when destroyed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "com/bstr.h"
#include "com/types.h"

class KXFileStream {
 public:
  static constexpr uint32_t kBlockBytes = 2016;

  KXFileStream() = default;
  KXFileStream(const KXFileStream&) = delete;
  KXFileStream& operator=(const KXFileStream&) = delete;
  ~KXFileStream() { (void)Close(); }  // closing answers S_OK

  // Opens `path` for reading (others may read and write it meanwhile) or,
  // with `write`, for reading and writing, truncating or creating it. A null
  // or empty path: E_INVALIDARG "No filename provided"; a file that cannot
  // be opened: E_FAIL "Open failed: GetLastError returned %u: %ls\n" with
  // the system's code and text. Failures leave the thread's error
  // information set. An open file is closed first.
  [[nodiscard]] HRESULT Open(const OLECHAR* path, bool write);
  // Closes the file when one is open; always S_OK.
  [[nodiscard]] HRESULT Close();

  // One transfer of `count` bytes: S_OK when all of them moved, S_FALSE
  // when fewer did or the system call failed (*done holds what moved; may
  // be null). A null buffer: STG_E_INVALIDPOINTER; a count of 0: S_OK.
  [[nodiscard]] HRESULT Read(void* buffer, uint32_t count, uint32_t* done);
  [[nodiscard]] HRESULT Write(const void* buffer, uint32_t count, uint32_t* done);

  // The system's error code of the last failed transfer (0 when none).
  int LastError() const { return m_lastError; }

 private:
  int m_fd = -1;
  int m_lastError = 0;
};

// The whole file at `path` as one Base64 text (RFC 4648 alphabet, "="
// padding, no line breaks) in *text, which the caller frees; an empty file
// gives an empty text. The open failures of KXFileStream::Open; a read
// that fails part-way fails with E_FAIL "Read failed: error %u: %ls\n"
// instead of giving a truncated text. Failures leave *text null and the
// thread's error information set.
[[nodiscard]] HRESULT ReadFileAsBase64(const OLECHAR* path, BSTR* text);
