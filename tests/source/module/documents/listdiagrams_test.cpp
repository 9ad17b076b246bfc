// "ListDiagrams" and "ListSharedDiagrams" end to end on the sample plant (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, DiagramsWithTheDrawingServicesTemplates) {
  const std::string reply = Reply(u"ListDiagrams", u"");
  const auto records = Records(reply);
  std::vector<std::string> names;
  for (const Record& r : records)
    names.push_back(r["Status"] + " " + r["Name"] + " " + r["DiagramClass"]);
  EXPECT_EQ(names,
            (std::vector<std::string>{"0 New P&amp;ID A0 Diagram PFD", "0 New PFD A1 Diagram PFD",
                                      "0 Shared Diagram PFD", "1 Crude charge pumps PFD",
                                      "1 Crude preheat train PFD A1", "2 Crude charge pumps PFD"}));
  EXPECT_NE(reply.find("<Documents CurrentPage=\"1\">"), std::string::npos);
  EXPECT_EQ(records[4]["Case"], "Normal");
  EXPECT_EQ(records[4]["Scoped"], "1");
  ASSERT_EQ(host_.drawing().calls().size(), 1u);
  EXPECT_EQ(Narrow(host_.drawing().TakeCalls()[0].text), "DrawingTemplates -> \"PFD A1;P&ID A0\"");

  host_.drawing().SetDrawingTemplates(u"");
  auto fallback = Records(Reply(u"ListDiagrams", u""));
  EXPECT_EQ(fallback[0]["Name"] + "|" + fallback[1]["Name"], "New PFD Diagram|New PPID Diagram");
  host_.drawing().SetDrawingTemplates(u"A;;B;");
  fallback = Records(Reply(u"ListDiagrams", u""));
  EXPECT_EQ(fallback[0]["Name"] + "|" + fallback[1]["Name"] + "|" + fallback[2]["Name"],
            "New ;B; Diagram|New A Diagram|Shared Diagram")
      << "a rest that begins with \";\" is one last part";

  host_.drawing().failures().Add("get_DrawingTemplates", E_ACCESSDENIED, u"drawings are offline");
  const auto failed = Request(u"ListDiagrams", u"");
  EXPECT_EQ(failed.hr, E_ACCESSDENIED);
  EXPECT_NE(Narrow(failed.error).find("drawings are offline"), std::string::npos);
  EXPECT_EQ(Narrow(failed.reply), "");
}

TEST_F(CatalogueTest, SharedDiagramsAreListedOnceWithoutStatusAndScopedByTheirDrawing) {
  const std::string shared = Reply(u"ListSharedDiagrams", u"ignored");
  ASSERT_EQ(shared.rfind("<XMLMessage TargetId=\"App\"><SharedDiagrams>", 0), 0u) << shared;
  const auto records = Records(shared);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["Name"], "Crude charge pumps [Diagram] (Design)");
  EXPECT_EQ(records[0]["Status"], "<none>");
  EXPECT_EQ(records[1]["Name"], "Crude preheat train [PFD A1] (Normal)");
  EXPECT_EQ(records[1]["Scoped"], "1");
}

}  // namespace
