// Objects on pages: placing at template nodes, removing continuous-list
// rows, adding list rows with their events, and a datasheet's units.
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "events/changeevents.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "model/kxdbdatasheetpages.h"
#include "support/mainfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::AttachedMain;
using kx::test::model::ModelStore;

namespace {

// Template TP page P: root nodes A (index 0) and B (index 1) both take
// pumps; unit fields Flow and Length. TC page C4: fixed field 1 on node
// Sheet, four repeating fields 2-5 on node Row. TW page C5: field 1 fixed,
// fields 2-6 repeat. Datasheet 10 (alice at status 1) holds:
//   11 plain page with pump 100 on node A;
//   12 C4 page with rows 100, 101, 102 (first row at position 2), 13
//      field records and 13 revisions;
//   13 C4 page without rows; 14 C5 page with 20 rows; 15 C5 with 19 rows.
const char kPageFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="Document" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="BaseDimensionSet"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
  </class>
  <class name="Datasheet" base="Document"/>
  <class name="Page" base="GenericClass">
   <attribute name="TemplateId"/><attribute name="PageId"/><attribute name="Checknum"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
   <attribute name="Revisions" list="true"/>
   <attribute name="Units" list="true"/>
   <attribute name="ContinuousFormat" type="boolean"/>
  </class>
  <class name="Pump" base="GenericClass"/>
  <class name="Motor" base="GenericClass"/>
 </schema>
 <units>
  <dimension name="Flow" base="m3/h"><unit name="m3/h"/><unit name="l/s" factor="3.6"/></dimension>
  <dimension name="Length" base="m"><unit name="m"/><unit name="mm" factor="0.001"/></dimension>
  <dimensionSet name="SI"><use dimension="Flow" unit="m3/h"/><use dimension="Length" unit="m"/></dimensionSet>
  <dimensionSet name="Works"><use dimension="Flow" unit="l/s"/><use dimension="Length" unit="mm"/></dimensionSet>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <templates>
  <template id="TP" checknum="1" classes="Pump">
   <page id="P">
    <node name="A" index="0" classes="Pump"><field id="1"/></node>
    <node name="B" index="1" classes="Pump"><field id="2"/></node>
    <unit dimension="Flow"/><unit dimension="Length"/>
   </page>
  </template>
  <template id="TC" checknum="1" classes="Pump">
   <page id="C4" continuous="Rows">
    <node name="Sheet" index="0" classes="Document"><field id="1"/></node>
    <node name="Row" index="1" classes="Pump"><field id="2"/><field id="3"/><field id="4"/><field id="5"/></node>
   </page>
  </template>
  <template id="TW" checknum="1" classes="Pump">
   <page id="C5" continuous="Rows">
    <node name="Sheet" index="0" classes="Document"><field id="1"/></node>
    <node name="Row" index="1" classes="Pump"><field id="2"/><field id="3"/><field id="4"/><field id="5"/><field id="6"/></node>
   </page>
  </template>
 </templates>
 <objects>
  <object id="100" class="Pump"/><object id="101" class="Pump"/><object id="102" class="Pump"/>
  <object id="103" class="Pump"/><object id="110" class="Motor"/>
  <object id="10" class="Datasheet">
   <value attribute="BaseDimensionSet">SI</value>
   <value attribute="CurrentPages" ref="11"/><value attribute="CurrentPages" ref="12"/>
   <value attribute="CurrentPages" ref="13"/>
   <user name="alice" status="1"/>
  </object>
  <object id="11" class="Page" owner="10">
   <value attribute="TemplateId">TP</value><value attribute="PageId">P</value>
   <value attribute="NodeObjects" ref="100"/><value attribute="NodeIndices">1</value>
   <value attribute="Units">m3/h</value><value attribute="Units">m</value>
  </object>
  <object id="12" class="Page" owner="10">
   <value attribute="TemplateId">TC</value><value attribute="PageId">C4</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeObjects" ref="100"/>
   <value attribute="NodeObjects" ref="101"/><value attribute="NodeObjects" ref="102"/>
   <value attribute="NodeIndices">1</value><value attribute="NodeIndices">2</value>
   <value attribute="Fields">&lt;String FieldId="1"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="2" Index="0" AttribId="7"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="3" Index="0"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="4" Index="0"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="5" Index="0"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="2" Index="1" AttribId="8"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="3" Index="1"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="4" Index="1"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="5" Index="1"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="2" Index="2"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="3" Index="2"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="4" Index="2"/&gt;</value>
   <value attribute="Fields">&lt;String FieldId="5" Index="2"/&gt;</value>
   <value attribute="Revisions">r1</value><value attribute="Revisions">r2</value>
   <value attribute="Revisions">r3</value><value attribute="Revisions">r4</value>
   <value attribute="Revisions">r5</value><value attribute="Revisions">r6</value>
   <value attribute="Revisions">r7</value><value attribute="Revisions">r8</value>
   <value attribute="Revisions">r9</value><value attribute="Revisions">r10</value>
   <value attribute="Revisions">r11</value><value attribute="Revisions">r12</value>
   <value attribute="Revisions">r13</value>
  </object>
  <object id="13" class="Page" owner="10">
   <value attribute="TemplateId">TC</value><value attribute="PageId">C4</value>
   <value attribute="NodeObjects" ref="10"/><value attribute="NodeIndices">1</value>
  </object>
 </objects>
</store>
)";

