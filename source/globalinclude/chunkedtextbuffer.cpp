#include "chunkedtextbuffer.h"

#include <algorithm>
#include <array>

void ChunkedTextBuffer::Append(const OLECHAR* text, uint64_t count) {
  if (text == nullptr || count == 0) return;
  const uint64_t needed = (m_length + count + 1) / kChunkChars + 1;
  while (m_chunks.size() < needed) m_chunks.push_back(std::make_unique<OLECHAR[]>(kChunkChars));
  uint64_t done = 0;
  while (done < count) {
    const uint64_t at = m_length + done;
    const uint64_t offset = at % kChunkChars;
    const uint64_t part = std::min(kChunkChars - offset, count - done);
    std::copy_n(text + done, part, m_chunks[at / kChunkChars].get() + offset);
    done += part;
  }
  m_length += count;
}

void ChunkedTextBuffer::Reset() {
  m_chunks.clear();
  m_length = 0;
}

namespace {

constexpr int8_t kSkip = -2;
constexpr int8_t kPad = -3;
constexpr int8_t kBad = -1;

constexpr std::array<int8_t, 128> MakeTable() {
  std::array<int8_t, 128> table{};
  table.fill(kBad);
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<int8_t>(i);
    table['a' + i] = static_cast<int8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int8_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  table['='] = kPad;
  for (char c : {'\r', '\n', '\t', ' '}) table[static_cast<unsigned char>(c)] = kSkip;
  return table;
}

constexpr std::array<int8_t, 128> kTable = MakeTable();

}  // namespace

HRESULT DecodeBase64(const ChunkedTextBuffer& text, const Base64Sink& sink, uint64_t* badPosition) {
  uint8_t group[4] = {};
  int filled = 0;
  int padding = 0;  // "=" seen in the current group
  uint64_t groupStart = 0;
  std::vector<uint8_t> bytes;
  bytes.reserve(ChunkedTextBuffer::kChunkChars / 4 * 3);
  const uint64_t length = text.Length();
  for (uint64_t chunk = 0; chunk * ChunkedTextBuffer::kChunkChars < length; ++chunk) {
    const uint64_t first = chunk * ChunkedTextBuffer::kChunkChars;
    const uint64_t end = std::min(length, first + ChunkedTextBuffer::kChunkChars);
    const OLECHAR* chars = text.Chunk(chunk);
    bytes.clear();
    for (uint64_t at = first; at < end; ++at) {
      const OLECHAR c = chars[at - first];
      const int8_t value = c < kTable.size() ? kTable[c] : kBad;
      if (value == kSkip) continue;
      const bool misplacedPad = value == kPad && filled < 2;
      const bool afterPad = value >= 0 && padding > 0;
      if (value == kBad || misplacedPad || afterPad) {
        if (badPosition != nullptr) *badPosition = at;
        return E_INVALIDARG;
      }
      if (value == kPad) ++padding;
      if (filled == 0) groupStart = at;
      group[filled++] = value == kPad ? 0 : static_cast<uint8_t>(value);
      if (filled < 4) continue;
      bytes.push_back(static_cast<uint8_t>(group[0] << 2 | group[1] >> 4));
      if (padding < 2) bytes.push_back(static_cast<uint8_t>(group[1] << 4 | group[2] >> 2));
      if (padding < 1) bytes.push_back(static_cast<uint8_t>(group[2] << 6 | group[3]));
      filled = 0;
      padding = 0;
    }
    // An unfinished last group: two or three characters are unpadded
    // Base64 (one or two bytes); a lone character holds no whole byte.
    if (end == length && filled > 0) {
      const int data = filled - padding;
      if (data < 2) {
        if (badPosition != nullptr) *badPosition = groupStart;
        return E_INVALIDARG;
      }
      bytes.push_back(static_cast<uint8_t>(group[0] << 2 | group[1] >> 4));
      if (data == 3) bytes.push_back(static_cast<uint8_t>(group[1] << 4 | group[2] >> 2));
    }
    if (bytes.empty()) continue;
    if (HRESULT hr = sink(bytes.data(), bytes.size()); FAILED(hr)) return hr;
  }
  return S_OK;
}
