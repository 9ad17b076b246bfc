// "OpenPage", "ListPageObjects" and "ComparePages" end to end: the host
// sends the message to a Main created in-process, which reads a small store.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "loader/loaddatasheet.h"
#include "main/main.h"
#include "model/kxfielddata.h"
#include "pages/pages.h"
#include "support/pagesfixture.h"

using namespace kx::test::pages;

namespace {

class OpenPageTest : public ::testing::Test {
 protected:
  std::string Reply(const kx::host::RequestResult& result) {
    EXPECT_TRUE(result.succeeded()) << Narrow(result.error);
    return Narrow(result.reply);
  }
  PagesHost host_;
};

// The contents of the issued page 111 as the writers define them: stored
// fields (the empty position gives nothing, the broken one a warning),
// units in their display text, revisions, annotations, qualifiers.
const char kIssuedContents[] =
    "<ShowStringField PageId=\"111\" FieldId=\"1\" State=\"5\" Value=\"P-1 &amp; co\"/>"
    "<ShowRealField PageId=\"111\" FieldId=\"2\" Prefix=\"~\" Format=\"0.0\" State=\"2048\" "
    "Value=\"10\"/>"
    "<ShowUnit PageId=\"111\" UnitId=\"0\" Alignment=\"1\" VerticalAlignment=\"2\" "
    "Value=\"metre\"/>"
    "<ShowRevision PageId=\"111\" RevisionId=\"0\" Alignment=\"2\" VerticalAlignment=\"1\" "
    "Value=\"A\"/>"
    "<ShowAnnotationField PageId=\"111\" FieldId=\"1\" X=\"5\" Y=\"6\" Markup=\"0\" "
    "Value=\"Check flow\" State=\"0\"/>"
    "<ShowAnnotationField PageId=\"111\" FieldId=\"2\" X=\"1\" Y=\"2\" Markup=\"1\" "
    "Value=\"Issued note\" State=\"0\"/>"
    "<ShowQualifier PageId=\"111\" QualifierId=\"0\" Value=\"1\"/>";

TEST_F(OpenPageTest, IssuedPageIsWrittenFromItsStoredTexts) {
  host_.SetCurrent(kSummary, kSummaryPage);
  const kx::host::RequestResult result = host_.Request(u"OpenPage", u"111");
  EXPECT_EQ(Reply(result), std::string("<XMLMessage TargetId=\"100\" Status=\"4\">"
                                       "<OpenPage PageId=\"111\" OnDemand=\"1\">") +
                               kIssuedContents + "</OpenPage></XMLMessage>");
  ASSERT_EQ(result.warnings.size(), 1u);
  EXPECT_NE(Narrow(result.warnings[0]).find("MSXML"), std::string::npos)
      << Narrow(result.warnings[0]);
  EXPECT_EQ(host_.Current(), "#400 #401");
}

TEST_F(OpenPageTest, ATrailingBangTurnsOnDemandOffAndLeadingBlanksStay) {
  const std::string bang = Reply(host_.Request(u"OpenPage", u"111!"));
  EXPECT_EQ(bang.rfind("<XMLMessage TargetId=\"100\" Status=\"4\">"
                       "<OpenPage PageId=\"111\" OnDemand=\"0\">",
                       0),
            0u)
      << bang;
  EXPECT_NE(bang.find(kIssuedContents), std::string::npos);
  const std::string fromFile = Reply(host_.Request(u"OpenPage", u"111!\r\n"));
  EXPECT_NE(fromFile.find("<OpenPage PageId=\"111\" OnDemand=\"0\">"), std::string::npos);
  const std::string blanks = Reply(host_.Request(u"OpenPage", u"  111!"));
  EXPECT_NE(blanks.find("<OpenPage PageId=\"  111\" OnDemand=\"0\">"), std::string::npos);
}

TEST_F(OpenPageTest, ACurrentPageWritesItsFieldsAndLists) {
  const std::string reply = Reply(host_.Request(u"OpenPage", u"101"));
  // The fields have no case: no value behind them is read, the stored
  // values stay, marked against the issued copy and out of scope.
  EXPECT_EQ(
      reply,
      "<XMLMessage TargetId=\"100\" Status=\"1\"><OpenPage PageId=\"101\" OnDemand=\"1\">"
      "<ShowStringField PageId=\"101\" FieldId=\"1\" Alignment=\"0\" "
      "VerticalAlignment=\"0\" State=\"2304\" Value=\"P-1\"/>"
      "<ShowRealField PageId=\"101\" FieldId=\"2\" Alignment=\"0\" VerticalAlignment=\"0\" "
      "State=\"2304\" Value=\"12.5\"/>"
      "<ShowCheckField PageId=\"101\" FieldId=\"3\" State=\"2304\" Value=\"1\"/>"
      "<ShowUnit PageId=\"101\" UnitId=\"0\" Alignment=\"1\" VerticalAlignment=\"2\" "
      "Value=\"millimetre\"/>"
      "<ShowRevision PageId=\"101\" RevisionId=\"0\" Alignment=\"2\" VerticalAlignment=\"1\"/>"
      "<ShowRevision PageId=\"101\" RevisionId=\"1\" Alignment=\"2\" VerticalAlignment=\"1\" "
      "Value=\"B\"/>"
      "<ShowRevision PageId=\"101\" RevisionId=\"2\" Alignment=\"2\" VerticalAlignment=\"1\"/>"
      "<ShowAnnotationField PageId=\"101\" FieldId=\"1\" X=\"5\" Y=\"6\" Markup=\"0\" "
      "Value=\"Check flow\" State=\"0\"/>"
      "<ShowQualifier PageId=\"101\" QualifierId=\"0\" Value=\"2\"/>"
      "</OpenPage></XMLMessage>");
  // A unit entry without value shows the unit definition's own unit.
  EXPECT_NE(Reply(host_.Request(u"OpenPage", u"103"))
                .find("<ShowUnit PageId=\"103\" UnitId=\"0\" Alignment=\"1\" "
                      "VerticalAlignment=\"2\" Value=\"millimetre\"/>"),
            std::string::npos);
}

TEST_F(OpenPageTest, ACurrentPagesFieldWithoutIndexShowsNoneWhateverTheFieldBeforeIt) {
  // The first record names an index, the second none: the second shows
  // none, as it would alone.
  IKXQAttributePtr fields;
  GetAttributeInterface(host_.Object(101), u"Fields", fields);
  ASSERT_TRUE(fields);
  SetAttributeValueAt(fields, 1, u"<String FieldId=\"1\" Value=\"P-1\" Index=\"7\"/>");
  const std::string reply = Reply(host_.Request(u"OpenPage", u"101"));
  EXPECT_NE(reply.find("<ShowStringField PageId=\"101\" FieldId=\"1\" Alignment=\"0\" "
                       "VerticalAlignment=\"0\" State=\"2304\" Value=\"P-1\" Index=\"7\"/>"
                       "<ShowRealField PageId=\"101\" FieldId=\"2\" Alignment=\"0\" "
                       "VerticalAlignment=\"0\" State=\"2304\" Value=\"12.5\"/>"),
            std::string::npos)
      << reply;
}

TEST_F(OpenPageTest, APageFetchedOnDemandGetsItsFieldTrigger) {
  auto has = [&](LONG id) {
    VARIANT_BOOL found = VARIANT_FALSE;
    EXPECT_EQ(host_.Object(id)->HasTrigger(_bstr_t(u"Field"), &found), S_OK);
    return found != VARIANT_FALSE;
  };
  Reply(host_.Request(u"OpenPage", u"103!"));
  EXPECT_FALSE(has(kPage3));
  Reply(host_.Request(u"OpenPage", u"103"));
  EXPECT_TRUE(has(kPage3));
}

TEST_F(OpenPageTest, AnnotationsOfOtherVersionsAreMarkedWhenTheyDifferFromTheIssuedOne) {
  const std::string reply = Reply(host_.Request(u"OpenPage", u"121"));
  EXPECT_EQ(reply,
            "<XMLMessage TargetId=\"100\" Status=\"2\"><OpenPage PageId=\"121\" OnDemand=\"1\">"
            "<ShowStringField PageId=\"121\" FieldId=\"1\" State=\"0\" Value=\"P-1 sub\"/>"
            "<ShowAnnotationField PageId=\"121\" FieldId=\"1\" X=\"5\" Y=\"6\" Markup=\"0\" "
            "Value=\"Check flow!\" State=\"256\"/>"
            "</OpenPage></XMLMessage>");
}

TEST_F(OpenPageTest, RowsOfAStoredContinuousListCarryTheirIndex) {
  const std::string reply = Reply(host_.Request(u"OpenPage", u"711"));
  EXPECT_NE(reply.find("<ShowStringField PageId=\"711\" FieldId=\"101\" State=\"0\" "
                       "Value=\"head\"/>"
                       "<ShowStringField PageId=\"711\" FieldId=\"201\" State=\"0\" Value=\"P-1\" "
                       "Index=\"0\"/>"
                       "<ShowStringField PageId=\"711\" FieldId=\"201\" State=\"0\" Value=\"P-2\" "
                       "Index=\"1\"/>"),
            std::string::npos)
      << reply;
  // Revision positions past the value keys take the row's keys again.
  EXPECT_NE(reply.find("RevisionId=\"3\" Alignment=\"0\" VerticalAlignment=\"0\" Value=\"r0\" "
                       "Index=\"0\"/>"),
            std::string::npos)
      << reply;
  EXPECT_NE(reply.find("RevisionId=\"3\" Alignment=\"0\" VerticalAlignment=\"0\" Value=\"r1\" "
                       "Index=\"1\"/>"),
            std::string::npos)
      << reply;
}

// Stored records of every kind and shape, for the issued continuous page
// 711 (fixed positions 1-3, rows of three from position 4): escapes,
// character references, text beyond ASCII, empty values, a list, records
// that cannot be written or read, and more records than one page parses
// before its parser indexes the grammar.
const std::vector<std::u16string> kStoredRecords = {
    u"<String FieldId=\"101\" Value=\"a &amp; b &lt;c&gt; &quot;q&quot; &apos;s&apos;\"/>",
    u"<String FieldId=\"102\" Value=\"caf\u00e9 \u4e2d\u6587 \U0001F600\" State=\"1\"/>",
    u"<String FieldId=\"103\" Value=\"\"/>",
    u"<Real FieldId=\"201\" AttribId=\"7\" Value=\"1.5\" Prefix=\"~\" Postfix=\"m\" "
    u"Substitution=\"-\" Format=\"0.00\" Alignment=\"2\" VerticalAlignment=\"1\" "
    u"State=\"2048\" Index=\"9\"/>",
    u"",
    u"<Check FieldId=\"203\" Value=\"1\"/>",
    u"<Fields/>",  // no record: it cannot be written
    u"<Integer FieldId=\"202\" Value=\"42\" Format=\"0\"/>",
    u"<Fields><Bool FieldId=\"203\" Value=\"1\"/><Date FieldId=\"1\" Value=\"x\"/></Fields>",
    u"<Radio FieldId=\"201\" Value=\"2\" State=\"3\"/>",
    u"<Sketch FieldId=\"202\" TLX=\"1\" TLY=\"2\" BRX=\"3\" BRY=\"4\" Value=\"s\"/>",
    u"<Date FieldId=\"203\" Value=\"2024-01-02\" Format=\"yyyy\" Alignment=\"0\"/>",
    u"<Annotation FieldId=\"201\" X=\"3\" Y=\"4\" Markup=\"1\" Value=\"note\"/>",
    u"<String FieldId=\"202\" Value=\"tab&#9;line&#10;end\" Unknown=\"x\"/>",
    u"<String FieldId=\"203\" Value=\"broken",
    u"<string FieldId=\"201\" Value=\"lower\"/>",  // no element of the grammar
    u"<String FieldId=\"202\" Value=\"after\"/>",
};

std::string EscapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
  return out;
}