std::vector<std::string> Texts(ModelStore& store, LONG id, const OLECHAR* name) {
  IKXQAttributePtr attribute;
  GetAttributeInterface(store.Object(id), name, attribute);
  std::vector<std::string> out;
  for (int32_t i = 1; i <= GetAttributeCount(attribute); ++i) {
    _bstr_t text;
    GetAttributeValueStringAt(attribute, i, text);
    out.push_back(kx::test::model::Narrow(text));
  }
  return out;
}

std::vector<LONG> ObjectIds(ModelStore& store, LONG id) {
  IKXQAttributePtr attribute;
  GetAttributeInterface(store.Object(id), u"NodeObjects", attribute);
  std::vector<LONG> out;
  for (int32_t i = 1; i <= GetAttributeCount(attribute); ++i) {
    IKXQObjectPtr value;
    GetAttributeObjectAt(attribute, value, i);
    LONG objectId = 0;
    if (value) (void)value->get_Id(&objectId);
    out.push_back(objectId);
  }
  return out;
}

// The ids of the first pending field-level event.
std::vector<int32_t> PendingIds(ModelStore& store) {
  SAFEARRAY* array = nullptr;
  EXPECT_EQ(store.app().GetPendingEvents(&array), S_OK);
  std::vector<int32_t> ids;
  if (array == nullptr) return ids;
  IUnknown* item = nullptr;
  LONG at = 0;
  EXPECT_EQ(SafeArrayGetElement(array, &at, &item), S_OK);
  SafeArrayDestroy(array);
  auto* event = dynamic_cast<KXFieldLevelEvent*>(static_cast<IKXQApplicationEvent*>(item));
  for (int32_t i = 0; event != nullptr && i < event->Ids().GetCount(); ++i) {
    ids.push_back(event->Ids().GetAt(i));
  }
  item->Release();
  return ids;
}

class PageObjects : public ::testing::Test {
 protected:
  void TearDown() override { store_.app().DiscardPendingEvents(); }

