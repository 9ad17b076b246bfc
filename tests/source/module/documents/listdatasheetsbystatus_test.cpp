// "ListDatasheetsByStatus" and "ListDatasheetsByField" end to end on the sample plant
// (support/cataloguetest.h).
#include <fstream>
#include <map>
#include <sstream>

#include "model/kxdbdatasheetutils.h"
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, DatasheetsByStatusAndByField) {
  const std::string submitted = Reply(u"ListDatasheetsByStatus", u"2");
  EXPECT_NE(submitted.find("<Documents CurrentPage=\"2\">"), std::string::npos);
  const auto records = Records(submitted);
  ASSERT_EQ(records.size(), 2u) << "1002 with all its versions";
  EXPECT_EQ(records[0]["Status"] + records[1]["Status"], "12");
  EXPECT_EQ(records[0]["DocumentId"], "1002");
  // Every datasheet at status 1, and the other versions of 1001, 1002 and 1004.
  EXPECT_EQ(Records(Reply(u"ListDatasheetsByStatus", u" 1")).size(), 10u + 1 + 1 + 1);
  // A version record says what the datasheet's current record says.
  std::map<std::string, Record> current;
  size_t versions = 0;
  for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1"))) {
    if (record["Status"] == "1") {
      current[record["DocumentId"]] = record;
      continue;
    }
    ++versions;
    const Record& first = current.at(record["DocumentId"]);
    for (const char* name : {"Name", "Title", "Case", "Revision", "Scoped", "Type"})
      EXPECT_EQ(record[name], first[name]) << record["DocumentId"] << " " << name;
  }
  EXPECT_EQ(versions, 3u);
  EXPECT_EQ(Reply(u"ListDatasheetsByStatus", u"9"), "");
  EXPECT_EQ(Reply(u"ListDatasheetsByStatus", u"x"), "");
  EXPECT_EQ(Reply(u"ListDatasheetsByField", u"103"), "");
}

// Each datasheet's pages are read once for its title and its scope; what is
// kept for one listing is not given to the next: a page that shows another
// object since is read again.
TEST_F(CatalogueTest, ListingReadsPagesAgainAfterTheyChange) {
  auto titleOf1001 = [&] {
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1"))) {
      if (record["DocumentId"] == "1001") return record["Title"];
    }
    return std::string("<none>");
  };
  const std::string before = titleOf1001();
  EXPECT_NE(before.find("P-101A"), std::string::npos) << before;
  for (LONG page : {1011, 1012}) {
    IKXQAttributePtr objects;
    GetAttributeInterface(Object(page), u"NodeObjects", objects);
    ASSERT_TRUE(objects);
    ASSERT_EQ(objects->PutValue(_variant_t(1), _variant_t(), _variant_t(102)), S_OK);
  }
  const std::string after = titleOf1001();
  EXPECT_EQ(after.find("P-101A"), std::string::npos) << after;
  EXPECT_NE(after.find("P-101B"), std::string::npos) << after;
}

// The list of a datasheet's pages is read once for its title, scope and
// case, and again by the next listing: a page taken off the list since no
// longer counts.
TEST_F(CatalogueTest, ListingReadsTheListOfPagesAgainAfterItChanges) {
  auto titleOf1001 = [&] {
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1"))) {
      if (record["DocumentId"] == "1001") return record["Title"];
    }
    return std::string("<none>");
  };
  IKXQAttributePtr objects;
  GetAttributeInterface(Object(1012), u"NodeObjects", objects);
  ASSERT_TRUE(objects);
  ASSERT_EQ(objects->PutValue(_variant_t(1), _variant_t(), _variant_t(102)), S_OK);
  const std::string before = titleOf1001();
  EXPECT_NE(before.find("P-101A"), std::string::npos) << before;
  EXPECT_NE(before.find("P-101B"), std::string::npos) << before;
  IKXQAttributePtr pages;
  GetAttributeInterface(Object(1001), u"CurrentPages", pages);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->RemoveValues(1, 1), S_OK);
  const std::string after = titleOf1001();
  EXPECT_EQ(after.find("P-101A"), std::string::npos) << after;
  EXPECT_NE(after.find("P-101B"), std::string::npos) << after;
}

