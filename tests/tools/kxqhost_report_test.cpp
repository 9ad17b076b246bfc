// The field queries through the host program: the datasheet object
// service's "GetRealFieldsWithUOM" and the message "GetInfoForReport", on a
// pump whose bearing temperature is held three owners deep.
#include <gtest/gtest.h>
#include <string>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class ReportCliTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_TEST_DATA) + "/uom-plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }

  Outcome Report(const std::string& fields) {
    return Host({"request", "GetInfoForReport", "-"},
                "<XMLMessage TargetId=\"20\" Status=\"1\"><GetInfoForReport>" + fields +
                    "</GetInfoForReport></XMLMessage>");
  }
};

TEST_F(ReportCliTest, RealFieldsWithUnitsListEveryOwnerOfTheValue) {
  const Outcome listed = Host({"service", "10", "20", "GetRealFieldsWithUOM"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  // The flow on the pump itself once; the bearing temperature (a field
  // typed "REAL") for the bearing, its motor and the pump, with the holder
  // names joined in front. The integer, the real without value and the real
  // without unit are left out.
  EXPECT_EQ(listed.out,
            "<Fields>"
            "<Field OID=\"10\" Name=\"Flow\" Value=\"2 l/s\"/>"
            "<Field OID=\"13\" Name=\"Temperature\" Value=\"55.5 C\"/>"
            "<Field OID=\"11\" Name=\"Bearings.Temperature\" Value=\"55.5 C\"/>"
            "<Field OID=\"10\" Name=\"Motors.Bearings.Temperature\" Value=\"55.5 C\"/>"
            "</Fields>\n");
}

TEST_F(ReportCliTest, RealFieldsOfAnObjectThatIsNoDatasheetAreRefused) {
  const Outcome refused = Host({"service", "10", "13", "GetRealFieldsWithUOM"});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("Activity=\"DatasheetServices::GetRealFieldsWithUOM\""),
            std::string::npos)
      << refused.err;
}

TEST_F(ReportCliTest, ReportGivesOneRecordPerDistinctlyNamedInstance) {
  const std::string before = Host({"dump", "15"}).out;
  // The pump node's classes also name Page, Document and GlobalsClass, and
  // Pump twice: none of them adds a record. Pump 16 is named like pump 10.
  // Field 1 of page 41 is on a summary sheet: nothing.
  const Outcome reported = Report(
      "<Field FieldId=\"2\" PageId=\"21\"/><Field FieldId=\"4\" PageId=\"21\"/>"
      "<Field FieldId=\"1\" PageId=\"41\"/>");
  ASSERT_EQ(reported.status, 0) << reported.err;
  EXPECT_EQ(reported.out,
            "<XMLMessage TargetId=\"20\" Status=\"1\">"
            "<ObjectInfo Name=\"P-101\"><AttributeName>Flow</AttributeName><Value>2</Value>"
            "<UOM>l/s</UOM></ObjectInfo>"
            "<ObjectInfo Name=\"P-102\"><AttributeName>Flow</AttributeName><Value/>"
            "<UOM>l/s</UOM></ObjectInfo>"
            "<ObjectInfo Name=\"P-101\"><AttributeName>Temperature</AttributeName>"
            "<Value>55.5</Value><UOM>C</UOM></ObjectInfo>"
            "<ObjectInfo Name=\"P-102\"><AttributeName>Temperature</AttributeName><Value/>"
            "<UOM>C</UOM></ObjectInfo>"
            "</XMLMessage>\n");
  // Reading pump 15's missing bearing created nothing.
  EXPECT_EQ(Host({"dump", "15"}).out, before);
}

TEST_F(ReportCliTest, ReportPairsFieldsAndPagesInTheOrderMet) {
  const Outcome empty = Report("");
  ASSERT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "<XMLMessage TargetId=\"20\" Status=\"1\"></XMLMessage>\n");
  // A "Field" without "PageId" shifts the pairing: field 1 goes with page
  // 21, the surplus field 2 is ignored.
  const Outcome shifted = Report("<Field FieldId=\"1\"/><Field FieldId=\"2\" PageId=\"21\"/>");
  ASSERT_EQ(shifted.status, 0) << shifted.err;
  EXPECT_NE(shifted.out.find("<AttributeName>Name</AttributeName><Value>P-101</Value><UOM/>"),
            std::string::npos)
      << shifted.out;
  EXPECT_EQ(shifted.out.find("Flow"), std::string::npos) << shifted.out;
}

TEST_F(ReportCliTest, ReportOfAnUnknownPageFails) {
  const Outcome failed = Report("<Field FieldId=\"2\" PageId=\"999\"/>");
  EXPECT_NE(failed.status, 0);
  EXPECT_NE(failed.err.find("<KXError"), std::string::npos) << failed.err;
}

