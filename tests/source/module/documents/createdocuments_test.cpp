// "CreateDocuments" end to end: datasheets and summary sheets from
// templates, diagrams through the drawing service; the reply in the
// "OpenDocuments" form, the new objects in the store.
#include <gtest/gtest.h>
#include <string>

#include "support/validationfixture.h"

using namespace kx::test::validation;
using kx::test::pages::Count;
using kx::test::pages::FirstDesc;
using kx::test::pages::Narrow;

namespace {

std::u16string Create(const std::u16string& attributes, const std::u16string& children) {
  return u"<XMLMessage><CreateDocuments" + attributes + u">" + children +
         u"</CreateDocuments></XMLMessage>";
}

// The ids of every instance of `cls`, in store order.
std::vector<LONG> Instances(ValidationPlant& plant, const char16_t* cls) {
  IKXQSchemaPtr schema;
  plant.host().database()->get_Schema(&schema);
  IKXQClassPtr found;
  schema->get_Class(_bstr_t(cls), &found);
  std::vector<LONG> ids;
  _com_ptr_t<IKXQObjectCollection> instances;
  if (!found || FAILED(found->get_Instances(&instances)) || !instances) return ids;
  LONG count = 0;
  instances->get_Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    IKXQObjectPtr item;
    instances->get_Item(i, &item);
    LONG id = 0;
    if (item) item->get_Id(&id);
    ids.push_back(id);
  }
  return ids;
}

TEST(CreateDocumentsTest, DatasheetsSummarySheetsAndDiagramsAnswerAsOpenedDocuments) {
  ValidationPlant plant;
  const size_t before = Instances(plant, u"Datasheet").size();
  const auto result = plant.host().Request(
      u"CreateDocuments",
      Create(u" CaseId=\"1\"",
             u"<Datasheet ObjectId=\"10\" TemplateId=\"TV\"/><Datasheet TemplateId=\"TS\"/>"
             u"<Diagram Name=\"PFD-2\" DiagramClass=\"\"/>"));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  const std::string reply = Narrow(result.reply);
  EXPECT_EQ(reply.rfind("<XMLMessage TargetId=\"App\"><OpenDocuments><Datasheet ", 0), 0u) << reply;
  EXPECT_EQ(Count(reply, "<Datasheet "), 2u) << reply;
  EXPECT_NE(reply.find("Status=\"1\"/></OpenDocuments></XMLMessage>"), std::string::npos) << reply;
  EXPECT_EQ(reply.find("<Diagram DocumentId=\"0\""), std::string::npos) << reply;
  const std::vector<LONG> datasheets = Instances(plant, u"Datasheet");
  ASSERT_EQ(datasheets.size(), before + 2);
  // The summary sheet holds the pumps of its template's class.
  const LONG summary = datasheets.back();
  EXPECT_NE(reply.find("DocumentId=\"" + std::to_string(summary) + "\""), std::string::npos)
      << reply;
  const std::vector<LONG> diagrams = Instances(plant, u"Diagram");
  ASSERT_EQ(diagrams.size(), 1u);
  EXPECT_NE(
      reply.find("<Diagram DocumentId=\"" + std::to_string(diagrams[0]) + "\" Status=\"1\"/>"),
      std::string::npos)
      << reply;
}

TEST(CreateDocumentsTest, TheMasterBeddTemplateIsRefusedByItsExactName) {
  ValidationPlant plant;
  const size_t before = Instances(plant, u"Datasheet").size();
  const auto refused =
      plant.host().Request(u"CreateDocuments", Create(u"", u"<Datasheet TemplateId=\"BEDD\"/>"));
  EXPECT_EQ(refused.hr, E_FAIL);
  EXPECT_EQ(FirstDesc(refused.error), "An instance of BEDD Datasheet already exists.");
  EXPECT_EQ(Instances(plant, u"Datasheet").size(), before);
  const auto lower = plant.host().Request(u"CreateDocuments",
                                          Create(u"", u"<Datasheet TemplateId=\"bedd-lower\"/>"));
  EXPECT_TRUE(lower.succeeded()) << Narrow(lower.error);
  EXPECT_EQ(Instances(plant, u"Datasheet").size(), before + 1);
}

TEST(CreateDocumentsTest, ACreationThatMakesNoDocumentFailsAndLoadsNothing) {
  ValidationPlant plant;
  const size_t before = Instances(plant, u"Datasheet").size();
  const auto general =
      plant.host().Request(u"CreateDocuments", Create(u"", u"<Datasheet TemplateId=\"GEN\"/>"));
  EXPECT_EQ(general.hr, E_FAIL);
  EXPECT_EQ(FirstDesc(general.error), "The template GEN of kind General makes no datasheet");
  const auto unknown =
      plant.host().Request(u"CreateDocuments", Create(u"", u"<Datasheet TemplateId=\"NOPE\"/>"));
  EXPECT_TRUE(FAILED(unknown.hr));
  EXPECT_EQ(Instances(plant, u"Datasheet").size(), before);
}

TEST(CreateDocumentsTest, TheProjectsUnitSetIsAppliedToTheNewDocument) {
  ValidationPlant plant("good", "Workshop");
  const auto result =
      plant.host().Request(u"CreateDocuments", Create(u"", u"<Datasheet TemplateId=\"TV\"/>"));
  ASSERT_TRUE(result.succeeded()) << Narrow(result.error);
  EXPECT_EQ(plant.Text(Instances(plant, u"Datasheet").back(), u"BaseDimensionSet"), "Workshop");

  ValidationPlant si;
  ASSERT_TRUE(si.host()
                  .Request(u"CreateDocuments", Create(u"", u"<Datasheet TemplateId=\"TV\"/>"))
                  .succeeded());
  EXPECT_EQ(si.Text(Instances(si, u"Datasheet").back(), u"BaseDimensionSet"), "");
}

TEST(CreateDocumentsTest, AnAsBuiltTwinIsMadeOnceOutsideTheRootProject) {
  ValidationPlant plant;
  // In the root project the new sheet serves project 1 itself.
  const size_t before = Instances(plant, u"Datasheet").size();
  ASSERT_TRUE(plant.host()
                  .Request(u"CreateDocuments", Create(u" CreateAsBuiltSummary=\"true\"",
                                                      u"<Datasheet TemplateId=\"TS\"/>"))
                  .succeeded());
  EXPECT_EQ(Instances(plant, u"Datasheet").size(), before + 1);
}

}  // namespace