  // Adds a page of template TW page C5 to datasheet 10 holding `rows` rows
  // of pump 101 and an empty "Fields" list of the right length.
  IKXQObjectPtr WidePage(int rows) {
    IKXQSchemaPtr schema;
    (void)store_.database()->get_Schema(&schema);
    IKXQClassPtr pageClass;
    (void)schema->get_Class(_bstr_t(u"Page"), &pageClass);
    IKXQObjectPtr page;
    EXPECT_EQ(pageClass->CreateInstance(&page), S_OK);
    (void)page->put_Owner(store_.Object(10));
    SetAttributeStringByName(page, u"TemplateId", u"TW", -1);
    SetAttributeStringByName(page, u"PageId", u"C5", -1);
    IKXQAttributePtr objects, indices, fields;
    GetAttributeInterface(page, u"NodeObjects", objects);
    GetAttributeInterface(page, u"NodeIndices", indices);
    GetAttributeInterface(page, u"Fields", fields);
    SetAttributeObjectAt(objects, 1, store_.Object(10));
    for (int r = 0; r < rows; ++r) SetAttributeObjectAt(objects, 2 + r, store_.Object(101));
    SetAttributeIntegerAt(indices, 1, 1);
    SetAttributeIntegerAt(indices, 2, 2);
    ResizeAttributeValues(fields, 1 + 5 * rows);
    return page;
  }

  ModelStore store_{kPageFixture};
  AttachedMain main_{store_};
};

TEST_F(PageObjects, PlacingFillsFreeNodesAndReusesPositions) {
  const IKXQObjectPtr page = store_.Object(11);
  const IKXQTemplatePagePtr templatePage = store_.TemplatePage(u"TP", u"P");
  // Walking back from B: B is free, A holds 100: B takes the pump.
  EXPECT_TRUE(PlaceObjectOnPage(page, templatePage, store_.Object(101), false));
  EXPECT_EQ(ObjectIds(store_, 11), (std::vector<LONG>{100, 101}));
  EXPECT_EQ(Texts(store_, 11, u"NodeIndices"), (std::vector<std::string>{"1", "2"}));
  // An object already held elsewhere only points the node at its position;
  // 101, now on no node, leaves "NodeObjects".
  EXPECT_TRUE(PlaceObjectOnPage(page, templatePage, store_.Object(100), true));
  EXPECT_EQ(ObjectIds(store_, 11), (std::vector<LONG>{100, 0}));
  EXPECT_EQ(Texts(store_, 11, u"NodeIndices"), (std::vector<std::string>{"1", "1"}));
  // The old object is still A's: it stays; the new one takes the free slot.
  EXPECT_TRUE(PlaceObjectOnPage(page, templatePage, store_.Object(102), true));
  EXPECT_EQ(ObjectIds(store_, 11), (std::vector<LONG>{100, 102}));
  EXPECT_EQ(Texts(store_, 11, u"NodeIndices"), (std::vector<std::string>{"1", "2"}));
  // No node takes a motor.
  EXPECT_FALSE(PlaceObjectOnPage(page, templatePage, store_.Object(110), false));
  EXPECT_EQ(ObjectIds(store_, 11), (std::vector<LONG>{100, 102}));
}

TEST_F(PageObjects, RemovingTheFirstRowRenumbersTheRestAndTellsEveryField) {
  EXPECT_EQ(RemoveObjectFromPage(*main_, store_.Object(12), store_.Object(100)), S_OK);
  EXPECT_EQ(ObjectIds(store_, 12), (std::vector<LONG>{10, 101, 102}));
  const auto fields = Texts(store_, 12, u"Fields");
  ASSERT_EQ(fields.size(), 9u);
  EXPECT_NE(fields[1].find("AttribId=\"8\""), std::string::npos) << fields[1];
  EXPECT_NE(fields[1].find("Index=\"0\""), std::string::npos) << fields[1];
  EXPECT_NE(fields[5].find("Index=\"1\""), std::string::npos) << fields[5];
  EXPECT_EQ(Texts(store_, 12, u"Revisions"),
            (std::vector<std::string>{"r1", "r6", "r7", "r8", "r9", "r10", "r11", "r12", "r13"}));
  // Fields 2-9 of the two remaining rows and 10, the first of the vanished
  // third row: one pending event with nine field numbers.
  EXPECT_EQ(PendingIds(store_), (std::vector<int32_t>{2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"F1 12"}));
}

