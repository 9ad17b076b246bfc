// The chunked text buffer and its Base64 decoding: chunk arithmetic, what
// each group gives, and that invalid text is refused before any of its
// bytes reach the sink.
#include "chunkedtextbuffer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void Fill(ChunkedTextBuffer& buffer, const std::u16string& text) {
  buffer.Reset();
  buffer.Append(text.data(), text.size());
}

struct Decoded {
  HRESULT hr = S_OK;
  std::string bytes;
  std::vector<size_t> calls;  // bytes per sink call
  uint64_t bad = ~0ull;
};

Decoded Decode(const std::u16string& text) {
  ChunkedTextBuffer buffer;
  Fill(buffer, text);
  Decoded out;
  out.hr = DecodeBase64(
      buffer,
      [&](const uint8_t* bytes, size_t count) {
        out.bytes.append(reinterpret_cast<const char*>(bytes), count);
        out.calls.push_back(count);
        return S_OK;
      },
      &out.bad);
  return out;
}

TEST(ChunkedTextBuffer, ChunksLeaveRoomForOneMoreCharacter) {
  ChunkedTextBuffer buffer;
  buffer.Append(nullptr, 5);
  buffer.Append(u"x", 0);
  EXPECT_EQ(0u, buffer.ChunkCount());
  const std::u16string text(2015, u'a');
  buffer.Append(text.data(), text.size());
  EXPECT_EQ(2u, buffer.ChunkCount());
  EXPECT_EQ(2015u, buffer.Length());
  buffer.Reset();
  buffer.Append(text.data(), 2014);
  EXPECT_EQ(1u, buffer.ChunkCount());
}

TEST(ChunkedTextBuffer, AppendsAcrossChunkBoundariesInPieces) {
  ChunkedTextBuffer buffer;
  std::u16string all;
  for (int piece = 0; piece < 7; ++piece) {
    std::u16string text(1000 + piece, static_cast<char16_t>(u'A' + piece));
    text.back() = u'#';
    buffer.Append(text.data(), text.size());
    all += text;
  }
  ASSERT_EQ(all.size(), buffer.Length());
  EXPECT_EQ(all.size() / ChunkedTextBuffer::kChunkChars + 1, buffer.ChunkCount());
  for (uint64_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], buffer.At(i)) << i;
}

TEST(Base64, GroupsGiveThreeTwoOrOneBytes) {
  EXPECT_EQ("Man", Decode(u"TWFu").bytes);
  EXPECT_EQ("Ma", Decode(u"TWE=").bytes);
  EXPECT_EQ("M", Decode(u"TQ==").bytes);
  EXPECT_EQ(std::string("\0\1\2\xff", 4), Decode(u"AAEC/w==").bytes);
  // Each group on its own: a padded group may be followed by others.
  EXPECT_EQ("MMan", Decode(u"TQ==TWFu").bytes);
  EXPECT_EQ("MaM", Decode(u"TWE=TQ==").bytes);
  EXPECT_EQ("", Decode(u"").bytes);
}

// Unpadded Base64: a last group of two or three characters gives one or
// two bytes; a lone last character is no byte and refused whole.
TEST(Base64, AnUnpaddedEndIsDecodedALoneCharacterRefusedAndBlanksSkipped) {
  EXPECT_EQ("ManM", Decode(u"TWFuTQ").bytes);
  EXPECT_EQ("ManMa", Decode(u"TWFuTWE").bytes);
  EXPECT_EQ("ManMan", Decode(u"TWFu\r\nTW Fu\t").bytes);
  const Decoded lone = Decode(u"TWFuT \n");
  EXPECT_EQ(E_INVALIDARG, lone.hr);
  EXPECT_EQ(4u, lone.bad);
  EXPECT_TRUE(lone.bytes.empty());
}

TEST(Base64, AFullChunkEndingInPaddingGives1510Bytes) {
  std::u16string text;
  for (int i = 0; i < 503; ++i) text += u"QUJD";
  text += u"RA==";
  ASSERT_EQ(2016u, text.size());
  const Decoded out = Decode(text);
  ASSERT_EQ(S_OK, out.hr);
  EXPECT_EQ(1510u, out.bytes.size());
  EXPECT_EQ("ABCD", out.bytes.substr(1506));
}

TEST(Base64, BytesReachTheSinkChunkByChunk) {
  std::u16string text;
  for (int i = 0; i < 1000; ++i) text += u"QUJD";  // 4,000 characters: two chunks
  const Decoded out = Decode(text);
  ASSERT_EQ(S_OK, out.hr);
  EXPECT_EQ((std::vector<size_t>{1512, 1488}), out.calls);
  EXPECT_EQ(3000u, out.bytes.size());
}

TEST(Base64, InvalidTextIsRefusedWithItsPosition) {
  struct Case {
    const char16_t* text;
    uint64_t position;
  };
  for (const Case& c :
       {Case{u"TW!u", 2}, Case{u"=WFu", 0}, Case{u"T=Fu", 1}, Case{u"TW=u", 3},
        Case{u"TQ===WFu", 4}, Case{u"TWFu\u00e9", 4}, Case{u"TWF\u0141", 3}, Case{u"TWFu-_", 4}}) {
    const Decoded out = Decode(c.text);
    EXPECT_EQ(E_INVALIDARG, out.hr) << "bad character expected at " << c.position;
    EXPECT_EQ(c.position, out.bad);
    EXPECT_TRUE(out.bytes.empty());
  }
}

TEST(Base64, NothingOfAnInvalidChunkReachesTheSink) {
  std::u16string text;
  for (int i = 0; i < 504; ++i) text += u"QUJD";  // the first chunk is valid
  text += Wide("QUJD*");
  const Decoded out = Decode(text);
  EXPECT_EQ(E_INVALIDARG, out.hr);
  EXPECT_EQ(2020u, out.bad);
  EXPECT_EQ((std::vector<size_t>{1512}), out.calls);
}

TEST(Base64, ASinkFailureStopsTheDecoding) {
  ChunkedTextBuffer buffer;
  Fill(buffer, u"TWFu");
  int calls = 0;
  EXPECT_EQ(E_OUTOFMEMORY, DecodeBase64(
                               buffer,
                               [&](const uint8_t*, size_t) {
                                 ++calls;
                                 return E_OUTOFMEMORY;
                               },
                               nullptr));
  EXPECT_EQ(1, calls);
}

}  // namespace
