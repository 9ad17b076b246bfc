// "CloseDocuments" end to end on the sample plant (support/cataloguetest.h).
#include "support/cataloguetest.h"

using namespace kx::test::inprocess;

namespace {

TEST_F(CatalogueTest, ClosingCallsTheStoresCloseVersionPerDocument) {
  workflow_.steps.clear();
  const auto result =
      Request(u"CloseDocuments",
              u"<XMLMessage><CloseDocuments><Datasheet DocumentId=\"1001\" Status=\"4\"/>"
              u"<Datasheet DocumentId=\"1002\"/><Diagram DocumentId=\"1101\" Status=\"1\"/>"
              u"</CloseDocuments></XMLMessage>");
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(workflow_.steps, (std::vector<std::string>{"1001 199 4", "1002 199 -1", "1101 199 1"}));
  EXPECT_TRUE(
      Request(u"CloseDocuments", u"<XMLMessage><CloseDocuments/></XMLMessage>").succeeded());
}

}  // namespace