TEST_F(PageObjects, RemovingTheLastRowLeavesNoStaleValues) {
  EXPECT_EQ(RemoveObjectFromPage(*main_, store_.Object(12), store_.Object(102)), S_OK);
  EXPECT_EQ(ObjectIds(store_, 12), (std::vector<LONG>{10, 100, 101}));
  EXPECT_EQ(Texts(store_, 12, u"Fields").size(), 9u);
  EXPECT_EQ(Texts(store_, 12, u"Revisions").size(), 9u);
  // An object that is no row of the page changes nothing.
  EXPECT_EQ(RemoveObjectFromPage(*main_, store_.Object(12), store_.Object(103)), S_OK);
  EXPECT_EQ(ObjectIds(store_, 12), (std::vector<LONG>{10, 100, 101}));
}

TEST_F(PageObjects, TheFirstRowOfAnEmptyListRaisesAPageEventAndItsFieldEvents) {
  const IKXQTemplatePagePtr templatePage = store_.TemplatePage(u"TC", u"C4");
  EXPECT_EQ(
      AddListObject(*main_, store_.Object(100), store_.Object(13), templatePage, true, -1, false),
      S_OK);
  EXPECT_EQ(ObjectIds(store_, 13), (std::vector<LONG>{10, 100}));
  EXPECT_EQ(Texts(store_, 13, u"NodeIndices"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Texts(store_, 13, u"Fields").size(), 5u);
  EXPECT_EQ(PendingIds(store_), std::vector<int32_t>{});  // the page event comes first
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"P1 13", "F1 13"}));
  // Adding it again changes nothing and tells nobody.
  EXPECT_EQ(
      AddListObject(*main_, store_.Object(100), store_.Object(13), templatePage, true, -1, false),
      S_OK);
  EXPECT_EQ(ObjectIds(store_, 13), (std::vector<LONG>{10, 100}));
  EXPECT_TRUE(kx::test::model::DeliveredKeys(store_).empty());
}

TEST_F(PageObjects, AppendingCopiesTheLastRowWithoutItsAttributeIds) {
  const IKXQTemplatePagePtr templatePage = store_.TemplatePage(u"TC", u"C4");
  EXPECT_EQ(
      AddListObject(*main_, store_.Object(103), store_.Object(12), templatePage, true, -1, false),
      S_OK);
  EXPECT_EQ(ObjectIds(store_, 12), (std::vector<LONG>{10, 100, 101, 102, 103}));
  const auto fields = Texts(store_, 12, u"Fields");
  ASSERT_EQ(fields.size(), 17u);
  EXPECT_NE(fields[13].find("FieldId=\"2\""), std::string::npos) << fields[13];
  EXPECT_NE(fields[13].find("Index=\"3\""), std::string::npos) << fields[13];
  EXPECT_EQ(fields[13].find("AttribId"), std::string::npos) << fields[13];
  EXPECT_EQ(Texts(store_, 12, u"Revisions").size(), 17u);
}

TEST_F(PageObjects, InsertingIntoALongListRaisesOnePageEvent) {
  const IKXQTemplatePagePtr templatePage = store_.TemplatePage(u"TW", u"C5");
  const IKXQObjectPtr twenty = WidePage(20);
  EXPECT_EQ(AddListObject(*main_, store_.Object(100), twenty, templatePage, true, 0, false), S_OK);
  LONG id = 0;
  (void)twenty->get_Id(&id);
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_),
            (std::vector<std::string>{"P1 " + std::to_string(id)}));

  // 19 rows: (19 + 1) * 5 = 100 values, one event per field.
  const IKXQObjectPtr nineteen = WidePage(19);
  EXPECT_EQ(AddListObject(*main_, store_.Object(100), nineteen, templatePage, true, 0, false),
            S_OK);
  (void)nineteen->get_Id(&id);
  EXPECT_EQ(PendingIds(store_).size(), 100u);  // fields 2 to 101
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_),
            (std::vector<std::string>{"F1 " + std::to_string(id)}));
  EXPECT_EQ(ObjectIds(store_, id)[1], 100);
  EXPECT_EQ(Texts(store_, id, u"Fields").size(), 101u);
}

