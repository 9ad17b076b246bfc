// Field routes: plain pages (placement, hidden nodes, missing links, list
// members and their duplicates, index shifts), continuous lists, node
// chains, object vectors and qualifier routes, and the lookups they use.
#include <gtest/gtest.h>
#include <memory>

#include "fieldmodel/routecache.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "support/fieldfixture.h"
#include "support/mainfixture.h"

namespace kx::test::model {
namespace {

// A one-row index-shift table (name, offset); a null name leaves the name
// empty.
SAFEARRAY* ShiftTable(const char16_t* name, LONG offset) {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {1, 1}};
  SAFEARRAY* table = SafeArrayCreate(VT_VARIANT, 2, bounds);
  LONG nameAt[2] = {1, 1};
  LONG offsetAt[2] = {2, 1};
  _variant_t nameValue;
  if (name != nullptr) nameValue = _variant_t(name);
  _variant_t offsetValue(offset);
  SafeArrayPutElement(table, nameAt, &nameValue);
  SafeArrayPutElement(table, offsetAt, &offsetValue);
  return table;
}

int32_t ListCount(IKXQObject* object, const char16_t* attribute) {
  IKXQAttributePtr list;
  GetAttributeInterface(object, attribute, list);
  return list ? GetAttributeCount(list) : -1;
}

std::string ValueText(IKXQFieldValue* holder, const _variant_t& position) {
  if (holder == nullptr) return "<no holder>";
  _bstr_t text;
  FieldUtils::GetAttributeValueText(holder, position, text, nullptr);
  return Narrow(text);
}

class FieldRoutesTest : public ::testing::Test {
 protected:
  IKXQTemplateFieldPtr Field(int32_t id) { return TemplateField(templatePage_, id); }
  // The value text of a field resolved in read mode ("<no holder>" when
  // the walk ends early).
  std::string ReadField(int32_t id, SAFEARRAY* shift = nullptr) {
    _variant_t position;
    const IKXQFieldValuePtr holder = Resolve(page_, Field(id), false, shift, &position);
    return ValueText(holder, position);
  }
  void SetList(const char16_t* attribute, int32_t position, LONG value) {
    IKXQAttributePtr list;
    GetAttributeInterface(page_, attribute, list);
    KXDBDatasheetSvcs::SetAttributeIntegerAt(list, position, value);
  }
  void AppendNodeObject(LONG id) {
    IKXQAttributePtr objects;
    GetAttributeInterface(page_, u"NodeObjects", objects);
    KXDBDatasheetSvcs::SetAttributeObjectAt(objects, GetAttributeCount(objects) + 1,
                                            store_.Object(id));
  }