// The report's values as the system's own conversion to text writes them,
// on the sample plant's vessel sheet (page 1061): a real to 15 significant
// digits, a date, Booleans -1 and 0.
class SampleReportTest : public KxqhostTest {};

TEST_F(SampleReportTest, ReportValuesAreTheSystemsTextOfTheValue) {
  const Outcome made =
      Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
  ASSERT_EQ(made.status, 0) << made.err;
  WriteText(dir_ / "report.kxq",
            "set 131 InServiceDate 2024-01-01\n"
            "set 131 Jacketed true\n"
            "set 132 Jacketed false\n"
            "set 131 InsideDiameter 1234.5678901234567 mm\n"
            "request GetInfoForReport <<END\n"
            "<XMLMessage TargetId=\"Editor\" Status=\"1\"><GetInfoForReport>"
            "<Field FieldId=\"503\" PageId=\"1061\"/><Field FieldId=\"509\" PageId=\"1061\"/>"
            "<Field FieldId=\"510\" PageId=\"1061\"/></GetInfoForReport></XMLMessage>\n"
            "END\n");
  const Outcome reported = Host({"run", dir_ / "report.kxq"});
  ASSERT_EQ(reported.status, 0) << reported.err;
  for (const char* record :
       {"<ObjectInfo Name=\"V-101\"><AttributeName>InsideDiameter</AttributeName>"
        "<Value>1234.56789012346</Value><UOM>mm</UOM></ObjectInfo>",
        "<ObjectInfo Name=\"V-101\"><AttributeName>InServiceDate</AttributeName>"
        "<Value>2024-01-01</Value><UOM/></ObjectInfo>",
        "<ObjectInfo Name=\"V-101\"><AttributeName>Jacketed</AttributeName>"
        "<Value>-1</Value><UOM/></ObjectInfo>",
        "<ObjectInfo Name=\"V-102\"><AttributeName>Jacketed</AttributeName>"
        "<Value>0</Value><UOM/></ObjectInfo>",
        "<ObjectInfo Name=\"V-103\"><AttributeName>Jacketed</AttributeName>"
        "<Value/><UOM/></ObjectInfo>"}) {
    EXPECT_NE(reported.out.find(record), std::string::npos) << record << "\n" << reported.out;
  }
}

// A page whose "Units" entry is empty shows its unit field's default unit
// (kPa for pressures): P-102A's pressures, entered in psi, are read and
// written in that unit wherever the label shows it.
TEST_F(SampleReportTest, AValueIsInTheUnitItsLabelNames) {
  const Outcome made =
      Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
  ASSERT_EQ(made.status, 0) << made.err;
  WriteText(dir_ / "units.kxq",
            "set 1031 Units[2]\n"
            "request OpenDocuments <<END\n"
            "<XMLMessage><OpenDocuments><Datasheet DocumentId=\"1003\" Status=\"1\"/>"
            "</OpenDocuments></XMLMessage>\n"
            "END\n"
            "request GetFieldProperties <<END\n"
            "<XMLMessage><GetFieldProperties PageId=\"1031\" FieldId=\"104\"/></XMLMessage>\n"
            "END\n"
            "request GetInfoForReport <<END\n"
            "<XMLMessage><GetInfoForReport><Field FieldId=\"104\" PageId=\"1031\"/>"
            "</GetInfoForReport></XMLMessage>\n"
            "END\n"
            "request SetRealField <<END\n"
            "<XMLMessage Status=\"1\"><SetRealField PageId=\"1031\" FieldId=\"105\" "
            "Value=\"2000\"/></XMLMessage>\n"
            "END\n"
            "dump 103\n");
  const Outcome shown = Host({"run", dir_ / "units.kxq"});
  ASSERT_EQ(shown.status, 0) << shown.err;
  for (const char* text :
       {"<ShowRealField PageId=\"1031\" FieldId=\"104\" Alignment=\"0\" VerticalAlignment=\"0\" "
        "State=\"256\" Value=\"655.0019428509943\"/>",
        "<ShowUnit PageId=\"1031\" UnitId=\"1\" Alignment=\"0\" VerticalAlignment=\"0\" "
        "Value=\"kPa\"/>",
        " Value=\"655.0019428509943\" Units=\"kPa\" ",
        "<ObjectInfo Name=\"P-102A\"><AttributeName>SuctionPressure</AttributeName>"
        "<Value>655.001942850994</Value><UOM>kPa</UOM></ObjectInfo>",
        "DischargePressure = 2000 kPa\n"}) {
    EXPECT_NE(shown.out.find(text), std::string::npos) << text << "\n" << shown.out;
  }
}

}  // namespace
}  // namespace kx::test::tools
