// "RenameDocuments" end to end on the sample plant (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, RenamingWritesTheNameAndTellsTheDatasheetsUsers) {
  const auto result = Request(u"RenameDocuments",
                              u"<XMLMessage TargetId=\"Editor\" Status=\"1\"><RenameDocuments>"
                              u"<Datasheet DocumentId=\"1002\" Status=\"2\"/>"
                              u"<Diagram DocumentId=\"1107\" Name=\"Charge pumps P&amp;ID\"/>"
                              u"<Datasheet DocumentId=\"1001\" Name=\"P-101A pump\"/>"
                              u"</RenameDocuments></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "");
  EXPECT_EQ(Text(1002, u"DocumentName"), "") << "no name: an empty one";
  EXPECT_EQ(Text(1107, u"DocumentName"), "Charge pumps P&ID");
  EXPECT_EQ(Text(1001, u"DocumentName"), "P-101A pump");
  // One datasheet event (status 1) per renamed datasheet; the diagram gets
  // none.
  std::vector<std::string> keys;
  for (const auto& event : result.events) keys.push_back(Narrow(event.key.value_or(u"")));
  EXPECT_EQ(keys, (std::vector<std::string>{"D1 1002", "D1 1001"}));
  EXPECT_EQ(host_.application().current_datasheet(), nullptr)
      << "the current datasheet is put back";

  const auto missing = Request(u"RenameDocuments",
                               u"<XMLMessage><RenameDocuments>"
                               u"<Diagram DocumentId=\"4242\" Name=\"x\"/>"
                               u"</RenameDocuments></XMLMessage>");
  EXPECT_FALSE(missing.succeeded());
}

}  // namespace