  ModelStore store_{kFieldFixture};
  IKXQObjectPtr page_ = store_.Object(kFieldPage);
  IKXQTemplatePagePtr templatePage_ = store_.TemplatePage(u"TP", u"P1");
};

TEST_F(FieldRoutesTest, AThreeStepRouteResolvesAndPlacesItsObjects) {
  EXPECT_EQ(ReadField(kTagField), "P-101");
  EXPECT_EQ(ReadField(kBearingField), "55.5");
  // Motor (node 1) and bearing 2 (node 2) now stand on the page.
  EXPECT_EQ(ListTexts(page_, u"NodeIndices"), (std::vector<std::string>{"1", "2", "3"}));
  IKXQObjectPtr placed;
  KXDBDatasheetSvcs::GetNodeObject(placed, page_, [&] {
    IKXQClassViewPtr node;
    FieldUtils::GetTemplateFieldNode(page_, Field(kBearingField), false, node);
    return node;
  }());
  EXPECT_EQ(placed.GetInterfacePtr(), store_.Object(kFieldBearing2).GetInterfacePtr());
  // A second walk finds them placed and gives the same value.
  EXPECT_EQ(ReadField(kBearingField), "55.5");
  EXPECT_EQ(ReadField(kMotorTagField), "M-101");
  EXPECT_EQ(ListTexts(page_, u"NodeIndices").size(), 3u);
}

TEST_F(FieldRoutesTest, WithinAPageLoadAReadWalkIsTakenAgainUntilTheStoreChanges) {
  RouteCache& cache = RouteCache::Instance();
  auto read = [&](int32_t id, SAFEARRAY* shift, IKXQFieldValuePtr* kept = nullptr) {
    _variant_t position;
    IKXQFieldValuePtr holder;
    EXPECT_EQ(FieldUtils::ResolveFieldObject(page_, Field(id), shift, &position, &holder), S_OK);
    if (kept != nullptr) *kept = holder;
    return ValueText(holder, position);
  };
  const uint64_t first = cache.WalkCount();
  auto walks = [&] { return cache.WalkCount() - first; };
  EXPECT_EQ(read(kTagField, nullptr), "P-101");
  EXPECT_EQ(read(kTagField, nullptr), "P-101");
  EXPECT_EQ(walks(), 2u);  // outside a page load nothing is kept

  const RouteCache::CallScope load;
  EXPECT_EQ(read(kTagField, nullptr), "P-101");
  EXPECT_EQ(read(kTagField, nullptr), "P-101");
  EXPECT_EQ(walks(), 3u);
  SAFEARRAY* shift = ShiftTable(u"Nozzles", 1);  // another shift, another walk
  EXPECT_EQ(read(kTagField, shift), "P-101");
  EXPECT_EQ(walks(), 4u);
  SafeArrayDestroy(shift);
  // A walk that placed the motor and a bearing is not kept; the next one,
  // which places nothing, is.
  EXPECT_EQ(read(kBearingField, nullptr), "55.5");
  EXPECT_EQ(read(kBearingField, nullptr), "55.5");
  EXPECT_EQ(read(kBearingField, nullptr), "55.5");
  EXPECT_EQ(walks(), 6u);
  // The placing changed the store: the tag is walked again, then kept.
  IKXQFieldValuePtr tag;
  EXPECT_EQ(read(kTagField, nullptr, std::addressof(tag)), "P-101");
  EXPECT_EQ(read(kTagField, nullptr), "P-101");
  EXPECT_EQ(walks(), 7u);
  // So does a value written: the walk after it reads the new one.
  ASSERT_TRUE(tag);
  FieldUtils::SetAttributeValueFromText(tag, _variant_t(), u"P-102", nullptr);
  EXPECT_EQ(read(kTagField, nullptr), "P-102");
  EXPECT_EQ(walks(), 8u);
}

TEST_F(FieldRoutesTest, AKeptWalkAnswersThePositionAlsoWhenItsFirstCallerAskedNone) {
  EXPECT_EQ(ReadField(kTagField), "P-101");  // nothing left to place
  const RouteCache::CallScope load;
  IKXQFieldValuePtr first;
  ASSERT_EQ(FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, nullptr, &first),
            S_OK);
  ASSERT_TRUE(first);
  const uint64_t walks = RouteCache::Instance().WalkCount();
  _variant_t position;
  IKXQFieldValuePtr again;
  ASSERT_EQ(FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, &position, &again),
            S_OK);
  EXPECT_EQ(RouteCache::Instance().WalkCount(), walks);  // taken from the kept walk
  EXPECT_EQ(again.GetInterfacePtr(), first.GetInterfacePtr());
  ASSERT_EQ(V_VT(&position), VT_I4);
  EXPECT_EQ(V_I4(&position), 1);
}