TEST_F(PageObjects, DimensionSetsAndUnitsRewriteOnlyChangedTexts) {
  const IKXQObjectPtr sheet = store_.Object(10);
  EXPECT_EQ(ChangeDSDimensionSet(*main_, sheet, u"Works"), S_OK);
  EXPECT_EQ(Texts(store_, 11, u"Units"), (std::vector<std::string>{"l/s", "mm"}));
  EXPECT_EQ(Texts(store_, 10, u"BaseDimensionSet"), (std::vector<std::string>{"Works"}));
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"U1 11"}));
  EXPECT_EQ(ChangeDSDimensionSet(*main_, sheet, u"Works"), S_OK);
  EXPECT_TRUE(kx::test::model::DeliveredKeys(store_).empty());

  // Letter case counts; a dimension no unit field has changes nothing.
  EXPECT_EQ(ChangeDSDimensionUnits(*main_, sheet, u"Flow", u"L/S"), S_OK);
  EXPECT_EQ(Texts(store_, 11, u"Units"), (std::vector<std::string>{"L/S", "mm"}));
  EXPECT_EQ(kx::test::model::DeliveredKeys(store_), (std::vector<std::string>{"U1 11"}));
  EXPECT_EQ(ChangeDSDimensionUnits(*main_, sheet, u"Pressure", u"bar"), S_OK);
  EXPECT_EQ(ChangeDSDimensionUnits(*main_, sheet, u"flow", u"m3/h"), S_OK);
  EXPECT_EQ(Texts(store_, 11, u"Units"), (std::vector<std::string>{"L/S", "mm"}));
  EXPECT_TRUE(kx::test::model::DeliveredKeys(store_).empty());

  // A set named in other letters is recorded as the schema spells it.
  EXPECT_EQ(ChangeDSDimensionSet(*main_, sheet, u"works"), S_OK);
  EXPECT_EQ(Texts(store_, 10, u"BaseDimensionSet"), (std::vector<std::string>{"Works"}));

  EXPECT_EQ(ChangeDSDimensionSet(*main_, sheet, u"NoSuchSet"), KXQ_E_NOTFOUND);
  EXPECT_EQ(ChangeDSDimensionSet(*main_, nullptr, u"SI"), E_POINTER);
}

// What a list of LongListFixture has beside its rows.
enum class ListTwist { kNone, kUnreadable, kShort, kTwice };
// The pump of row `row` of LongListFixture.
LONG RowPump(int row) { return row < 20 ? 120 + row : 200 + row; }