// A listing looks each template up once for all its datasheets, and the
// next listing again: a version added since is the one it finds.
TEST_F(CatalogueTest, ListingFindsTheTemplateVersionAddedSinceTheLastListing) {
  IKXQAttributePtr name;
  GetAttributeInterface(Object(1001), u"DocumentName", name);
  ASSERT_TRUE(name);
  ASSERT_EQ(name->Clear(_variant_t()), S_OK);
  auto titleOf1001 = [&] {
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1"))) {
      if (record["DocumentId"] == "1001") return record["Title"];
    }
    return std::string("<none>");
  };
  const std::string before = titleOf1001();
  EXPECT_NE(before.find("Centrifugal pump datasheet"), std::string::npos) << before;
  const kx::store::Status imported = store_->ImportFixtureText(
      "<store><templates><template id=\"PUMP-DS\" checknum=\"5\" name=\"Pump sheet, fifth\" "
      "kind=\"Datasheet\" classes=\"Pump\"/></templates></store>",
      "fifth");
  ASSERT_TRUE(imported.ok()) << imported.message;
  const std::string after = titleOf1001();
  EXPECT_NE(after.find("Pump sheet, fifth"), std::string::npos) << after;
}

// Whether a node's object counts for a datasheet's scope depends on its
// class: the listing asks once per class, and the globals object, which
// never counts, lends its answer to no pump or vessel, nor they theirs to
// it. Under project 2 the accumulator's vessel is out of scope; its page
// then shows the globals object alone, which leaves the sheet in scope.
TEST_F(CatalogueTest, ListingJudgesEachDatasheetsScopeByItsOwnObjectsClasses) {
  IKXQProjectPtr area100;
  ASSERT_EQ(KXDBDatasheetSvcs::FindProject(root_, 2, &area100), S_OK);
  ASSERT_TRUE(area100);
  host_.application().SetProjects(root_, area100);
  ASSERT_TRUE(store_->SetActiveProject(2).ok());
  auto scoped = [&] {
    std::map<std::string, std::string> answers;
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1")))
      answers[record["DocumentId"]] = record["Scoped"];
    return answers;
  };
  auto before = scoped();
  EXPECT_EQ(before["1001"], "1");
  EXPECT_EQ(before["1008"], "0");
  IKXQAttributePtr objects;
  GetAttributeInterface(Object(1081), u"NodeObjects", objects);
  ASSERT_TRUE(objects);
  ASSERT_EQ(objects->PutValue(_variant_t(1), _variant_t(), _variant_t(1)), S_OK);
  auto after = scoped();
  EXPECT_EQ(after["1001"], "1");
  EXPECT_EQ(after["1008"], "1");
  EXPECT_EQ(after["1004"], before["1004"]);
}

// A datasheet's name, revision, case and other versions are read together
// for each listing: what changed since the last listing is what the next
// one shows.
TEST_F(CatalogueTest, ListingShowsTheNameRevisionCaseAndVersionsAsTheyAreNow) {
  auto recordsOf1001 = [&] {
    std::map<std::string, Record> byStatus;
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1"))) {
      if (record["DocumentId"] == "1001") byStatus[record["Status"]] = record;
    }
    return byStatus;
  };
  auto before = recordsOf1001();
  ASSERT_EQ(before.count("1"), 1u);
  EXPECT_EQ(before["1"]["Name"], "Crude charge pump");
  EXPECT_EQ(before["1"]["Revision"], "A");
  EXPECT_EQ(before["1"]["Case"], "Normal");
  EXPECT_EQ(before.count("3"), 0u);
  auto put = [&](const OLECHAR* name, const _variant_t& index, const _variant_t& value) {
    IKXQAttributePtr attribute;
    GetAttributeInterface(Object(1001), name, attribute);
    ASSERT_TRUE(attribute) << Narrow(name);
    ASSERT_EQ(attribute->PutValue(index, _variant_t(), value), S_OK) << Narrow(name);
  };
  put(u"DocumentName", _variant_t(), _variant_t(u"Charge pump, rerated"));
  put(u"LastRevisionLevel", _variant_t(), _variant_t(u"B2"));
  put(u"CheckedPages", _variant_t(1), _variant_t(1011));
  auto after = recordsOf1001();
  ASSERT_EQ(after.count("1"), 1u);
  EXPECT_EQ(after["1"]["Name"], "Charge pump, rerated");
  EXPECT_NE(after["1"]["Title"].find("Charge pump, rerated"), std::string::npos);
  EXPECT_EQ(after["1"]["Revision"], "B2");
  ASSERT_EQ(after.count("3"), 1u);
  EXPECT_EQ(after["3"]["Revision"], "B2");
  // Each page is read for its case: pages of another case than the
  // datasheet's give "<Varies>".
  put(u"DefaultCase", _variant_t(), _variant_t(3));
  EXPECT_EQ(recordsOf1001()["1"]["Case"], "&lt;Varies&gt;");
  put(u"DefaultCase", _variant_t(), _variant_t(1));
  EXPECT_EQ(recordsOf1001()["1"]["Case"], "Normal");
  // Without a revision none is written; without a name the title stands.
  IKXQAttributePtr revision;
  GetAttributeInterface(Object(1001), u"LastRevisionLevel", revision);
  ASSERT_EQ(revision->Clear(_variant_t()), S_OK);
  EXPECT_EQ(recordsOf1001()["1"]["Revision"], "<none>");
}