TEST_F(FieldRoutesTest, AWalkKeptWithItsValueReadServesTheItemsReaderUntilTheStoreChanges) {
  EXPECT_EQ(ReadField(kTagField), "P-101");  // nothing left to place
  const RouteCache::CallScope load;
  const uint64_t first = RouteCache::Instance().WalkCount();
  auto walks = [&] { return RouteCache::Instance().WalkCount() - first; };
  IKXQFieldValuePtr holder;
  // The writer: walks, reads the value, keeps both.
  auto write = [&] {
    _variant_t position;
    FieldUtils::FieldValueRead read(true);
    EXPECT_EQ(
        FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, &position, &holder, &read),
        S_OK);
    const std::string text = ValueText(holder, position);
    read.KeepWithValue();
    return text;
  };
  // The trigger item's reader: whether the value's reads came with the walk.
  auto take = [&](bool* replayed) {
    _variant_t position;
    FieldUtils::FieldValueRead read(false);
    EXPECT_EQ(
        FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, &position, &holder, &read),
        S_OK);
    *replayed = read.ValueReplayed();
    return ValueText(holder, position);
  };
  bool replayed = false;
  EXPECT_EQ(write(), "P-101");
  EXPECT_EQ(take(&replayed), "P-101");
  EXPECT_TRUE(replayed);
  // A second writer of the field (shown twice on the page) takes it too.
  EXPECT_EQ(write(), "P-101");
  EXPECT_EQ(take(&replayed), "P-101");
  EXPECT_TRUE(replayed);
  EXPECT_EQ(walks(), 1u);
  // A caller that reads no value walks again rather than take reads it
  // does not make; its walk is kept without the value.
  IKXQFieldValuePtr plain;
  EXPECT_EQ(FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, nullptr, &plain),
            S_OK);
  EXPECT_EQ(walks(), 2u);
  EXPECT_EQ(take(&replayed), "P-101");
  EXPECT_FALSE(replayed);
  EXPECT_EQ(walks(), 2u);
  // A value written after the writer's read: the item's reader walks and
  // reads again, and finds the new value.
  FieldUtils::SetAttributeValueFromText(holder, _variant_t(), u"P-102", nullptr);
  EXPECT_EQ(write(), "P-102");
  EXPECT_EQ(walks(), 3u);
  FieldUtils::SetAttributeValueFromText(holder, _variant_t(), u"P-103", nullptr);
  EXPECT_EQ(take(&replayed), "P-103");
  EXPECT_FALSE(replayed);
  EXPECT_EQ(walks(), 4u);
  // A writer that fails before its value was read keeps nothing.
  FieldUtils::SetAttributeValueFromText(holder, _variant_t(), u"P-104", nullptr);
  {
    _variant_t position;
    FieldUtils::FieldValueRead read(true);
    EXPECT_EQ(
        FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, &position, &holder, &read),
        S_OK);
  }
  EXPECT_EQ(walks(), 5u);
  EXPECT_EQ(take(&replayed), "P-104");
  EXPECT_FALSE(replayed);
  EXPECT_EQ(walks(), 6u);
}

TEST_F(FieldRoutesTest, WithinAPageLoadAFieldsCaseIsReadAgainOnceTheStoreChanged) {
  EXPECT_EQ(ReadField(kTagField), "P-101");  // nothing left to place
  int32_t entry = -1;
  bool defined = false;
  ASSERT_EQ(FieldUtils::GetFieldCase(page_, Field(kTagField), &entry, &defined), 1);
  ASSERT_GE(entry, 0);
  auto read = [&] {
    _variant_t position;
    IKXQFieldValuePtr holder;
    EXPECT_EQ(FieldUtils::ResolveFieldObject(page_, Field(kTagField), nullptr, &position, &holder),
              S_OK);
    return ValueText(holder, position);
  };
  const RouteCache::CallScope load;
  EXPECT_EQ(read(), "P-101");
  // The field's case entry cleared: the field has no case, so no value,
  // although its case was kept a moment ago.
  IKXQAttributePtr cases;
  GetAttributeInterface(page_, u"Cases", cases);
  KXDBDatasheetSvcs::ClearAttributeValueAt(cases, entry + 1);
  EXPECT_EQ(read(), "<no holder>");
  KXDBDatasheetSvcs::SetAttributeIntegerAt(cases, entry + 1, 1);
  EXPECT_EQ(read(), "P-101");
}

TEST_F(FieldRoutesTest, AHiddenNodeOrAMissingLinkGivesNoHolderInReadMode) {
  SetList(u"HiddenObjects", 4, 0);  // node "Nozzles(1)" hidden for lenient readers
  EXPECT_EQ(ReadField(kNozzle1Field), "<no holder>");
  EXPECT_TRUE(KXDBDatasheetSvcs::IsNodeObjectHidden(
      page_,
      [&] {
        IKXQClassViewPtr node;
        FieldUtils::GetTemplateFieldNode(page_, Field(kNozzle1Field), false, node);
        return node;
      }(),
      false));
  EXPECT_EQ(ReadField(kNozzle2Field), "2");

  // Without its motor the pump's bearing route ends without a holder...
  IKXQAttributePtr motor;
  GetAttributeInterface(store_.Object(kFieldPump), u"Motor", motor);
  KXDBDatasheetSvcs::ClearAttributeValueAt(motor, 1);
  EXPECT_EQ(ReadField(kBearingField), "<no holder>");
  EXPECT_EQ(ListCount(page_, u"NodeObjects"), 2);  // pump and nozzle 2 only
  // ...and write mode creates the missing links, motor and bearing.
  _variant_t position;
  const IKXQFieldValuePtr holder = Resolve(page_, Field(kBearingField), true, nullptr, &position);
  ASSERT_TRUE(holder);
  FieldUtils::SetAttributeValueFromText(holder, position, u"70", nullptr);
  EXPECT_EQ(ReadField(kBearingField), "70");
  IKXQObjectPtr newMotor;
  KXDBDatasheetSvcs::GetObjectAttribute(store_.Object(kFieldPump), newMotor, u"Motor");
  ASSERT_TRUE(newMotor);
  EXPECT_NE(newMotor.GetInterfacePtr(), store_.Object(kFieldMotor).GetInterfacePtr());
}

