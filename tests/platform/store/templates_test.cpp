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
  _com_ptr_t<IKXQTemplate> Get(const char16_t* id, const _variant_t& version,
                               HRESULT expect = S_OK) {
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
  auto none = Get(u"NOPE", _variant_t(), S_OK);
  EXPECT_EQ(none.GetInterfacePtr(), nullptr);
  auto lower = Get(u"pump", _variant_t(), S_OK);  // ids are exact
  EXPECT_EQ(lower.GetInterfacePtr(), nullptr);
  LONG n = 0;
  ASSERT_EQ(lib->get_Count(&n), S_OK);
  EXPECT_EQ(n, 2);
  _com_ptr_t<IKXQClassList> classes;
  ASSERT_EQ(current->get_ClassDescription(&classes), S_OK);
  _com_ptr_t<IKXQClass> first;
  ASSERT_EQ(classes->get_Item(0, &first), S_OK);
  BSTR cname = nullptr;
  first->get_Name(&cname);
  EXPECT_EQ(_bstr_t(cname, false).utf8(), "Pump");
  EXPECT_EQ(classes->get_Item(1, &first), DISP_E_BADINDEX);
  _com_ptr_t<IKXQViewDefinition> def;
  ASSERT_EQ(current->get_ClassDefinition(&def), S_OK);
  SAFEARRAY* attached = nullptr;
  ASSERT_EQ(def->GetAttachedClasses(0, &attached), S_OK);
  LONG ub = -1;
  SafeArrayGetUBound(attached, 1, &ub);
  EXPECT_EQ(ub, 0);
  SafeArrayDestroy(attached);
  _com_ptr_t<IKXQViewDefinition> member;
  EXPECT_EQ(def->get_Member(_bstr_t(u"pump"), &member), S_OK);
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
  ASSERT_EQ(root->AcceptsClass(_variant_t(static_cast<IDispatch*>(pump.GetInterfacePtr())), nullptr,
                               &accepts),
            S_OK);
  EXPECT_EQ(accepts, VARIANT_TRUE);

  _variant_t number;
  _com_ptr_t<IKXQTemplateField> field;
  ASSERT_EQ(page->GetFieldById(12, &number, &field), S_OK);
  EXPECT_EQ(static_cast<int>(number), 3);
  BSTR route = nullptr;
  ASSERT_EQ(field->GetRoute(-1, &route), S_OK);
  EXPECT_EQ(_bstr_t(route, false).utf8(), "Speed");
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
  // Whether a page is continuous is told without the descriptor.
  VARIANT_BOOL continuous = VARIANT_FALSE;
  ASSERT_EQ(target->get_IsContinuous(&continuous), S_OK);
  EXPECT_EQ(continuous, VARIANT_TRUE);
  ASSERT_EQ(page->get_IsContinuous(&continuous), S_OK);
  EXPECT_EQ(continuous, VARIANT_FALSE);
}

