// The order lists take end to end: where a row's sub-view objects land
// when packing, sorting and composition move the row, which rows a pack
// gathers and what it writes, and how the "CLA"/"CLD" value sorts compare
// texts, large integers and equal keys.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "storexml.h"
#include "support/pagesfixture.h"

using kx::test::pages::Narrow;
using kx::test::pages::PagesHost;

namespace {

using namespace kx::test::xml;

// Vessels 10 "V-B" (service Air, nozzles 20, 21) and 11 "V-A" (water,
// nozzles 22, 23) on the page-per-member summary 100, whose template page
// gives the vessel node the sub-nodes "Nozzles(1)" and "Nozzles(2)": page
// 101 shows V-B, 102 nothing, 103 V-A, 104 nothing. Vessel 12 (nozzles 24,
// 25) on the datasheet 300, page 301 showing nozzle 25 on "Nozzles(2)"
// only. Pumps 30 to 33 on the continuous list 200, page 201, one row each.
enum : long {
  kSummary = 100,
  kSummary1 = 101,
  kSummary2 = 102,
  kSummary3 = 103,
  kSummary4 = 104,
  kList = 200,
  kListPage = 201,
  kVectorSheet = 300,
  kVectorPage = 301,
};

std::string Classes() {
  return R"XML(  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="Service"/>
   <attribute name="Code"/>
   <attribute name="Speed" type="integer"/>
  </class>
  <class name="Nozzle" base="GenericClass"/>
  <class name="Pump" base="GenericClass"/>
  <class name="Vessel" base="GenericClass">
   <attribute name="Nozzles" type="object" list="true" collection="true" class="Nozzle"/>
  </class>
)XML" +
         Class("Document", "GenericClass",
               "TemplateId Checknum DefaultCase NumberOfPages ProjectId ObjectFilter CurrentPages "
               "SubmittedPages CheckedPages IssuedPages") +
         Class("Datasheet", "Document") +
         Class("Page", "GenericClass",
               "TemplateId PageId Checknum PageNumber ObjectFilter NodeObjects NodeIndices "
               "HiddenObjects Fields Units Revisions Cases OverspillTo OverspillFrom") +
         R"XML(  <filter name="Water" title="Water service" class="Vessel" attribute="Service" value="water"/>
  <sort code="BYNAME" title="By name" attribute="Name" descending="false"/>
)XML";
}

// The vessel node with its two nozzle sub-nodes, as a summary ("TV") and
// as a datasheet ("TD").
std::string VesselTemplate(const char* id, const char* kind) {
  return std::string("  <template id=\"") + id + "\" checknum=\"1\" name=\"" + id + "\" kind=\"" +
         kind + R"XML(" classes="Vessel">
   <page id="V" name="Vessel">
    <node name="Vessel" index="0" classes="Vessel">
     <field id="1" type="String" attribute="Name"/>
     <node name="Nozzles(1)" index="1" classes="Nozzle" caseSlot="0"><field id="2" type="String" attribute="Name" case="0"/></node>
     <node name="Nozzles(2)" index="2" classes="Nozzle" caseSlot="0"><field id="3" type="String" attribute="Name" case="0"/></node>
    </node>
   </page>
  </template>
)XML";
}

std::string Sections() {
  return R"XML( <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
)XML" + VesselTemplate("TV", "Summary") +
         VesselTemplate("TD", "Datasheet") +
         R"XML(  <template id="TC" checknum="1" name="Pump list" kind="Summary" classes="Pump">
   <page id="C" name="List" continuous="Rows">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" type="String" attribute="Name" valueKey="1" case="0"/>
     <field id="202" type="Integer" attribute="Code" valueKey="-1" case="0"/>
     <field id="203" type="Integer" attribute="Speed" valueKey="-1" case="0"/>
    </node>
   </page>
  </template>
 </templates>
)XML";
}

// The three field records of a list row, as "Fields" values.
std::string Row(int row, const char* name, const char* code, const char* speed) {
  const std::string index = " Index=\"" + std::to_string(row) + "\" Value=\"";
  return Value("Fields", "<String FieldId=\"201\"" + index + name + "\"/>") +
         Value("Fields", "<Integer FieldId=\"202\"" + index + code + "\"/>") +
         Value("Fields", "<Integer FieldId=\"203\"" + index + speed + "\"/>");
}

