// Values as text: every data type through the store's value holders, and
// the texts each refuses.
#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "support/fieldfixture.h"

namespace kx::test::model {
namespace {

class FieldValuesTest : public ::testing::Test {
 protected:
  // The holder of `attribute` on object `id` (one route step).
  IKXQFieldValuePtr Holder(LONG id, const char16_t* attribute) {
    IKXQViewPtr view;
    FieldUtils::GetObjectView(store_.Object(id), nullptr, view);
    _variant_t position;
    IKXQFieldValuePtr holder;
    EXPECT_EQ(FieldUtils::GetRouteStep(view, attribute, 1, false, &position, &holder), S_OK);
    EXPECT_TRUE(holder);
    return holder;
  }
  std::string Read(IKXQFieldValue* holder, const char16_t* unit = nullptr) {
    _bstr_t text;
    FieldUtils::GetAttributeValueText(holder, _variant_t(), text, unit);
    return static_cast<const OLECHAR*>(text) == nullptr ? "<none>" : Narrow(text);
  }
  std::string RoundTrip(IKXQFieldValue* holder, const char16_t* text,
                        const char16_t* unit = nullptr) {
    FieldUtils::SetAttributeValueFromText(holder, _variant_t(), text, unit);
    return Read(holder, unit);
  }
  // The first description of the failure of storing `text`, "" when none.
  std::string Refusal(IKXQFieldValue* holder, const char16_t* text) {
    try {
      FieldUtils::SetAttributeValueFromText(holder, _variant_t(), text, nullptr);
    } catch (const KXComException& error) {
      return FirstDesc(error);
    }
    return "";
  }

