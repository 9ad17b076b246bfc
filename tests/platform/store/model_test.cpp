// Semantics the service relies on, through the interfaces: identity, lists,
// deletion, undefined attributes, classes, units, filters (triggers: model_triggers_test.cpp).
#include <algorithm>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "com/enumvariant.h"
#include "store_test_support.h"

namespace kx::store::test {
namespace {

using ModelTest = PlantStoreTest;

// --- identity ---------------------------------------------------------------

TEST_F(ModelTest, OneObjectOnePointer) {
  auto a = Obj(*store, 20);
  auto b = Obj(*store, 20);
  EXPECT_EQ(a.GetInterfacePtr(), b.GetInterfacePtr());
  _variant_t v = Get(Attr(Obj(*store, 11), u"NodeObjects"), 1);
  ASSERT_EQ(V_VT(&v), VT_DISPATCH);
  _com_ptr_t<IKXQObject> fromList;
  ASSERT_EQ(v.pdispVal->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&fromList)), S_OK);
  EXPECT_EQ(fromList.GetInterfacePtr(), a.GetInterfacePtr());
  _com_ptr_t<IKXQObject> owner;
  ASSERT_EQ(Obj(*store, 11)->GetOwner(&owner, 0), S_OK);
  EXPECT_EQ(owner.GetInterfacePtr(), Obj(*store, 10).GetInterfacePtr());
}

TEST_F(ModelTest, UnknownIdsFailWithErrorInfo) {
  for (LONG id : {0, -1, 999}) {
    _com_ptr_t<IKXQObject> o;
    EXPECT_EQ(store->Database()->get_Object(id, &o), KXQ_E_NOOBJECT);
    EXPECT_EQ(o.GetInterfacePtr(), nullptr);
    EXPECT_NE(ErrorText().find(std::to_string(id)), std::string::npos);
  }
  VARIANT_BOOL exists = VARIANT_TRUE;
  EXPECT_EQ(store->Database()->ObjectExists(999, &exists), S_OK);
  EXPECT_EQ(exists, VARIANT_FALSE);
}

// --- 1-based lists ------------------------------------------------------------

TEST_F(ModelTest, ReadingPastTheEndGivesNoValue) {
  auto a = Attr(Obj(*store, 11), u"Fields");
  EXPECT_EQ(Count(a), 0);
  _variant_t v = Get(a, 5);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  VARIANT_BOOL has = VARIANT_TRUE;
  EXPECT_EQ(a->HasValue(Pos(5), &has), S_OK);
  EXPECT_EQ(has, VARIANT_FALSE);
}

TEST_F(ModelTest, CountPlusOneAppendsAndFurtherOutPads) {
  auto a = Attr(Obj(*store, 11), u"Fields");
  EXPECT_EQ(Put(a, 1, _variant_t(u"one")), S_OK);
  EXPECT_EQ(Put(a, 2, _variant_t(u"two")), S_OK);
  EXPECT_EQ(Count(a), 2);
  EXPECT_EQ(Put(a, 5, _variant_t(u"five")), S_OK);
  EXPECT_EQ(Count(a), 5);
  EXPECT_EQ(Vt(Get(a, 3)), VT_EMPTY);
  EXPECT_EQ(Vt(Get(a, 4)), VT_EMPTY);
  EXPECT_EQ(_bstr_t(Get(a, 5)).utf8(), "five");
  EXPECT_EQ(_bstr_t(Get(a, 2)).utf8(), "two");
}

TEST_F(ModelTest, ClearingASlotShiftsNothing) {
  auto a = Attr(Obj(*store, 11), u"Cases");
  for (int k = 1; k <= 3; ++k) ASSERT_EQ(Put(a, k, _variant_t(k * 10)), S_OK);
  ASSERT_EQ(a->Clear(Pos(2)), S_OK);
  EXPECT_EQ(Count(a), 3);
  EXPECT_EQ(Vt(Get(a, 2)), VT_EMPTY);
  EXPECT_EQ(static_cast<int>(Get(a, 3)), 30);
  ASSERT_EQ(a->Clear(_variant_t()), S_OK);
  EXPECT_EQ(Count(a), 0);
}

TEST_F(ModelTest, PositionsBelowOneFail) {
  auto a = Attr(Obj(*store, 11), u"Fields");
  for (LONG bad : {0, -1}) {
    EXPECT_EQ(Put(a, 0, _variant_t(u"x")), S_OK);  // VT_EMPTY index: the first value
    _variant_t out;
    EXPECT_EQ(a->GetValue(Pos(bad), _variant_t(), &out), DISP_E_BADINDEX);
    EXPECT_EQ(a->PutValue(Pos(bad), _variant_t(), _variant_t(u"y")), DISP_E_BADINDEX);
    EXPECT_EQ(a->Clear(Pos(bad)), DISP_E_BADINDEX);
    EXPECT_EQ(a->InsertValues(bad, 1), DISP_E_BADINDEX);
  }
  EXPECT_EQ(_bstr_t(Get(a, 1)).utf8(), "x");
}

TEST_F(ModelTest, InsertAndRemoveShift) {
  auto a = Attr(Obj(*store, 11), u"Cases");
  for (int k = 1; k <= 3; ++k) ASSERT_EQ(Put(a, k, _variant_t(k)), S_OK);
  ASSERT_EQ(a->InsertValues(2, 2), S_OK);
  EXPECT_EQ(Count(a), 5);
  EXPECT_EQ(Vt(Get(a, 2)), VT_EMPTY);
  EXPECT_EQ(static_cast<int>(Get(a, 4)), 2);
  ASSERT_EQ(a->RemoveValues(1, 3), S_OK);
  EXPECT_EQ(Count(a), 2);
  EXPECT_EQ(static_cast<int>(Get(a, 1)), 2);
  EXPECT_EQ(static_cast<int>(Get(a, 2)), 3);
}