// The fixture with page 16 of template TC page C4 added to datasheet 10:
// `count` rows (twelve: pumps 120 to 131; from the 21st 220 on), each with four field records of
// its own (formats, values, attribute ids, a blank record) and a revision
// each, and pumps 140 to 145 on no page. kUnreadable: row 2's last record
// does not read; kShort: the last row has two records and one revision;
// kTwice: row 3 shows the pump of row 1 again.
std::string LongListFixture(int count = 12, ListTwist twist = ListTwist::kNone) {
  std::string objects, page;
  page +=
      "<object id=\"16\" class=\"Page\" owner=\"10\"><value attribute=\"TemplateId\">TC"
      "</value><value attribute=\"PageId\">C4</value><value attribute=\"NodeObjects\" "
      "ref=\"10\"/><value attribute=\"NodeIndices\">1</value><value "
      "attribute=\"NodeIndices\">2</value><value attribute=\"Fields\">&lt;String "
      "FieldId=\"1\"/&gt;</value><value attribute=\"Revisions\">fixed</value>";
  for (int r = 0; r < count; ++r) {
    const std::string id = std::to_string(RowPump(r));
    const std::string row = std::to_string(r);
    const bool last = r == count - 1 && twist == ListTwist::kShort;
    objects += "<object id=\"" + id + "\" class=\"Pump\"/>";
    page += "<value attribute=\"NodeObjects\" ref=\"" +
            (r == 3 && twist == ListTwist::kTwice ? std::string("121") : id) + "\"/>";
    const std::string fields[] = {
        "&lt;String FieldId=\"2\" AttribId=\"" + id + "\" Index=\"" + row + "\"/&gt;",
        r % 3 == 1 ? "  " : "&lt;String FieldId=\"3\" Index=\"" + row + "\"/&gt;",
        "&lt;Real FieldId=\"4\" Format=\"0.0\" Value=\"a &amp;amp; " + row + "\" Index=\"" + row +
            "\"/&gt;",
        r == 2 && twist == ListTwist::kUnreadable
            ? "&lt;Bogus/&gt;"
            : "&lt;String FieldId=\"5\" Alignment=\"2\" Index=\"" + row + "\"/&gt;"};
    for (int k = 0; k < (last ? 2 : 4); ++k) {
      page += "<value attribute=\"Fields\">" + fields[k] + "</value>";
    }
    for (int v = 0; v < (last ? 1 : 4); ++v) {
      page += "<value attribute=\"Revisions\">r" + row + "." + std::to_string(v) + "</value>";
    }
  }
  for (int k = 140; k <= 145; ++k)
    objects += "<object id=\"" + std::to_string(k) + "\" class=\"Pump\"/>";
  std::string fixture = kPageFixture;
  const size_t end = fixture.find(" </objects>");
  fixture.insert(end, objects + page + "</object>\n");
  fixture.replace(fixture.find("<value attribute=\"CurrentPages\" ref=\"13\"/>"), 0,
                  "<value attribute=\"CurrentPages\" ref=\"16\"/>");
  return fixture;
}

// What a slot of a list carries beside its value ("" when nothing).
std::string SlotState(IKXQAttribute* list, int32_t position) {
  const VARIANT at = PositionVariant(position);
  VARIANT_BOOL locked = VARIANT_FALSE, secured = VARIANT_FALSE;
  LONG status = 0;
  IKXQObjectPtr hold;
  BSTR prefix = nullptr, postfix = nullptr, substitution = nullptr;
  EXPECT_EQ(list->IsLocked(at, &locked), S_OK);
  EXPECT_EQ(list->IsSecured(at, &secured), S_OK);
  EXPECT_EQ(list->GetStatusFlags(at, &status), S_OK);
  EXPECT_EQ(list->get_HoldObject(at, &hold), S_OK);
  EXPECT_EQ(list->GetPrefix(at, &prefix), S_OK);
  EXPECT_EQ(list->GetPostfix(at, &postfix), S_OK);
  EXPECT_EQ(list->GetSubstitution(at, &substitution), S_OK);
  const _bstr_t texts[] = {_bstr_t(prefix, false), _bstr_t(postfix, false),
                           _bstr_t(substitution, false)};
  std::string state = locked != VARIANT_FALSE ? "locked" : "";
  if (secured != VARIANT_FALSE) state += " secured";
  if (status != 0) state += " status " + std::to_string(status);
  if (hold) state += " held";
  for (const _bstr_t& text : texts) {
    if (text.length() > 0) state += " \"" + kx::test::model::Narrow(text) + "\"";
  }
  return state;
}