std::string VesselPage(long id, long number, std::initializer_list<long> objects) {
  std::string body = Value("Fields", "") + Value("Cases", "1");
  if (objects.size() > 0) {
    body += Refs("NodeObjects", objects) + Values("NodeIndices", {"1", "2", "3"});
  }
  return Page(id, kSummary, "TV", "V", "1", number, body);
}

const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Object(10, "Vessel",
               Value("Name", "V-B") + Value("Service", "Air") + Refs("Nozzles", {20, 21})),
        Object(11, "Vessel",
               Value("Name", "V-A") + Value("Service", "water") + Refs("Nozzles", {22, 23})),
        Object(12, "Vessel", Value("Name", "V-C") + Refs("Nozzles", {24, 25})),
        Owned(20, "Nozzle", 10, Value("Name", "N1")),
        Owned(21, "Nozzle", 10, Value("Name", "N2")),
        Owned(22, "Nozzle", 11, Value("Name", "N1")),
        Owned(23, "Nozzle", 11, Value("Name", "N2")),
        Owned(24, "Nozzle", 12, Value("Name", "N1")),
        Owned(25, "Nozzle", 12, Value("Name", "N2")),
        Object(30, "Pump", Value("Name", "Beta") + Value("Code", "5") + Value("Speed", "7")),
        Object(31, "Pump",
               Value("Name", "Charlie") + Value("Code", "99999999999") + Value("Speed", "2")),
        Object(32, "Pump", Value("Name", "alpha") + Value("Code", "-3") + Value("Speed", "7")),
        Object(33, "Pump", Value("Name", "delta") + Value("Code", "-99999999999")),
        Datasheet(kSummary, "TV", {kSummary1, kSummary2, kSummary3, kSummary4},
                  Value("Name", "Vessels") + Value("DefaultCase", "1") +
                      Value("NumberOfPages", "4") + Value("ProjectId", "1") +
                      Child(R"(<user name="ann" status="1"/>)")),
        VesselPage(kSummary1, 1, {10, 20, 21}),
        VesselPage(kSummary2, 2, {}),
        VesselPage(kSummary3, 3, {11, 22, 23}),
        VesselPage(kSummary4, 4, {}),
        Datasheet(kVectorSheet, "TD", {kVectorPage},
                  Value("DefaultCase", "1") + Value("NumberOfPages", "1")),
        Page(kVectorPage, kVectorSheet, "TD", "V", "1", 1,
             Refs("NodeObjects", {12, 25}) + Values("NodeIndices", {"1", "", "2"})),
        Datasheet(kList, "TC", {kListPage},
                  Value("Name", "List") + Value("DefaultCase", "1") + Value("NumberOfPages", "1") +
                      Value("ProjectId", "1") + Child(R"(<user name="ann" status="1"/>)")),
        Page(kListPage, kList, "TC", "C", "1", 1,
             Refs("NodeObjects", {kList, 30, 31, 32, 33}) + Values("NodeIndices", {"1", "2"}) +
                 Value("Fields", R"(<String FieldId="101" Value="List"/>)") +
                 Row(0, "Beta", "5", "7") + Row(1, "Charlie", "99999999999", "2") +
                 Row(2, "alpha", "-3", "7") + Row(3, "delta", "-99999999999", "") +
                 Value("Cases", "1")),
    });

class ListOrderTest : public ::testing::Test {
 protected:
  ListOrderTest() : host_(kText.c_str()) {}