TEST_F(ModelTest, SingleValuesRefuseLaterPositions) {
  auto a = Attr(Obj(*store, 20), u"Tag");
  EXPECT_EQ(Put(a, 2, _variant_t(u"x")), DISP_E_BADINDEX);
  EXPECT_EQ(_bstr_t(Get(a)).utf8(), "P-101");
  EXPECT_EQ(_bstr_t(Get(a, 1)).utf8(), "P-101");
}

// --- value types ----------------------------------------------------------------

TEST_F(ModelTest, ValuesKeepTheirTypes) {
  auto pump = Obj(*store, 20);
  auto speed = Attr(pump, u"Speed");
  EXPECT_EQ(Put(speed, 0, _variant_t(u"42")), S_OK);
  _variant_t v = Get(speed);
  EXPECT_EQ(V_VT(&v), VT_I4);
  EXPECT_EQ(v.lVal, 42);
  EXPECT_EQ(Put(speed, 0, _variant_t(u"forty")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(static_cast<int>(Get(speed)), 42);
  auto flag = Attr(pump, u"BEDDInitialized");
  EXPECT_EQ(Put(flag, 0, _variant_t(true)), S_OK);
  _variant_t b = Get(flag);
  EXPECT_EQ(V_VT(&b), VT_BOOL);
  EXPECT_EQ(b.boolVal, VARIANT_TRUE);
  _variant_t d = Get(Attr(pump, u"Started"));
  EXPECT_EQ(V_VT(&d), VT_DATE);
  EXPECT_DOUBLE_EQ(d.date, 43832.0);  // 2020-01-02
}

TEST_F(ModelTest, NullRealOrDateIsRefusedAndNothingStored) {
  auto pump = Obj(*store, 20);
  _variant_t null;
  V_VT(&null) = VT_NULL;
  EXPECT_EQ(Put(Attr(pump, u"Length"), 0, null), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Put(Attr(pump, u"Started"), 0, null), DISP_E_TYPEMISMATCH);
  EXPECT_DOUBLE_EQ(static_cast<double>(Get(Attr(pump, u"Length"), 0, u"mm")), 1500.0);
  EXPECT_EQ(Put(Attr(pump, u"Tag"), 0, null), S_OK);  // other types: empties
  EXPECT_EQ(Vt(Get(Attr(pump, u"Tag"))), VT_EMPTY);
}

TEST_F(ModelTest, BinaryValuesAsBytesAndBase64) {
  auto a = Attr(Obj(*store, 20), u"Drawing");
  EXPECT_EQ(Put(a, 0, _variant_t(u"AAEC/w=="), u"Base64"), S_OK);
  _variant_t bytes = Get(a);
  ASSERT_EQ(V_VT(&bytes), VT_ARRAY | VT_UI1);
  LONG ub = -1;
  SafeArrayGetUBound(bytes.parray, 1, &ub);
  EXPECT_EQ(ub, 3);
  EXPECT_EQ(_bstr_t(Get(a, 0, u"Base64")).utf8(), "AAEC/w==");
  EXPECT_EQ(Put(a, 0, _variant_t(u"not base64!"), u"Base64"), DISP_E_TYPEMISMATCH);
}

// --- deletion ------------------------------------------------------------------

TEST_F(ModelTest, DeletingEmptiesPositionalSlots) {
  auto page = Obj(*store, 11);
  auto pump = Obj(*store, 20);
  ASSERT_EQ(pump->Delete(), S_OK);
  auto objects = Attr(page, u"NodeObjects");
  EXPECT_EQ(Count(objects), 1);
  EXPECT_EQ(Vt(Get(objects, 1)), VT_EMPTY);
  EXPECT_EQ(static_cast<int>(Get(Attr(page, u"NodeIndices"), 1)), 1);
}

TEST_F(ModelTest, DeletingClosesCollectionsUpInEveryPageList) {
  auto ds = Obj(*store, 10);
  ASSERT_EQ(Obj(*store, 11)->Delete(), S_OK);
  auto current = Attr(ds, u"CurrentPages");
  ASSERT_EQ(Count(current), 1);
  EXPECT_EQ(IdOf(Get(current, 1)), 12);
  // Page 12 stands in two lists; deleting it removes it from both.
  ASSERT_EQ(Obj(*store, 12)->Delete(), S_OK);
  EXPECT_EQ(Count(current), 0);
  EXPECT_EQ(Count(Attr(ds, u"SubmittedPages")), 0);
}

TEST_F(ModelTest, DeletedObjectsAnswerFailures) {
  auto pump = Obj(*store, 21);
  ASSERT_EQ(pump->Delete(), S_OK);
  LONG id = 0;
  EXPECT_EQ(pump->get_Id(&id), S_OK);
  EXPECT_EQ(id, 21);
  _com_ptr_t<IKXQAttribute> a;
  EXPECT_EQ(pump->get_Attribute(_bstr_t(u"Tag"), _variant_t(), &a), KXQ_E_DELETED);
  EXPECT_EQ(pump->Delete(), KXQ_E_DELETED);
  _com_ptr_t<IKXQObject> again;
  EXPECT_EQ(store->Database()->get_Object(21, &again), KXQ_E_NOOBJECT);
  _com_ptr_t<IKXQClass> cls;
  ASSERT_EQ(Obj(*store, 20)->get_Class(&cls), S_OK);
  _com_ptr_t<IKXQObjectCollection> inst;
  ASSERT_EQ(cls->get_Instances(&inst), S_OK);
  LONG n = 0;
  inst->get_Count(&n);
  EXPECT_EQ(n, 1);
}

// A class's instances with those of its subclasses are in id order, also
// when an instance of the class itself came after its subclass's ones.
TEST_F(ModelTest, InstancesOfAClassAndItsSubclassesInIdOrder) {
  _com_ptr_t<IKXQSchema> schema;
  ASSERT_EQ(store->Database()->get_Schema(&schema), S_OK);
  _com_ptr_t<IKXQClass> equipment;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"ProcessPlantEquipment"), &equipment), S_OK);
  _com_ptr_t<IKXQObject> made;
  ASSERT_EQ(equipment->CreateInstance(&made), S_OK);
  LONG madeId = 0;
  ASSERT_EQ(made->get_Id(&madeId), S_OK);
  ASSERT_GT(madeId, 21);
  _com_ptr_t<IKXQObjectCollection> inst;
  ASSERT_EQ(equipment->get_Instances(&inst), S_OK);
  LONG n = 0;
  ASSERT_EQ(inst->get_Count(&n), S_OK);
  std::vector<LONG> ids;
  for (LONG k = 1; k <= n; ++k) {
    _com_ptr_t<IKXQObject> o;
    LONG id = 0;
    ASSERT_EQ(inst->get_Item(k, &o), S_OK);
    ASSERT_EQ(o->get_Id(&id), S_OK);
    ids.push_back(id);
  }
  EXPECT_EQ(ids, (std::vector<LONG>{20, 21, madeId}));
}

