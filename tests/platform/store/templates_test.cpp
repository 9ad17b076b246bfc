// The template library: templates by id, by id and checknum, the current one
// when a version is gone; pages, nodes, fields, units; page and document
// creation.
#include "store_test_support.h"

namespace kx::store::test {
namespace {

class TemplatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = OpenPlant(dir.File("plant.kxq"));
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Database()->get_TemplateLibrary(&lib), S_OK);
  }
  _com_ptr_t<IKXQTemplate> Get(const char16_t* id, const _variant_t& version, HRESULT expect = S_OK) {
    _com_ptr_t<IKXQTemplate> t;
    EXPECT_EQ(lib->GetTemplate(_bstr_t(id), version, &t), expect);
    return t;
  }
  static std::string Checknum(IKXQTemplate* t) {
    BSTR ck = nullptr;
    t->get_Checknum(&ck);
    return _bstr_t(ck, false).utf8();
  }
  TempDir dir;
  std::unique_ptr<Store> store;
  _com_ptr_t<IKXQTemplateLibrary> lib;
};

TEST_F(TemplatesTest, ByIdByChecknumAndTheCurrentWhenAVersionIsGone) {
  auto current = Get(u"PUMP", _variant_t());
  EXPECT_EQ(Checknum(current), "3");
  auto v2 = Get(u"PUMP", _variant_t(u"2"));
  EXPECT_EQ(Checknum(v2), "2");
  auto gone = Get(u"PUMP", _variant_t(u"7"));
  EXPECT_EQ(gone.GetInterfacePtr(), current.GetInterfacePtr());
  auto none = Get(u"NOPE", _variant_t(), S_FALSE);
  EXPECT_EQ(none.GetInterfacePtr(), nullptr);
  auto lower = Get(u"pump", _variant_t(), S_FALSE);  // ids are exact
  EXPECT_EQ(lower.GetInterfacePtr(), nullptr);
  LONG n = 0;
  ASSERT_EQ(lib->get_Count(&n), S_OK);
  EXPECT_EQ(n, 2);
  BSTR data = nullptr;
  ASSERT_EQ(lib->GetCachedTemplateData(_bstr_t(u"PUMP"), _bstr_t(u"2"), &data), S_OK);
  EXPECT_EQ(_bstr_t(data, false).utf8(), "version two");
  ASSERT_EQ(lib->GetCachedTemplateData(_bstr_t(u"PUMP"), _bstr_t(u"9"), &data), S_OK);
  EXPECT_EQ(_bstr_t(data, false).utf8(), "");
}

TEST_F(TemplatesTest, PagesNodesAndFields) {
  auto t = Get(u"PUMP", _variant_t());
  _com_ptr_t<IKXQTemplatePage> page, byId;
  ASSERT_EQ(t->get_Page(1, &page), S_OK);
  ASSERT_EQ(t->get_PageById(_bstr_t(u"P1"), &byId), S_OK);
  EXPECT_EQ(page.GetInterfacePtr(), byId.GetInterfacePtr());
  _com_ptr_t<IKXQTemplatePage> missing;
  EXPECT_EQ(t->get_Page(3, &missing), DISP_E_BADINDEX);
  EXPECT_EQ(t->get_PageById(_bstr_t(u"P9"), &missing), S_FALSE);

  _com_ptr_t<IKXQClassView> root;
  ASSERT_EQ(page->get_RootView(&root), S_OK);
  LONG index = -1;
  root->get_NodeIndex(&index);
  EXPECT_EQ(index, 0);
  SAFEARRAY* children = nullptr;
  ASSERT_EQ(root->get_Children(&children), S_OK);
  LONG ix = 0;
  IDispatch* motorDisp = nullptr;
  ASSERT_EQ(SafeArrayGetElement(children, &ix, &motorDisp), S_OK);
  SafeArrayDestroy(children);
  _com_ptr_t<IKXQClassView> motor;
  motorDisp->QueryInterface(IID_IKXQClassView, reinterpret_cast<void**>(&motor));
  motorDisp->Release();
  _com_ptr_t<IKXQClassView> parent;
  ASSERT_EQ(motor->get_Parent(&parent), S_OK);
  EXPECT_EQ(parent.GetInterfacePtr(), root.GetInterfacePtr());
  motor->get_NodeIndex(&index);
  EXPECT_EQ(index, 1);

  _com_ptr_t<IKXQClass> pump;
  _com_ptr_t<IKXQSchema> schema;
  store->Database()->get_Schema(&schema);
  schema->get_Class(_bstr_t(u"Pump"), &pump);
  VARIANT_BOOL accepts = 0;
  ASSERT_EQ(root->AcceptsClass(_variant_t(static_cast<IDispatch*>(pump.GetInterfacePtr())), nullptr, &accepts), S_OK);
  EXPECT_EQ(accepts, VARIANT_TRUE);

  _variant_t number;
  _com_ptr_t<IKXQTemplateField> field;
  ASSERT_EQ(page->GetFieldById(12, &number, &field), S_OK);
  EXPECT_EQ(static_cast<int>(number), 3);
  BSTR route = nullptr;
  ASSERT_EQ(field->GetRoute(-1, &route), S_OK);
  EXPECT_EQ(_bstr_t(route, false).utf8(), "Motor.Speed");
  LONG option = 0;
  EXPECT_EQ(field->GetOptionNumber(_bstr_t(u"high"), &option), S_OK);
  EXPECT_EQ(option, 1);
  LONG unitPos = 0;
  EXPECT_EQ(field->get_UnitPosition(&unitPos), S_FALSE);
  _com_ptr_t<IKXQTemplateField> real;
  ASSERT_EQ(page->get_Field(1, &real), S_OK);
  EXPECT_EQ(real->get_UnitPosition(&unitPos), S_OK);
  EXPECT_EQ(unitPos, 0);
  EXPECT_EQ(page->GetFieldById(99, &number, &field), S_FALSE);
  EXPECT_EQ(V_VT(&number), VT_EMPTY);

  _com_ptr_t<IKXQTemplateUnit> unit;
  ASSERT_EQ(page->get_Unit(0, &unit), S_OK);
  BSTR text = nullptr;
  ASSERT_EQ(unit->GetDisplayText(_bstr_t(u"mm"), &text), S_OK);
  EXPECT_EQ(_bstr_t(text, false).utf8(), "millimetre");
  ASSERT_EQ(unit->GetUnitForSet(_bstr_t(u"Imperial"), &text), S_OK);
  EXPECT_EQ(_bstr_t(text, false).utf8(), "ft");

  _com_ptr_t<IKXQOverspillAssociation> spill;
  ASSERT_EQ(page->get_Overspill(&spill), S_OK);
  _com_ptr_t<IKXQTemplatePage> target;
  ASSERT_EQ(spill->get_TargetPage(&target), S_OK);
  BSTR fmt = nullptr;
  target->get_ContinuousFormat(&fmt);
  EXPECT_EQ(_bstr_t(fmt, false).utf8(), "rows");
}