// Everything the list page holds (an empty slot apart from an empty
// text), what its slots carry beside their values, and the events the
// changes raised, as delivered.
std::vector<std::string> ListState(ModelStore& store) {
  std::vector<std::string> state;
  for (const OLECHAR* name : {u"Fields", u"Revisions"}) {
    IKXQAttributePtr list;
    GetAttributeInterface(store.Object(16), name, list);
    const std::vector<std::string> texts = Texts(store, 16, name);
    for (int32_t i = 1; i <= GetAttributeCount(list); ++i) {
      _variant_t value;
      EXPECT_EQ(list->GetValue(PositionVariant(i), _variant_t(), &value), S_OK);
      state.push_back(value.vt == VT_EMPTY ? "(empty)" : texts[static_cast<size_t>(i - 1)]);
    }
  }
  for (const LONG id : ObjectIds(store, 16)) state.push_back("#" + std::to_string(id));
  for (const OLECHAR* name : {u"Fields", u"Revisions", u"NodeObjects"}) {
    IKXQAttributePtr list;
    GetAttributeInterface(store.Object(16), name, list);
    for (int32_t i = 1; i <= GetAttributeCount(list); ++i) {
      const std::string carried = SlotState(list, i);
      if (!carried.empty()) {
        state.push_back(kx::test::model::Narrow(name) + " " + std::to_string(i) + ": " + carried);
      }
    }
  }
  for (const auto& event : store.app().DeliverPendingEvents()) {
    state.push_back(event.key ? kx::test::model::Narrow(event.key->c_str()) : "?");
    state.push_back(event.xml ? kx::test::model::Narrow(event.xml->c_str()) : "");
  }
  return state;
}

// Rows taken off or put in together come out as one at a time: the lists,
// the renumbered and copied records and the events. A locked slot of
// "Fields" moves along with its value, as the store moves it.
TEST(PageRows, ManyRowsAtOnceComeOutAsOneByOne) {
  const std::string fixture = LongListFixture();
  for (const bool locked : {false, true}) {
    ModelStore alone(fixture.c_str()), together(fixture.c_str());
    AttachedMain aloneMain(alone), togetherMain(together);
    if (locked) {
      for (ModelStore* store : {&alone, &together}) {
        IKXQAttributePtr fields;
        GetAttributeInterface(store->Object(16), u"Fields", fields);
        ASSERT_EQ(fields->Lock(PositionVariant(30), VARIANT_TRUE), S_OK);
      }
    }
    // Out of order, one object twice, one on no row, the last row.
    const LONG off[] = {125, 121, 131, 140, 125, 122, 120};
    std::vector<IKXQObject*> objects;
    for (const LONG id : off) {
      objects.push_back(together.Object(id));
      EXPECT_EQ(RemoveObjectFromPage(*aloneMain, alone.Object(16), alone.Object(id)), S_OK);
    }
    EXPECT_EQ(RemoveObjectsFromPage(*togetherMain, together.Object(16), objects), S_OK);
    const std::vector<std::string> removed = ListState(alone);
    EXPECT_EQ(ListState(together), removed) << (locked ? "locked" : "");
    EXPECT_EQ(removed.size(), 1u + 7 * 4 + 1 + 7 * 4 + 8 + (locked ? 1 : 0) + 2);

    // Into the shorter list: rows before, among and after the others, one
    // object the list holds already.
    const IKXQTemplatePagePtr templatePage = together.TemplatePage(u"TC", u"C4");
    const std::pair<LONG, int32_t> in[] = {{141, 0}, {142, 5}, {143, 2}, {128, 1},
                                           {144, 8}, {145, 9}, {140, 3}};
    std::vector<ListRow> rows;
    for (const auto& [id, row] : in) {
      rows.push_back({together.Object(id), row});
      EXPECT_EQ(AddListObject(*aloneMain, alone.Object(id), alone.Object(16),
                              alone.TemplatePage(u"TC", u"C4"), true, row, false, false),
                S_OK);
    }
    EXPECT_EQ(AddListObjects(*togetherMain, together.Object(16), templatePage, rows), S_OK);
    const std::vector<std::string> added = ListState(alone);
    EXPECT_EQ(ListState(together), added) << (locked ? "locked" : "");
    EXPECT_EQ(added.size(), 1u + 13 * 4 + 1 + 13 * 4 + 14 + (locked ? 1 : 0));
  }
}