TEST_F(ModelTest, HoldingAttributeAndUnlink) {
  auto page = Obj(*store, 11);
  BSTR name = nullptr;
  ASSERT_EQ(page->get_HoldingAttributeName(&name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "CurrentPages");
  ASSERT_EQ(page->Unlink(), S_OK);
  EXPECT_EQ(Count(Attr(Obj(*store, 10), u"CurrentPages")), 1);
  ASSERT_EQ(page->get_HoldingAttributeName(&name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "");
  EXPECT_EQ(page->Unlink(), S_FALSE);
  // Putting it into another page list makes that list its holder.
  auto issued = Attr(Obj(*store, 10), u"IssuedPages");
  ASSERT_EQ(issued->AddValue(_variant_t(static_cast<IDispatch*>(page.GetInterfacePtr())),
                             VARIANT_TRUE, _variant_t()),
            S_OK);
  ASSERT_EQ(page->get_HoldingAttributeName(&name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "IssuedPages");
}

// --- attributes and classes ------------------------------------------------------

TEST_F(ModelTest, HoldingGivesNoOwnerThatWouldOwnItsOwnOwner) {
  _com_ptr_t<IKXQSchema> schema;
  store->Database()->get_Schema(&schema);
  _com_ptr_t<IKXQClass> pageClass;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"Page"), &pageClass), S_OK);
  _com_ptr_t<IKXQObject> page;
  ASSERT_EQ(pageClass->CreateInstance(&page), S_OK);
  auto sheet = Obj(*store, 10);
  ASSERT_EQ(sheet->put_Owner(page), S_OK);
  // The datasheet is owned by the page: holding the page must not make the
  // datasheet its owner as well.
  ASSERT_EQ(Put(Attr(sheet, u"CurrentPages"), 3,
                _variant_t(static_cast<IDispatch*>(page.GetInterfacePtr()))),
            S_OK);
  _com_ptr_t<IKXQObject> pageOwner;
  ASSERT_EQ(page->GetOwner(&pageOwner, 0), S_OK);
  EXPECT_EQ(pageOwner.GetInterfacePtr(), nullptr);
  _bstr_t holder;
  ASSERT_EQ(page->get_HoldingAttributeName(holder.GetAddress()), S_OK);
  EXPECT_EQ(std::u16string(holder), u"CurrentPages");
  // Owner chains stay finite: this returns.
  EXPECT_EQ(Obj(*store, 20)->put_Owner(sheet), S_OK);
  EXPECT_EQ(page->put_Owner(sheet), E_INVALIDARG);
}

TEST_F(ModelTest, UndefinedAttributeIsNullWithSuccess) {
  _com_ptr_t<IKXQAttribute> a;
  EXPECT_EQ(Obj(*store, 20)->get_Attribute(_bstr_t(u"NoSuchAttribute"), _variant_t(-1), &a), S_OK);
  EXPECT_EQ(a.GetInterfacePtr(), nullptr);
}

TEST_F(ModelTest, AnAttributeHeldStandsForItsOwnWhileManyOthersAreAskedForAndLetGo) {
  auto pump = Obj(*store, 20);
  auto tag = Attr(pump, u"tag");
  IKXQAttribute* const held = tag.GetInterfacePtr();
  {
    std::vector<_com_ptr_t<IKXQAttribute>> others;
    for (const char16_t* name : {u"Speed", u"Length", u"Started", u"Temperature", u"Name"})
      others.push_back(Attr(pump, name));
  }
  for (int i = 0; i < 8; ++i) {
    auto number = Attr(Obj(*store, 11 + i % 2), u"PageNumber");
    EXPECT_NE(number.GetInterfacePtr(), held);
    EXPECT_EQ(static_cast<int>(Get(number)), 1 + i % 2);
  }
  EXPECT_EQ(_bstr_t(Get(tag)).utf8(), "P-101");
  BSTR name = nullptr;
  ASSERT_EQ(tag->get_Name(&name), S_OK);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "Tag");
  _com_ptr_t<IKXQObject> owner;
  ASSERT_EQ(tag->get_Owner(&owner), S_OK);
  EXPECT_EQ(owner.GetInterfacePtr(), pump.GetInterfacePtr());
}

