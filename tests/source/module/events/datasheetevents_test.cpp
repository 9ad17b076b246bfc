// The XML of the change events as the host delivers them, built from the
// store as it is at delivery.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "main/main.h"
#include "support/pagesfixture.h"

using namespace kx::test::pages;

namespace {

class EventXmlTest : public ::testing::Test {
 protected:
  // Delivers what is pending; the XML of each event ("-" for none).
  std::vector<std::string> Deliver() {
    std::vector<std::string> xml;
    for (const kx::host::DeliveredEvent& event : host_.app().DeliverPendingEvents()) {
      EXPECT_EQ(event.result, S_OK);
      xml.push_back(event.xml ? Narrow(*event.xml) : "-");
    }
    return xml;
  }
  Main& main() { return host_.main(); }
  IKXQObjectPtr Object(LONG id) { return host_.Object(id); }

  PagesHost host_;
};

TEST_F(EventXmlTest, ADatasheetEventHoldsOnePageElementPerPage) {
  host_.SetCurrent(kSummary, kSummaryPage);
  ASSERT_EQ(main().LaunchDatasheetEvent(Object(kSheet), 1), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0].rfind("<?xml version=\"1.0\"?><XMLMessage TargetId=\"100\" Status=\"1\">"
                         "<Datasheet Title=\"",
                         0),
            0u)
      << xml[0];
  EXPECT_NE(xml[0].find("\" Name=\"Pump sheet\"><Page PageId=\"101\" Name=\"Sheet 1\" "
                        "TemplatePageId=\"A\" TemplateId=\"TP\" Checknum=\"2\" PaperSource=\"3\"/>"
                        "<Page PageId=\"102\""),
            std::string::npos)
      << xml[0];
  EXPECT_EQ(Count(xml[0], "<Page "), 3u);
  EXPECT_NE(xml[0].find("</Datasheet></XMLMessage>"), std::string::npos);
  EXPECT_EQ(host_.Current(), "#400 #401");
}

TEST_F(EventXmlTest, APageEventCarriesThePagesFieldsAndListsUnderItsDatasheet) {
  ASSERT_EQ(main().LaunchPageEvent(Object(kPage1), 1), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  // The fields first, as the loader writes them (no case: the stored values,
  // marked against the issued copy and out of scope).
  EXPECT_EQ(
      xml[0],
      "<?xml version=\"1.0\"?><XMLMessage TargetId=\"100\" Status=\"1\">"
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
      "<ShowQualifier PageId=\"101\" QualifierId=\"0\" Value=\"2\"/></XMLMessage>");
  EXPECT_EQ(host_.Current(), "none none");
}

TEST_F(EventXmlTest, AUnitEventNamesTheDimensionSetFirst) {
  ASSERT_EQ(main().LaunchUnitFieldEvent(Object(kPage1), 0, 1), S_OK);
  ASSERT_EQ(main().LaunchUnitFieldEvent(Object(kPage1), 0, 1), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0],
            "<?xml version=\"1.0\"?><XMLMessage BaseDimensionSet=\"SI\" TargetId=\"100\" "
            "Status=\"1\"><ShowUnit PageId=\"101\" UnitId=\"0\" Alignment=\"1\" "
            "VerticalAlignment=\"2\" Value=\"millimetre\"/></XMLMessage>");
}

TEST_F(EventXmlTest, AnnotationEventsWriteDeletedAnnotationsAsSuch) {
  ASSERT_EQ(main().LaunchAnnotationFieldEvent(Object(kPage1), 5, 1), S_OK);
  ASSERT_EQ(main().LaunchAnnotationFieldEvent(Object(kPage1), 1, 1), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0],
            "<?xml version=\"1.0\"?><XMLMessage TargetId=\"100\" Status=\"1\">"
            "<ShowAnnotationField PageId=\"101\" FieldId=\"1\" X=\"5\" Y=\"6\" Markup=\"0\" "
            "Value=\"Check flow\" State=\"0\"/>"
            "<DeleteAnnotationField PageId=\"101\" FieldId=\"5\"/></XMLMessage>");
}

TEST_F(EventXmlTest, QualifierEventsWriteTheStoredChoice) {
  ASSERT_EQ(main().LaunchQualifierEvent(Object(kPage1), 0, 1), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0],
            "<?xml version=\"1.0\"?><XMLMessage TargetId=\"100\" Status=\"1\">"
            "<ShowQualifier PageId=\"101\" QualifierId=\"0\" Value=\"2\"/></XMLMessage>");
}

TEST_F(EventXmlTest, AnEventWhosePageWasDeletedIsDeliveredWithoutXmlAndAWarning) {
  ASSERT_EQ(main().LaunchPageEvent(Object(kPage2), 1), S_OK);
  ASSERT_EQ(main().LaunchQualifierEvent(Object(kPage2), 0, 1), S_OK);
  ASSERT_EQ(Object(kPage2)->Delete(), S_OK);
  host_.SetCurrent(kSummary, 0);
  const std::vector<std::string> xml = Deliver();
  EXPECT_EQ(xml, (std::vector<std::string>{"-", "-"}));
  ASSERT_EQ(host_.app().warnings().size(), 2u);
  EXPECT_NE(Narrow(host_.app().warnings()[0]).find("102"), std::string::npos)
      << Narrow(host_.app().warnings()[0]);
  EXPECT_EQ(host_.Current(), "#400 none");
}

}  // namespace
