// The field-data record: reading every kind, choosing from a "Fields" list,
// and the three written forms.

#include "model/kxfielddata.h"

#include <gtest/gtest.h>
#include <string>

#include "parsertestutil.h"

namespace {

using kx::test::Bstr;
using kx::test::TakeThreadErrorDescription;
using kx::test::U8;

std::u16string Write(const KXFieldData& data, int32_t mode, int32_t pageId = 0) {
  BSTR text = nullptr;
  HRESULT hr = data.WriteFieldData(&text, mode, pageId);
  EXPECT_EQ(S_OK, hr) << U8(TakeThreadErrorDescription());
  std::u16string result(text != nullptr ? text : u"", SysStringLen(text));
  SysFreeString(text);
  return result;
}

struct KindCase {
  int32_t type;
  const char16_t* input;
  const char16_t* definition;  // mode 0
  const char16_t* full;        // mode 1
  const char16_t* show;        // mode 2, page 9
};

const KindCase kKinds[] = {
    {kFieldAnnotation,
     u"<Annotation Value=\"note &amp; more\" X=\"10\" Y=\"-20\" FieldId=\"3\" Markup=\"true\"/>",
     u"<Annotation FieldId=\"3\" X=\"10\" Y=\"-20\" Markup=\"1\" Value=\"note &amp; more\"/>",
     u"<Annotation FieldId=\"3\" X=\"10\" Y=\"-20\" Markup=\"1\" Value=\"note &amp; more\"/>",
     u"<ShowAnnotationField PageId=\"9\" FieldId=\"3\" X=\"10\" Y=\"-20\" Markup=\"1\" "
     u"Value=\"note &amp; more\" State=\"0\"/>"},
    {kFieldString,
     u"<String FieldId=\"1\" AttribId=\"2\" Value=\"a&lt;b\" State=\"4\" Alignment=\"1\" "
     u"VerticalAlignment=\"2\" Index=\"0\"/>",
     u"<String FieldId=\"1\" AttribId=\"2\" Alignment=\"1\" VerticalAlignment=\"2\" Index=\"0\"/>",
     u"<String FieldId=\"1\" AttribId=\"2\" Alignment=\"1\" VerticalAlignment=\"2\" State=\"4\" "
     u"Value=\"a&lt;b\" Index=\"0\"/>",
     u"<ShowStringField PageId=\"9\" FieldId=\"1\" Alignment=\"1\" VerticalAlignment=\"2\" "
     u"State=\"4\" Value=\"a&lt;b\" Index=\"0\"/>"},
    {kFieldReal,
     u"<Real FieldId=\"5\" AttribId=\"6\" Value=\"1.5\" Prefix=\"~\" Postfix=\"mm\" "
     u"Substitution=\"-\" Format=\"%g\" State=\"1\" Alignment=\"0\" VerticalAlignment=\"1\" "
     u"Index=\"2\"/>",
     u"<Real FieldId=\"5\" AttribId=\"6\" Format=\"%g\" Alignment=\"0\" VerticalAlignment=\"1\" "
     u"Index=\"2\"/>",
     u"<Real FieldId=\"5\" AttribId=\"6\" Prefix=\"~\" Postfix=\"mm\" Substitution=\"-\" "
     u"Format=\"%g\" Alignment=\"0\" VerticalAlignment=\"1\" State=\"1\" Value=\"1.5\" "
     u"Index=\"2\"/>",
     u"<ShowRealField PageId=\"9\" FieldId=\"5\" Prefix=\"~\" Postfix=\"mm\" Substitution=\"-\" "
     u"Format=\"%g\" Alignment=\"0\" VerticalAlignment=\"1\" State=\"1\" Value=\"1.5\" "
     u"Index=\"2\"/>"},
    {kFieldInteger, u"<Integer FieldId=\"5\" Value=\"12\" Postfix=\"pcs\" State=\"2\"/>",
     u"<Integer FieldId=\"5\"/>",
     u"<Integer FieldId=\"5\" Postfix=\"pcs\" State=\"2\" Value=\"12\"/>",
     u"<ShowIntegerField PageId=\"9\" FieldId=\"5\" Postfix=\"pcs\" State=\"2\" Value=\"12\"/>"},
    {kFieldBool,
     u"<Bool FieldId=\"1\" AttribId=\"2\" Value=\"1\" Format=\"Yes/No\" State=\"0\" "
     u"Alignment=\"2\" VerticalAlignment=\"0\" Index=\"1\" Prefix=\"ignored\"/>",
     u"<Bool FieldId=\"1\" AttribId=\"2\" Format=\"Yes/No\" Alignment=\"2\" "
     u"VerticalAlignment=\"0\" Index=\"1\"/>",
     u"<Bool FieldId=\"1\" AttribId=\"2\" Format=\"Yes/No\" Alignment=\"2\" "
     u"VerticalAlignment=\"0\" State=\"0\" Value=\"1\" Index=\"1\"/>",
     u"<ShowBoolField PageId=\"9\" FieldId=\"1\" Format=\"Yes/No\" Alignment=\"2\" "
     u"VerticalAlignment=\"0\" State=\"0\" Value=\"1\" Index=\"1\"/>"},
    {kFieldDate,
     u"<Date FieldId=\"8\" Value=\"2024-01-31\" Format=\"dd/mm/yyyy\" Alignment=\"-4\"/>",
     u"<Date FieldId=\"8\" Format=\"dd/mm/yyyy\"/>",
     u"<Date FieldId=\"8\" Format=\"dd/mm/yyyy\" State=\"0\" Value=\"2024-01-31\"/>",
     u"<ShowDateField PageId=\"9\" FieldId=\"8\" Format=\"dd/mm/yyyy\" State=\"0\" "
     u"Value=\"2024-01-31\"/>"},
    {kFieldSketch,
     u"<Sketch FieldId=\"1\" AttribId=\"2\" State=\"3\" TLX=\"1\" TLY=\"2\" BRX=\"3\" BRY=\"4\" "
     u"Index=\"5\"/>",
     u"<Sketch FieldId=\"1\" AttribId=\"2\" TLX=\"1\" TLY=\"2\" BRX=\"3\" BRY=\"4\"/>",
     u"<Sketch FieldId=\"1\" AttribId=\"2\" TLX=\"1\" TLY=\"2\" BRX=\"3\" BRY=\"4\" State=\"3\" "
     u"Value=\"\"/>",
     u"<ShowSketchField PageId=\"9\" FieldId=\"1\" TLX=\"1\" TLY=\"2\" BRX=\"3\" BRY=\"4\" "
     u"State=\"3\" Value=\"\"/>"},
    {kFieldCheck,
     u"<Check FieldId=\"1\" AttribId=\"2\" Value=\"X\" State=\"1\" Index=\"0\" Alignment=\"1\"/>",
     u"<Check FieldId=\"1\" AttribId=\"2\" Index=\"0\"/>",
     u"<Check FieldId=\"1\" AttribId=\"2\" State=\"1\" Value=\"X\" Index=\"0\"/>",
     u"<ShowCheckField PageId=\"9\" FieldId=\"1\" State=\"1\" Value=\"X\" Index=\"0\"/>"},
    {kFieldRadio, u"<Radio FieldId=\"1\" AttribId=\"2\" Value=\"B\" State=\"1\" Index=\"0\"/>",
     u"<Radio FieldId=\"1\" AttribId=\"2\" Value=\"B\" Index=\"0\"/>",
     u"<Radio FieldId=\"1\" AttribId=\"2\" State=\"1\" Value=\"B\" Index=\"0\"/>",
     u"<ShowRadioField PageId=\"9\" FieldId=\"1\" State=\"1\" Value=\"B\" Index=\"0\"/>"},
};

TEST(KXFieldData, EveryKindReadsAndWritesItsThreeForms) {
  for (const KindCase& c : kKinds) {
    SCOPED_TRACE(U8(c.input));
    KXFieldData data;
    ASSERT_EQ(S_OK, data.ParseFieldData(c.type, Bstr(c.input), -1))
        << U8(TakeThreadErrorDescription());
    EXPECT_EQ(c.type, data.typeId);
    EXPECT_EQ(std::u16string(c.definition), Write(data, kFieldDataDefinition));
    EXPECT_EQ(std::u16string(c.full), Write(data, kFieldDataFull));
    EXPECT_EQ(std::u16string(c.show), Write(data, kFieldDataShow, 9));
  }
}

TEST(KXFieldData, WrittenFullFormReadsBackTheSameRecord) {
  for (const KindCase& c : kKinds) {
    SCOPED_TRACE(U8(c.input));
    KXFieldData first;
    ASSERT_EQ(S_OK, first.ParseFieldData(c.type, Bstr(c.input), -1));
    std::u16string written = Write(first, kFieldDataFull);
    KXFieldData second;
    ASSERT_EQ(S_OK, second.ParseFieldData(c.type, Bstr(written), -1));
    EXPECT_EQ(written, Write(second, kFieldDataFull));
  }
}

// Texts keep every character through a write and a read: the reader turns
// a raw tab, line feed or carriage return in an attribute into a blank, so
// the writer must not leave them raw.
TEST(KXFieldData, TextsWithBlanksOfEveryKindSurviveARoundTrip) {
  KXFieldData first;
  first.typeId = kFieldReal;
  const std::u16string text = u"a\tb\nc\rd  e\r\n";
  first.value.Assign(text.c_str());
  first.format.Assign(u"\t%.2f\t");
  std::u16string written = Write(first, kFieldDataFull);
  KXFieldData second;
  ASSERT_EQ(S_OK, second.ParseFieldData(kFieldReal, Bstr(written), -1)) << U8(written);
  EXPECT_EQ(text, second.value.str()) << U8(written);
  EXPECT_EQ(u"\t%.2f\t", second.format.str()) << U8(written);
}

// A text holding half of a surrogate pair (a broken UTF-16 text from the
// store) must not make the whole written record unreadable: the half is
// written as U+FFFD, whole pairs are kept.
TEST(KXFieldData, UnpairedSurrogateDoesNotSpoilTheRecord) {
  KXFieldData first;
  first.typeId = kFieldReal;
  const char16_t raw[] = {u'a', 0xD800, u'b', 0xDC00, 0xD83D, 0xDE00, 0xD800, 0};
  first.value.Assign(raw);
  first.fieldId = 4;
  std::u16string written = Write(first, kFieldDataFull);
  KXFieldData second;
  ASSERT_EQ(S_OK, second.ParseFieldData(kFieldReal, Bstr(written), -1))
      << U8(TakeThreadErrorDescription());
  EXPECT_EQ(4, second.fieldId);
  const char16_t expected[] = {u'a', 0xFFFD, u'b', 0xFFFD, 0xD83D, 0xDE00, 0xFFFD, 0};
  EXPECT_EQ(std::u16string(expected), second.value.str());
}

TEST(KXFieldData, ValuesOfASingleElement) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldCheck,
                                      Bstr(u"<Check FieldId=\"4\" AttribId=\"\" Value=\"on\" "
                                           u"State=\"12abc\" Index=\"3\"/>"),
                                      -1));
  EXPECT_EQ(kFieldCheck, data.typeId);
  EXPECT_EQ(4, data.fieldId);
  EXPECT_EQ(0, data.attribId);  // an empty integer stores 0
  EXPECT_EQ(u"on", data.value.str());
  EXPECT_EQ(12, data.state);
  EXPECT_EQ(3, data.index);
  EXPECT_TRUE(data.format.IsNull());

  KXFieldData sketch;
  ASSERT_EQ(S_OK, sketch.ParseFieldData(kFieldSketch,
                                        Bstr(u"<Sketch TLX=\"-1\" TLY=\"2\" BRX=\"30\" BRY=\"40\" "
                                             u"Value=\"data\"/>"),
                                        -1));
  EXPECT_EQ(-1, sketch.tlx);
  EXPECT_EQ(2, sketch.tly);
  EXPECT_EQ(30, sketch.brx);
  EXPECT_EQ(40, sketch.bry);

  KXFieldData note;
  ASSERT_EQ(S_OK, note.ParseFieldData(kFieldAnnotation,
                                      Bstr(u"<Annotation X=\"5\" Y=\"6\" Markup=\"YES\"/>"), -1));
  EXPECT_EQ(5, note.x);
  EXPECT_EQ(6, note.y);
  EXPECT_TRUE(note.markup);
}

