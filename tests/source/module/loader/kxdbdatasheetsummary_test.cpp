// Summary-sheet membership and datasheet cases, in-process: which member
// gets a page, which page takes it, and what the clients are told.
#include "loader/kxdbdatasheetsummary.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetpages.h"
#include "support/mainfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::AttachedMain;
using kx::test::model::ModelStore;

namespace {

// Summary sheet 20 (template TSUM, page-per-member) has page 21 holding
// pump 100 and page 22 of another template id spelt "tsum". Pumps 100-102
// are claimed by the root project, 103 by nobody. Datasheet 30 (template
// TDS) has pages 31 and 32 in case 1; alice holds both sheets at status 1.
const char kSummaryFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="Datasheet" base="GenericClass">
   <attribute name="TemplateId"/><attribute name="DefaultCase" type="integer"/><attribute name="CaseName"/>
   <attribute name="NumberOfPages" type="integer"/><attribute name="ObjectFilter"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Page" base="GenericClass">
   <attribute name="TemplateId"/><attribute name="PageId"/><attribute name="Checknum"/>
   <attribute name="PageNumber" type="integer"/><attribute name="Cases" type="integer" list="true"/>
   <attribute name="NodeObjects" type="object" list="true"/><attribute name="NodeIndices" type="integer" list="true"/>
  </class>
  <class name="Pump" base="GenericClass"/>
 </schema>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Design"/><case id="2" name="Operating"/></cases>
 <templates>
  <template id="TSUM" checknum="2" kind="Summary" classes="Pump">
   <page id="S1"><node name="Equipment" index="0" classes="Pump"><field id="1"/></node></page>
  </template>
  <template id="TDS" checknum="5" classes="Pump">
   <page id="P1"><node name="Equipment" index="0" classes="Pump"><field id="1"/></node></page>
  </template>
 </templates>
 <objects>
  <object id="100" class="Pump"><claim project="1"/></object>
  <object id="101" class="Pump"><claim project="1"/></object>
  <object id="102" class="Pump"><claim project="1"/></object>
  <object id="103" class="Pump"/>
  <object id="20" class="Datasheet">
   <value attribute="TemplateId">TSUM</value><value attribute="DefaultCase">2</value>
   <value attribute="NumberOfPages">2</value>
   <value attribute="CurrentPages" ref="21"/><value attribute="CurrentPages" ref="22"/>
   <user name="alice" status="1"/>
  </object>
  <object id="21" class="Page" owner="20">
   <value attribute="TemplateId">TSUM</value><value attribute="PageId">S1</value>
   <value attribute="NodeObjects" ref="100"/><value attribute="NodeIndices">1</value>
  </object>
  <object id="22" class="Page" owner="20">
   <value attribute="TemplateId">tsum</value><value attribute="PageId">S1</value>
  </object>
  <object id="30" class="Datasheet">
   <value attribute="TemplateId">TDS</value><value attribute="DefaultCase">1</value>
   <value attribute="CurrentPages" ref="31"/><value attribute="CurrentPages" ref="32"/>
   <user name="alice" status="1"/>
  </object>
  <object id="31" class="Page" owner="30"><value attribute="Cases">1</value></object>
  <object id="32" class="Page" owner="30"><value attribute="Cases">1</value></object>
 </objects>
</store>
)";

std::vector<LONG> PageIds(ModelStore& store, LONG datasheet) {
  IKXQAttributePtr pages;
  GetAttributeInterface(store.Object(datasheet), u"CurrentPages", pages);
  std::vector<LONG> ids;
  for (int32_t i = 1; i <= GetAttributeCount(pages); ++i) {
    IKXQObjectPtr page;
    GetAttributeAsObject(pages, i, page);
    LONG id = 0;
    if (page) (void)page->get_Id(&id);
    ids.push_back(id);
  }
  return ids;
}

LONG FirstObject(ModelStore& store, LONG page) {
  IKXQAttributePtr objects;
  GetAttributeInterface(store.Object(page), u"NodeObjects", objects);
  IKXQObjectPtr object;
  GetAttributeObjectAt(objects, object, 1);
  LONG id = 0;
  if (object) (void)object->get_Id(&id);
  return id;
}