  kx::host::RequestResult Send(const char16_t* message, const std::u16string& body) {
    return host_.Request(message,
                         u"<XMLMessage TargetId=\"T\" Status=\"1\">" + body + u"</XMLMessage>");
  }
  static std::u16string Number(long value) { return std::u16string(kx_ltow(value, 10)); }
  kx::host::RequestResult Pack(long page, long field) {
    return Send(u"PackObjects", u"<PackObjects PageId=\"" + Number(page) + u"\" FieldId=\"" +
                                    Number(field) + u"\"/>");
  }
  kx::host::RequestResult Sort(long page, long field, const char16_t* code) {
    return Send(u"ApplyDatasheetSort", u"<ApplyDatasheetSort PageId=\"" + Number(page) +
                                           u"\" FieldId=\"" + Number(field) + u"\" SortId=\"" +
                                           code + u"\"/>");
  }
  static std::string Reply(const kx::host::RequestResult& result) {
    return kx::test::pages::ReplyText(result);
  }
  std::vector<std::string> Values(long id, const char16_t* name) { return host_.Values(id, name); }
  // What the vessel node and its two nozzle nodes show on the page.
  std::vector<std::string> Nodes(long page) {
    const std::vector<std::string> indices = Values(page, u"NodeIndices");
    const std::vector<std::string> objects = Values(page, u"NodeObjects");
    std::vector<std::string> shown;
    for (size_t node = 0; node < 3; ++node) {
      const size_t at =
          node < indices.size() && indices[node] != "-" ? std::stoul(indices[node]) : 0;
      shown.push_back(at >= 1 && at <= objects.size() ? objects[at - 1] : "-");
    }
    return shown;
  }
  using Shown = std::vector<std::string>;
  // The list's row objects, and the name each row's first field record
  // shows with the row it is stamped with ("alpha@0").
  std::vector<std::string> Rows() {
    const std::vector<std::string> objects = Values(kListPage, u"NodeObjects");
    return std::vector<std::string>(objects.begin() + 1, objects.end());
  }
  std::vector<std::string> RowNames() {
    std::vector<std::string> names;
    const std::vector<std::string> fields = Values(kListPage, u"Fields");
    for (size_t at = 1; at < fields.size(); at += 3) {
      const std::string& record = fields[at];
      const size_t value = record.find("Value=\"") + 7;
      const size_t index = record.find("Index=\"") + 7;
      names.push_back(record.substr(value, record.find('"', value) - value) + "@" +
                      record.substr(index, record.find('"', index) - index));
    }
    return names;
  }

  PagesHost host_;
};

// ---------------------------------------------------------------------------
// Sub-view objects travel to the sub-view of their own name

TEST_F(ListOrderTest, PackingKeepsEveryNozzleOnItsOwnSubView) {
  const auto packed = Pack(kSummary1, 1);
  ASSERT_TRUE(packed.succeeded()) << Narrow(packed.error);
  EXPECT_NE(Reply(packed).find("Packed 2 objects"), std::string::npos) << Reply(packed);
  // The row that stays and the row that moves up both keep their nozzles.
  EXPECT_EQ(Nodes(kSummary1), (Shown{"#10", "#20", "#21"}));
  EXPECT_EQ(Nodes(kSummary2), (Shown{"#11", "#22", "#23"}));
  EXPECT_EQ(Values(kSummary, u"CurrentPages"), (Shown{"#101", "#102"}));
}

TEST_F(ListOrderTest, SortingKeepsEveryNozzleOnItsOwnSubView) {
  const auto sorted = Sort(kSummary1, 1, u"BYNAME");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_NE(Reply(sorted).find("Sorted 2 objects"), std::string::npos) << Reply(sorted);
  EXPECT_EQ(Nodes(kSummary1), (Shown{"#11", "#22", "#23"}));
  EXPECT_EQ(Nodes(kSummary2), (Shown{"#10", "#20", "#21"}));
}

TEST_F(ListOrderTest, CompositionKeepsEveryNozzleOnItsOwnSubView) {
  const auto filtered = Send(u"ApplyDatasheetFilter",
                             u"<ApplyDatasheetFilter PageId=\"101\" FieldId=\"1\" "
                             u"FilterId=\"Water\" Attach=\"1\"/>");
  ASSERT_TRUE(filtered.succeeded()) << Narrow(filtered.error);
  EXPECT_NE(Reply(filtered).find("Filtered 1 object<"), std::string::npos) << Reply(filtered);
  // V-A closes up onto the first page with its nozzles; V-B went with its
  // nozzles, and the pages left empty with them.
  EXPECT_EQ(Nodes(kSummary1), (Shown{"#11", "#22", "#23"}));
  EXPECT_EQ(Values(kSummary, u"CurrentPages"), (Shown{"#101"}));
}

}  // namespace

// ---------------------------------------------------------------------------
// What a pack gathers and writes