TEST_F(TemplatesTest, NodeChainGivesTheNodeListsNodesWithoutAnArray) {
  auto t = Get(u"PUMP", _variant_t());
  _com_ptr_t<IKXQTemplatePage> page;
  ASSERT_EQ(t->get_Page(1, &page), S_OK);
  _variant_t number;
  _com_ptr_t<IKXQTemplateField> field;
  ASSERT_EQ(page->GetFieldById(12, &number, &field), S_OK);
  SAFEARRAY* list = nullptr;
  ASSERT_EQ(field->GetNodeList(-1, &list), S_OK);
  LONG upper = -1;
  SafeArrayGetUBound(list, 1, &upper);
  ASSERT_GE(upper, 1);  // the root and the field's own node at least
  IKXQClassView* chain[8] = {};
  LONG count = 0;
  ASSERT_EQ(field->GetNodeChain(-1, 8, chain, &count), S_OK);
  ASSERT_EQ(count, upper + 1);
  for (LONG k = 0; k < count; ++k) {
    IDispatch* listed = nullptr;
    ASSERT_EQ(SafeArrayGetElement(list, &k, &listed), S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(chain[k]), listed) << k;
    listed->Release();
    chain[k]->Release();
  }
  SafeArrayDestroy(list);
  // Too long for the room given: its length only.
  IKXQClassView* small[1] = {};
  ASSERT_EQ(field->GetNodeChain(-1, 1, small, &count), S_FALSE);
  EXPECT_EQ(count, upper + 1);
  EXPECT_EQ(small[0], nullptr);
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

TEST_F(TemplatesTest, RouteStepsThroughViews) {
  auto t = Get(u"PUMP", _variant_t());
  _com_ptr_t<IKXQTemplatePage> tp;
  ASSERT_EQ(t->get_Page(1, &tp), S_OK);
  _com_ptr_t<IKXQClassView> root;
  ASSERT_EQ(tp->get_RootView(&root), S_OK);
  _com_ptr_t<IKXQViewDefinition> def;
  ASSERT_EQ(root->get_Definition(&def), S_OK);
  auto pump = Obj(*store, 20);
  _com_ptr_t<IKXQView> view;
  ASSERT_EQ(pump->GetView(_variant_t(static_cast<IDispatch*>(def.GetInterfacePtr())), &view), S_OK);
  _com_ptr_t<IKXQObject> seen;
  ASSERT_EQ(view->get_Object(&seen), S_OK);
  EXPECT_EQ(seen.GetInterfacePtr(), pump.GetInterfacePtr());

  _variant_t pos;
  _com_ptr_t<IKXQFieldValue> holder;
  ASSERT_EQ(view->ReadRoute(_bstr_t(u"Tag"), _variant_t(-1), &pos, &holder), S_OK);
  EXPECT_EQ(static_cast<int>(pos), 1);
  _variant_t tag;
  ASSERT_EQ(holder->GetValue(pos, _variant_t(), &tag), S_OK);
  EXPECT_EQ(_bstr_t(tag).utf8(), "P-101");

  EXPECT_EQ(view->ReadRoute(_bstr_t(u"Nozzles(2).Size"), _variant_t(-1), &pos, &holder),
            KXQ_E_NOTFOUND);
  EXPECT_EQ(holder.GetInterfacePtr(), nullptr);
  EXPECT_EQ(view->ReadRoute(_bstr_t(u"Nozzles(0).Size"), _variant_t(-1), &pos, &holder),
            DISP_E_BADINDEX);
  ASSERT_EQ(view->WriteRoute(_bstr_t(u"Nozzles(2).Size"), _variant_t(-1), &pos, &holder), S_OK);
  ASSERT_EQ(holder->PutValue(pos, _variant_t(u"m"), _variant_t(0.25)), S_OK);
  ASSERT_EQ(view->ReadRoute(_bstr_t(u"Nozzles(2).Size"), _variant_t(-1), &pos, &holder), S_OK);
  _variant_t size;
  ASSERT_EQ(holder->GetValue(pos, _variant_t(), &size), S_OK);
  EXPECT_DOUBLE_EQ(static_cast<double>(size), 0.25);  // as written, in m
  ASSERT_EQ(holder->GetValue(pos, _variant_t(u"mm"), &size), S_OK);
  EXPECT_DOUBLE_EQ(static_cast<double>(size), 250.0);
  _com_ptr_t<IKXQValueItem> item;
  ASSERT_EQ(holder->GetItem(pos, &item), S_OK);
  _com_ptr_t<IKXQObject> nozzle;
  ASSERT_EQ(item->get_Object(&nozzle), S_OK);
  _com_ptr_t<IKXQObject> owner;
  ASSERT_EQ(nozzle->GetOwner(&owner, 0), S_OK);
  EXPECT_EQ(owner.GetInterfacePtr(), pump.GetInterfacePtr());

  _com_ptr_t<IKXQFieldValue> nozzles;
  ASSERT_EQ(view->ReadRoute(_bstr_t(u"Nozzles"), _variant_t(), &pos, &nozzles), S_OK);
  LONG n = 0;
  nozzles->get_Count(&n);
  EXPECT_EQ(n, 2);
  _variant_t first, second;
  ASSERT_EQ(nozzles->GetViewAt(Pos(1), &first), S_OK);
  EXPECT_EQ(Vt(first), VT_EMPTY);
  ASSERT_EQ(nozzles->GetViewAt(Pos(2), &second), S_OK);
  ASSERT_EQ(Vt(second), VT_DISPATCH);
  _com_ptr_t<IKXQView> nv;
  second.pdispVal->QueryInterface(IID_IKXQView, reinterpret_cast<void**>(&nv));
  ASSERT_EQ(nv->get_Object(&seen), S_OK);
  EXPECT_EQ(seen.GetInterfacePtr(), nozzle.GetInterfacePtr());
  _com_ptr_t<IKXQView> made;
  ASSERT_EQ(nozzles->GetViewForWrite(Pos(1), &made), S_OK);
  nozzles->get_Count(&n);
  EXPECT_EQ(n, 2);
  VARIANT_BOOL has = 0;
  ASSERT_EQ(nozzles->HasValue(Pos(1), &has), S_OK);
  EXPECT_EQ(has, VARIANT_TRUE);
}

TEST_F(TemplatesTest, WalksToOneValueShareItsHolderAndOtherValuesGetTheirOwn) {
  auto t = Get(u"PUMP", _variant_t());
  _com_ptr_t<IKXQTemplatePage> tp;
  ASSERT_EQ(t->get_Page(1, &tp), S_OK);
  _com_ptr_t<IKXQClassView> root;
  ASSERT_EQ(tp->get_RootView(&root), S_OK);
  _com_ptr_t<IKXQViewDefinition> def;
  ASSERT_EQ(root->get_Definition(&def), S_OK);
  const _variant_t through(static_cast<IDispatch*>(def.GetInterfacePtr()));
  _com_ptr_t<IKXQView> view, other, plain;
  ASSERT_EQ(Obj(*store, 20)->GetView(through, &view), S_OK);
  ASSERT_EQ(Obj(*store, 21)->GetView(through, &other), S_OK);
  ASSERT_EQ(Obj(*store, 20)->GetView(_variant_t(), &plain), S_OK);
  _variant_t pos;
  _com_ptr_t<IKXQFieldValue> tag, again, otherTag, plainTag;
  ASSERT_EQ(view->ReadRoute(_bstr_t(u"Tag"), _variant_t(-1), &pos, &tag), S_OK);
  ASSERT_EQ(view->ReadRoute(_bstr_t(u"Tag"), _variant_t(-1), &pos, &again), S_OK);
  EXPECT_EQ(tag.GetInterfacePtr(), again.GetInterfacePtr());
  ASSERT_EQ(other->ReadRoute(_bstr_t(u"Tag"), _variant_t(-1), &pos, &otherTag), S_OK);
  ASSERT_EQ(plain->ReadRoute(_bstr_t(u"Tag"), _variant_t(-1), &pos, &plainTag), S_OK);
  EXPECT_NE(otherTag.GetInterfacePtr(), tag.GetInterfacePtr());
  EXPECT_NE(plainTag.GetInterfacePtr(), tag.GetInterfacePtr());
  _variant_t text;
  ASSERT_EQ(again->GetValue(pos, _variant_t(), &text), S_OK);
  EXPECT_EQ(_bstr_t(text).utf8(), "P-101");
  ASSERT_EQ(Put(Attr(Obj(*store, 20), u"Tag"), 0, _variant_t(u"P-101X")), S_OK);
  ASSERT_EQ(tag->GetValue(pos, _variant_t(), &text), S_OK);  // nothing of the value kept
  EXPECT_EQ(_bstr_t(text).utf8(), "P-101X");
  ASSERT_EQ(plainTag->GetValue(pos, _variant_t(), &text), S_OK);
  EXPECT_EQ(_bstr_t(text).utf8(), "P-101X");
}

}  // namespace
}  // namespace kx::store::test

