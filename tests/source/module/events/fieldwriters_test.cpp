// The field writers' stored and full forms, and the "DataField" change
// event: written when the host delivers it, from the store as it is then,
// with the loader's field writers; on continuous lists the removal of rows
// whose objects are gone and the rows' revisions.
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "fieldmodel/routecache.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "loader/loaddatasheet.h"
#include "loader/triggers.h"
#include "main/main.h"
#include "model/kxdbdatasheetutils.h"
#include "support/pagesfixture.h"

using namespace kx::test::pages;

namespace {

// The field model's sample store (tests/tools/data/fields-plant.xml): page
// 21 of datasheet 20 shows fields 1 to 14 of every kind; page 31 of
// datasheet 30 is a continuous list with one fixed field and rows of two
// (pumps 32 and 33).
std::string FieldsPlant() {
  // Named by the build: __FILE__ may be relative to the build folder.
  const std::string path = KX_FIELDS_FIXTURE;
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_FALSE(text.str().empty()) << path;
  return text.str();
}

class DataFieldEventTest : public ::testing::Test {
 protected:
  std::vector<std::string> Deliver() {
    std::vector<std::string> xml;
    for (const kx::host::DeliveredEvent& event : host_.app().DeliverPendingEvents()) {
      EXPECT_EQ(Narrow(event.message_name), "DataField");
      xml.push_back(event.xml ? Narrow(*event.xml) : "-");
    }
    return xml;
  }
  IKXQAttributePtr List(LONG id, const char16_t* name) {
    IKXQAttributePtr list;
    GetAttributeInterface(host_.Object(id), name, list);
    return list;
  }

  const std::string fixture_ = FieldsPlant();
  PagesHost host_{fixture_.c_str()};
};

TEST_F(DataFieldEventTest, TheStoredAndTheFullFormOfAField) {
  PageLoadContext context(&host_.main());
  IKXQTemplatePagePtr templatePage;
  ASSERT_EQ(KXDBDatasheetSvcs::GetTemplatePage(&host_.app(), host_.Object(21), &templatePage, 1),
            S_OK);
  IKXQAttributePtr fields = List(21, u"Fields");
  BSTR text = nullptr;
  // The stored form keeps the presentation, never the value or state.
  ASSERT_EQ(WriteFieldValueByType(context, host_.Object(21), templatePage, 1, fields, &text), S_OK);
  EXPECT_EQ(Narrow(_bstr_t(text, false).view()),
            "<String FieldId=\"1\" Alignment=\"1\" VerticalAlignment=\"0\"/>");
  // The full form carries the live value and its change against the issued
  // copy ("P-100").
  ASSERT_EQ(WriteFields(context, host_.Object(21), templatePage, 1, fields, &text), S_OK);
  EXPECT_EQ(Narrow(_bstr_t(text, false).view()),
            "<String FieldId=\"1\" Alignment=\"1\" VerticalAlignment=\"0\" State=\"256\" "
            "Value=\"P-101\"/>");
  ASSERT_EQ(WriteFields(context, host_.Object(21), templatePage, 3, fields, &text), S_OK);
  EXPECT_EQ(Narrow(_bstr_t(text, false).view()),
            "<Integer FieldId=\"3\" Alignment=\"0\" VerticalAlignment=\"0\" State=\"5\" "
            "Value=\"1450\"/>");
  // After a template change a field's record is looked for by its id: the
  // issued copy holds field 3's record at position 3, and that record is
  // the one compared, wherever the field now stands.
  IKXQAttributePtr issuedFields = List(22, u"Fields");
  EXPECT_EQ(ReadFieldDataAt(context, 3, -1, 1, issuedFields), 3);
  EXPECT_EQ(ReadFieldDataAt(context, 1, -1, 1, issuedFields), 1);
  EXPECT_EQ(ReadFieldDataAt(context, 9, -1, 1, issuedFields), -1);
  // A position without template field fails.
  EXPECT_TRUE(FAILED(WriteFields(context, host_.Object(21), templatePage, 40, fields, &text)));
  EXPECT_EQ(text, nullptr);
}

TEST_F(DataFieldEventTest, ChangedFieldsAreWrittenLiveAndTheListGrowsOnlyAtItsEnd) {
  IKXQAttributePtr tag = List(10, u"Tag");
  KXDBDatasheetSvcs::SetAttributeString(tag, u"P-100");
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(21), 1, 1, false), S_OK);
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(21), 11, 1, false), S_OK);
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(21), 30, 1, false), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  // Field 1 now equals the issued copy's text: no change mark. The check
  // without value shows "0"; field 30 has no template field and is left out.
  EXPECT_EQ(xml[0],
            "<?xml version=\"1.0\"?><XMLMessage TargetId=\"20\" Status=\"1\">"
            "<ShowStringField PageId=\"21\" FieldId=\"1\" Alignment=\"1\" VerticalAlignment=\"0\" "
            "State=\"0\" Value=\"P-100\"/>"
            "<ShowCheckField PageId=\"21\" FieldId=\"11\" State=\"0\" Value=\"0\"/>"
            "</XMLMessage>");
  // "Fields" grew one entry at a time up to field 30, nothing further.
  EXPECT_EQ(GetAttributeCount(List(21, u"Fields")), 30);
  bool dirty = false;
  EXPECT_TRUE(KXDBDatasheetSvcs::GetAttributeBoolean(List(20, u"Dirty"), &dirty));
}