// A listing asks each case's name once for all its datasheets; the next
// listing asks again: a case renamed since shows its new name.
TEST_F(CatalogueTest, ListingShowsACaseRenamedSinceTheLastListing) {
  auto casesOf = [&] {
    std::map<std::string, std::string> cases;
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1"))) {
      if (record["Status"] == "1") cases[record["DocumentId"]] = record["Case"];
    }
    return cases;
  };
  const auto before = casesOf();
  ASSERT_EQ(before.count("1001"), 1u);
  EXPECT_EQ(before.at("1001"), "Normal");
  ASSERT_TRUE(
      store_
          ->ImportFixtureText(
              R"(<store><cases><case id="1" name="Normal, rerated"/></cases></store>)", "cases.xml")
          .ok());
  const auto after = casesOf();
  ASSERT_EQ(after.size(), before.size());
  size_t renamed = 0;
  for (const auto& [id, name] : before) {
    if (name == "Normal") {
      EXPECT_EQ(after.at(id), "Normal, rerated") << id;
      ++renamed;
    } else {
      EXPECT_EQ(after.at(id), name) << id;
    }
  }
  EXPECT_GT(renamed, 1u);
  EXPECT_LT(renamed, before.size());
}

// The listing reads each template's parts once for all its datasheets;
// every datasheet of every template (continuous summaries, several pages,
// two versions of one template) still gets the title, scope, type and case
// it gets when its template's datasheets are listed on their own.
TEST_F(CatalogueTest, ListingAllDatasheetsGivesEachWhatItsTemplateListingGives) {
  // A pump on the vessel sheet's page: the pump templates take pumps, the
  // vessel template does not.
  IKXQAttributePtr objects;
  GetAttributeInterface(Object(1081), u"NodeObjects", objects);
  ASSERT_TRUE(objects);
  ASSERT_EQ(objects->PutValue(_variant_t(1), _variant_t(), _variant_t(101)), S_OK);
  std::map<std::string, Record> byTemplate;
  for (const Record& record :
       Records(Reply(u"ListDatasheetsByTemplate",
                     u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>PUMP-DS</TemplateId>"
                     u"<TemplateId>HX-DS</TemplateId><TemplateId>VESSEL-DS</TemplateId>"
                     u"<TemplateId>EQ-SUMMARY</TemplateId><TemplateId>PUMP-SHEETS</TemplateId>"
                     u"</ListDatasheetsByTemplate></XMLMessage>"))) {
    if (record["Status"] == "1") byTemplate[record["DocumentId"]] = record;
  }
  EXPECT_EQ(byTemplate["1008"]["Title"], "Overhead accumulator");
  const auto records = Records(Reply(u"ListDatasheetsByStatus", u"1"));
  size_t compared = 0;
  for (const Record& record : records) {
    if (record["Status"] != "1") continue;
    const auto found = byTemplate.find(record["DocumentId"]);
    ASSERT_NE(found, byTemplate.end()) << record["DocumentId"];
    for (const char* name : {"Name", "Title", "Scoped", "Type", "Case", "Revision"})
      EXPECT_EQ(record[name], found->second[name]) << record["DocumentId"] << " " << name;
    ++compared;
  }
  EXPECT_EQ(compared, 10u);
  EXPECT_EQ(compared, byTemplate.size());
}