TEST_F(ModelTest, ClassNamesIgnoreCaseAndFollowInheritance) {
  auto pump = Obj(*store, 20);
  auto is = [&](const char16_t* name) {
    VARIANT_BOOL r = 0;
    EXPECT_EQ(pump->IsOfClass(_variant_t(name), &r), S_OK);
    return r;
  };
  EXPECT_EQ(is(u"Pump"), VARIANT_TRUE);
  EXPECT_EQ(is(u"pump"), VARIANT_TRUE);
  EXPECT_EQ(is(u"PROCESSPLANTEQUIPMENT"), VARIANT_TRUE);
  EXPECT_EQ(is(u"GenericClass"), VARIANT_TRUE);
  EXPECT_EQ(is(u"Page"), VARIANT_FALSE);
  EXPECT_EQ(is(u"Nonexistent"), VARIANT_FALSE);
  _com_ptr_t<IKXQSchema> schema;
  ASSERT_EQ(store->Database()->get_Schema(&schema), S_OK);
  _com_ptr_t<IKXQClass> dv1, dv2, none;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"DataView"), &dv1), S_OK);
  ASSERT_EQ(schema->get_Class(_bstr_t(u"Dataview"), &dv2), S_OK);
  EXPECT_EQ(dv1.GetInterfacePtr(), dv2.GetInterfacePtr());
  ASSERT_EQ(schema->get_Class(_bstr_t(u"Nope"), &none), S_OK);
  EXPECT_EQ(none.GetInterfacePtr(), nullptr);
  VARIANT_BOOL kind = 0;
  EXPECT_EQ(dv1->IsKindOf(_variant_t(u"document"), &kind), S_OK);
  EXPECT_EQ(kind, VARIANT_TRUE);
  VARIANT_BOOL has = 0;
  EXPECT_EQ(dv1->HasAttribute(_bstr_t(u"Name"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_TRUE);
  EXPECT_EQ(dv1->HasAttribute(_bstr_t(u"HasSummary"), &has), S_OK);
  EXPECT_EQ(has, VARIANT_FALSE);
}

TEST_F(ModelTest, ObjectValuesMustBeOfTheReferencedClass) {
  auto current = Attr(Obj(*store, 10), u"CurrentPages");
  auto pump = Obj(*store, 20);
  EXPECT_EQ(current->AddValue(_variant_t(static_cast<IDispatch*>(pump.GetInterfacePtr())),
                              VARIANT_TRUE, _variant_t()),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Count(current), 2);
}

TEST_F(ModelTest, SeveralAttributesReadInOneCallAnswerAsEachAttributeDoes) {
  auto ds = Obj(*store, 10);
  _com_ptr_t<IKXQValueReads> reads;
  ASSERT_EQ(ds->QueryInterface(IID_IKXQValueReads, reinterpret_cast<void**>(&reads)), S_OK);
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(ds->QueryInterface(IID_IKXQReadLog, reinterpret_cast<void**>(&log)), S_OK);
  _bstr_t texts[] = {u"DocumentName", u"NoSuchAttribute", u"NumberOfPages", u"SubmittedPages",
                     u"CheckedPages"};
  BSTR names[] = {texts[0], texts[1], texts[2], texts[3], texts[4]};
  VARIANT_BOOL defined[5];
  VARIANT values[5];
  ASSERT_EQ(log->BeginReads(), S_OK);
  ASSERT_EQ(reads->ReadValues(5, names, _variant_t(), defined, values), S_OK);
  _com_ptr_t<IKXQReadSet> read;
  ASSERT_EQ(log->EndReads(&read), S_OK);
  LONG count = 0;
  ASSERT_EQ(read->get_Count(&count), S_OK);
  EXPECT_EQ(count, 4);  // each defined one, as GetValue records it
  const bool expectDefined[] = {true, false, true, true, true};
  for (int i = 0; i < 5; ++i) {
    _variant_t value(values[i], false);
    EXPECT_EQ(defined[i] != VARIANT_FALSE, expectDefined[i]) << i;
    if (!expectDefined[i]) {
      EXPECT_EQ(Vt(value), VT_EMPTY);
      continue;
    }
    const _variant_t single = Get(Attr(ds, names[i]), 0);
    EXPECT_EQ(Vt(value), Vt(single)) << i;
    if (Vt(value) == VT_DISPATCH)
      EXPECT_EQ(value.pdispVal, single.pdispVal) << i;  // one object, one pointer
    else
      EXPECT_EQ(_bstr_t(value).utf8(), _bstr_t(single).utf8()) << i;
  }
  VARIANT_BOOL has[5];
  ASSERT_EQ(log->BeginReads(), S_OK);
  ASSERT_EQ(reads->HasValues(5, names, _variant_t(1), has), S_OK);
  _com_ptr_t<IKXQReadSet> asked;
  ASSERT_EQ(log->EndReads(&asked), S_OK);
  ASSERT_EQ(asked->get_Count(&count), S_OK);
  EXPECT_EQ(count, 4);  // as HasValue records it
  EXPECT_EQ(has[0], VARIANT_TRUE);
  EXPECT_EQ(has[1], VARIANT_FALSE);
  EXPECT_EQ(has[2], VARIANT_TRUE);
  EXPECT_EQ(has[3], VARIANT_TRUE);
  EXPECT_EQ(has[4], VARIANT_FALSE);
  ASSERT_EQ(reads->HasValues(2, names + 3, _variant_t(2), has), S_OK);
  EXPECT_EQ(has[0], VARIANT_FALSE);  // one page submitted
  BSTR submitted[] = {names[3]};
  VARIANT at;
  ASSERT_EQ(reads->ReadValues(1, submitted, _variant_t(2), defined, &at), S_OK);
  EXPECT_EQ(at.vt, VT_EMPTY);
  ASSERT_EQ(reads->ReadValues(1, submitted, _variant_t(1), defined, &at), S_OK);
  const _variant_t page(at, false);
  EXPECT_EQ(Vt(page), VT_DISPATCH);

  // A deleted object fails as its attributes do, and hands out nothing.
  auto pump = Obj(*store, 21);
  _com_ptr_t<IKXQValueReads> gone;
  ASSERT_EQ(pump->QueryInterface(IID_IKXQValueReads, reinterpret_cast<void**>(&gone)), S_OK);
  ASSERT_EQ(pump->Delete(), S_OK);
  BSTR tag[] = {texts[0]};
  _bstr_t tagName(u"Tag");
  tag[0] = tagName;
  EXPECT_TRUE(FAILED(gone->ReadValues(1, tag, _variant_t(), defined, values)));
  EXPECT_EQ(values[0].vt, VT_EMPTY);
  EXPECT_TRUE(FAILED(gone->HasValues(1, tag, _variant_t(), has)));
}

// --- units ----------------------------------------------------------------------

TEST_F(ModelTest, RealsConvertBetweenUnitsOfADimension) {
  auto pump = Obj(*store, 20);
  auto len = Attr(pump, u"Length");
  EXPECT_DOUBLE_EQ(static_cast<double>(Get(len, 0, u"m")), 1.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(Get(len, 0)), 1500.0);  // as stored
  EXPECT_NEAR(static_cast<double>(Get(len, 0, u"ft")), 1.5 / 0.3048, 1e-12);
  auto temp = Attr(pump, u"Temperature");
  EXPECT_NEAR(static_cast<double>(Get(temp, 0, u"K")), 293.15, 1e-9);
  _variant_t out;
  EXPECT_EQ(len->GetValue(_variant_t(), _variant_t(u"K"), &out), KXQ_E_UNIT);
  EXPECT_EQ(Put(len, 0, _variant_t(2.0), u"degC"), KXQ_E_UNIT);
  EXPECT_EQ(Put(len, 0, _variant_t(2.0), u"ft"), S_OK);
  EXPECT_NEAR(static_cast<double>(Get(len, 0, u"mm")), 609.6, 1e-9);
  BSTR unit = nullptr;
  ASSERT_EQ(len->get_UnitText(_variant_t(), &unit), S_OK);
  EXPECT_EQ(_bstr_t(unit, false).utf8(), "ft");
  ASSERT_EQ(len->get_UnitText(_variant_t(u"Imperial"), &unit), S_OK);
  EXPECT_EQ(_bstr_t(unit, false).utf8(), "ft");
  double v = 0;
  ASSERT_EQ(len->GetRealInUnit(1, _bstr_t(u"m"), &v), S_OK);
  EXPECT_NEAR(v, 0.6096, 1e-12);
}

// --- filters, projects, users, triggers, methods ----------------------------------

TEST_F(ModelTest, FiltersAndClaims) {
  auto pump = Obj(*store, 20);
  LONG r = -1;
  EXPECT_EQ(pump->TestFilter(_variant_t(u"Pumps"), &r), S_OK);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(pump->TestFilter(_variant_t(u"TagP101"), &r), S_OK);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Obj(*store, 21)->TestFilter(_variant_t(u"TagP101"), &r), S_OK);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(pump->TestFilter(_variant_t(u"NoFilter"), &r), KXQ_E_NOTFOUND);
  // Datasheet 10 is claimed by project 2, below the root.
  auto ds = Obj(*store, 10);
  EXPECT_EQ(ds->TestFilter(_variant_t(u"KX_CLAIM_ONLY"), &r), S_OK);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(pump->TestFilter(_variant_t(u"KX_CLAIM_ONLY"), &r), S_OK);
  EXPECT_EQ(r, 0);
  SAFEARRAY* claimants = nullptr;
  ASSERT_EQ(ds->get_Claimants(&claimants), S_OK);
  _com_ptr_t<IKXQProject> p2;
  ASSERT_EQ(store->Database()->get_Project(2, &p2), S_OK);
  LONG ix = 1;
  IDispatch* first = nullptr;
  ASSERT_EQ(SafeArrayGetElement(claimants, &ix, &first), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(p2.GetInterfacePtr()), first);
  first->Release();
  SafeArrayDestroy(claimants);
  VARIANT_BOOL rel = 0;
  _com_ptr_t<IKXQProject> root;
  ASSERT_EQ(store->Database()->get_RootProject(&root), S_OK);
  EXPECT_EQ(root->Contains(_variant_t(2), &rel), S_OK);
  EXPECT_EQ(rel, VARIANT_TRUE);
  EXPECT_EQ(p2->Contains(_variant_t(1), &rel), S_OK);
  EXPECT_EQ(rel, VARIANT_FALSE);
}

