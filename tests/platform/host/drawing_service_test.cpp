// The host's drawing service on a real store: found under
// "DrawingServices", drawing templates and diagrams from the store, new
// diagrams kept there, the workflow face of a diagram through the store's
// representation, every call recorded, failures on request.
#include <gtest/gtest.h>
#include <memory>

#include "com/comutil.h"
#include "host/host.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"

namespace kx::host::test {
namespace {

constexpr char kFixture[] = R"(<store>
  <schema>
    <class name="GenericClass"><attribute name="Name" type="text"/></class>
    <class name="Document" base="GenericClass">
      <attribute name="DocumentName" type="text"/>
      <attribute name="DefaultCase" type="integer"/>
    </class>
    <class name="Diagram" base="Document">
      <attribute name="DrawingTemplate" type="text"/>
      <attribute name="CurrentSchematic" type="object" class="Schematic"/>
    </class>
    <class name="Sketch" base="Diagram"/>
    <class name="Schematic" base="GenericClass"/>
    <class name="DrawingTemplate" base="GenericClass"/>
    <class name="Pump" base="GenericClass"/>
  </schema>
  <objects>
    <object id="1" class="DrawingTemplate"><value attribute="Name">PFD A1</value></object>
    <object id="2" class="DrawingTemplate"><value attribute="Name">P&amp;ID A0</value></object>
    <object id="10" class="Diagram"><value attribute="DocumentName">Preheat train</value></object>
    <object id="20" class="Pump"><value attribute="Name">P-1</value></object>
  </objects>
</store>)";

std::u16string Text(BSTR text) { return std::u16string(text ? text : u"", SysStringLen(text)); }

class DrawingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store::Store::Open(":memory:", store::OpenMode::kCreate, &store_).ok());
    const store::Status imported = store_->ImportFixtureText(kFixture, "drawing");
    ASSERT_TRUE(imported.ok()) << imported.message;
    _com_ptr_t<IKXQSchema> schema;
    ASSERT_EQ(store_->Database()->get_Schema(&schema), S_OK);
    host_.application().SetStore(store_->Database(), schema, nullptr);
    store_->SetRepresentationProvider(
        [drawing = Ref<DrawingService>(&host_.drawing())](
            IKXQObject* object, const std::u16string& kind, IUnknown** rep) {
          return drawing->Representation(object, kind, rep);
        });
    IDispatch* service = nullptr;
    ASSERT_EQ(host_.application().GetService(_bstr_t(u"DrawingServices"), &service), S_OK);
    ASSERT_EQ(service->QueryInterface(IID_IKXDrawingServices, reinterpret_cast<void**>(&service_)),
              S_OK);
    service->Release();
  }
  void TearDown() override {
    if (store_) store_->SetRepresentationProvider(nullptr);
  }

  _com_ptr_t<IKXQObject> Object(LONG id) {
    _com_ptr_t<IKXQObject> object;
    EXPECT_EQ(store_->Database()->get_Object(id, &object), S_OK);
    return object;
  }
  std::u16string TextOf(IKXQObject* object, const OLECHAR* name) {
    _com_ptr_t<IKXQAttribute> attribute;
    EXPECT_EQ(object->get_Attribute(_bstr_t(name), _variant_t(-1), &attribute), S_OK);
    _variant_t value;
    attribute->GetValue(_variant_t(), _variant_t(), value.GetAddress());
    return value.vt == VT_EMPTY ? u"" : std::u16string(_bstr_t(value).view());
  }
  std::vector<std::u16string> CallLines() {
    std::vector<std::u16string> lines;
    for (const DrawingCall& call : host_.drawing().TakeCalls()) {
      lines.push_back(call.text + (FAILED(call.hr) ? u" (failed)" : u""));
    }
    return lines;
  }

  std::unique_ptr<store::Store> store_;
  Host host_;
  _com_ptr_t<IKXDrawingServices> service_;
};

TEST_F(DrawingServiceTest, DrawingTemplatesComeFromTheStoreOrAreGiven) {
  BSTR names = nullptr;
  ASSERT_EQ(service_->get_DrawingTemplates(&names), S_OK);
  EXPECT_EQ(Text(names), u"PFD A1;P&ID A0");
  SysFreeString(names);
  host_.drawing().SetDrawingTemplates(u"");
  ASSERT_EQ(service_->get_DrawingTemplates(&names), S_OK);
  EXPECT_EQ(Text(names), u"");
  SysFreeString(names);
  EXPECT_EQ(CallLines(), (std::vector<std::u16string>{u"DrawingTemplates -> \"PFD A1;P&ID A0\"",
                                                      u"DrawingTemplates -> \"\""}));
}