TEST_F(TemplatesTest, CreatePageFillsThePageButPlacesItNowhere) {
  auto t = Get(u"PUMP", _variant_t());
  _com_ptr_t<IKXQTemplatePage> tp;
  ASSERT_EQ(t->get_Page(1, &tp), S_OK);
  auto ds = Obj(*store, 10);
  auto pump = Obj(*store, 20);
  _com_ptr_t<IKXQObject> page;
  ASSERT_EQ(tp->CreatePage(ds, pump, 2, 3, &page), S_OK);
  _com_ptr_t<IKXQObject> owner;
  page->GetOwner(&owner, 0);
  EXPECT_EQ(owner.GetInterfacePtr(), ds.GetInterfacePtr());
  EXPECT_EQ(_bstr_t(kx::store::test::Get(Attr(page, u"TemplateId"))).utf8(), "PUMP");
  EXPECT_EQ(_bstr_t(kx::store::test::Get(Attr(page, u"PageId"))).utf8(), "P1");
  EXPECT_EQ(_bstr_t(kx::store::test::Get(Attr(page, u"Checknum"))).utf8(), "3");
  EXPECT_EQ(static_cast<int>(kx::store::test::Get(Attr(page, u"PageNumber"))), 3);
  EXPECT_EQ(static_cast<int>(kx::store::test::Get(Attr(page, u"Cases"), 1)), 2);
  EXPECT_EQ(IdOf(kx::store::test::Get(Attr(page, u"NodeObjects"), 1)), 20);
  EXPECT_EQ(static_cast<int>(kx::store::test::Get(Attr(page, u"NodeIndices"), 1)), 1);
  EXPECT_EQ(Count(Attr(page, u"Fields")), 3);
  EXPECT_EQ(Count(Attr(page, u"Revisions")), 2);
  EXPECT_EQ(_bstr_t(kx::store::test::Get(Attr(page, u"Units"), 1)).utf8(), "mm");
  EXPECT_EQ(Count(Attr(ds, u"CurrentPages")), 2);
}

TEST_F(TemplatesTest, TemplatesCreateWholeDocumentsAndSurviveReopening) {
  auto t = Get(u"PUMP", _variant_t());
  _com_ptr_t<IKXQObject> doc;
  ASSERT_EQ(t->CreateDatasheet(Obj(*store, 21), 1, &doc), S_OK);
  auto pages = Attr(doc, u"CurrentPages");
  ASSERT_EQ(Count(pages), 2);
  LONG docId = 0;
  doc->get_Id(&docId);
  store.reset();
  store = Reopen(dir.File("plant.kxq"));
  ASSERT_EQ(store->Database()->get_TemplateLibrary(&lib), S_OK);
  auto again = Get(u"PUMP", _variant_t(u"2"));
  EXPECT_EQ(Checknum(again), "2");
  auto current = Get(u"PUMP", _variant_t());
  LONG pageCount = 0;
  current->get_PageCount(&pageCount);
  EXPECT_EQ(pageCount, 2);
  EXPECT_EQ(Count(Attr(Obj(*store, docId), u"CurrentPages")), 2);
}

}  // namespace
}  // namespace kx::store::test