std::string Text(ModelStore& store, LONG id, const OLECHAR* name) {
  _bstr_t text;
  IKXQAttributePtr attribute;
  GetAttributeInterface(store.Object(id), name, attribute);
  GetAttributeValueString(attribute, text);
  return kx::test::model::Narrow(text);
}

class SummarySheets : public ::testing::Test {
 protected:
  void TearDown() override { store_.app().DiscardPendingEvents(); }
  ModelStore store_{kSummaryFixture};
  AttachedMain main_{store_};
};

TEST_F(SummarySheets, AMemberOnTheSheetIsPlacedAgainOnlyWhenQuiet) {
  const IKXQTemplatePagePtr s1 = store_.TemplatePage(u"TSUM", u"S1");
  EXPECT_EQ(AddSummarySheetPage(*main_, store_.Object(100), store_.Object(20), s1, false), S_OK);
  EXPECT_EQ(PageIds(store_, 20).size(), 2u);
  EXPECT_TRUE(kx::test::model::DeliveredKeys(store_).empty());
  // Quiet: no on-sheet test. The only page of exactly "TSUM" is full, so a
  // new page follows, in the sheet's default case, with a datasheet event.
  EXPECT_EQ(AddSummarySheetPage(*main_, store_.Object(100), store_.Object(20), s1, true), S_OK);
  const std::vector<LONG> pages = PageIds(store_, 20);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(FirstObject(store_, pages[2]), 100);
  EXPECT_EQ(Text(store_, pages[2], u"Cases"), "2");
  EXPECT_EQ(Text(store_, pages[2], u"PageNumber"), "3");
  EXPECT_EQ(Text(store_, 20, u"NumberOfPages"), "3");
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"D1 20"}));
}

TEST_F(SummarySheets, OnlyClaimedMembersNotYetHandledGetPages) {
  IKXQTemplateLibraryPtr library;
  (void)store_.database()->get_TemplateLibrary(&library);
  IKXQTemplatePtr tmpl;
  (void)library->GetTemplate(_bstr_t(u"TSUM"), _variant_t(), &tmpl);
  EXPECT_EQ(ProcessSummarySheet(*main_, tmpl, store_.Object(20)), S_OK);
  // 100, 101, 102 each on a new page (the "tsum" page is not the
  // template's: case counts); 103 is claimed by nobody.
  const std::vector<LONG> pages = PageIds(store_, 20);
  ASSERT_EQ(pages.size(), 5u);
  EXPECT_EQ(FirstObject(store_, pages[2]), 100);
  EXPECT_EQ(FirstObject(store_, pages[4]), 102);
  EXPECT_EQ(FirstObject(store_, 22), 0);
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"D1 20"}));
  // Taking all: 103 too.
  EXPECT_EQ(AddMembersToSummarySheet(*main_, store_.Object(20), tmpl, true), S_OK);
  EXPECT_EQ(PageIds(store_, 20).size(), 9u);
  EXPECT_EQ(ProcessSummarySheet(*main_, nullptr, store_.Object(20)), E_POINTER);
}

TEST_F(SummarySheets, TheDatasheetCaseGoesOnEveryPageWithAPageEventEach) {
  EXPECT_EQ(SetDatasheetCase(*main_, store_.Object(30), 2), S_OK);
  EXPECT_EQ(Text(store_, 31, u"Cases"), "2");
  EXPECT_EQ(Text(store_, 32, u"Cases"), "2");
  EXPECT_EQ(Text(store_, 30, u"DefaultCase"), "2");
  EXPECT_EQ(Text(store_, 30, u"CaseName"), "Operating");
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"P1 31", "P1 32"}));
  EXPECT_EQ(NotifyTemplateLibrary(store_.application(), store_.Object(30)), S_OK);
  EXPECT_EQ(SetCaseAt(nullptr, 0, 1), E_POINTER);
  EXPECT_EQ(PutObjectIntegerAsText(store_.Object(30), 42), S_OK);
  EXPECT_EQ(PutObjectIntegerAsText(nullptr, 42), E_POINTER);
}

}  // namespace
