// A wide text kept in fixed chunks, and its Base64 decoding: how a
// template workbook sent as Base64 text reaches the object store without
// one contiguous copy of the whole text.
//
// Character i of the text lies in chunk i / kChunkChars at offset
// i % kChunkChars. No terminating zero is stored. Not copyable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "com/types.h"

class ChunkedTextBuffer {
 public:
  static constexpr uint64_t kChunkChars = 2016;

  ChunkedTextBuffer() = default;
  ChunkedTextBuffer(const ChunkedTextBuffer&) = delete;
  ChunkedTextBuffer& operator=(const ChunkedTextBuffer&) = delete;

  // Appends `count` characters of `text`; nothing when `text` is null or
  // `count` is 0. The chunks always leave room for one more character than
  // the text holds. Throws std::bad_alloc.
  void Append(const OLECHAR* text, uint64_t count);
  // Frees every chunk; the buffer is empty again.
  void Reset();

  uint64_t Length() const { return m_length; }
  uint64_t ChunkCount() const { return m_chunks.size(); }
  // The characters of chunk `index` (REQUIRES: index < ChunkCount()); its
  // first min(kChunkChars, Length() - index * kChunkChars) are text.
  const OLECHAR* Chunk(uint64_t index) const { return m_chunks[index].get(); }
  OLECHAR At(uint64_t position) const {
    return m_chunks[position / kChunkChars][position % kChunkChars];
  }

 private:
  std::vector<std::unique_ptr<OLECHAR[]>> m_chunks;
  uint64_t m_length = 0;
};

// Receives the bytes decoded from one chunk; a failure stops the decoding
// and is returned by DecodeBase64.
using Base64Sink = std::function<HRESULT(const uint8_t* bytes, size_t count)>;

// Decodes the buffer's text as standard Base64 (RFC 4648 alphabet, "="
// padding), handing `sink` the bytes decoded from each chunk in turn (at
// most 3 * kChunkChars / 4 + 2 at a time; chunks that complete no group give
// no call). CR, LF, tab and blank are skipped. Characters are read in
// groups of four, each decoded on its own: a group gives three bytes, two
// when it ends in "=", one when it ends in "==", and the next group follows
// a padded one as any other. An unfinished last group of two or three
// characters is read as unpadded Base64 (one or two bytes more with the
// last chunk's); a lone last character holds no whole byte and fails with
// E_INVALIDARG as a bad one does. Any other character, or "=" elsewhere
// in a group, fails with E_INVALIDARG before the sink sees the chunk that
// holds it; `*badPosition` (may be null) receives the 0-based position of
// the offending character.
[[nodiscard]] HRESULT DecodeBase64(const ChunkedTextBuffer& text, const Base64Sink& sink,
                                   uint64_t* badPosition);