TEST_F(DataFieldEventTest, AListRowGetsItsRevisionsOnceAndAGoneRowOneRemoveRow) {
  // Fields 2 and 3 are row 0; one field alone writes no revision.
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(31), 2, 1, false), S_OK);
  std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0].find("ShowRevision"), std::string::npos) << xml[0];
  EXPECT_NE(xml[0].find("Value=\"P-201\" Index=\"0\"/>"), std::string::npos) << xml[0];

  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(31), 2, 1, false), S_OK);
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(31), 3, 1, false), S_OK);
  xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_NE(xml[0].find("<ShowIntegerField PageId=\"31\" FieldId=\"3\""), std::string::npos);
  // Both fields stand on the row's node: the row's revision once, right
  // after its first field; its value is the row's first, behind the one
  // fixed value.
  EXPECT_EQ(Count(xml[0], "<ShowRevision "), 1u) << xml[0];
  EXPECT_NE(xml[0].find("FieldId=\"2\" Alignment=\"0\" VerticalAlignment=\"0\" State=\"256\" "
                        "Value=\"P-201\" Index=\"0\"/><ShowRevision PageId=\"31\" "
                        "RevisionId=\"1\" Alignment=\"0\" VerticalAlignment=\"0\" Index=\"0\"/>"),
            std::string::npos)
      << xml[0];
  // "Revisions" grew to one value past the one read (position 2).
  EXPECT_EQ(GetAttributeCount(List(31, u"Revisions")), 3);

  // Pump 33 (row 1) leaves the page: its fields give one "RemoveRow".
  IKXQAttributePtr objects = List(31, u"NodeObjects");
  ASSERT_EQ(objects->RemoveValues(3, 1), S_OK);
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(31), 4, 1, false), S_OK);
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(31), 5, 1, false), S_OK);
  xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0],
            "<?xml version=\"1.0\"?><XMLMessage TargetId=\"30\" Status=\"1\">"
            "\n<RemoveRow Index=\"1\" PageId=\"31\"/></XMLMessage>");
}

TEST_F(DataFieldEventTest, AnEventWithNothingToWriteHasNoXmlButMarksTheDatasheet) {
  ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(21), 14, 1, false), S_OK);
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0], "-");  // field 14's route fails: left out
  bool dirty = false;
  EXPECT_TRUE(KXDBDatasheetSvcs::GetAttributeBoolean(List(20, u"Dirty"), &dirty));
}

TEST_F(DataFieldEventTest, AnOpenPageWalksAFieldWithAUnitOnceLikeTheOthers) {
  // The page shows the tag and the flow, the flow in the page's unit.
  const IKXQAttributePtr fields = List(21, u"Fields");
  while (GetAttributeCount(fields) > 2) KXDBDatasheetSvcs::RemoveAttributeValue(fields, 3);
  const uint64_t before = RouteCache::Instance().WalkCount();
  const kx::host::RequestResult opened = host_.Request(u"OpenPage", u"21");
  ASSERT_TRUE(opened.succeeded()) << Narrow(opened.error);
  EXPECT_NE(Narrow(opened.reply).find("<ShowRealField PageId=\"21\" FieldId=\"2\""),
            std::string::npos)
      << Narrow(opened.reply);
  // The writer's walk to the flow serves the trigger set-up as well: each
  // route is walked once.
  EXPECT_EQ(RouteCache::Instance().WalkCount() - before, 2u);
}

TEST_F(DataFieldEventTest, AnOpenListWalksEachFieldOnceAndKeepsItsItems) {
  const kx::host::RequestResult opened = host_.Request(u"OpenPage", u"31");
  ASSERT_TRUE(opened.succeeded()) << Narrow(opened.error);
  _com_ptr_t<IKXQTrigger> trigger;
  ASSERT_EQ(host_.Object(31)->get_Trigger(_bstr_t(u"Field"), &trigger), S_OK);
  ASSERT_TRUE(trigger);
  // Both rows' fields: the writer's walk to each serves its item as well.
  const uint64_t before = RouteCache::Instance().WalkCount();
  for (const int32_t field : {2, 3, 4, 5}) {
    ASSERT_EQ(host_.main().LaunchDataFieldEvent(host_.Object(31), field, 1, false), S_OK);
  }
  const std::vector<std::string> xml = Deliver();
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_NE(xml[0].find("Value=\"P-202\" Index=\"1\"/>"), std::string::npos) << xml[0];
  EXPECT_EQ(RouteCache::Instance().WalkCount() - before, 4u);
  // The items recorded anew still watch the values: pump 33's tag fires
  // the item of its field.
  ASSERT_EQ(trigger->ClearFiredKeys(), S_OK);
  KXDBDatasheetSvcs::SetAttributeString(List(33, u"Tag"), u"P-302");
  const std::vector<_bstr_t> keys = ReadFiredKeys(trigger);
  std::vector<std::string> fired;
  for (const _bstr_t& key : keys) fired.push_back(Narrow(key.view()));
  EXPECT_NE(std::find(fired.begin(), fired.end(), "4"), fired.end()) << fired.size();
}

}  // namespace