// The page fixture with `records` as the stored fields of page 711.
std::string FixtureWithStoredRecords(const std::vector<std::u16string>& records) {
  std::string fixture = kPagesFixture;
  const size_t page = fixture.find("<object id=\"711\"");
  const size_t revisions = fixture.find("<value attribute=\"Revisions\"", page);
  const size_t fields = fixture.find("<value attribute=\"Fields\"", page);
  std::string values;
  for (const std::u16string& record : records) {
    values += record.empty()
                  ? "<value attribute=\"Fields\" empty=\"true\"/>"
                  : "<value attribute=\"Fields\">" + EscapeXml(Narrow(record)) + "</value>";
  }
  return fixture.replace(fields, revisions - fields, values);
}

TEST_F(OpenPageTest, EachStoredRecordIsWrittenAsARecordReadAndWrittenAloneWritesIt) {
  PagesHost host(FixtureWithStoredRecords(kStoredRecords).c_str());
  const kx::host::RequestResult result = host.Request(u"OpenPage", u"711");
  const std::string reply = Reply(result);
  // Each record read into a record of its own and written to a text of its
  // own; rows carry their index.
  std::string expected;
  size_t failures = 0;
  for (size_t i = 0; i < kStoredRecords.size(); ++i) {
    if (kStoredRecords[i].empty()) continue;
    const int32_t position = static_cast<int32_t>(i) + 1;
    KXFieldData record;
    BSTR text = nullptr;
    HRESULT hr = record.SelectField(kStoredRecords[i].c_str(), -1);
    if (SUCCEEDED(hr)) {
      if (position >= 4) record.index = (position - 4) / 3;
      hr = record.WriteFieldData(&text, kFieldDataShow, kListIssued);
    }
    ClearThreadErrorInfo();
    if (FAILED(hr)) {
      ++failures;
      continue;
    }
    expected += Narrow(text);
    SysFreeString(text);
  }
  const std::string head = "<OpenPage PageId=\"711\" OnDemand=\"1\">";
  EXPECT_NE(reply.find(head + expected + "<ShowRevision "), std::string::npos) << reply << "\n"
                                                                               << expected;
  EXPECT_EQ(failures, 3u);
  EXPECT_EQ(result.warnings.size(), failures);
  // What the writers define, for the texts the reader decodes.
  EXPECT_NE(expected.find("<ShowStringField PageId=\"711\" FieldId=\"101\" State=\"0\" "
                          "Value=\"a &amp; b &lt;c&gt; &quot;q&quot; &apos;s&apos;\"/>"
                          "<ShowStringField PageId=\"711\" FieldId=\"102\" State=\"1\" "
                          "Value=\"caf\u00e9 \u4e2d\u6587 \U0001F600\"/>"
                          "<ShowStringField PageId=\"711\" FieldId=\"103\" State=\"0\"/>"
                          "<ShowRealField PageId=\"711\" FieldId=\"201\" Prefix=\"~\" "
                          "Postfix=\"m\" Substitution=\"-\" Format=\"0.00\" Alignment=\"2\" "
                          "VerticalAlignment=\"1\" State=\"2048\" Value=\"1.5\" Index=\"0\"/>"),
            std::string::npos)
      << expected;
  EXPECT_NE(expected.find("<ShowIntegerField PageId=\"711\" FieldId=\"202\" Format=\"0\" "
                          "State=\"0\" Value=\"42\" Index=\"1\"/>"),
            std::string::npos)
      << expected;
  EXPECT_NE(expected.find("Value=\"tab&#9;line&#10;end\" Index=\"3\"/>"
                          "<ShowStringField PageId=\"711\" FieldId=\"202\" State=\"0\" "
                          "Value=\"after\" Index=\"4\"/>"),
            std::string::npos)
      << expected;
}

