// "GetOptions" through the host driver, in-process, against a small store:
// fixed lists, lists computed per object, the assertion of the field's
// object with the knowledge base's one chance ("FieldDataMissing"), and the
// cases without reply.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/moduletestsupport.h"

namespace {

using kx::test::inprocess::Narrow;

// Template T page P, node "Equipment" (pumps and motors): field 1 a fixed
// list with empty entries, field 2 options computed from the object's
// "Grades" (field case slot 0), field 3 the same on the child node
// "Driver". Pages of datasheet 10: 11 shows pump 20
// (case set), 12 pump 21 (no case: the field cannot be asserted), 13
// nothing, 14 motor 30 (no case; motors have no "FieldDataMissing").
// Continuous list TL page L (datasheet 40, page 41): rows of "Row" show
// pumps 20 and 21; field 5 computes its options from the row's "Grades".
const char kFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/><attribute name="DataViews" type="object" list="true"/></class>
  <class name="Document" base="GenericClass"/>
  <class name="Datasheet" base="Document"><attribute name="TemplateId"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/></class>
  <class name="Page" base="GenericClass"><attribute name="TemplateId"/><attribute name="PageId"/>
   <attribute name="Checknum"/><attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/><attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/><attribute name="Fields" list="true"/></class>
  <class name="Equipment" base="GenericClass"><attribute name="Tag"/><attribute name="Grades" list="true"/></class>
  <class name="Pump" base="Equipment"/>
  <class name="Motor" base="Equipment"/>
  <method class="Pump" name="FieldDataMissing" returns="none"/>
 </schema>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
  <template id="T" name="Pump sheet" checknum="1" classes="Pump"><page id="P">
   <node name="Equipment" index="0" classes="Equipment">
    <field id="1" type="String" attribute="Tag" options="API 610||ISO 5199|" case="0"/>
    <field id="2" type="String" attribute="Tag" optionsFrom="Grades" case="0"/>
    <node name="Driver" index="1" classes="Motor">
     <field id="3" type="String" attribute="Tag" optionsFrom="Grades" case="0"/>
    </node>
   </node></page></template>
  <template id="TL" name="Pump list" checknum="1" classes="Pump"><page id="L" continuous="Rows">
   <node name="Sheet" index="0" classes="Document"><field id="4" type="String" attribute="Name"/></node>
   <node name="Row" index="1" classes="Equipment">
    <field id="5" type="String" attribute="Tag" optionsFrom="Grades" case="0"/>
   </node></page></template>
 </templates>
 <objects>
  <object id="10" class="Datasheet"><value attribute="TemplateId">T</value>
   <value attribute="CurrentPages" ref="11"/><value attribute="CurrentPages" ref="12"/>
   <value attribute="CurrentPages" ref="13"/><value attribute="CurrentPages" ref="14"/></object>
  <object id="11" class="Page" owner="10"><value attribute="TemplateId">T</value><value attribute="PageId">P</value>
   <value attribute="NodeObjects" ref="20"/><value attribute="NodeIndices">1</value><value attribute="Cases">1</value></object>
  <object id="12" class="Page" owner="10"><value attribute="TemplateId">T</value><value attribute="PageId">P</value>
   <value attribute="NodeObjects" ref="21"/><value attribute="NodeIndices">1</value></object>
  <object id="13" class="Page" owner="10"><value attribute="TemplateId">T</value><value attribute="PageId">P</value>
   <value attribute="Cases">1</value></object>
  <object id="14" class="Page" owner="10"><value attribute="TemplateId">T</value><value attribute="PageId">P</value>
   <value attribute="NodeObjects" ref="30"/><value attribute="NodeIndices">1</value></object>
  <object id="40" class="Datasheet"><value attribute="TemplateId">TL</value>
   <value attribute="CurrentPages" ref="41"/></object>
  <object id="41" class="Page" owner="40"><value attribute="TemplateId">TL</value><value attribute="PageId">L</value>
   <value attribute="NodeObjects" ref="40"/><value attribute="NodeObjects" ref="20"/><value attribute="NodeObjects" ref="21"/>
   <value attribute="NodeIndices">1</value><value attribute="NodeIndices">2</value><value attribute="Cases">1</value></object>
  <object id="20" class="Pump"><value attribute="Tag">P-1</value><value attribute="Grades">Cast iron</value>
   <value attribute="Grades" empty="true"/><value attribute="Grades"></value><value attribute="Grades">Duplex</value></object>
  <object id="21" class="Pump"><value attribute="Grades">Bronze</value></object>
  <object id="30" class="Motor"><value attribute="Grades">IE3</value></object>
 </objects>
</store>
)";

class FieldOptions : public ::testing::Test {
 protected:
  kx::host::RequestResult Options(const std::u16string& attributes) {
    return host_.Request(u"GetOptions", u"<XMLMessage TargetId=\"D\" Status=\"1\"><GetOptions " +
                                            attributes + u"/></XMLMessage>");
  }
  long MethodCalls() { return fixture_.store().CallCount(u"FieldDataMissing"); }

  kx::test::inprocess::StoreHost fixture_{kFixture};
  kx::host::Host& host_ = fixture_.host();
};