namespace kx::store::test {
namespace {

// Fixed options keep their empty entries; options computed per object are
// the values of the object's list attribute, empty slots included, and
// survive reopening the file.
TEST(TemplateOptionsTest, FixedEntriesKeptAndPerObjectValuesRead) {
  TempDir dir;
  const std::string path = dir.File("options.kxq");
  {
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(path, OpenMode::kCreate, &store).ok());
    const Status imported = store->ImportFixtureText(R"(<store><schema>
      <class name="Pump"><attribute name="Grades" list="true"/></class></schema>
      <templates><template id="T"><page id="P"><node name="Pump" classes="Pump">
        <field id="1" attribute="Grades" options="A||B|"/>
        <field id="2" attribute="Grades" optionsFrom="Grades"/>
      </node></page></template></templates>
      <objects><object id="5" class="Pump"><value attribute="Grades">X</value>
        <value attribute="Grades" position="3">Z</value></object></objects></store>)",
                                                     "options");
    ASSERT_TRUE(imported.ok()) << imported.message;
  }
  std::unique_ptr<Store> store;
  ASSERT_TRUE(Store::Open(path, OpenMode::kOpenExisting, &store).ok());
  _com_ptr_t<IKXQTemplateLibrary> lib;
  ASSERT_EQ(store->Database()->get_TemplateLibrary(&lib), S_OK);
  _com_ptr_t<IKXQTemplate> tmpl;
  ASSERT_EQ(lib->GetTemplate(_bstr_t(u"T"), _variant_t(), &tmpl), S_OK);
  _com_ptr_t<IKXQTemplatePage> page;
  ASSERT_EQ(tmpl->get_PageById(_bstr_t(u"P"), &page), S_OK);
  _com_ptr_t<IKXQTemplateField> fixed, computed;
  ASSERT_EQ(page->get_Field(1, &fixed), S_OK);
  ASSERT_EQ(page->get_Field(2, &computed), S_OK);
  _com_ptr_t<IKXQObject> pump;
  ASSERT_EQ(store->Database()->get_Object(5, &pump), S_OK);