TEST_F(FieldRoutesTest, WriteModeAppendsAFreshMemberWhenTheFoundOneIsPlacedAlready) {
  // Nozzle 1 stands on the page (not on its node): writing field 8 must not
  // write into it but into a fresh member of the pump's nozzles.
  AppendNodeObject(kFieldNozzle1);
  EXPECT_EQ(ReadField(kNozzle1Field), "1");  // read mode takes the found member
  IKXQClassViewPtr node;
  FieldUtils::GetTemplateFieldNode(page_, Field(kNozzle1Field), false, node);
  KXDBDatasheetSvcs::GetPageNodeObjects(page_, node, nullptr, true);  // off the node again
  AppendNodeObject(kFieldNozzle1);
  _variant_t position;
  const IKXQFieldValuePtr holder = Resolve(page_, Field(kNozzle1Field), true, nullptr, &position);
  ASSERT_TRUE(holder);
  FieldUtils::SetAttributeValueFromText(holder, position, u"9", nullptr);
  EXPECT_EQ(ListCount(store_.Object(kFieldPump), u"Nozzles"), 3);
  EXPECT_EQ(ValueText(holder, position), "9");
  IKXQFieldValuePtr first = Resolve(store_.Object(kFieldPage), Field(kNozzle2Field), false);
  EXPECT_EQ(ValueText(first, _variant_t(1L)), "2");  // nozzle 2 untouched
  IKXQObjectPtr nozzle1 = store_.Object(kFieldNozzle1);
  IKXQAttributePtr size;
  GetAttributeInterface(nozzle1, u"Size", size);
  _bstr_t kept;
  KXDBDatasheetSvcs::GetAttributeValueString(size, kept);
  EXPECT_EQ(Narrow(kept), "1");
}

TEST_F(FieldRoutesTest, ADuplicateMemberEndsAReadAndRestartsAWriteOnce) {
  EXPECT_EQ(ReadField(kNozzle1Field), "1");  // nozzle 1 on node "Nozzles(1)"
  // Shifted back by one, "Nozzles(2)" leads to the member its sibling shows.
  SAFEARRAY* shift = ShiftTable(u"nozzles", -1);
  EXPECT_EQ(ReadField(kNozzle2Field, shift), "<no holder>");
  _variant_t position;
  const IKXQFieldValuePtr holder = Resolve(page_, Field(kNozzle2Field), true, shift, &position);
  ASSERT_TRUE(holder);
  // A new nozzle was appended and placed on "Nozzles(2)"; the walk ran again
  // and ended on it.
  EXPECT_EQ(ListCount(store_.Object(kFieldPump), u"Nozzles"), 3);
  EXPECT_EQ(ValueText(holder, position), "");
  FieldUtils::SetAttributeValueFromText(holder, position, u"4", nullptr);
  EXPECT_EQ(ReadField(kNozzle2Field), "4");
  EXPECT_EQ(ReadField(kNozzle1Field), "1");
  SafeArrayDestroy(shift);
}

