// The sketch text's header (blocks, labels, lengths and the texts refused)
// and "SetSketchField" end to end: merges of the stored and the incoming
// blocks, and the values refused.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "kxcomexception.h"
#include "sketchdataparser.h"
#include "support/setterhost.h"

using namespace kx::test::setters;

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

using Lines = std::vector<std::string>;

std::string Error(const kx::host::CallResult& result) { return Narrow(result.error); }

class SketchFieldTest : public ::testing::Test {
 protected:
  kx::host::RequestResult Sketch(const std::string& value, const char* rectangle = "") {
    std::u16string message = u"<SetSketchField PageId=\"21\" FieldId=\"8\" ";
    for (const char* c = rectangle; *c != 0; ++c) message += static_cast<char16_t>(*c);
    message += u" Value=\"";
    for (char c : value) message += static_cast<char16_t>(c);
    message += u"\"/>";
    return host_.Send(u"SetSketchField", message);
  }
  std::string Stored() { return host_.Value(kPump, u"Drawing"); }

  SetterHost host_;
};

TEST_F(SketchFieldTest, APartialUpdateKeepsTheStoredBlocksItLeavesOut) {
  ASSERT_EQ(
      Sketch("!R3:top5R4:side2R4!AAAAABBCCCC", "TLX=\"1\" TLY=\"2\" BRX=\"30\" BRY=\"40\"").hr,
      S_OK);
  EXPECT_EQ(Stored(), "!P3:top5P4:side2P4!AAAAABBCCCC");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 8),
            "<Sketch FieldId=\"8\" AttribId=\"31\" TLX=\"1\" TLY=\"2\" BRX=\"30\" BRY=\"40\"/>");
  // Only block 2 comes with the request.
  const auto result = Sketch("!P0:0R2:xy3P0!zzz");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(Stored(), "!P3:top5P2:xy3P4!AAAAAzzzCCCC");
  EXPECT_EQ(EventLines(result), (Lines{"DataField [F1 21] to ed"}));
  // Codes "R", "R" with empty blocks 1 and 2: the stored block 3 alone.
  ASSERT_EQ(Sketch("!R0:0R0:0P0!").hr, S_OK);
  EXPECT_EQ(Stored(), "CCCC");
  // A raw text replaces everything; an empty one clears the record too.
  ASSERT_EQ(Sketch("plain").hr, S_OK);
  EXPECT_EQ(Stored(), "plain");
  ASSERT_EQ(Sketch("").hr, S_OK);
  EXPECT_EQ(Stored(), "");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 8), "");
}

TEST_F(SketchFieldTest, LengthsThatOverrunTheTextAreRefusedAsAFailure) {
  ASSERT_EQ(Sketch("raw").hr, S_OK);
  const auto result = Sketch("!R0:5R0:0R0!abcd");
  EXPECT_EQ(result.hr, static_cast<HRESULT>(0x80070018));
  EXPECT_NE(Error(result).find("Invalid lengths specified for data"), std::string::npos);
  EXPECT_EQ(Stored(), "raw");
  EXPECT_TRUE(result.events.empty());
  // A header that ends before its codes.
  EXPECT_EQ(Sketch("!R!").hr, E_INVALIDARG);
  EXPECT_EQ(Stored(), "raw");
}

TEST_F(SketchFieldTest, AHeaderTooLongToBeReadBackIsRefused) {
  const std::string first = "!R1500:" + std::string(1500, 'L') + "0R0:0R0!";
  ASSERT_EQ(Sketch(first).hr, S_OK);
  const std::string stored = Stored();
  // Each label fits, but both together would put the closing mark beyond
  // position 2047, where the next read would no longer find it.
  const auto result = Sketch("!P0:0R1500:" + std::string(1500, 'M') + "0P0!");
  EXPECT_EQ(result.hr, E_INVALIDARG);
  EXPECT_NE(Error(result).find("The sketch header is longer than 2048 characters"),
            std::string::npos);
  EXPECT_EQ(Stored(), stored);
  // A value whose closing mark lies beyond that reads as no header: the
  // stored blocks are kept.
  ASSERT_EQ(Sketch("!R2040:" + std::string(2040, 'N') + "0R0:0R0!").hr, S_OK);
  EXPECT_EQ(Stored(), "!P1500:" + std::string(1500, 'L') + "0P0:0P0!");
}

}  // namespace
