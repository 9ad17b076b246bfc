// The page messages end to end through the host driver, in-process:
// "ListTemplatePages" and "ListTemplatePagesByObject" against a small
// template store (the reply lists the template pages a client may insert,
// labelled); "InsertPages", "DeletePage" and "PageLayout" against a small
// datasheet store (how the parsers hand each "Page" element and each layout
// value to the workers, what a failing element leaves behind). The page
// messages with transactions and change events through kxqhost:
// tests/tools/kxqhost_pages_test.cpp.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/host.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "model/kxdbdatasheetutils.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"
#include "support/moduletestsupport.h"
#include "support/templatestore.h"

using namespace kx::test::inprocess;

namespace {

std::string Text(const std::u16string& text) { return Narrow(text); }

// The "Pages" element of `tmpl` for object 100 ("P-100") or for none.
std::string PumpPages(const char* objectId) {
  const std::string object = objectId ? std::string(" ObjectId=\"") + objectId + "\"" : "";
  const std::string prefix = objectId ? "P-100: " : "";
  return "<Pages TemplateId=\"PUMP\"" + object + ">" + "<Page TemplatePageId=\"P1\" Name=\"" +
         prefix + "Pump sheet - Process 1\"/>" + "<Page TemplatePageId=\"P2\" Name=\"" + prefix +
         "Pump sheet - 2\"/>" + "<Page TemplatePageId=\"P3\" Name=\"" + prefix +
         "Pump sheet - Motor %s 00003 of %d %\"/></Pages>";
}

std::string ListPages(const std::string& object) {
  const bool named = !object.empty();
  return "<Pages TemplateId=\"LIST\"" + (named ? " ObjectId=\"" + object + "\"" : std::string()) +
         "><Page TemplatePageId=\"L1\" Name=\"" +
         (object == "100"   ? "P-100: "
          : object == "200" ? "V-200: "
                            : "") +
         "A summary list - List 1\"/></Pages>";
}

TEST(ListTemplatePages, AnOrdinaryDatasheetListsTheTemplatesOfItsObjectsThenTheLists) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListTemplatePages", u"1000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ("<XMLMessage TargetId=\"1000\">" + ListPages("100") + PumpPages("100") +
                "<Pages TemplateId=\"pump-b\" ObjectId=\"100\"><Page TemplatePageId=\"B1\" "
                "Name=\"P-100: PUMP SHEET - Sheet\"/></Pages>" +
                ListPages("") + "</XMLMessage>",
            Text(result.reply));
}

TEST(ListTemplatePages, WithoutPrimaryObjectsTheGlobalsClassServes) {
  TemplateStore plant;
  const auto result = plant.Request(u"ListTemplatePages", u"4000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(
      "<XMLMessage TargetId=\"4000\">"
      "<Pages TemplateId=\"GLOBE\"><Page TemplatePageId=\"G1\" Name=\"g globals - Globals "
      "1\"/></Pages>" +
          ListPages("") + ListPages("") + "</XMLMessage>",
      Text(result.reply));
  // "d general" is never offered.
  EXPECT_EQ(std::string::npos, Text(result.reply).find("GEN"));
}

TEST(ListTemplatePages, SummarySheetsListTheirOwnTemplateOrTheLists) {
  TemplateStore plant;
  auto result = plant.Request(u"ListTemplatePages", u"3000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(
      "<XMLMessage TargetId=\"3000\"><Pages TemplateId=\"PLAINSUM\"><Page TemplatePageId=\"S1\" "
      "Name=\"c plain summary - Summary\"/></Pages></XMLMessage>",
      Text(result.reply));
  result = plant.Request(u"ListTemplatePages", u"2000");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ("<XMLMessage TargetId=\"2000\">" + ListPages("") + "</XMLMessage>", Text(result.reply));
}

TEST(ListTemplatePages, AnIdThatNamesNoDatasheetFails) {
  TemplateStore plant;
  EXPECT_FALSE(plant.Request(u"ListTemplatePages", u"999999").succeeded());
  const auto result = plant.Request(u"ListTemplatePages", u"not a number");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(u"", result.reply);
}

TEST(ListTemplatePagesByObject, OneRecordPerObjectEvenWhenNamedTwice) {
  TemplateStore plant;
  const auto result =
      plant.Request(u"ListTemplatePagesByObject",
                    u"<XMLMessage TargetId=\"Insert\" Status=\"1\"><ListTemplatePagesByObject>"
                    u"<ObjectId>100</ObjectId><ObjectId>200</ObjectId><ObjectId> 100</ObjectId>"
                    u"</ListTemplatePagesByObject></XMLMessage>");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ("<XMLMessage TargetId=\"Insert\">" + ListPages("100") + PumpPages("100") +
                "<Pages TemplateId=\"pump-b\" ObjectId=\"100\"><Page TemplatePageId=\"B1\" "
                "Name=\"P-100: PUMP SHEET - Sheet\"/></Pages>" +
                ListPages("200") +
                "<Pages TemplateId=\"OFF\" ObjectId=\"200\"><Page TemplatePageId=\"O1\" "
                "Name=\"V-200: e off - Off\"/></Pages>"
                "<Pages TemplateId=\"VES\" ObjectId=\"200\"><Page TemplatePageId=\"V1\" "
                "Name=\"V-200: b vessel - Shell\"/></Pages>"
                "</XMLMessage>",
            Text(result.reply));
}

