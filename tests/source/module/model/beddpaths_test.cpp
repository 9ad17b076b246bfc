// BEDD attribute paths: parsing names, listing a class's paths and copying
// values along a path from a master object to an equipment object.
#include "model/beddpaths.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "support/modelfixture.h"

using namespace KXDBDatasheetSvcs;
using kx::test::model::ModelStore;
using kx::test::model::Narrow;

namespace {

// Master 500 and equipment 501 are process equipment with two nozzles each
// (510, 511 and 520, 521); pump 600 is not process equipment.
const char kBeddFixture[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name" path="Name"/></class>
  <class name="Nozzle" base="GenericClass">
   <attribute name="Size" type="real" dimension="Length" unit="m" path="Size"/>
   <attribute name="Rating" type="integer" path="Rating"/>
  </class>
  <class name="ProcessPlantEquipment" base="GenericClass">
   <attribute name="BEDDInitialized" type="boolean" path="BEDDInitialized"/>
   <attribute name="Label" path="Label"/>
   <attribute name="Sealed" type="boolean" path="Sealed"/>
   <attribute name="Nozzles" type="object" list="true" class="Nozzle" path="Nozzles[kind=inlet]"/>
   <attribute name="DatasheetObjectHeader" type="object" class="Nozzle"/>
  </class>
  <class name="Pump" base="GenericClass"/>
 </schema>
 <units><dimension name="Length" base="m"><unit name="m"/><unit name="mm" factor="0.001"/></dimension></units>
 <projects><project id="1" name="Plant"/></projects>
 <objects>
  <object id="500" class="ProcessPlantEquipment">
   <value attribute="Label">master</value>
   <value attribute="Sealed">true</value>
   <value attribute="Nozzles" ref="510"/><value attribute="Nozzles" ref="511"/>
  </object>
  <object id="510" class="Nozzle"><value attribute="Size" unit="mm">50</value><value attribute="Rating">150</value></object>
  <object id="511" class="Nozzle"><value attribute="Size" unit="mm">80</value><value attribute="Rating">300</value></object>
  <object id="501" class="ProcessPlantEquipment">
   <value attribute="Nozzles" ref="520"/><value attribute="Nozzles" ref="521"/>
  </object>
  <object id="520" class="Nozzle"/>
  <object id="521" class="Nozzle"/>
  <object id="600" class="Pump"/>
 </objects>
</store>
)";

std::vector<std::string> Names(const NameList& list) {
  std::vector<std::string> out;
  for (const _bstr_t& name : list) out.push_back(name.length() == 0 ? "<null>" : Narrow(name));
  return out;
}

std::string Value(ModelStore& store, LONG id, const OLECHAR* name) {
  IKXQAttributePtr attribute;
  GetAttributeInterface(store.Object(id), name, attribute);
  _bstr_t text;
  GetAttributeValueString(attribute, text);
  return Narrow(text);
}

NameList Parts(const OLECHAR* path) {
  NameList parts;
  SplitAttributePath(path, parts);
  return parts;
}

TEST(BeddPaths, NamesSplitIntoBasesPositionsAndKeys) {
  int32_t code = 0;
  _bstr_t base;
  const struct {
    const OLECHAR* name;
    int32_t code;
    const char* base;
  } cases[] = {{u"Nozzle(3)", 3, "Nozzle"},
               {u"Nozzle(*)", kPathAllValues, "Nozzle"},
               {u"Nozzle", 1, "Nozzle"},
               {u"Nozzle(12)", kPathInvalid, "Nozzle"},
               {u"Nozzle(x)", kPathInvalid, "Nozzle"},
               {u"Nozzle(2", kPathInvalid, "Nozzle"},
               {u"Nozzle()", kPathInvalid, "Nozzle"}};
  for (const auto& c : cases) {
    ParseIndexedName(c.name, code, base);
    EXPECT_EQ(code, c.code) << Narrow(c.name);
    EXPECT_EQ(Narrow(base), c.base) << Narrow(c.name);
  }
  _bstr_t key;
  ParseQualifiedName(u"pipe[size=2]", base, key);
  EXPECT_EQ(Narrow(base), "pipe");
  EXPECT_EQ(Narrow(key), "size");
  ParseQualifiedName(u"pipe[size", base, key);
  EXPECT_EQ(Narrow(base), "pipe");
  EXPECT_EQ(key.length(), 0u);
  EXPECT_EQ(Names(Parts(u"a.b.c")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Names(Parts(u"a..b.")), (std::vector<std::string>{"a", "<null>", "b", "<null>"}));
  EXPECT_EQ(Narrow(GetPathFirstName(u"nozzles.size")), "nozzles");
  EXPECT_EQ(Narrow(GetPathFirstName(u"label")), "label");
  EXPECT_EQ(GetPathFirstName(u".label").length(), 0u);
}

TEST(BeddPaths, OnlyUninitialisedProcessEquipmentNeedsData) {
  ModelStore store(kBeddFixture);
  EXPECT_FALSE(NeedsBEDDInitialization(store.Object(600)));
  EXPECT_FALSE(NeedsBEDDInitialization(nullptr));
  EXPECT_TRUE(NeedsBEDDInitialization(store.Object(501)));
  MarkBEDDInitialized(store.Object(501));
  EXPECT_FALSE(NeedsBEDDInitialization(store.Object(501)));
}

TEST(BeddPaths, CollectedPathsAreLowerCaseUniqueAndSkipTheHeader) {
  ModelStore store(kBeddFixture);
  IKXQClassPtr cls;
  (void)store.Object(500)->get_Class(&cls);
  NameList paths;
  NameList stack;
  CollectAttributePaths(cls, paths, stack, NameList{});
  EXPECT_EQ(Names(paths),
            (std::vector<std::string>{"name", "beddinitialized", "label", "sealed", "nozzles.kind",
                                      "nozzles.name", "nozzles.size", "nozzles.rating"}));
  EXPECT_TRUE(stack.empty());
  NameList only;
  CollectAttributePaths(cls, only, stack, NameList{_bstr_t(u"label")});
  EXPECT_EQ(Names(only), (std::vector<std::string>{"label"}));
}

TEST(BeddPaths, ValuesFollowThePathWithTheirTypeAndUnit) {
  ModelStore store(kBeddFixture);
  const IKXQObjectPtr master = store.Object(500);
  const IKXQObjectPtr target = store.Object(501);
  CopyAttributeValueByPath(master, Parts(u"Label"), target);
  CopyAttributeValueByPath(master, Parts(u"Sealed"), target);
  EXPECT_EQ(Value(store, 501, u"Label"), "master");
  EXPECT_EQ(Value(store, 501, u"Sealed"), "1");
  // Every nozzle's size, in the unit it was read in.
  CopyAttributeValueByPath(master, Parts(u"Nozzles(*).Size"), target);
  IKXQAttributePtr size;
  GetAttributeInterface(store.Object(521), u"Size", size);
  _bstr_t unit;
  EXPECT_EQ(Narrow(GetAttributeUnit(size, unit)), "mm");
  EXPECT_DOUBLE_EQ(GetAttributeReal(size, u"mm"), 80.0);
  // The second nozzle's rating only.
  CopyAttributeValueByPath(master, Parts(u"Nozzles(2).Rating"), target);
  EXPECT_EQ(Value(store, 521, u"Rating"), "300");
  EXPECT_EQ(Value(store, 520, u"Rating"), "");
  // Paths that lead nowhere write nothing.
  CopyAttributeValueByPath(master, Parts(u"Nozzles(*).Size.Rating"), store.Object(600));
  CopyAttributeValueByPath(master, Parts(u"Label(2)"), store.Object(600));
  CopyAttributeValueByPath(master, Parts(u"Nozzles(x).Rating"), target);
  CopyAttributeValueByPath(master, Parts(u"Nozzles(3).Rating"), target);
  EXPECT_EQ(Value(store, 520, u"Rating"), "");
  EXPECT_THROW(CopyAttributeValueByPath(master, Parts(u"Label"), nullptr), KXComException);
}

}  // namespace
