// Permanent filters and the copies of a datasheet, through kxqhost on the
// sample plant with two more object filters: an object that comes to pass
// a list's filter becomes a row, a key the filter cannot apply is a
// warning, and what changes pages after the fact (the filter, database
// events, requests) changes current pages only: a copy keeps its record.
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "support/host_fixture.h"

namespace kx::test::tools {
namespace {

class KxqhostCopiesTest : public KxqhostTest {
 protected:
  void SetUp() override {
    std::string plant = ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
    const std::string pumps = "<filter name=\"Pumps\" title=\"All pumps\" class=\"Pump\"/>";
    plant.insert(plant.find(pumps) + pumps.size(),
                 "<filter name=\"Northfield\" title=\"Northfield pumps\" class=\"Pump\" "
                 "attribute=\"Manufacturer\" value=\"Northfield Pumps\"/>"
                 "<filter name=\"Anything\" title=\"Any object\" class=\"GenericClass\"/>");
    WriteText(dir_ / "plant.xml", plant);
    ASSERT_EQ(Host({"init", "--fixture", dir_ / "plant.xml"}).status, 0);
  }
  Outcome Run(const std::string& steps, std::vector<std::string> options = {}) {
    WriteText(dir_ / "steps.kxq", steps);
    options.insert(options.end(), {"--events", "run", dir_ / "steps.kxq"});
    return Host(options);
  }
  // The output of the first step from `from` on that begins with `step`.
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  static std::string Step(const std::string& out, const std::string& step, size_t from = 0) {
    const size_t start = out.find("## " + step, from);
    if (start == std::string::npos) return "(no step " + step + ")";
    return out.substr(start, out.find("\n## ", start) + 1 - start);
  }
};

// List 1071's rows take pumps; its class view names only the header's
// globals. A new pump that comes to pass the filter becomes a row, its
// change kept; pump 101, a row already, is not added twice. A hold that
// passes "Anything" fits no row: a warning names its key, the change stands.
TEST_F(KxqhostCopiesTest, AListTakesWhatComesToPassItsFilterAndWarnsOfWhatItCannot) {
  const Outcome run =
      Run("set 1071 ObjectFilter Northfield\ncreate Pump\n"
          "set 1204 Manufacturer \"Northfield Pumps\"\n"
          "watch 1071 SSPF 101 101 Name\nset 101 Name P-101AX\n"
          "set 1071 ObjectFilter Anything\nwatch 1071 SSPF 1191 1191 Name\n"
          "set 1191 Name \"Curves received\"\ndump 1071 1191\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Step(run.out, "set 1204").find("== store changed #1071: NodeObjects"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.err.find("warning: The permanent filter of {1071} did not apply key \"1191\": "
                         "Permanent Filter: Unable to locate template for {1071}\n"),
            std::string::npos)
      << run.err;
  const std::string dumped = Step(run.out, "dump");
  EXPECT_NE(dumped.find("NodeObjects[7] = #106\nNodeObjects[8] = #1204\nNodeIndices"),
            std::string::npos)
      << dumped;
  EXPECT_NE(dumped.find("Name = \"Curves received\"\n"), std::string::npos) << dumped;
}

// Pump sheets 1009, submitted, then filtered to exchangers: pump 101 leaves
// current page 1093; page 1206, its submitted copy, keeps it.
TEST_F(KxqhostCopiesTest, TheFilterTakesAnObjectOffTheCurrentPageNotOffItsCopy) {
  const Outcome run =
      Run("set 1009 ObjectFilter Exchangers\nrequest SubmitDocuments <<END\n"
          "<XMLMessage><SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1009\"/>"
          "</SubmitDocuments></XMLMessage>\nEND\n"
          "dump 1093 1206\nwatch 1009 SSPF 101 101 Name\nset 101 Name P-101AX\ndump 1093 1206\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string before = Step(run.out, "dump");
  const std::string after = Step(run.out, "dump", run.out.find("## set 101"));
  EXPECT_NE(before.find("NodeObjects[1] = #101\n"), std::string::npos) << before;
  EXPECT_EQ(after.substr(after.find("object 1206")), before.substr(before.find("object 1206")));
  EXPECT_NE(after.find("NodeObjects[1] = (empty)\n"), std::string::npos) << after;
}

// Summary 1007 of project 3 lists claimed pumps; with project 3 active,
// pump 101 (claimed for project 2) loses its claim: it leaves list 1071,
// while the list's submitted copy 1204 and the issued copies of its own
// sheet keep it and are not announced.
TEST_F(KxqhostCopiesTest, AClaimChangeTakesTheRowOffTheCurrentListOnly) {
  const Outcome run =
      Run("set 1007 ProjectId 3\nset 1007 ObjectFilter KX_CLAIM_ONLY\n"
          "request SubmitDocuments <<END\n<XMLMessage><SubmitDocuments Confirmed=\"1\">"
          "<Datasheet DocumentId=\"1007\"/></SubmitDocuments></XMLMessage>\nEND\n"
          "dump 1071 1204\nevent 16 101\ndump 1071 1204\n",
          {"--project", "3"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string event = Step(run.out, "event");
  for (const char* copy : {"1204", "1013", "1014"}) {
    EXPECT_EQ(event.find(copy), std::string::npos) << copy << event;
  }
  const std::string before = Step(run.out, "dump");
  const std::string after = Step(run.out, "dump", run.out.find("## event"));
  EXPECT_EQ(after.substr(after.find("object 1204")), before.substr(before.find("object 1204")));
  EXPECT_NE(after.find("NodeObjects[2] = #102\n"), std::string::npos) << after;
}

// Page 1013 is the issued copy of P-101A's first page: no request writes
// it, whatever its "Status"; requests at its status 4 and reads succeed,
// and the current page takes the same writes.
TEST_F(KxqhostCopiesTest, RequestsThatWouldWriteAnIssuedCopyAreRefused) {
  const std::vector<std::string> ids{"1013", "1001", "101"};
  const std::string before = Dump(ids);
  for (const std::string request :
       {"CreateAnnotation PageId=\"1013\" Value=\"y\" X=\"1\" Y=\"1\"",
        "SetRealField PageId=\"1013\" FieldId=\"103\" Value=\"395\"",
        "SetUnit PageId=\"1013\" UnitId=\"1\" Index=\"2\"", "RenamePage PageId=\"1013\" Name=\"X\"",
        "SetPageCase PageId=\"1013\" CaseId=\"2\"",
        "PageLayout PageId=\"1013\" Orientation=\"2\""}) {
    const std::string name = request.substr(0, request.find(' '));
    const Outcome refused =
        Host({"--events", "request", name, "-"},
             "<XMLMessage TargetId=\"1001\" Status=\"1\"><" + request + "/></XMLMessage>");
    EXPECT_EQ(refused.status, 1) << name;
    EXPECT_NE(refused.err.find("1013 is "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("not a current page"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "== current datasheet none, page none\n") << name;
  }
  EXPECT_EQ(Dump(ids), before);
  const Outcome kept =
      Run("request SetRealField <<END\n<XMLMessage Status=\"4\"><SetRealField PageId=\"1013\" "
          "FieldId=\"103\" Value=\"395\"/></XMLMessage>\nEND\n"
          "request OpenPage <<END\n1013\nEND\n"
          "request SetRealField <<END\n<XMLMessage Status=\"1\"><SetRealField PageId=\"1011\" "
          "FieldId=\"103\" Value=\"395\"/></XMLMessage>\nEND\n");
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_NE(kept.out.find("<OpenPage PageId=\"1013\""), std::string::npos) << kept.out;
  EXPECT_EQ(kept.out.find("== store changed #1013"), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find("== store changed #1011: Fields"), std::string::npos) << kept.out;
  EXPECT_EQ(Dump({"1013"}), before.substr(0, before.find("object 1001")));
}

// A field's presentation, format, lock, secure and hold: the issued copy 1013
// keeps its record (no "Fields" entry, no lock of the value shown through
// it, no event); current page 1011 takes the same requests.
TEST_F(KxqhostCopiesTest, FieldPropertiesStatusAndFormatRefuseACopy) {
  const std::vector<std::string> ids{"1013", "1001", "101"};
  const std::string before = Dump(ids);
  const std::string properties =
      "<SetFieldProperties PageId=\"PAGE\" FieldId=\"103\" Alignment=\"2\" RealFormat=\"0.00\"/>";
  const std::string status =
      "<SetFieldStatus PageId=\"PAGE\" IsLocked=\"1\"><FieldId ID=\"103\"/></SetFieldStatus>";
  const std::string format =
      "<SetFieldFormat PageId=\"PAGE\" Alignment=\"1\" RealFormat=\"0.000\"><FieldId "
      "ID=\"103\"/></SetFieldFormat>";
  for (const auto& [name, body] :
       {std::pair{"SetFieldProperties", properties}, std::pair{"SetFieldStatus", status},
        std::pair{"SetFieldFormat", format}}) {
    std::string request = "<XMLMessage TargetId=\"1001\" Status=\"1\">" + body + "</XMLMessage>";
    const size_t at = request.find("PAGE");
    const Outcome refused =
        Host({"--events", "request", name, "-"}, std::string(request).replace(at, 4, "1013"));
    EXPECT_EQ(refused.status, 1) << name << refused.out;
    EXPECT_NE(refused.err.find("Page 1013 is an issued copy, not a current page"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "== current datasheet none, page none\n") << name;
    const Outcome kept =
        Host({"--events", "request", name, "-"}, std::string(request).replace(at, 4, "1011"));
    EXPECT_EQ(kept.status, 0) << name << kept.err;
    EXPECT_NE(kept.out.find("== event DataField [F1 1011]"), std::string::npos) << kept.out;
  }
  EXPECT_EQ(Dump({"1013"}), before.substr(0, before.find("object 1001")));
}

// The field-object and field-case messages confirmed on a copy: the
// issued copy 1013 keeps its objects (none hidden, shown or deleted through
// it); with the vessel node following the case, the submitted copy of 1094
// takes no case and no value is copied through it. Asking stays open.
TEST_F(KxqhostCopiesTest, FieldObjectsAndCasesRefuseACopy) {
  const std::vector<std::string> ids{"1013", "1011", "1012", "1001", "101", "102"};
  const std::string before = Dump(ids);
  for (const std::string request :
       {"HideFieldObjects PageId=\"1013\" Confirmed=\"1\"><Field FieldId=\"103\"/>",
        "DeleteFieldObjects PageId=\"1013\" Confirmed=\"1\"><Field FieldId=\"102\"/>",
        "ShowFieldObjects PageId=\"1013\" Confirmed=\"1\"><Field FieldId=\"103\" "
        "ObjectId=\"102\"/>"}) {
    const std::string name = request.substr(0, request.find(' '));
    const Outcome refused =
        Host({"--events", "request", name, "-"}, "<XMLMessage TargetId=\"1001\" Status=\"1\"><" +
                                                     request + "</" + name + "></XMLMessage>");
    EXPECT_EQ(refused.status, 1) << name << refused.out;
    EXPECT_NE(refused.err.find("Page 1013 is an issued copy, not a current page"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, "== current datasheet none, page none\n") << name;
  }
  EXPECT_EQ(Dump(ids), before);

  std::string plant = ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
  const std::string node = "<node name=\"Vessel\" index=\"0\" classes=\"Vessel\"";
  plant.insert(plant.find(node) + node.size(), " caseSlot=\"0\"");
  WriteText(dir_ / "cases-plant.xml", plant);
  std::remove(Store().c_str());
  ASSERT_EQ(Host({"init", "--fixture", dir_ / "cases-plant.xml"}).status, 0);
  const Outcome run = Run(R"(set 133 Volume 52 m3
request SubmitDocuments <<END
<XMLMessage><SubmitDocuments Confirmed="1"><Datasheet DocumentId="1010"/></SubmitDocuments></XMLMessage>
END
request ShowFieldCase <<END
<XMLMessage TargetId="1010" Status="1"><ShowFieldCase PageId="1204" FieldId="501"/></XMLMessage>
END
! request ShowFieldCase <<END
<XMLMessage TargetId="1010" Status="1"><ShowFieldCase PageId="1204" FieldId="501" CaseId="2"/></XMLMessage>
END
! request CopyFieldCase <<END
<XMLMessage TargetId="1010" Status="1"><CopyFieldCase PageId="1204" FieldId="501" CaseId="2"/></XMLMessage>
END
dump 133 1010
)");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"ShowFieldCase", "CopyFieldCase"}) {
    EXPECT_NE(run.err.find(std::string("request ") + name +
                           " failed: Page 1204 is a submitted copy, not a current page"),
              std::string::npos)
        << run.err;
  }
  const std::string after = run.out.substr(run.out.find("## request ShowFieldCase"));
  EXPECT_NE(after.find("Change the default datasheet case?"), std::string::npos) << after;
  EXPECT_EQ(after.find("== store changed"), std::string::npos) << after;
  EXPECT_EQ(after.find("== event"), std::string::npos) << after;
  EXPECT_NE(after.find("DefaultCase = 1\n"), std::string::npos) << after;
}

// After submit, check and issue, the issued pages are the objects the
// submitted and checked lists still hold: a mark-up made on current page
// 1011 stays off them (the issue took the mark-ups off).
TEST_F(KxqhostCopiesTest, AMarkUpOnTheCurrentPageLeavesTheIssuedPagesAlone) {
  const Outcome run = Run(R"(request SubmitDocuments <<END
<XMLMessage><SubmitDocuments Confirmed="1"><Datasheet DocumentId="1001"/></SubmitDocuments></XMLMessage>
END
request CheckDocuments <<END
<XMLMessage><CheckDocuments><Datasheet DocumentId="1001"/></CheckDocuments></XMLMessage>
END
request IssueDocuments <<END
<XMLMessage><IssueDocuments><Datasheet DocumentId="1001"/></IssueDocuments></XMLMessage>
END
dump 1001 1204
request CreateAnnotation <<END
<XMLMessage Status="1"><CreateAnnotation PageId="1011" Value="check" X="1" Y="1" Markup="1"/></XMLMessage>
END
dump 1204 1011
)");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string before = Step(run.out, "dump");
  EXPECT_NE(before.find("IssuedPages[1] = #1204\n"), std::string::npos) << before;
  EXPECT_NE(before.find("SubmittedPages[1] = #1204\n"), std::string::npos) << before;
  const std::string made = Step(run.out, "request CreateAnnotation");
  EXPECT_NE(made.find("== store changed #1011: Annotations"), std::string::npos) << made;
  EXPECT_EQ(made.find("#1204"), std::string::npos) << made;
  const std::string after = Step(run.out, "dump", run.out.find("## request CreateAnnotation"));
  const size_t copy = after.find("object 1204");
  EXPECT_EQ(after.substr(copy, after.find("object 1011") - copy),
            before.substr(before.find("object 1204")));
  EXPECT_NE(after.find("Value=\\\"kxq:check\\\""), std::string::npos) << after;
}

// A mark-up made on a submitted copy (Status 2) reaches its current page;
// a request that names another version than the copy's is refused.
TEST_F(KxqhostCopiesTest, MarkUpsStillGoFromASubmittedCopyToItsCurrentPage) {
  const Outcome run =
      Run("request SubmitDocuments <<END\n<XMLMessage><SubmitDocuments Confirmed=\"1\">"
          "<Datasheet DocumentId=\"1001\"/></SubmitDocuments></XMLMessage>\nEND\n"
          "request CreateAnnotation <<END\n<XMLMessage Status=\"2\"><CreateAnnotation "
          "PageId=\"1204\" Value=\"check\" X=\"1\" Y=\"1\" Markup=\"1\"/></XMLMessage>\nEND\n"
          "! request CreateAnnotation <<END\n<XMLMessage Status=\"1\"><CreateAnnotation "
          "PageId=\"1204\" Value=\"plain\" X=\"1\" Y=\"1\"/></XMLMessage>\nEND\n"
          "dump 1204 1011\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Page 1204 is a submitted copy: a request with Status 1 does not"),
            std::string::npos)
      << run.err;
  const std::string dumped = Step(run.out, "dump");
  EXPECT_EQ(Count(dumped, "Markup=\\\"1\\\" Value=\\\"kxq:check\\\""), 2u) << dumped;
  EXPECT_EQ(dumped.find("plain"), std::string::npos) << dumped;
}

// After a check the submitted list still holds page 1204, now the checked
// copy: a mark-up sent at Status 2 (the submitted version, opened before the
// check) still reaches it and its current page; Status 1 is still refused.
TEST_F(KxqhostCopiesTest, AMarkUpAtTheSubmittedStatusReachesACheckedPageTheSubmittedListHolds) {
  const Outcome run = Run(R"(request SubmitDocuments <<END
<XMLMessage><SubmitDocuments Confirmed="1"><Datasheet DocumentId="1001"/></SubmitDocuments></XMLMessage>
END
request CheckDocuments <<END
<XMLMessage><CheckDocuments><Datasheet DocumentId="1001"/></CheckDocuments></XMLMessage>
END
request CreateAnnotation <<END
<XMLMessage Status="2"><CreateAnnotation PageId="1204" Value="check" X="1" Y="1" Markup="1"/></XMLMessage>
END
! request CreateAnnotation <<END
<XMLMessage Status="1"><CreateAnnotation PageId="1204" Value="plain" X="1" Y="1"/></XMLMessage>
END
dump 1001 1204 1011
)");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Page 1204 is a checked copy: a request with Status 1 does not"),
            std::string::npos)
      << run.err;
  const std::string dumped = Step(run.out, "dump");
  EXPECT_NE(dumped.find("SubmittedPages[1] = #1204\n"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find("CheckedPages[1] = #1204\n"), std::string::npos) << dumped;
  EXPECT_EQ(Count(dumped, "Markup=\\\"1\\\" Value=\\\"kxq:check\\\""), 2u) << dumped;
  EXPECT_EQ(dumped.find("plain"), std::string::npos) << dumped;
}

// A "Status" that names no version is taken as for a copy, 5 as 0 or none:
// the mark-up goes on submitted copy 1204 and its current page 1011.
TEST_F(KxqhostCopiesTest, AMarkUpWithAStatusThatNamesNoVersionGoesAsForACopy) {
  const Outcome run = Run(R"(request SubmitDocuments <<END
<XMLMessage><SubmitDocuments Confirmed="1"><Datasheet DocumentId="1001"/></SubmitDocuments></XMLMessage>
END
request CreateAnnotation <<END
<XMLMessage Status="5"><CreateAnnotation PageId="1204" Value="check" X="1" Y="1" Markup="1"/></XMLMessage>
END
request CreateAnnotation <<END
<XMLMessage Status="0"><CreateAnnotation PageId="1204" Value="check" X="1" Y="1" Markup="1"/></XMLMessage>
END
dump 1204 1011
)");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string dumped = Step(run.out, "dump");
  EXPECT_EQ(Count(dumped, "Markup=\\\"1\\\" Value=\\\"kxq:check\\\""), 4u) << dumped;
}

}  // namespace
}  // namespace kx::test::tools