  auto texts = [](SAFEARRAY* array) {
    std::vector<std::string> out;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    for (LONG i = low; i <= high; ++i) {
      if (type == VT_BSTR) {
        BSTR text = nullptr;
        SafeArrayGetElement(array, &i, &text);
        out.push_back(_bstr_t(text, false).utf8());
        continue;
      }
      _variant_t value;
      SafeArrayGetElement(array, &i, &value);
      out.push_back(value.vt == VT_EMPTY ? "<empty>" : _bstr_t(value.bstrVal).utf8());
    }
    SafeArrayDestroy(array);
    return out;
  };
  VARIANT_BOOL perObject = VARIANT_TRUE;
  ASSERT_EQ(fixed->get_OptionsPerObject(&perObject), S_OK);
  EXPECT_EQ(perObject, VARIANT_FALSE);
  SAFEARRAY* options = nullptr;
  ASSERT_EQ(fixed->get_Options(&options), S_OK);
  EXPECT_EQ(texts(options), (std::vector<std::string>{"A", "", "B", ""}));

  ASSERT_EQ(computed->get_OptionsPerObject(&perObject), S_OK);
  EXPECT_EQ(perObject, VARIANT_TRUE);
  ASSERT_EQ(computed->GetOptionsFor(pump, &options), S_OK);
  EXPECT_EQ(texts(options), (std::vector<std::string>{"X", "<empty>", "Z"}));
  ASSERT_EQ(computed->GetOptionsFor(nullptr, &options), S_OK);
  EXPECT_TRUE(texts(options).empty());
}

std::string IdsInOrder(IKXQTemplateLibrary* lib) {
  LONG count = 0;
  lib->get_Count(&count);
  std::string ids;
  for (LONG i = 1; i <= count; ++i) {
    _com_ptr_t<IKXQTemplate> t;
    if (lib->get_Item(i, &t) != S_OK || !t) return ids + "<failed>";
    BSTR id = nullptr;
    t->get_Id(&id);
    ids += _bstr_t(id, false).utf8() + " ";
  }
  return ids;
}

// Positions are cached; they must follow every import and every rollback.
TEST(TemplatePositions, FollowImportsAndRollbacks) {
  std::unique_ptr<Store> store;
  ASSERT_TRUE(Store::Open(":memory:", OpenMode::kCreate, &store).ok());
  ASSERT_TRUE(
      store
          ->ImportFixtureText(
              "<store><templates><template id='B'/><template id='D'/></templates></store>", "a.xml")
          .ok());
  _com_ptr_t<IKXQTemplateLibrary> lib;
  ASSERT_EQ(store->Database()->get_TemplateLibrary(&lib), S_OK);
  EXPECT_EQ("B D ", IdsInOrder(lib));
  ASSERT_TRUE(
      store->ImportFixtureText("<store><templates><template id='C'/></templates></store>", "b.xml")
          .ok());
  EXPECT_EQ("B C D ", IdsInOrder(lib));
  // A failing import adds nothing, even for a moment.
  EXPECT_FALSE(
      store
          ->ImportFixtureText("<store><templates><template id='A'/></templates><objects><object "
                              "class='Nope'/></objects>"
                              "</store>",
                              "c.xml")
          .ok());
  EXPECT_EQ("B C D ", IdsInOrder(lib));
  ASSERT_TRUE(
      store
          ->ImportFixtureText("<store><templates><template id='E'/><template id='C' checknum='2'/>"
                              "</templates></store>",
                              "d.xml")
          .ok());
  EXPECT_EQ("B C D E ", IdsInOrder(lib));
  _com_ptr_t<IKXQTemplate> outside;
  EXPECT_EQ(DISP_E_BADINDEX, lib->get_Item(5, &outside));
}

}  // namespace
}  // namespace kx::store::test