  ModelStore store_{kFieldFixture};
};

TEST_F(FieldValuesTest, TextsRoundTripThroughEveryDataType) {
  EXPECT_EQ(RoundTrip(Holder(kFieldPump, u"Tag"), u"P-102 <new>"), "P-102 <new>");
  EXPECT_EQ(RoundTrip(Holder(kFieldPump, u"Code"), u"x"), "x");
  // Integers read their leading number.
  const IKXQFieldValuePtr speed = Holder(kFieldPump, u"Speed");
  EXPECT_EQ(RoundTrip(speed, u"12abc"), "12");
  EXPECT_EQ(RoundTrip(speed, u" -7"), "-7");
  // Boolean words in any case.
  const IKXQFieldValuePtr running = Holder(kFieldPump, u"Running");
  EXPECT_EQ(RoundTrip(running, u"OFF"), "0");
  EXPECT_EQ(RoundTrip(running, u"TRUE"), "1");
  EXPECT_EQ(RoundTrip(running, u"no"), "0");
  EXPECT_EQ(RoundTrip(running, u"Yes"), "1");
  EXPECT_EQ(RoundTrip(running, u"oN"), "1");
  // Binary values travel as their Base64 text.
  EXPECT_EQ(RoundTrip(Holder(kFieldPump, u"Drawing"), u"SGVsbG8="), "SGVsbG8=");
  // Dates: the fraction is the time of day and comes back unchanged.
  EXPECT_EQ(RoundTrip(Holder(kFieldPump, u"Installed"), u"45000.5"), "45000.5");
}

TEST_F(FieldValuesTest, RealsAreReadAndWrittenInAnyUnitOfTheirDimension) {
  const IKXQFieldValuePtr flow = Holder(kFieldPump, u"Flow");
  // Stored as 2 l/s; without unit it reads in its own unit.
  EXPECT_EQ(Read(flow), "2");
  EXPECT_EQ(Read(flow, u"m3/h"), "7.2");
  EXPECT_EQ(RoundTrip(flow, u"1.5", u"l/s"), "1.5");
  EXPECT_EQ(Read(flow, u"m3/h"), "5.4");
  EXPECT_EQ(RoundTrip(flow, u"36", u"m3/h"), "36");
  EXPECT_EQ(Read(flow, u"l/s"), "10");
}

TEST_F(FieldValuesTest, TextsThatAreNoValueAreRefusedAndNothingIsStored) {
  const IKXQFieldValuePtr flow = Holder(kFieldPump, u"Flow");
  EXPECT_EQ(Refusal(flow, u"abc"), "'abc' is not a number for attribute Flow");
  EXPECT_EQ(Refusal(flow, u"-inf"), "'-inf' is not a number for attribute Flow");
  EXPECT_EQ(Read(flow), "2");
  // An integer text without a number, or beyond 32 bits, stores no 0 and
  // no clamped number.
  const IKXQFieldValuePtr speed = Holder(kFieldPump, u"Speed");
  FieldUtils::SetAttributeValueFromText(speed, _variant_t(), u"2975", nullptr);
  EXPECT_EQ(Refusal(speed, u"abc"), "'abc' is not a number for attribute Speed");
  EXPECT_EQ(Refusal(speed, u"-2147483649"), "'-2147483649' is out of range for attribute Speed");
  EXPECT_EQ(Read(speed), "2975");
  const IKXQFieldValuePtr installed = Holder(kFieldPump, u"Installed");
  FieldUtils::SetAttributeValueFromText(installed, _variant_t(), u"100.25", nullptr);
  EXPECT_NE(Refusal(installed, u"yesterday"), "");
  EXPECT_EQ(Read(installed), "100.25");
  const IKXQFieldValuePtr running = Holder(kFieldPump, u"Running");
  EXPECT_NE(Refusal(running, u"2"), "");
  EXPECT_NE(Refusal(running, u"y"), "");
  EXPECT_EQ(Read(running), "1");
  // An object reference is no text value; an empty text still clears it.
  const IKXQFieldValuePtr motor = Holder(kFieldPump, u"Motor");
  EXPECT_EQ(Refusal(motor, u"11"), "Unknown data type defined for attribute Motor");
  EXPECT_EQ(Refusal(motor, u""), "");
  EXPECT_EQ(Read(motor), "<none>");
  EXPECT_EQ(RoundTrip(Holder(kFieldPump, u"Speed"), u""), "<none>");
}

TEST_F(FieldValuesTest, NumberTextsBelongToRealsAndIntegersOnly) {
  const IKXQFieldValuePtr flow = Holder(kFieldPump, u"Flow");
  KXDBDatasheetSvcs::WriteViewNumberTexts(flow, _variant_t(), u"~", u" max", nullptr);
  _bstr_t prefix, postfix, substitution(u"untouched");
  KXDBDatasheetSvcs::ReadViewNumberTexts(flow, _variant_t(), prefix, postfix, substitution);
  EXPECT_EQ(Narrow(prefix), "~");
  EXPECT_EQ(Narrow(postfix), " max");
  EXPECT_EQ(substitution.length(), 0u);
  const IKXQFieldValuePtr tag = Holder(kFieldPump, u"Tag");
  KXDBDatasheetSvcs::WriteViewNumberTexts(tag, _variant_t(), u"~", u"~", u"~");
  _bstr_t kept(u"kept");
  KXDBDatasheetSvcs::ReadViewNumberTexts(tag, _variant_t(), kept, kept, kept);
  EXPECT_EQ(Narrow(kept), "kept");
}

TEST_F(FieldValuesTest, TextToVariantFollowsTheXmlRules) {
  _variant_t value;
  EXPECT_TRUE(VariantUtil::FromXMLText(&value, u"", VT_BSTR));
  EXPECT_FALSE(VariantUtil::FromXMLText(&value, u"", VT_R8));
  EXPECT_EQ(V_VT(&value), VT_NULL);
  EXPECT_TRUE(VariantUtil::FromXMLText(&value, u"2.5e1x", VT_R8));
  EXPECT_EQ(V_R8(&value), 25.0);
  // Hexadecimal, as "%lf" reads it.
  EXPECT_TRUE(VariantUtil::FromXMLText(&value, u" 0x10", VT_R8));
  EXPECT_EQ(V_R8(&value), 16.0);
  EXPECT_FALSE(VariantUtil::FromXMLText(&value, u".", VT_DATE));
  try {
    VariantUtil::FromXMLText(&value, u"1", VT_CY);
    ADD_FAILURE() << "a currency has no XML text";
  } catch (const KXComException& error) {
    EXPECT_EQ(FirstDesc(error), "No defined XML format for given type");
  }
}

}  // namespace
}  // namespace kx::test::model
