// "ListDiagramsByObject" end to end on the sample plant (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, DiagramsOfAnObjectsRepresentations) {
  const std::string byObject =
      Reply(u"ListDiagramsByObject",
            u"<XMLMessage><ListDiagramsByObject CaseId=\"1\"><ObjectId>101</ObjectId>"
            u"<ObjectId>102</ObjectId></ListDiagramsByObject></XMLMessage>");
  const auto diagrams = Records(byObject);
  ASSERT_EQ(diagrams.size(), 1u);
  EXPECT_EQ(diagrams[0]["DocumentId"], "1101");
  // Nothing to list still writes the empty element.
  EXPECT_EQ(Reply(u"ListDiagramsByObject",
                  u"<XMLMessage><ListDiagramsByObject><ObjectId>131</ObjectId>"
                  u"</ListDiagramsByObject></XMLMessage>"),
            "<XMLMessage TargetId=\"App\"><Documents CurrentPage=\"0\"></Documents></XMLMessage>");
}

}  // namespace