// Small lists (and one of 26 rows, where one row more than the 25 after
// the first tells the page instead of its fields), every object taken off
// or put in at the ends and between, in many orders, some twice, some on
// no row; rows missing records, an object on two rows, one slot carrying
// state of its own: together comes out as one at a time. So does the
// failure of an unreadable record, which one at a time renumbers on the way
// when a row before it goes first, though it goes itself later.
TEST(PageRows, SmallListsComeOutAsOneByOneInAnyOrder) {
  uint32_t seed = 7;
  const auto next = [&seed](uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % below;
  };
  for (const int count : {0, 1, 2, 3, 4, 5, 6, 26}) {
    for (const ListTwist twist :
         {ListTwist::kNone, ListTwist::kUnreadable, ListTwist::kShort, ListTwist::kTwice}) {
      const std::string fixture = LongListFixture(count, twist);
      for (int round = 0; round < (count == 26 ? 2 : 10); ++round) {
        ModelStore alone(fixture.c_str()), together(fixture.c_str());
        AttachedMain aloneMain(alone), togetherMain(together);
        // Every fourth round one slot carries a lock, a flag, a text or a hold.
        const OLECHAR* lists[] = {u"Fields", u"Revisions", u"NodeObjects"};
        const OLECHAR* carrier = lists[next(3)];
        const int32_t slot = 2 + static_cast<int32_t>(next(static_cast<uint32_t>(count) * 4 + 1));
        const uint32_t carried = round % 4 == 3 ? next(5) : 5;
        for (ModelStore* store : {&alone, &together}) {
          IKXQAttributePtr list;
          GetAttributeInterface(store->Object(16), carrier, list);
          if (carried == 5 || slot > GetAttributeCount(list)) continue;
          const VARIANT at = PositionVariant(slot);
          const HRESULT hr = carried == 0   ? list->Lock(at, VARIANT_TRUE)
                             : carried == 1 ? list->Secure(at, VARIANT_TRUE)
                             : carried == 2 ? list->PutStatusFlags(at, KXQ_STATUS_1)
                             : carried == 3 ? list->PutPrefix(at, _bstr_t(u"~"))
                                            : list->Hold(at, _variant_t(store->Object(110)));
          ASSERT_EQ(hr, S_OK);
        }
        const bool off = count >= 3 && round % 2 == 0;
        const size_t many = 3 + next(3);
        std::vector<IKXQObject*> objects;
        std::vector<ListRow> rows;
        HRESULT aloneHr = S_OK;
        for (size_t k = 0; k < many; ++k) {
          LONG id = off && next(5) != 0         ? RowPump(static_cast<int>(next(count)))
                    : count > 0 && next(4) == 0 ? 120
                                                : 140 + static_cast<LONG>(next(6));
          if (count == 26 && k == 0) id = 121;
          const int32_t row = static_cast<int32_t>(next(static_cast<uint32_t>(count) + 3));
          if (off) {
            objects.push_back(together.Object(id));
            if (SUCCEEDED(aloneHr))
              aloneHr = RemoveObjectFromPage(*aloneMain, alone.Object(16), alone.Object(id));
          } else {
            rows.push_back({together.Object(id), row});
            if (SUCCEEDED(aloneHr))
              aloneHr = AddListObject(*aloneMain, alone.Object(id), alone.Object(16),
                                      alone.TemplatePage(u"TC", u"C4"), true, row, false, false);
          }
        }
        const HRESULT togetherHr =
            off ? RemoveObjectsFromPage(*togetherMain, together.Object(16), objects)
                : AddListObjects(*togetherMain, together.Object(16),
                                 together.TemplatePage(u"TC", u"C4"), rows);
        const std::string what = std::to_string(count) + " rows, twist " +
                                 std::to_string(static_cast<int>(twist)) + ", round " +
                                 std::to_string(round);
        EXPECT_EQ(togetherHr, aloneHr) << what;
        EXPECT_EQ(ListState(together), ListState(alone)) << what;
      }
    }
  }
}

}  // namespace
