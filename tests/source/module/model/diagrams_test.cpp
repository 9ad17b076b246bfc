// Diagrams: schematics per status, names and scope; objects in use; the
// value helpers of the workflow.
#include <gtest/gtest.h>

#include "kxcomexception.h"
#include "model/kxdbdatasheetutils.h"
#include "support/modelfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::ModelStore;
using kx::test::model::Narrow;

namespace {

TEST(Diagrams, SchematicPerStatus) {
  ModelStore store;
  IKXQObjectPtr schematic;
  ASSERT_EQ(GetSchematicByStatus(store.Object(kx::test::model::kDiagram), 1, &schematic), S_OK);
  LONG id = 0;
  ASSERT_TRUE(schematic != nullptr);
  schematic->get_Id(&id);
  EXPECT_EQ(id, 701);
  EXPECT_EQ(GetSchematicByStatus(store.Object(kx::test::model::kDiagram), 2, &schematic), E_FAIL);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("has no schematic representation"),
            std::string::npos);
  EXPECT_EQ(GetSchematicByStatus(store.Object(kx::test::model::kDiagram), 5, &schematic),
            E_INVALIDARG);
  EXPECT_NE(kx::test::model::ThreadErrorDescription().find("The status of the diagram is invalid"),
            std::string::npos);
  EXPECT_TRUE(schematic == nullptr);
}

TEST(Diagrams, NamesAndScope) {
  ModelStore store;
  BSTR name = nullptr;
  ASSERT_EQ(
      GetDiagramName(store.application(), store.Object(kx::test::model::kDiagram), &name, false, 1),
      S_OK);
  _bstr_t plain(name, false);
  EXPECT_EQ(Narrow(plain), "PID-1");
  ASSERT_EQ(
      GetDiagramName(store.application(), store.Object(kx::test::model::kDiagram), &name, true, 4),
      S_OK);
  _bstr_t decorated(name, false);
  EXPECT_EQ(Narrow(decorated), "[Issued] PID-1 [Diagram] (Design)");

  // The diagram itself is not claimed: nothing of it is in scope.
  EXPECT_FALSE(DiagramObjectsInScope(store.Object(kx::test::model::kDiagram), 1));
}

TEST(ObjectsInUse, UsersTable) {
  ModelStore store;
  EXPECT_FALSE(IsObjectInUse(store.Object(100)));
  ASSERT_EQ(store.Object(100)->PutUser(_bstr_t(u"alice"), 1), S_OK);
  EXPECT_TRUE(IsObjectInUse(store.Object(100)));
  EXPECT_FALSE(IsObjectInUse(nullptr));
}

TEST(WorkflowValues, ObjectValueAndIntegerText) {
  ModelStore store;
  IKXQAttributePtr nodeObjects;
  GetAttributeInterface(store.Object(kx::test::model::kListPage), u"NodeObjects", nodeObjects);
  IKXQObjectPtr object;
  GetAttributeObjectValue(nodeObjects, object, 5);
  LONG id = 0;
  ASSERT_TRUE(object != nullptr);
  object->get_Id(&id);
  EXPECT_EQ(id, 100);
  GetAttributeObjectValue(nodeObjects, object, 3);  // an empty slot
  EXPECT_TRUE(object == nullptr);
  EXPECT_EQ(
      PutDocumentIntegerAsText(store.application(), store.Object(kx::test::model::kSheet), -5),
      S_OK);
  EXPECT_EQ(PutDocumentIntegerAsText(store.application(), nullptr, 1), E_POINTER);
  kx::test::model::ModelStore::ClearThreadErrorInfoForTests();
}

}  // namespace