TEST_F(FieldOptions, AFixedListInOrderWithoutItsEmptyEntries) {
  const auto result = Options(u"PageId=\"11\" FieldId=\"1\"");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  // A plain page: no "Index".
  EXPECT_EQ(Narrow(result.reply),
            "<XMLMessage TargetId=\"D\" Status=\"1\"><PopOptions PageId=\"11\" FieldId=\"1\">"
            "<Option>API 610</Option><Option>ISO 5199</Option></PopOptions></XMLMessage>");
  // A fixed list needs no object: page 13 shows none.
  EXPECT_EQ(Options(u"PageId=\"13\" FieldId=\"1\"").hr, S_OK);
}

TEST_F(FieldOptions, AComputedListComesFromTheFieldsObject) {
  const auto result = Options(u"PageId=\"11\" FieldId=\"2\" Index=\"0\"");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(
      Narrow(result.reply),
      "<XMLMessage TargetId=\"D\" Status=\"1\"><PopOptions PageId=\"11\" FieldId=\"2\" Index=\"0\">"
      "<Option>Cast iron</Option><Option>Duplex</Option></PopOptions></XMLMessage>");
  EXPECT_EQ(MethodCalls(), 0);
}

TEST_F(FieldOptions, MissingFieldDataGetsOneCallOfTheKnowledgeBaseThenTheAssertionsFailure) {
  const auto result = Options(u"PageId=\"12\" FieldId=\"2\"");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(Narrow(result.error).find("Cannot set value for field with no defined case"),
            std::string::npos)
      << Narrow(result.error);
  EXPECT_EQ(MethodCalls(), 1);
  EXPECT_TRUE(result.reply.empty());
  // The template's name; the first node below the root (none: the field
  // sits on the root node); the route from there to the attribute.
  const auto arguments = fixture_.store().LastArguments(u"FieldDataMissing");
  ASSERT_EQ(arguments.size(), 3u);
  EXPECT_EQ(Narrow(arguments[0]), "Pump sheet");
  EXPECT_EQ(Narrow(arguments[1]), "");
  EXPECT_EQ(Narrow(arguments[2]), "Tag");

  // A field further down: its node and the route through it.
  EXPECT_EQ(Options(u"PageId=\"12\" FieldId=\"3\"").hr, E_FAIL);
  EXPECT_EQ(MethodCalls(), 2);
  EXPECT_EQ(fixture_.store().LastArguments(u"FieldDataMissing"),
            (std::vector<std::u16string>{u"Pump sheet", u"Driver", u"Driver.Tag"}));
}

TEST_F(FieldOptions, WithoutTheMethodTheAssertionsFailureComesBackAtOnce) {
  const auto result = Options(u"PageId=\"14\" FieldId=\"2\"");
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(Narrow(result.error).find("Cannot set value for field with no defined case"),
            std::string::npos);
  EXPECT_EQ(MethodCalls(), 0);
}

TEST_F(FieldOptions, AFieldWithoutObjectGetsNoReply) {
  // No object and no confirmed class: the class goes to the user, nothing
  // is answered.
  const auto result = Options(u"PageId=\"13\" FieldId=\"2\"");
  ASSERT_EQ(result.hr, S_OK) << Narrow(result.error);
  EXPECT_EQ(Narrow(result.reply), "");
  EXPECT_EQ(host_.application().class_confirmation().classes().size(), 1u);
}

TEST_F(FieldOptions, AListRowOffersTheOptionsOfItsOwnObject) {
  const auto second = Options(u"PageId=\"41\" FieldId=\"5\" Index=\"1\"");
  ASSERT_EQ(second.hr, S_OK) << Narrow(second.error);
  EXPECT_EQ(
      Narrow(second.reply),
      "<XMLMessage TargetId=\"D\" Status=\"1\"><PopOptions PageId=\"41\" FieldId=\"5\" Index=\"1\">"
      "<Option>Bronze</Option></PopOptions></XMLMessage>");
  const auto first = Options(u"PageId=\"41\" FieldId=\"5\" Index=\"0\"");
  ASSERT_EQ(first.hr, S_OK) << Narrow(first.error);
  EXPECT_NE(Narrow(first.reply).find("<Option>Cast iron</Option><Option>Duplex</Option>"),
            std::string::npos);
  // An empty row without a confirmed class cannot be asserted; with no
  // object there, the knowledge base is not asked.
  const auto empty = Options(u"PageId=\"41\" FieldId=\"5\" Index=\"2\"");
  EXPECT_TRUE(FAILED(empty.hr));
  EXPECT_NE(Narrow(empty.error).find("Failed to assert continuous list field 5"), std::string::npos)
      << Narrow(empty.error);
  EXPECT_EQ(MethodCalls(), 0);
}

TEST_F(FieldOptions, UnknownPagesAndFieldsFail) {
  EXPECT_EQ(Options(u"FieldId=\"1\"").hr, static_cast<HRESULT>(0x8004B001));  // no "PageId"
  const auto field = Options(u"PageId=\"11\" FieldId=\"9\"");
  EXPECT_EQ(field.hr, E_INVALIDARG);
  EXPECT_NE(Narrow(field.error).find("Field 9 is not a field of the page's template"),
            std::string::npos);
  const auto page = Options(u"PageId=\"20\" FieldId=\"1\"");  // a pump
  EXPECT_TRUE(FAILED(page.hr));
}

}  // namespace