TEST_F(OpenPageTest, RevisionsWithoutARepeatingValueBecomeWarnings) {
  // The rows of template "TZ" have no values of their own: revision
  // positions past the one value key map to nothing.
  const kx::host::RequestResult result = host_.Request(u"OpenPage", u"801");
  const std::string reply = Reply(result);
  EXPECT_EQ(Count(reply, "<ShowRevision "), 1u) << reply;
  EXPECT_NE(reply.find("RevisionId=\"0\" Alignment=\"0\" VerticalAlignment=\"0\" Value=\"a\"/>"),
            std::string::npos);
  ASSERT_EQ(result.warnings.size(), 2u);
  EXPECT_NE(Narrow(result.warnings[0]).find("Revision index 1 has no value"), std::string::npos)
      << Narrow(result.warnings[0]);
}

TEST_F(OpenPageTest, AnIdThatNamesNoPageFailsWithTheStoresErrorAndWritesNothing) {
  host_.SetCurrent(kSheet, kPage2);
  const kx::host::RequestResult result = host_.Request(u"OpenPage", u"999");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(Narrow(result.reply), "");
  EXPECT_EQ(Narrow(result.error).rfind("<KXError", 0), 0u);
  EXPECT_NE(Narrow(result.error).find("No object with id 999"), std::string::npos);
  EXPECT_EQ(host_.Current(), "#100 #102");
}