TEST(KXFieldData, TypeIsAlwaysTheCallers) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldReal, Bstr(u"<String Value=\"x\"/>"), -1));
  EXPECT_EQ(kFieldReal, data.typeId);
  EXPECT_EQ(u"x", data.value.str());
}

const char16_t kThreeReals[] =
    u"<Fields><Real Index=\"1\" Value=\"a\"/><Real Index=\"2\" Value=\"b\" Prefix=\"p\"/>"
    u"<Real Index=\"3\" Value=\"c\"/></Fields>";

TEST(KXFieldData, ListChildIsChosenByIndex) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldReal, Bstr(kThreeReals), 2));
  EXPECT_EQ(kFieldReal, data.typeId);
  EXPECT_EQ(u"b", data.value.str());
  EXPECT_EQ(u"p", data.prefix.str());
  EXPECT_EQ(2, data.index);
  EXPECT_EQ(0u, data.ChildCount());
}

TEST(KXFieldData, ListWithoutIndexGivesTheFirstChild) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldReal, Bstr(kThreeReals), -1));
  EXPECT_EQ(u"a", data.value.str());
  EXPECT_EQ(1, data.index);
}

TEST(KXFieldData, ListWithoutTheIndexLeavesAClearedRecord) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldReal, Bstr(kThreeReals), 7));
  EXPECT_EQ(kFieldReal, data.typeId);
  EXPECT_TRUE(data.value.IsNull());
  EXPECT_TRUE(data.prefix.IsNull());
  EXPECT_EQ(-1, data.fieldId);
  EXPECT_EQ(0u, data.ChildCount());
}