// A page of another template than its datasheet's (here the vessel sheet's
// page, made a pump sheet's first page) is read with its own template in a
// listing as everywhere: its pump counts for the title, and a later change
// of the page's template, page or object is what the next listing shows.
TEST_F(CatalogueTest, ListingTitlesAPageByItsOwnTemplate) {
  auto listed = [&] {
    std::map<std::string, std::string> titles;
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1")))
      if (record["Status"] == "1") titles[record["DocumentId"]] = record["Title"];
    return titles;
  };
  auto byTemplate = [&] {
    for (const Record& record :
         Records(Reply(u"ListDatasheetsByTemplate",
                       u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>VESSEL-DS</TemplateId>"
                       u"</ListDatasheetsByTemplate></XMLMessage>"))) {
      if (record["DocumentId"] == "1008" && record["Status"] == "1") return record["Title"];
    }
    return std::string("<none>");
  };
  auto put = [&](const OLECHAR* name, const _variant_t& value, int at = 1) {
    IKXQAttributePtr attribute;
    GetAttributeInterface(Object(1081), name, attribute);
    ASSERT_TRUE(attribute) << Narrow(name);
    ASSERT_EQ(attribute->PutValue(_variant_t(at), _variant_t(), value), S_OK) << Narrow(name);
  };
  const auto before = listed();
  const std::string vessel = before.at("1008");
  EXPECT_NE(vessel.find(": Overhead accumulator"), std::string::npos) << vessel;
  put(u"NodeObjects", _variant_t(101));
  EXPECT_EQ(listed().at("1008"), "Overhead accumulator");
  put(u"TemplateId", _variant_t(u"PUMP-DS"));
  put(u"PageId", _variant_t(u"P1"));
  const auto pumped = listed();
  EXPECT_EQ(pumped.at("1008"), "P-101A: Overhead accumulator");
  EXPECT_EQ(pumped.at("1008"), byTemplate());
  EXPECT_EQ(pumped.at("1001"), before.at("1001"));
  // A page id the template lacks: no template page, no objects.
  put(u"PageId", _variant_t(u"P9"));
  EXPECT_EQ(listed().at("1008"), "Overhead accumulator");
  put(u"PageId", _variant_t(u"P1"));
  put(u"NodeObjects", _variant_t(102));
  EXPECT_EQ(listed().at("1008"), "P-101B: Overhead accumulator");
  // The node's object stands where "NodeIndices" says, not always first.
  put(u"NodeObjects", _variant_t(103), 2);
  put(u"NodeIndices", _variant_t(2));
  const std::string moved = listed().at("1008");
  EXPECT_EQ(moved, byTemplate());
  EXPECT_EQ(moved.find("P-101B"), std::string::npos) << moved;
  put(u"NodeIndices", _variant_t(1));
  put(u"TemplateId", _variant_t(u"VESSEL-DS"));
  put(u"PageId", _variant_t(u"V1"));
  EXPECT_EQ(listed().at("1008"), "Overhead accumulator");
  EXPECT_EQ(listed(), [&] {
    auto expected = before;
    expected["1008"] = "Overhead accumulator";
    return expected;
  }());
  // A sheet name, where one is set, is the title.
  IKXQAttributePtr sheetName;
  GetAttributeInterface(Object(1008), u"DatasheetSheetName", sheetName);
  ASSERT_TRUE(sheetName);
  ASSERT_EQ(sheetName->PutValue(_variant_t(), _variant_t(), _variant_t(u"Accumulator sheet")),
            S_OK);
  const auto named = listed();
  EXPECT_EQ(named.at("1008"), "Accumulator sheet");
  EXPECT_EQ(named.at("1001"), before.at("1001"));
}

// A title names each of its objects' names once, however many there are:
// a name met again, early or late, is left out.
TEST_F(CatalogueTest, ListingTitleNamesEachNameOnce) {
  IKXQAttributePtr pages;
  GetAttributeInterface(Object(1001), u"CurrentPages", pages);
  ASSERT_TRUE(pages);
  LONG at = 1;
  for (LONG page : {1011, 1021, 1031, 1041, 1051, 1061, 1081})
    ASSERT_EQ(pages->PutValue(_variant_t(at++), _variant_t(), _variant_t(page)), S_OK) << page;
  auto rename = [&](LONG id, const OLECHAR* name) {
    IKXQAttributePtr attribute;
    GetAttributeInterface(Object(id), u"Name", attribute);
    ASSERT_TRUE(attribute);
    ASSERT_EQ(attribute->PutValue(_variant_t(), _variant_t(), _variant_t(name)), S_OK);
  };
  rename(131, u"P-101B");  // the second name again
  rename(132, u"E-102");   // the fifth name again
  std::string title = "<none>";
  for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1")))
    if (record["DocumentId"] == "1001" && record["Status"] == "1") title = record["Title"];
  EXPECT_EQ(title, "P-101A/P-101B/P-102A/E-101/E-102: Crude charge pump");
}