TEST_F(OpenPageTest, AFailureWhileWritingStillPutsBackTheCurrentDocument) {
  host_.SetCurrent(kSummary, 0);
  // A datasheet is no page: it has no template page to write from.
  const kx::host::RequestResult result = host_.Request(u"OpenPage", u"100");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(host_.Current(), "#400 none");
}

TEST_F(OpenPageTest, ACircularOverspillChainFailsInsteadOfLooping) {
  const kx::host::RequestResult result = host_.Request(u"OpenPage", u"601");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(FirstDesc(result.error), "The overspill chain of page 601 is circular");
  EXPECT_EQ(host_.Current(), "none none");
}

TEST_F(OpenPageTest, ListPageObjectsListsEachAttachedObjectOnce) {
  // Page 101 holds pump 10 and motor 12; the template attaches pumps only.
  EXPECT_EQ(Reply(host_.Request(u"ListPageObjects", u"101")),
            "<XMLMessage TargetId=\"App\"><Objects><ObjectId>10</ObjectId></Objects>"
            "</XMLMessage>");
  // Page 102 holds pump 11 at both of its root nodes.
  EXPECT_EQ(Reply(host_.Request(u"ListPageObjects", u"102")),
            "<XMLMessage TargetId=\"App\"><Objects><ObjectId>11</ObjectId></Objects>"
            "</XMLMessage>");
  EXPECT_EQ(Reply(host_.Request(u"ListPageObjects", u"103")),
            "<XMLMessage TargetId=\"App\"><Objects></Objects></XMLMessage>");
  const kx::host::RequestResult missing = host_.Request(u"ListPageObjects", u"998");
  EXPECT_FALSE(missing.succeeded());
  EXPECT_EQ(Narrow(missing.reply), "");
}