TEST(KXFieldData, AnnotationIsNoListChild) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldAnnotation,
                                      Bstr(u"<Fields><Annotation Value=\"n\"/></Fields>"), -1));
  EXPECT_EQ(kFieldAnnotation, data.typeId);
  EXPECT_TRUE(data.value.IsNull());
}

TEST(KXFieldData, EmptyTextGivesAClearedRecordOfTheType) {
  KXFieldData data;
  ASSERT_EQ(S_OK,
            data.ParseFieldData(kFieldString, Bstr(u"<String FieldId=\"3\" Value=\"v\"/>"), -1));
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldDate, Bstr(u""), -1));
  EXPECT_EQ(kFieldDate, data.typeId);
  EXPECT_EQ(-1, data.fieldId);
  EXPECT_TRUE(data.value.IsNull());
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldBool, nullptr, -1));
  EXPECT_EQ(kFieldBool, data.typeId);
}

TEST(KXFieldData, IndexSurvivesATextWithoutIndex) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldString, Bstr(u"<String Index=\"5\"/>"), -1));
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldString, Bstr(u"<String Value=\"x\"/>"), -1));
  EXPECT_EQ(5, data.index);
}

TEST(KXFieldData, ATextReadAgainReadsAsItDidTheFirstTime) {
  // Readings of one text in a row, each into a fresh record, must each give
  // what a first reading gives, whatever was read before on this thread.
  const char16_t kReal[] = u"<Real FieldId=\"4\" Value=\"1\" Format=\"0.0\"/>";
  KXFieldData first;
  first.index = 7;
  ASSERT_EQ(S_OK, first.ParseFieldData(kFieldReal, Bstr(kReal), -1));
  EXPECT_EQ(7, first.index);
  KXFieldData second;
  ASSERT_EQ(S_OK, second.ParseFieldData(kFieldReal, Bstr(kReal), -1));
  EXPECT_EQ(-1, second.index);
  EXPECT_EQ(4, second.fieldId);
  EXPECT_EQ(u"0.0", second.format.str());
  KXFieldData asText;
  ASSERT_EQ(S_OK, asText.ParseFieldData(kFieldString, Bstr(kReal), -1));
  EXPECT_EQ(kFieldString, asText.typeId);
  KXFieldData b;
  KXFieldData c;
  ASSERT_EQ(S_OK, b.ParseFieldData(kFieldReal, Bstr(kThreeReals), 2));
  ASSERT_EQ(S_OK, c.ParseFieldData(kFieldReal, Bstr(kThreeReals), 3));
  EXPECT_EQ(u"b", b.value.str());
  EXPECT_EQ(u"c", c.value.str());
  // A record changed after its reading changes no later reading.
  second.format.Assign(u"0.000");
  KXFieldData third;
  ASSERT_EQ(S_OK, third.ParseFieldData(kFieldReal, Bstr(kReal), -1));
  EXPECT_EQ(u"0.0", third.format.str());
}