TEST_F(ModelTest, UserTable) {
  SAFEARRAY* users = nullptr;
  ASSERT_EQ(Obj(*store, 20)->get_Users(&users), S_OK);
  EXPECT_EQ(users, nullptr);
  ASSERT_EQ(Obj(*store, 10)->get_Users(&users), S_OK);
  ASSERT_NE(users, nullptr);
  EXPECT_EQ(SafeArrayGetDim(users), 2u);
  LONG ix[2] = {0, 0};
  _variant_t item, status;
  ASSERT_EQ(SafeArrayGetElement(users, ix, &item), S_OK);
  ix[0] = 1;
  ASSERT_EQ(SafeArrayGetElement(users, ix, &status), S_OK);
  EXPECT_EQ(static_cast<int>(status), 1);
  _com_ptr_t<IKXQNamedItem> named;
  ASSERT_EQ(item.punkVal->QueryInterface(IID_IKXQNamedItem, reinterpret_cast<void**>(&named)),
            S_OK);
  BSTR name = nullptr;
  named->get_Name(&name);
  EXPECT_EQ(_bstr_t(name, false).utf8(), "alice");
  SafeArrayDestroy(users);
}

TEST_F(ModelTest, HoldersOfOneAttributeShareItsObjectAndOthersGetTheirOwn) {
  auto tag = Attr(Obj(*store, 20), u"Tag");
  auto again = Attr(Obj(*store, 20), u"Tag");
  auto other = Attr(Obj(*store, 21), u"Tag");
  EXPECT_EQ(tag.GetInterfacePtr(), again.GetInterfacePtr());
  EXPECT_NE(tag.GetInterfacePtr(), other.GetInterfacePtr());
  const _variant_t before = Get(other);
  ASSERT_EQ(Put(tag, 0, _variant_t(u"P-101H")), S_OK);
  EXPECT_EQ(_bstr_t(Get(again)).utf8(), "P-101H");
  EXPECT_EQ(_bstr_t(Get(other)).utf8(), _bstr_t(before).utf8());
  tag = nullptr;
  again = nullptr;
  // Let go, the object may stand for another attribute; the one held stays.
  auto speed = Attr(Obj(*store, 21), u"Speed");
  ASSERT_EQ(Put(speed, 0, _variant_t(5)), S_OK);
  EXPECT_EQ(static_cast<LONG>(Get(speed)), 5);
  EXPECT_EQ(_bstr_t(Get(other)).utf8(), _bstr_t(before).utf8());
}