TEST_F(DrawingServiceTest, NewDiagramsAreKeptInTheStore) {
  _variant_t result;
  ASSERT_EQ(service_->CreateDiagram(
                _bstr_t(u"Charge pumps\nPID A0"), _variant_t(2), _variant_t(), _variant_t(),
                _variant_t(), _variant_t(static_cast<IDispatch*>(nullptr)), result.GetAddress()),
            S_OK);
  ASSERT_EQ(result.vt, VT_DISPATCH);
  _com_ptr_t<IKXQObject> diagram(result);
  ASSERT_TRUE(diagram);
  LONG id = 0;
  diagram->get_Id(&id);
  EXPECT_EQ(TextOf(diagram, u"DocumentName"), u"Charge pumps");
  EXPECT_EQ(TextOf(diagram, u"DrawingTemplate"), u"PID A0");
  _com_ptr_t<IKXQAttribute> current;
  ASSERT_EQ(diagram->get_Attribute(_bstr_t(u"CurrentSchematic"), _variant_t(-1), &current), S_OK);
  VARIANT_BOOL has = VARIANT_FALSE;
  ASSERT_EQ(current->HasValue(_variant_t(), &has), S_OK);
  EXPECT_TRUE(has) << "a new diagram has its current drawing";

  // A class derived from "Diagram" names the new diagram's class.
  ASSERT_EQ(service_->CreateDiagram(_bstr_t(u"Sketch 1\nSketch"), _variant_t(1), _variant_t(),
                                    _variant_t(), _variant_t(), _variant_t(), result.GetAddress()),
            S_OK);
  _com_ptr_t<IKXQObject> sketch(result);
  VARIANT_BOOL isSketch = VARIANT_FALSE;
  sketch->IsOfClass(_variant_t(u"Sketch"), &isSketch);
  EXPECT_TRUE(isSketch);
  EXPECT_EQ(TextOf(sketch, u"DrawingTemplate"), u"");

  EXPECT_EQ(service_->CreateDiagram(_bstr_t(u"\nPFD"), _variant_t(1), _variant_t(), _variant_t(),
                                    _variant_t(), _variant_t(), result.GetAddress()),
            E_INVALIDARG);
  const auto lines = CallLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], u"CreateDiagram \"Charge pumps\\nPID A0\" case 2 shared none -> #" +
                          std::u16string(_bstr_t(_variant_t(static_cast<int>(id))).view()));
  EXPECT_EQ(lines[2], u"CreateDiagram \"\\nPFD\" case 1 shared empty (failed)");
}

TEST_F(DrawingServiceTest, SharedDocumentsByIdOrName) {
  _com_ptr_t<IDispatch> found;
  ASSERT_EQ(service_->FindSharedDocument(_bstr_t(u"preheat TRAIN"), _variant_t(), &found), S_OK);
  EXPECT_TRUE(found == Object(10));
  ASSERT_EQ(service_->FindSharedDocument(_bstr_t(u"other"), _variant_t(10), &found), S_OK);
  EXPECT_TRUE(found == Object(10));
  ASSERT_EQ(service_->FindSharedDocument(_bstr_t(u"P-1"), _variant_t(20), &found), S_OK);
  EXPECT_FALSE(found) << "a pump is no diagram";
  EXPECT_EQ(CallLines().back(), u"FindSharedDocument \"P-1\" 20 -> none");
}

TEST_F(DrawingServiceTest, DiagramsAnswerTheirWorkflowThroughTheStore) {
  _com_ptr_t<IUnknown> rep;
  ASSERT_EQ(Object(10)->get_Representation(_bstr_t(u"Diagram"), &rep), S_OK);
  _com_ptr_t<IKXDrawingDiagram> diagram(rep);
  ASSERT_TRUE(diagram);
  EXPECT_EQ(diagram->Submit(), S_OK);
  EXPECT_EQ(diagram->Issue(_bstr_t(u"B"), _bstr_t(u"For construction")), S_OK);
  host_.drawing().failures().Add("Withdraw", E_ACCESSDENIED, u"withdrawn elsewhere", 1);
  EXPECT_EQ(diagram->Withdraw(_variant_t(2)), E_ACCESSDENIED);
  EXPECT_EQ(diagram->Check(), S_OK);
  EXPECT_EQ(CallLines(), (std::vector<std::u16string>{
                             u"Diagram #10 Submit", u"Diagram #10 Issue \"B\" \"For construction\"",
                             u"Diagram #10 Withdraw 2 (failed)", u"Diagram #10 Check"}));

  ASSERT_EQ(Object(20)->get_Representation(_bstr_t(u"Diagram"), &rep), S_OK);
  EXPECT_FALSE(rep) << "only diagrams have a drawing";
  ASSERT_EQ(Object(10)->get_Representation(_bstr_t(u"Model"), &rep), S_OK);
  EXPECT_FALSE(rep);
}

TEST_F(DrawingServiceTest, InjectedFailuresAndALostHost) {
  host_.drawing().failures().Add("ChangeDimensionSet", E_FAIL, u"drawings are locked", 1);
  EXPECT_EQ(service_->ChangeDimensionSet(_bstr_t(u"US")), E_FAIL);
  EXPECT_EQ(host_.drawing().dimension_set(), u"");
  EXPECT_EQ(service_->ChangeDimensionSet(_bstr_t(u"US")), S_OK);
  EXPECT_EQ(host_.drawing().dimension_set(), u"US");
  EXPECT_EQ(CallLines(), (std::vector<std::u16string>{u"ChangeDimensionSet \"US\" (failed)",
                                                      u"ChangeDimensionSet \"US\""}));
  // The service outlives its host: it answers, but has no store to read.
  _com_ptr_t<IKXDrawingServices> kept = service_;
  {
    auto gone = std::make_unique<Host>();
    IDispatch* raw = nullptr;
    ASSERT_EQ(gone->application().GetService(_bstr_t(u"DrawingServices"), &raw), S_OK);
    kept = _com_ptr_t<IKXDrawingServices>(raw);
    raw->Release();
  }
  BSTR names = nullptr;
  EXPECT_EQ(kept->get_DrawingTemplates(&names), E_UNEXPECTED);
  EXPECT_EQ(names, nullptr);
}

}  // namespace
}  // namespace kx::host::test
