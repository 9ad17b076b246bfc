// The sketch text's header: blocks, labels, lengths and the texts refused.
#include <gtest/gtest.h>

#include <string>

#include "kxcomexception.h"
#include "sketchdataparser.h"

namespace {

SketchDataParser Parse(const std::u16string& text) {
  return SketchDataParser(text.c_str(), static_cast<int32_t>(text.size()));
}

HRESULT Refusal(const std::u16string& text) {
  try {
    Parse(text);
  } catch (const KXComException& error) {
    return error.hr;
  }
  return S_OK;
}

TEST(SketchDataParserTest, AHeaderGivesCodesLabelsLengthsAndBlockOffsets) {
  const std::u16string text = u"!P3:abc5P0:2P4!" + std::u16string(11, u'x');
  const SketchDataParser sketch = Parse(text);
  EXPECT_EQ(sketch.Code1, u'P');
  EXPECT_EQ(sketch.Label1, u"abc");
  EXPECT_EQ(sketch.Length1, 5);
  EXPECT_EQ(sketch.Code2, u'P');
  EXPECT_EQ(sketch.Label2, u"");
  EXPECT_EQ(sketch.Length2, 2);
  EXPECT_EQ(sketch.Code3, u'P');
  EXPECT_EQ(sketch.Length3, 4);
  EXPECT_EQ(sketch.HeaderLength, 15);
  EXPECT_EQ(sketch.BlockOffset(2), 20);
  EXPECT_EQ(sketch.BlockOffset(3), 22);
  // A label may end in digits: its length is given before it.
  const SketchDataParser digits = Parse(u"!R2:a91R0:0R0!x");
  EXPECT_EQ(digits.Label1, u"a9");
  EXPECT_EQ(digits.Length1, 1);
}

TEST(SketchDataParserTest, RawTextsAndTextsWithoutClosingMark) {
  const SketchDataParser raw = Parse(std::u16string(5000, u'r'));
  EXPECT_EQ(raw.Code3, u'R');
  EXPECT_EQ(raw.Length3, 5000);
  EXPECT_EQ(raw.HeaderLength, 0);
  // A closing mark at position 2048 is not looked for: nothing is read.
  const SketchDataParser late = Parse(u"!" + std::u16string(2047, u'a') + u"!");
  EXPECT_EQ(late.Code3, 0);
  EXPECT_EQ(late.HeaderLength, 0);
  const SketchDataParser empty = Parse(u"!R0:0R0:0R0!");
  EXPECT_EQ(empty.Code3, u'R');
  EXPECT_EQ(empty.HeaderLength, 12);
  EXPECT_EQ(SketchDataParser(nullptr, 4).Code3, 0);
}

TEST(SketchDataParserTest, BadTextsFailWithTheirOwnCodes) {
  EXPECT_EQ(Refusal(u"!P3:abc5P0:2P4!" + std::u16string(10, u'x')),
            static_cast<HRESULT>(0x80070018));
  EXPECT_EQ(Refusal(u"!!"), E_INVALIDARG);
  EXPECT_EQ(Refusal(u"!R!"), E_INVALIDARG);
  // A label running past the closing mark.
  EXPECT_EQ(Refusal(u"!R9:ab0R0:0R0!"), E_INVALIDARG);
  // Lengths beyond 32 bits never pass.
  EXPECT_EQ(Refusal(u"!R0:99999999999R0:0R0!"), static_cast<HRESULT>(0x80070018));
  EXPECT_EQ(Refusal(u"!R2147483647:ab0R0:0R0!"), static_cast<HRESULT>(0x80070216));
}

}  // namespace