// A summary's title runs from its first object to its last, each object
// counted once however many pages show objects: a page showing the first
// again after eight others leaves the last as it was.
TEST_F(CatalogueTest, ListingSummaryTitleEndsWithTheLastObjectNotOneSeenBefore) {
  IKXQAttributePtr pages;
  GetAttributeInterface(Object(1009), u"CurrentPages", pages);
  ASSERT_TRUE(pages);
  LONG at = 1;
  for (LONG page : {1011, 1021, 1031, 1041, 1051, 1061, 1081, 1094, 1012})
    ASSERT_EQ(pages->PutValue(_variant_t(at++), _variant_t(), _variant_t(page)), S_OK) << page;
  std::string title = "<none>";
  for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1")))
    if (record["DocumentId"] == "1009" && record["Status"] == "1") title = record["Title"];
  EXPECT_EQ(title, "P-101A-&gt;V-103: Pump sheets");
}

// A summary of a project below the root names the project after its
// title in a listing too.
TEST_F(CatalogueTest, ListingSummaryTitleNamesItsProject) {
  auto titleOf1009 = [&] {
    for (const Record& record : Records(Reply(u"ListDatasheetsByStatus", u"1")))
      if (record["DocumentId"] == "1009" && record["Status"] == "1") return record["Title"];
    return std::string("<none>");
  };
  EXPECT_EQ(titleOf1009(), "P-102A-&gt;P-101A: Pump sheets");
  IKXQAttributePtr project;
  GetAttributeInterface(Object(1009), u"ProjectId", project);
  ASSERT_TRUE(project);
  ASSERT_EQ(project->PutValue(_variant_t(), _variant_t(), _variant_t(3)), S_OK);
  EXPECT_EQ(titleOf1009(), "P-102A-&gt;P-101A: Pump sheets [Area 200 Atmospheric Column]");
}

// The sample plant with a second top node on the vessel sheet's page, for
// another vessel.
class TwoNodePageTest : public CatalogueTest {
 protected:
  kx::store::Status Import() override {
    std::ifstream file(std::string(KX_EXAMPLES_DIR) + "/plant.xml", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::string xml = text.str();
    const size_t page = xml.find("<page id=\"V1\"");
    const size_t end = page == std::string::npos ? page : xml.find("</node>", page);
    if (end == std::string::npos) return store_->ImportFixtureText("", "no vessel page");
    xml.insert(end + 7, "<node name=\"Second\" index=\"1\" classes=\"Vessel\"/>");
    return store_->ImportFixtureText(xml, "plant.xml with two vessel nodes");
  }
};

// Each top node's object stands where the node's own "NodeIndices" entry
// says: the listing titles the page as the template's listing does.
TEST_F(TwoNodePageTest, ListingFindsEachNodesObjectByItsOwnEntry) {
  auto titles = [&](std::u16string_view name, std::u16string_view text) {
    std::map<std::string, std::string> found;
    for (const Record& record : Records(Reply(name, text)))
      if (record["Status"] == "1") found[record["DocumentId"]] = record["Title"];
    return found;
  };
  const std::u16string byTemplate =
      u"<XMLMessage><ListDatasheetsByTemplate><TemplateId>VESSEL-DS</TemplateId>"
      u"</ListDatasheetsByTemplate></XMLMessage>";
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  GetAttributeInterface(Object(1081), u"NodeObjects", objects);
  GetAttributeInterface(Object(1081), u"NodeIndices", indices);
  ASSERT_TRUE(objects && indices);
  ASSERT_EQ(objects->PutValue(_variant_t(2), _variant_t(), _variant_t(133)), S_OK);
  ASSERT_EQ(indices->PutValue(_variant_t(2), _variant_t(), _variant_t(2)), S_OK);
  const std::string two = titles(u"ListDatasheetsByStatus", u"1").at("1008");
  EXPECT_EQ(two, "V-102/V-103: Overhead accumulator");
  EXPECT_EQ(two, titles(u"ListDatasheetsByTemplate", byTemplate).at("1008"));
}

}  // namespace