TEST_F(OpenPageTest, ComparePagesWritesTheHeadOfTheListThatHoldsThePage) {
  const std::string reply =
      Reply(host_.Request(u"ComparePages",
                          u"<XMLMessage TargetId=\"x\" Status=\"1\"><ComparePages PageId=\"121\" "
                          u"DocumentId2=\"400\" Status2=\"1\"/></XMLMessage>"));
  // The page is held in "SubmittedPages": status 2 whatever the request said.
  EXPECT_EQ(reply.rfind("<XMLMessage TargetId=\"100\" Status=\"2\">"
                        "<OpenPage PageId=\"121\" OnDemand=\"1\">",
                        0),
            0u)
      << reply;
  const kx::host::RequestResult bad =
      host_.Request(u"ComparePages",
                    u"<XMLMessage Status=\"1\"><ComparePages PageId=\"121\" "
                    u"DocumentId2=\"999\" Status2=\"1\"/></XMLMessage>");
  EXPECT_FALSE(bad.succeeded());
  EXPECT_EQ(Narrow(bad.reply), "");
}

TEST_F(OpenPageTest, ComparisonOnlyWithTheSameTemplateVersion) {
  // Same template: the issued page is written against the other version
  // (its live values): the empty real shows the other's value (0x1000), in
  // the unit the issued page shows (the current page's 12.5 mm in m).
  const std::string same =
      Reply(host_.Request(u"ComparePages",
                          u"<XMLMessage Status=\"4\"><ComparePages PageId=\"111\" "
                          u"DocumentId2=\"100\" Status2=\"1\"/></XMLMessage>"));
  EXPECT_NE(same.find("<ShowRealField PageId=\"111\" FieldId=\"2\" Alignment=\"0\" "
                      "VerticalAlignment=\"0\" State=\"4352\" Value=\"0.0125\"/>"),
            std::string::npos)
      << same;
  // Another template: the plain page.
  const std::string other =
      Reply(host_.Request(u"ComparePages",
                          u"<XMLMessage Status=\"4\"><ComparePages PageId=\"111\" "
                          u"DocumentId2=\"400\" Status2=\"1\"/></XMLMessage>"));
  EXPECT_NE(other.find(kIssuedContents), std::string::npos) << other;

  PageLoadContext context(&host_.main());
  KXDBDatasheetSvcs::SetComparisonPartner(context, &host_.app(), host_.Object(kSheet), 1,
                                          host_.Object(kSheet), 4);
  EXPECT_EQ(context.m_comparisonDatasheet.GetInterfacePtr(),
            host_.Object(kSheet).GetInterfacePtr());
  EXPECT_EQ(context.m_comparisonStatus, 4);
  PageLoadContext plain(&host_.main());
  KXDBDatasheetSvcs::SetComparisonPartner(plain, &host_.app(), host_.Object(kSheet), 1,
                                          host_.Object(kSummary), 1);
  EXPECT_FALSE(plain.m_comparisonDatasheet);
  EXPECT_EQ(plain.m_comparisonStatus, -1);
}

}  // namespace