// A text read before is known again only as a whole: one that merely
// starts with it, or is the start of it, is read afresh.
TEST(KXFieldData, ATextThatOnlyStartsLikeOneReadBeforeIsReadAfresh) {
  const char16_t kRead[] = u"<String FieldId=\"4\" Value=\"v\"/>";
  KXFieldData first;
  ASSERT_EQ(S_OK, first.ParseFieldData(kFieldString, Bstr(kRead), -1));
  KXFieldData longer;
  const std::u16string withJunk = std::u16string(kRead) + u"<junk";
  EXPECT_TRUE(FAILED(longer.ParseFieldData(kFieldString, Bstr(withJunk.c_str()), -1)));
  TakeThreadErrorDescription();
  KXFieldData shorter;
  EXPECT_TRUE(FAILED(shorter.ParseFieldData(kFieldString, Bstr(u"<String FieldId=\"4\""), -1)));
  TakeThreadErrorDescription();
  KXFieldData again;
  ASSERT_EQ(S_OK, again.ParseFieldData(kFieldString, Bstr(kRead), -1));
  EXPECT_EQ(u"v", again.value.str());
}

TEST(KXFieldData, MalformedTextFails) {
  KXFieldData data;
  HRESULT hr = data.ParseFieldData(kFieldString, Bstr(u"<String Value=\"x\">"), -1);
  EXPECT_TRUE(FAILED(hr));
  std::u16string description = TakeThreadErrorDescription();
  EXPECT_EQ(0u, description.find(u"<KXError ")) << U8(description);
  EXPECT_NE(std::u16string::npos, description.find(u"MSXML Fatal error: ")) << U8(description);
}