TEST_F(FieldRoutesTest, RowOffsetsShiftListPositionsOfNodeNamesOnly) {
  SAFEARRAY* shift = ShiftTable(u"NOZZLES", 3);
  EXPECT_EQ(Narrow(FieldUtils::ShiftRouteIndices(shift, u"Nozzles(2)")), "Nozzles(5)");
  EXPECT_EQ(Narrow(FieldUtils::ShiftRouteIndices(shift, u"Bearings(2)")), "Bearings(2)");
  EXPECT_EQ(Narrow(FieldUtils::ShiftRouteIndices(shift, u"Nozzles()")), "Nozzles(3)");
  SafeArrayDestroy(shift);
  SAFEARRAY* any = ShiftTable(nullptr, 1);
  EXPECT_EQ(Narrow(FieldUtils::ShiftRouteIndices(any, u"Bearings(2).Parts(10)")),
            "Bearings(3).Parts(11)");
  EXPECT_EQ(Narrow(FieldUtils::ShiftRouteIndices(nullptr, u"A(1)")), "A(1)");
  // Shifted by one, field 8 shows the second nozzle; its route text is not
  // shifted.
  EXPECT_EQ(ReadField(kNozzle1Field, any), "2");
  SafeArrayDestroy(any);
}

TEST_F(FieldRoutesTest, ContinuousListRowsAndFixedFields) {
  AttachedMain main(store_);
  const IKXQObjectPtr page = store_.Object(kRowsPage);
  const IKXQTemplatePagePtr list = store_.TemplatePage(u"TL", u"L1");
  ASSERT_EQ(main->GetContinuousPageHelper().Initialize(nullptr, list, page, true), S_OK);
  auto row = [&](int32_t fieldId, int32_t index, HRESULT* hr) {
    _variant_t position;
    IKXQFieldValuePtr holder;
    *hr = ResolveContinuousListField(*main, page, TemplateField(list, fieldId), index, &position,
                                     &holder);
    return ValueText(holder, position);
  };
  HRESULT hr = E_FAIL;
  EXPECT_EQ(row(2, 0, &hr), "P-201");
  EXPECT_EQ(row(3, 1, &hr), "20");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(row(2, 2, &hr), "<no holder>");  // past the end: no warning
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_TRUE(store_.app().warnings().empty());
  EXPECT_EQ(row(4, 0, &hr), "<no holder>");  // the row has no motor
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(row(1, -1, &hr), "TL");               // the fixed field of the sheet node
  EXPECT_EQ(ListCount(page, u"NodeObjects"), 3);  // nothing placed

  // A field the list does not know never reads "NodeIndices" at 0.
  try {
    _variant_t position;
    IKXQFieldValuePtr holder;
    ResolveContinuousListField(*main, page, Field(kCheckField), -1, &position, &holder);
    ADD_FAILURE() << "a field of another template resolved";
  } catch (const KXComException& error) {
    EXPECT_EQ(FirstDesc(error), "ResolveContinuousListField, failed to find node index");
  }
  // A fixed field whose node has no entry: a warning and a failure.
  IKXQAttributePtr indices;
  GetAttributeInterface(page, u"NodeIndices", indices);
  KXDBDatasheetSvcs::ClearAttributeValueAt(indices, 1);
  try {
    row(1, -1, &hr);
    ADD_FAILURE() << "a fixed field without node index resolved";
  } catch (const KXComException& error) {
    EXPECT_EQ(FirstDesc(error), "ResolveContinuousListField, failed to find node index");
  }
  EXPECT_NE(store_.app().warnings().size(), 0u);

  // Field numbers and the contiguity rule follow the analysis.
  IKXQTemplateFieldPtr field;
  EXPECT_EQ(FieldUtils::GetFieldNumber(*main, page, 3, 1, field), 3 * 1 + 2 + 1);
  EXPECT_EQ(FieldUtils::GetFieldNumber(*main, page, 3, -1, field), 3);
  EXPECT_TRUE(FieldUtils::CheckListContiguity(*main, page, 2));  // the first blank row
}