TEST(ListTemplatePagesByObject, WithoutObjectsNothingIsWritten) {
  TemplateStore plant;
  auto result =
      plant.Request(u"ListTemplatePagesByObject",
                    u"<XMLMessage TargetId=\"X\"><ListTemplatePagesByObject/></XMLMessage>");
  ASSERT_EQ(S_OK, result.hr) << ErrorText(result);
  EXPECT_EQ(u"", result.reply);
  result = plant.Request(
      u"ListTemplatePagesByObject",
      u"<XMLMessage TargetId=\"X\"><ListTemplatePagesByObject><ObjectId>424242</ObjectId>"
      u"</ListTemplatePagesByObject></XMLMessage>");
  EXPECT_FALSE(result.succeeded());
  EXPECT_EQ(u"", result.reply);
}

TEST(PageNames, OnlyTheFirstIntegerDirectiveTakesTheNumber) {
  using KXDBDatasheetSvcs::FormatPageName;
  EXPECT_EQ(u"Page 3", FormatPageName(u"Page %d", 3));
  EXPECT_EQ(u"Page 3 of %d", FormatPageName(u"Page %d of %d", 3));
  EXPECT_EQ(u"Page 003, 100%", FormatPageName(u"Page %03i, 100%%", 3));
  EXPECT_EQ(u"%s %n %x 7", FormatPageName(u"%s %n %x %lu", 7));
  EXPECT_EQ(u"[-5  ]", FormatPageName(u"[%-4d]", -5));
  EXPECT_EQ(u"No number", FormatPageName(u"No number", 9));
  EXPECT_EQ(u"50%", FormatPageName(u"50%", 1));
  // Never longer than the name and 7 characters.
  EXPECT_EQ(u"x          ", FormatPageName(u"x%99999999d", 1).substr(0, 11));
  EXPECT_EQ(18u, FormatPageName(u"x%99999999d", 1).size());
  EXPECT_EQ(u"429496729", FormatPageName(u"%u", -1));  // 2 + 7 of its 10 digits
}

}  // namespace

namespace {

// Datasheet 10 (template T, alice at status 1) with pages 11, 12 and 13
// numbered 1, 2 and 5 (a gap); pump 100 and motor 110.
const char kFixture[] = R"(<store>
 <schema>
  <class name="Datasheet"><attribute name="TemplateId"/><attribute name="DefaultCase" type="integer"/>
   <attribute name="NumberOfPages" type="integer"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/></class>
  <class name="Page"><attribute name="TemplateId"/><attribute name="PageId"/><attribute name="Checknum"/>
   <attribute name="PageNumber" type="integer"/><attribute name="Cases" type="integer" list="true"/>
   <attribute name="NodeObjects" type="object" list="true"/><attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="Fields" list="true"/><attribute name="PaperSize" type="integer"/><attribute name="ScaleFactor" type="real"/></class>
  <class name="Pump"/><class name="Motor"/>
 </schema>
 <projects><project id="1" name="Plant"/></projects>
 <templates>
  <template id="T" checknum="1" classes="Pump"><page id="P"><node name="A" index="0" classes="Pump"/></page></template>
 </templates>
 <objects>
  <object id="100" class="Pump"/><object id="110" class="Motor"/>
  <object id="10" class="Datasheet"><value attribute="TemplateId">T</value><value attribute="NumberOfPages">2</value>
   <value attribute="CurrentPages" ref="11"/><value attribute="CurrentPages" ref="12"/>
   <value attribute="CurrentPages" ref="13"/><user name="alice" status="1"/></object>
  <object id="11" class="Page" owner="10"><value attribute="PageNumber">1</value></object>
  <object id="12" class="Page" owner="10"><value attribute="PageNumber">2</value></object>
  <object id="13" class="Page" owner="10"><value attribute="PageNumber">5</value></object>
 </objects>
</store>
)";

class PageMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store_).ok());
    ASSERT_TRUE(store_->ImportFixtureText(kFixture, "fixture").ok());
    _com_ptr_t<IKXQSchema> schema;
    _com_ptr_t<IKXQTemplateLibrary> library;
    (void)store_->Database()->get_Schema(&schema);
    (void)store_->Database()->get_TemplateLibrary(&library);
    host_.application().SetStore(store_->Database(), schema, library);
    module_ = kx::test::inprocess::CreateInProcessMain(&MainWorkers::Defaults());
    ASSERT_TRUE(module_);
    ASSERT_EQ(host_.Attach(module_.get()), S_OK);
  }
  void TearDown() override {
    host_.application().DiscardPendingEvents();
    host_.Detach();
  }

  kx::host::RequestResult Send(const char16_t* message, const std::u16string& body) {
    return host_.Request(message,
                         u"<XMLMessage TargetId=\"10\" Status=\"1\">" + body + u"</XMLMessage>");
  }

  // Ids of the datasheet's current pages.
  std::vector<LONG> Pages() {
    std::vector<LONG> ids;
    _com_ptr_t<IKXQObject> sheet;
    (void)store_->Database()->get_Object(10, &sheet);
    _com_ptr_t<IKXQAttribute> pages;
    (void)sheet->get_Attribute(_bstr_t(u"CurrentPages"), _variant_t(), &pages);
    LONG count = 0;
    (void)pages->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
      _variant_t value;
      (void)pages->GetValue(_variant_t(i), _variant_t(), &value);
      _com_ptr_t<IKXQObject> page;
      if (value.vt == VT_DISPATCH && value.pdispVal != nullptr) {
        (void)value.pdispVal->QueryInterface(kx_uuidof<IKXQObject>(),
                                             reinterpret_cast<void**>(&page));
      }
      LONG id = 0;
      if (page) (void)page->get_Id(&id);
      ids.push_back(id);
    }
    return ids;
  }

  _variant_t Value(LONG id, const char16_t* name, LONG position = 1) {
    _com_ptr_t<IKXQObject> object;
    (void)store_->Database()->get_Object(id, &object);
    _com_ptr_t<IKXQAttribute> attribute;
    (void)object->get_Attribute(_bstr_t(name), _variant_t(), &attribute);
    _variant_t value;
    if (attribute) (void)attribute->GetValue(_variant_t(position), _variant_t(), &value);
    return value;
  }

  std::unique_ptr<kx::store::Store> store_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> module_;
};

TEST_F(PageMessages, EachPageElementStartsWithoutTheObjectOfThePreviousOne) {
  const auto result = Send(
      u"InsertPages",
      u"<InsertPages PageId=\"11\"><Page TemplateId=\"T\" TemplatePageId=\"P\" ObjectId=\"100\"/>"
      u"<Page TemplateId=\"T\" TemplatePageId=\"P\"/></InsertPages>");
  ASSERT_TRUE(result.succeeded());
  const std::vector<LONG> pages = Pages();
  ASSERT_EQ(pages.size(), 5u);
  EXPECT_EQ(pages[0], 11);
  EXPECT_EQ(pages[3], 12);
  // Numbers shift by the pages inserted; the gap before 13 stays.
  EXPECT_EQ(static_cast<LONG>(Value(pages[2], u"PageNumber")), 3);
  EXPECT_EQ(static_cast<LONG>(Value(12, u"PageNumber")), 4);
  EXPECT_EQ(static_cast<LONG>(Value(13, u"PageNumber")), 7);
  EXPECT_EQ(Value(pages[1], u"NodeObjects").vt, VT_DISPATCH);
  EXPECT_EQ(Value(pages[2], u"NodeObjects").vt, VT_EMPTY);
  ASSERT_EQ(result.events.size(), 1u);
  EXPECT_EQ(result.events[0].key.value_or(u""), u"D1 10");
}

TEST_F(PageMessages, AFailingPageEndsTheRequestBeforeTheLaterPagesAndTheEvent) {
  const auto result = Send(u"InsertPages",
                           u"<InsertPages><Page TemplateId=\"T\" TemplatePageId=\"P\"/>"
                           u"<Page TemplateId=\"T\" TemplatePageId=\"NOPE\"/>"
                           u"<Page TemplateId=\"T\" TemplatePageId=\"P\"/></InsertPages>");
  EXPECT_FALSE(result.succeeded());
  EXPECT_NE(result.error.find(u"Unable to find template page NOPE"), std::u16string::npos);
  // Without a store transaction the first page stays (the host rolls the
  // whole call back); the third was never made.
  EXPECT_EQ(Pages().size(), 4u);
  EXPECT_TRUE(result.events.empty());
}

TEST_F(PageMessages, DeletingAPageKeepsTheGapsOfTheNumbering) {
  const auto result = host_.Request(u"DeletePage", u"12");
  ASSERT_TRUE(result.succeeded());
  EXPECT_EQ(Pages(), (std::vector<LONG>{11, 13}));
  EXPECT_EQ(static_cast<LONG>(Value(11, u"PageNumber")), 1);
  EXPECT_EQ(static_cast<LONG>(Value(13, u"PageNumber")), 4);
  EXPECT_EQ(static_cast<LONG>(Value(10, u"NumberOfPages")), 1);
}

TEST_F(PageMessages, LayoutValuesBeforeThePageIdAreDropped) {
  const auto result =
      Send(u"PageLayout", u"<PageLayout PaperSize=\"8\" PageId=\"12\" ScaleFactor=\"0.75\"/>");
  ASSERT_TRUE(result.succeeded());
  EXPECT_EQ(Value(12, u"PaperSize").vt, VT_EMPTY);
  EXPECT_DOUBLE_EQ(static_cast<double>(Value(12, u"ScaleFactor")), 0.75);
  // A layout value the page's class lacks fails the request.
  EXPECT_FALSE(Send(u"PageLayout", u"<PageLayout PageId=\"12\" Orientation=\"2\"/>").succeeded());
}

}  // namespace