// A stored text with a NUL inside is read up to the NUL, from a BSTR as
// from a zero-terminated text.
TEST(KXFieldData, TextWithANulIsReadUpToIt) {
  const std::u16string good(u"<String FieldId=\"4\" Value=\"v\"/>\0<junk", 37);
  const std::u16string bad(u"<String FieldId=\"4\"\0 Value=\"v\"/>", 32);
  for (const std::u16string& text : {good, bad}) {
    KXFieldData fromText;
    const HRESULT textHr = fromText.SelectField(text.c_str(), -1);
    const std::u16string textError = TakeThreadErrorDescription();
    KXFieldData fromBstr;
    const HRESULT bstrHr = fromBstr.SelectField(
        Bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())), false), -1);
    EXPECT_EQ(textHr, bstrHr);
    EXPECT_EQ(U8(textError), U8(TakeThreadErrorDescription()));
    EXPECT_EQ(fromText.typeId, fromBstr.typeId);
    EXPECT_EQ(fromText.fieldId, fromBstr.fieldId);
    EXPECT_EQ(fromText.value.str(), fromBstr.value.str());
  }
  KXFieldData record;
  ASSERT_EQ(S_OK, record.SelectField(Bstr(SysAllocStringLen(good.data(), 37), false), -1));
  EXPECT_EQ(kFieldString, record.typeId);
  EXPECT_EQ(u"v", record.value.str());
}

TEST(KXFieldData, UnknownTypeCannotBeWritten) {
  KXFieldData data;
  BSTR text = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(E_FAIL, data.WriteFieldData(&text, kFieldDataFull, 0));
  EXPECT_EQ(nullptr, text);
  EXPECT_NE(std::u16string::npos, TakeThreadErrorDescription().find(u"Unknown field type"));
  data.typeId = kFieldList;
  EXPECT_EQ(E_FAIL, data.WriteFieldData(&text, kFieldDataFull, 0));
  data.typeId = 10;
  EXPECT_EQ(E_FAIL, data.WriteFieldData(&text, kFieldDataFull, 0));
}

TEST(KXFieldData, ClearResetsAllButTheIndex) {
  KXFieldData data;
  ASSERT_EQ(S_OK, data.ParseFieldData(kFieldReal, Bstr(kKinds[2].input), -1));
  data.Clear();
  EXPECT_EQ(kFieldCleared, data.typeId);
  EXPECT_EQ(-1, data.fieldId);
  EXPECT_EQ(-1, data.attribId);
  EXPECT_EQ(-1, data.alignment);
  EXPECT_EQ(-1, data.verticalAlignment);
  EXPECT_EQ(0, data.state);
  EXPECT_TRUE(data.value.IsNull());
  EXPECT_TRUE(data.format.IsNull());
  EXPECT_EQ(2, data.index);
}

}  // namespace