TEST_F(FieldRoutesTest, LookupsOfCasesQualifiersAndDisplay) {
  bool defined = false;
  int32_t position = -2;
  EXPECT_EQ(FieldUtils::GetFieldCase(page_, Field(kTagField), &position, &defined), 1);
  EXPECT_TRUE(defined);
  EXPECT_EQ(FieldUtils::GetFieldCase(page_, Field(kNoCaseField), &position, &defined), -1);
  EXPECT_FALSE(defined);
  EXPECT_EQ(position, -1);
  // A field without case gives no holder at all.
  IKXQFieldValuePtr holder;
  _variant_t value;
  EXPECT_EQ(FieldUtils::ResolveFieldObject(page_, Field(kNoCaseField), nullptr, &value, &holder),
            S_OK);
  EXPECT_FALSE(holder);

  // Display formats: the record's, else the template's default alignment.
  IKXQAttributePtr fields;
  GetAttributeInterface(page_, u"Fields", fields);
  SetAttributeValueAt(fields, kFlowField, u"<Real FieldId=\"2\" Format=\"0.00\" Alignment=\"2\"/>");
  _bstr_t type, format;
  int32_t align = 0, valign = 0;
  FieldUtils::GetFieldDisplayFormat(Field(kFlowField), fields, kFlowField, type, &align, &valign,
                                    format);
  EXPECT_EQ(Narrow(type), "Real");
  EXPECT_EQ(Narrow(format), "0.00");
  EXPECT_EQ(align, 2);
  FieldUtils::GetFieldDisplayFormat(Field(kCheckField), fields, kCheckField, type, &align, &valign,
                                    format);
  EXPECT_EQ(Narrow(type), "Check");
  EXPECT_EQ(align, -1);

  // Status bits of the value holder; the item number of the attribute.
  _variant_t at;
  holder = Resolve(page_, Field(kTagField), false, nullptr, &at);
  ASSERT_TRUE(holder);
  int32_t flags = 0x40;
  FieldUtils::GetObjectStatusFlags(holder, at, &flags);
  EXPECT_EQ(flags, 0x40);
  EXPECT_GE(FieldUtils::GetItemNumberByKey(holder, at), 0);

  // Hidden marks: 0 hides for lenient readers only, -1 for all.
  IKXQClassViewPtr motorNode;
  FieldUtils::GetTemplateFieldNode(page_, Field(kMotorTagField), false, motorNode);
  FieldUtils::UpdateHiddenObjects(page_, motorNode, true);
  EXPECT_TRUE(KXDBDatasheetSvcs::IsNodeObjectHidden(page_, motorNode, false));
  EXPECT_FALSE(KXDBDatasheetSvcs::IsNodeObjectHidden(page_, motorNode, true));
  FieldUtils::UpdateHiddenObjects(page_, motorNode, false);
  EXPECT_TRUE(KXDBDatasheetSvcs::IsNodeObjectHidden(page_, motorNode, true));
}

TEST_F(FieldRoutesTest, NodeChainsObjectVectorsAndQualifierRoutes) {
  IKXQClassViewPtr bearingNode;
  FieldUtils::GetTemplateFieldNode(page_, Field(kBearingField), false, bearingNode);
  ComPtrArray<IKXQClassView> chain;
  IKXQViewPtr rootView;
  FieldUtils::GetNodeChain(page_, bearingNode, chain, rootView);
  EXPECT_EQ(chain.GetCount(), 3);
  EXPECT_TRUE(rootView);

  // Bearings are members of the motor's list: the whole list comes back.
  ComPtrArray<IKXQObject> members;
  IKXQFieldValuePtr holder;
  EXPECT_TRUE(FieldUtils::GetObjectVector(page_, bearingNode, members, holder));
  ASSERT_EQ(members.GetCount(), 2);
  EXPECT_EQ(members.GetAt(1), store_.Object(kFieldBearing2).GetInterfacePtr());
  // The motor is a single reference, the root node no member at all.
  IKXQClassViewPtr motorNode;
  FieldUtils::GetTemplateFieldNode(page_, Field(kMotorTagField), false, motorNode);
  ComPtrArray<IKXQObject> none;
  EXPECT_FALSE(FieldUtils::GetObjectVector(page_, motorNode, none, holder));
  IKXQClassViewPtr rootNode;
  FieldUtils::GetTemplateFieldNode(page_, Field(kTagField), true, rootNode);
  EXPECT_FALSE(FieldUtils::GetObjectVector(page_, rootNode, none, holder));
  EXPECT_EQ(none.GetCount(), 0);

  // The qualifier route ends on the object that holds the value.
  IKXQObjectPtr selected;
  FieldUtils::ResolveQualifierRoute(selected, page_, Field(kBearingField));
  EXPECT_EQ(selected.GetInterfacePtr(), store_.Object(kFieldBearing2).GetInterfacePtr());
  FieldUtils::ResolveQualifierRoute(selected, page_, Field(kTagField));
  EXPECT_EQ(selected.GetInterfacePtr(), store_.Object(kFieldPump).GetInterfacePtr());
}

}  // namespace
}  // namespace kx::test::model