TEST_F(ListOrderTest, PackingFromARowAfterTheLastObjectGathersNothing) {
  // Page 104 stands after the last vessel: nothing lies between it and the
  // end of the list, so there is nothing to move up.
  const auto packed = Pack(kSummary4, 1);
  EXPECT_FALSE(packed.succeeded()) << Reply(packed);
  EXPECT_EQ(kx::test::pages::FirstDesc(packed.error), "No objects to move");
  EXPECT_EQ(Values(kSummary, u"CurrentPages"), (Shown{"#101", "#102", "#103", "#104"}));
  EXPECT_EQ(Nodes(kSummary3), (Shown{"#11", "#22", "#23"}));
  // From page 102 on, the gap at 102 itself is closed.
  const auto fromGap = Pack(kSummary2, 1);
  ASSERT_TRUE(fromGap.succeeded()) << Narrow(fromGap.error);
  EXPECT_NE(Reply(fromGap).find("Packed 1 object<"), std::string::npos) << Reply(fromGap);
  EXPECT_EQ(Nodes(kSummary1), (Shown{"#10", "#20", "#21"}));
  EXPECT_EQ(Nodes(kSummary2), (Shown{"#11", "#22", "#23"}));
}

TEST_F(ListOrderTest, PackingAVectorWritesNoHiddenObjectsForTheNodesItEmpties) {
  const auto packed = Pack(kVectorPage, 2);
  ASSERT_TRUE(packed.succeeded()) << Narrow(packed.error);
  EXPECT_NE(Reply(packed).find("Packed 1 object<"), std::string::npos) << Reply(packed);
  EXPECT_EQ(Nodes(kVectorPage), (Shown{"#12", "#25", "-"}));
  for (const std::string& value : Values(kVectorPage, u"HiddenObjects")) EXPECT_EQ(value, "-");
}

// ---------------------------------------------------------------------------
// Keys of the "CLA"/"CLD" value sorts

TEST_F(ListOrderTest, TextKeysCompareLettersBeforeTheirCase) {
  auto sorted = Sort(kListPage, 201, u"CLA");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_NE(Reply(sorted).find("Sorted 4 objects"), std::string::npos) << Reply(sorted);
  EXPECT_EQ(Rows(), (Shown{"#32", "#30", "#31", "#33"}));
  EXPECT_EQ(RowNames(), (Shown{"alpha@0", "Beta@1", "Charlie@2", "delta@3"}));
  sorted = Sort(kListPage, 201, u"CLD");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_EQ(Rows(), (Shown{"#33", "#31", "#30", "#32"}));
}

TEST_F(ListOrderTest, IntegerKeysAreThirtyTwoBitValuesAsWcstolReadsThem) {
  // Codes 5, 99999999999, -3, -99999999999: the second reads as 2147483647,
  // the last as -2147483648, which counts as no value.
  auto sorted = Sort(kListPage, 202, u"CLD");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_NE(Reply(sorted).find("Sorted 4 objects"), std::string::npos) << Reply(sorted);
  EXPECT_EQ(Rows(), (Shown{"#31", "#30", "#32", "#33"}));
  EXPECT_EQ(RowNames(), (Shown{"Charlie@0", "Beta@1", "alpha@2", "delta@3"}));
  sorted = Sort(kListPage, 202, u"CLA");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_EQ(Rows(), (Shown{"#32", "#30", "#31", "#33"}));
}

TEST_F(ListOrderTest, EqualKeysComeOutInRowOrderAscendingAndReversedDescending) {
  // Speeds 7, 2, 7 and none on rows Beta, Charlie, alpha, delta.
  auto sorted = Sort(kListPage, 203, u"CLD");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_EQ(Rows(), (Shown{"#32", "#30", "#31", "#33"}));
  EXPECT_EQ(RowNames(), (Shown{"alpha@0", "Beta@1", "Charlie@2", "delta@3"}));
  sorted = Sort(kListPage, 203, u"CLA");
  ASSERT_TRUE(sorted.succeeded()) << Narrow(sorted.error);
  EXPECT_EQ(Rows(), (Shown{"#31", "#32", "#30", "#33"}));
  EXPECT_EQ(RowNames(), (Shown{"Charlie@0", "alpha@1", "Beta@2", "delta@3"}));
}