TEST_F(ModelTest, KnowledgeBaseMethodsByName) {
  auto ds = Obj(*store, 10);
  _variant_t result;
  ASSERT_EQ(ds->CallMethod(_bstr_t(u"PostIssueDocument"), nullptr, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_BOOL);
  EXPECT_EQ(ds->CallMethod(_bstr_t(u"SaveNodeList"), nullptr, &result), KXQ_E_NOTFOUND);
  EXPECT_EQ(store->CallCount(u"PostIssueDocument"), 1);
  ASSERT_TRUE(store->RegisterMethod(u"", u"IsStringFieldChanged", _variant_t(false)).ok());
  ASSERT_EQ(store->Database()->RunMethod(_bstr_t(u"IsStringFieldChanged"), nullptr, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
}

TEST_F(ModelTest, CopyMakesANewObjectWithTheSameValues) {
  auto page = Obj(*store, 11);
  _com_ptr_t<IKXQObject> copy;
  ASSERT_EQ(page->Copy(&copy), S_OK);
  LONG id = 0;
  copy->get_Id(&id);
  EXPECT_GT(id, 21);
  EXPECT_EQ(IdOf(Get(Attr(copy, u"NodeObjects"), 1)), 20);
  _com_ptr_t<IKXQObject> owner;
  ASSERT_EQ(copy->GetOwner(&owner, 0), S_OK);
  EXPECT_EQ(owner.GetInterfacePtr(), Obj(*store, 10).GetInterfacePtr());
  EXPECT_EQ(Count(Attr(Obj(*store, 10), u"CurrentPages")), 2);  // not placed in a list
  VARIANT_BOOL marked = 0;
  ASSERT_EQ(copy->get_IsStatusCopy(&marked), S_OK);
  EXPECT_EQ(marked, VARIANT_TRUE);
  ASSERT_EQ(page->get_IsStatusCopy(&marked), S_OK);
  EXPECT_EQ(marked, VARIANT_FALSE);
}

TEST_F(ModelTest, InverseListsFollowTheReferencesAndRefuseWrites) {
  auto pump = Obj(*store, 20);
  auto views = Attr(pump, u"DataViews");
  ASSERT_EQ(Count(views), 1);
  EXPECT_EQ(IdOf(Get(views, 1)), 11);
  ASSERT_EQ(Put(Attr(Obj(*store, 12), u"NodeObjects"), 4, _variant_t(20)), S_OK);
  ASSERT_EQ(Count(views), 2);
  EXPECT_EQ(IdOf(Get(views, 2)), 12);
  ASSERT_EQ(Attr(Obj(*store, 11), u"NodeObjects")->Clear(Pos(1)), S_OK);
  ASSERT_EQ(Count(views), 1);
  EXPECT_EQ(IdOf(Get(views, 1)), 12);
  EXPECT_EQ(Put(views, 1, _variant_t(11)), E_ACCESSDENIED);
  auto from = Attr(Obj(*store, 12), u"OverspillFrom");
  EXPECT_EQ(Vt(Get(from)), VT_EMPTY);
  ASSERT_EQ(Put(Attr(Obj(*store, 11), u"OverspillTo"), 0, _variant_t(12)), S_OK);
  EXPECT_EQ(IdOf(Get(from)), 11);
  ASSERT_EQ(Obj(*store, 11)->Delete(), S_OK);
  EXPECT_EQ(Vt(Get(from)), VT_EMPTY);
}

TEST_F(ModelTest, PerValueProtectionStatusAndTexts) {
  auto speed = Attr(Obj(*store, 20), u"Speed");
  VARIANT_BOOL b = 0;
  ASSERT_EQ(speed->IsLocked(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  ASSERT_EQ(speed->IsSecured(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  LONG flags = 0;
  ASSERT_EQ(speed->GetStatusFlags(_variant_t(), &flags), S_OK);
  EXPECT_EQ(flags, KXQ_STATUS_1 | KXQ_STATUS_3);
  BSTR text = nullptr;
  ASSERT_EQ(speed->GetPostfix(_variant_t(), &text), S_OK);
  EXPECT_EQ(_bstr_t(text, false).utf8(), "rpm");
  // A new value keeps the slot's flags and texts.
  ASSERT_EQ(Put(speed, 0, _variant_t(900)), S_OK);
  ASSERT_EQ(speed->GetPrefix(_variant_t(), &text), S_OK);
  EXPECT_EQ(_bstr_t(text, false).utf8(), "~");
  ASSERT_EQ(speed->PutStatusFlags(_variant_t(), KXQ_STATUS_NOT5), S_OK);
  ASSERT_EQ(speed->GetStatusFlags(_variant_t(), &flags), S_OK);
  EXPECT_EQ(flags, KXQ_STATUS_NOT5);
  ASSERT_EQ(speed->PutSubstitution(_variant_t(), nullptr), S_OK);
  ASSERT_EQ(speed->GetSubstitution(_variant_t(), &text), S_OK);
  EXPECT_EQ(_bstr_t(text, false).utf8(), "");
  // Holds are objects of the store; a deleted hold no longer holds.
  auto hold = Obj(*store, 21);
  ASSERT_EQ(speed->Hold(_variant_t(), _variant_t(static_cast<IDispatch*>(hold.GetInterfacePtr()))),
            S_OK);
  ASSERT_EQ(speed->IsHeld(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  _com_ptr_t<IKXQObject> holder;
  ASSERT_EQ(speed->get_HoldObject(_variant_t(), &holder), S_OK);
  EXPECT_EQ(holder.GetInterfacePtr(), hold.GetInterfacePtr());
  ASSERT_EQ(hold->Delete(), S_OK);
  ASSERT_EQ(speed->IsHeld(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  // A fresh value: fifth flag true, nothing else.
  auto tag = Attr(Obj(*store, 20), u"Tag");
  ASSERT_EQ(tag->GetStatusFlags(_variant_t(), &flags), S_OK);
  EXPECT_EQ(flags, 0);
}

TEST_F(ModelTest, NumberTextsAreComparedInOneReadWithNullAsEmpty) {
  auto speed = Attr(Obj(*store, 20), u"Speed");
  ASSERT_EQ(speed->PutPrefix(_variant_t(), _bstr_t(u"~")), S_OK);
  ASSERT_EQ(speed->PutPostfix(_variant_t(), _bstr_t(u"rpm")), S_OK);
  ASSERT_EQ(speed->PutSubstitution(_variant_t(), nullptr), S_OK);
  const auto same = [&](const OLECHAR* prefix, const OLECHAR* postfix, const OLECHAR* subst) {
    VARIANT_BOOL answer = VARIANT_TRUE;
    EXPECT_EQ(speed->SameNumberTexts(_variant_t(), prefix, postfix, subst, &answer), S_OK);
    return answer == VARIANT_TRUE;
  };
  EXPECT_TRUE(same(u"~", u"rpm", nullptr));
  EXPECT_TRUE(same(u"~", u"rpm", u""));
  EXPECT_FALSE(same(u"~", u"rpm", u"x"));
  EXPECT_FALSE(same(nullptr, u"rpm", nullptr));
  // A value without texts is the same as none; a read like GetPrefix's.
  auto tag = Attr(Obj(*store, 20), u"Tag");
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(Obj(*store, 20)->QueryInterface(IID_IKXQReadLog, reinterpret_cast<void**>(&log)), S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  VARIANT_BOOL none = VARIANT_FALSE;
  ASSERT_EQ(tag->SameNumberTexts(_variant_t(), nullptr, nullptr, nullptr, &none), S_OK);
  EXPECT_EQ(none, VARIANT_TRUE);
  _com_ptr_t<IKXQReadSet> reads;
  ASSERT_EQ(log->EndReads(&reads), S_OK);
  LONG count = 0;
  ASSERT_EQ(reads->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  // A position GetPrefix refuses is refused alike.
  BSTR text = nullptr;
  const HRESULT refused = speed->GetPrefix(_variant_t(u"x"), &text);
  ASSERT_TRUE(FAILED(refused));
  EXPECT_EQ(speed->SameNumberTexts(_variant_t(u"x"), nullptr, nullptr, nullptr, &none), refused);
  EXPECT_EQ(speed->SameNumberTexts(_variant_t(), nullptr, nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(ModelTest, ATextIsReadInPlaceAndRecordedAsGetValueRecordsIt) {
  auto fields = Attr(Obj(*store, 11), u"Fields");
  const OLECHAR withNul[] = u"a\0b";
  ASSERT_EQ(Put(fields, 1, _variant_t(u"<Real FieldId=\"1\"/>")), S_OK);
  ASSERT_EQ(Put(fields, 3, _variant_t(_bstr_t(SysAllocStringLen(withNul, 3), false))), S_OK);
  std::u16string seen;
  int calls = 0;
  const KXQTextRead read = [](void* context, const OLECHAR* text, LONG length) {
    auto& [out, n] = *static_cast<std::pair<std::u16string*, int*>*>(context);
    out->assign(text, static_cast<size_t>(length));
    ++*n;
    EXPECT_EQ(text[length], u'\0');
  };
  std::pair<std::u16string*, int*> sink{&seen, &calls};
  _com_ptr_t<IKXQReadLog> log;
  ASSERT_EQ(Obj(*store, 11)->QueryInterface(IID_IKXQReadLog, reinterpret_cast<void**>(&log)), S_OK);
  ASSERT_EQ(log->BeginReads(), S_OK);
  ASSERT_EQ(fields->ReadTextAt(1, read, &sink), S_OK);
  _com_ptr_t<IKXQReadSet> reads;
  ASSERT_EQ(log->EndReads(&reads), S_OK);
  LONG count = 0;
  ASSERT_EQ(reads->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(seen, u"<Real FieldId=\"1\"/>");
  // The whole text, NULs of its own included; nothing for an empty slot.
  ASSERT_EQ(fields->ReadTextAt(3, read, &sink), S_OK);
  EXPECT_EQ(seen, std::u16string(withNul, 3));
  EXPECT_EQ(fields->ReadTextAt(2, read, &sink), S_FALSE);
  EXPECT_EQ(fields->ReadTextAt(9, read, &sink), S_FALSE);
  EXPECT_EQ(calls, 2);
  // Not a text: refused with nothing recorded and no error set; a bad
  // position as GetValue.
  auto speed = Attr(Obj(*store, 20), u"Speed");
  ASSERT_EQ(log->BeginReads(), S_OK);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(speed->ReadTextAt(1, read, &sink), DISP_E_TYPEMISMATCH);
  IErrorInfo* info = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  if (info != nullptr) info->Release();
  ASSERT_EQ(log->EndReads(&reads), S_OK);
  ASSERT_EQ(reads->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(fields->ReadTextAt(0, read, &sink), DISP_E_BADINDEX);
  EXPECT_EQ(fields->ReadTextAt(1, nullptr, &sink), E_POINTER);
  EXPECT_EQ(calls, 2);
}

TEST_F(ModelTest, ClearingASingleValueKeepsTheLockAndTextsOfItsSlot) {
  auto speed = Attr(Obj(*store, 20), u"Speed");
  ASSERT_EQ(Put(speed, 0, _variant_t()), S_OK);
  EXPECT_EQ(Vt(Get(speed)), VT_EMPTY);
  VARIANT_BOOL b = VARIANT_TRUE;
  ASSERT_EQ(speed->HasValue(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  ASSERT_EQ(speed->IsLocked(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  _bstr_t text;
  ASSERT_EQ(speed->GetPostfix(_variant_t(), text.GetAddress()), S_OK);
  EXPECT_EQ(text.utf8(), "rpm");
  ASSERT_EQ(speed->Clear(Pos(1)), S_OK);
  ASSERT_EQ(speed->IsLocked(_variant_t(), &b), S_OK);
  EXPECT_EQ(b, VARIANT_TRUE);
  // A plain single value still leaves nothing behind.
  auto tag = Attr(Obj(*store, 20), u"Tag");
  ASSERT_EQ(Put(tag, 0, _variant_t()), S_OK);
  EXPECT_EQ(Count(tag), 0);
}

TEST_F(ModelTest, SortDefinitionsAndEnumerators) {
  _com_ptr_t<IKXQSchema> schema;
  ASSERT_EQ(store->Database()->get_Schema(&schema), S_OK);
  _com_ptr_t<IKXQSortDefinition> sort;
  ASSERT_EQ(schema->get_SortDefinition(_bstr_t(u"CLA"), &sort), S_OK);
  LONG order = 0;
  ASSERT_EQ(sort->Compare(Obj(*store, 21), Obj(*store, 20), &order), S_OK);
  EXPECT_GT(order, 0);
  _com_ptr_t<IKXQSortDefinition> none;
  ASSERT_EQ(schema->get_SortDefinition(_bstr_t(u"XYZ"), &none), S_OK);
  EXPECT_EQ(none.GetInterfacePtr(), nullptr);
  _com_ptr_t<IKXQClass> equipment;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"ProcessPlantEquipment"), &equipment), S_OK);
  _com_ptr_t<IUnknown> unk;
  ASSERT_EQ(equipment->get__NewEnum(&unk), S_OK);
  _com_ptr_t<IEnumVARIANT> e;
  ASSERT_EQ(unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e)), S_OK);
  std::vector<LONG> ids;
  for (;;) {
    _variant_t v;
    ULONG got = 0;
    if (e->Next(1, &v, &got) != S_OK) break;
    ids.push_back(IdOf(v));
  }
  EXPECT_EQ(ids, (std::vector<LONG>{20, 21}));  // subclass instances, in id order
  _com_ptr_t<IKXQDimension> length;
  ASSERT_EQ(schema->get_Dimension(_bstr_t(u"length"), &length), S_OK);
  double out = 0;
  ASSERT_EQ(length->Convert(1.0, _bstr_t(u"ft"), _bstr_t(u"mm"), &out), S_OK);
  EXPECT_NEAR(out, 304.8, 1e-9);
  BSTR display = nullptr;
  ASSERT_EQ(length->get_UnitDisplayName(_bstr_t(u"mm"), &display), S_OK);
  EXPECT_EQ(_bstr_t(display, false).utf8(), "millimetre");
  _com_ptr_t<IKXQDimension> none2;
  EXPECT_EQ(schema->get_Dimension(_bstr_t(u"Mass"), &none2), KXQ_E_NOTFOUND);
}

// CPU seconds of this thread: a loaded machine stretches wall time.
double ThreadSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A reverse list read element by element costs one query for the whole
// list, not one per element: reading every element of a list of 4,000
// takes about four times a list of 1,000 (sixteen when each element read
// computed the list again). Each reading starts after a rollback, which
// drops what was kept.
TEST(InverseListCostTest, ReadingEveryElementOfALongReverseListGrowsLinearly) {
  auto seconds = [](int pages) {
    TempDir dir;
    auto s = OpenPlant(dir.File("s.kxq"));
    std::string objects = "<store><objects>";
    for (int k = 0; k < pages; ++k)
      objects += "<object id=\"" + std::to_string(1000 + k) +
                 "\" class=\"Page\"><value attribute=\"NodeObjects\" ref=\"20\"/></object>";
    objects += "</objects></store>";
    EXPECT_TRUE(s->ImportFixtureText(objects, "pages").ok());
    auto views = Attr(Obj(*s, 20), u"DataViews");
    double best = 1e9;
    for (int round = 0; round < 2; ++round) {
      EXPECT_TRUE(s->Begin().ok());
      EXPECT_TRUE(s->Rollback().ok());
      const double start = ThreadSeconds();
      const LONG count = Count(views);
      LONG present = 0;
      for (LONG k = 1; k <= count; ++k) {
        VARIANT_BOOL has = VARIANT_FALSE;
        views->HasValue(Pos(k), &has);
        present += has == VARIANT_TRUE;
      }
      best = std::min(best, ThreadSeconds() - start);
      EXPECT_EQ(count, pages + 1);  // page 11 shows it too
      EXPECT_EQ(present, count);
    }
    EXPECT_EQ(IdOf(Get(views, pages + 1)), 1000 + pages - 1);
    return best;
  };
  const double small = seconds(1000);
  const double large = seconds(4000);
  // A floor keeps a reading of a few milliseconds from deciding alone.
  EXPECT_LE(large, 5 * std::max(small, 0.02))
      << small << " s for 1,000, " << large << " s for 4,000";
}

}  // namespace
}  // namespace kx::store::test
