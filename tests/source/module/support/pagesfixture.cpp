#include "pagesfixture.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "main/main.h"
#include "storexml.h"

namespace kx::test::pages {

namespace {

using namespace kx::test::xml;

std::string Classes() {
  return R"XML(  <class name="GenericClass">
   <attribute name="Name"/>
   <attribute name="Flow" type="real" dimension="Length" unit="m"/>
   <attribute name="Running" type="boolean"/>
  </class>
  <class name="Pump" base="GenericClass"/>
  <class name="Motor" base="GenericClass"/>
  <class name="Folder" base="GenericClass"/>
  <class name="RetrievableFolder" base="Folder"/>
)XML" +
         Class("Document", "GenericClass",
               "DocumentName TemplateId Checknum DefaultCase NumberOfPages ProjectId ObjectFilter "
               "BaseDimensionSet Folders CurrentPages SubmittedPages CheckedPages IssuedPages") +
         Class("Datasheet", "Document") +
         Class(
             "Page", "GenericClass",
             "TemplateId PageId Checknum PageNumber NodeObjects NodeIndices Fields Units Revisions "
             "Annotations Qualifiers Cases ActivePage RevisedPages OverspillTo OverspillFrom "
             "Orientation ScaleMode ScaleFactor CenterHorizontal CenterVertical TopMargin "
             "LeftMargin BottomMargin RightMargin PaperSize PaperWidth PaperLength PaperSource");
}

std::string Sections() {
  return " <units>\n" + LengthDimension() +
         R"XML(  <dimensionSet name="SI"><use dimension="Length" unit="mm"/></dimensionSet>
 </units>
 <projects><project id="1" name="Plant"/></projects>
 <cases><case id="1" name="Normal"/></cases>
 <templates>
  <template id="TP" checknum="1" name="Pump sheet" kind="Datasheet" classes="Pump">
   <page id="A" name="Data" revisions="3">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name"/>
    </node>
    <unit dimension="Length" default="m"/>
   </page>
  </template>
  <template id="TP" checknum="2" name="Pump sheet" kind="Datasheet" classes="Pump">
   <page id="A" name="Data" revisions="3" revisionAlign="2" revisionValign="1">
    <node name="Equipment" index="0" classes="Pump">
     <field id="1" type="String" attribute="Name"/>
     <field id="2" type="Real" attribute="Flow" unit="0"/>
     <field id="3" type="Check" attribute="Running"/>
    </node>
    <node name="Aux" index="1" classes="Motor"/>
    <unit dimension="Length" default="mm" align="1" valign="2"/>
    <qualifier number="1" fields="2"/>
   </page>
   <page id="B" name="Two roots">
    <node name="First" index="0" classes="Pump"><field id="11" type="String" attribute="Name"/></node>
    <node name="Second" index="1" classes="Pump"><field id="12" type="String" attribute="Name"/></node>
   </page>
  </template>
  <template id="TS" checknum="1" name="Pump summary" kind="Summary" classes="Pump">
   <page id="S" name="Summary">
    <node name="Row" index="0" classes="Pump"><field id="1" type="String" attribute="Name"/></node>
   </page>
  </template>
  <template id="TL" checknum="1" name="Pump list" kind="Datasheet" classes="Pump">
   <page id="L" name="List" continuous="Rows" revisions="6">
    <node name="Sheet" index="0" classes="Document">
     <field id="101" type="String" attribute="Name" valueKey="0"/>
     <field id="102" type="String" attribute="Name" valueKey="1"/>
     <field id="103" type="String" attribute="Name" valueKey="2"/>
    </node>
    <node name="Row" index="1" classes="Pump">
     <field id="201" type="String" attribute="Name" valueKey="3"/>
     <field id="202" type="Real" attribute="Flow" valueKey="4"/>
     <field id="203" type="Check" attribute="Running" valueKey="5"/>
    </node>
   </page>
  </template>
  <template id="TZ" checknum="1" name="Rows without values" kind="Datasheet" classes="Pump">
   <page id="Z" name="List" continuous="Rows" revisions="3">
    <node name="Sheet" index="0" classes="Document"><field id="1" type="String" valueKey="0"/></node>
    <node name="Row" index="1" classes="Pump"><field id="2" type="String" valueKey="-1"/></node>
   </page>
  </template>
  <template id="TO" checknum="1" name="Readings" kind="Datasheet" classes="Pump">
   <page id="O" name="Readings">
    <node name="Rows" index="0" classes="Pump">
     <node name="Readings(1)" index="1" classes="Pump"/>
     <node name="readings [2]" index="2" classes="Pump"/>
     <node name="Other" index="3" classes="Pump"/>
    </node>
    <overspill target="O"><pair node="Rows" attribute="Readings"/></overspill>
   </page>
  </template>
 </templates>
)XML";
}

const std::string kText = StoreText(
    Classes(), Sections(),
    {
        Object(10, "Pump", Value("Name", "P-1")),
        Object(11, "Pump", Value("Name", "P-2")),
        Object(12, "Motor", Value("Name", "M-1")),
        Object(300, "RetrievableFolder", Value("Name", "Archive")),
        Owned(301, "Folder", 300),
        Owned(302, "Folder", 301),
        Object(303, "Folder"),
        Datasheet(100, "TP", {101, 102, 103},
                  Value("DocumentName", "Pump sheet") + Value("DefaultCase", "1") +
                      Value("BaseDimensionSet", "SI") + Refs("Folders", {303}) +
                      Refs("IssuedPages", {111}) + Refs("SubmittedPages", {121}) +
                      Child(R"(<user name="ann" status="1"/>)")),
        Page(101, 100, "TP", "A", "2", 1,
             Value("Name", "Sheet %d") + Refs("NodeObjects", {10, 12}) +
                 Values("NodeIndices", {"1", "2"}) + Value("Cases", "1") +
                 Values("Fields", {R"(<String FieldId="1" Value="P-1"/>)",
                                   R"(<Real FieldId="2" Value="12.5"/>)",
                                   R"(<Check FieldId="3" Value="1"/>)"}) +
                 Value("Units", "mm") + Values("Revisions", {"", "B", ""}) +
                 Value("Annotations",
                       R"(<Annotation FieldId="1" X="5" Y="6" Markup="0" Value="Check flow"/>)") +
                 Value("Qualifiers", "2") + Value("PaperSource", "3") +
                 Refs("RevisedPages", {111})),
        Page(102, 100, "TP", "B", "2", 2,
             Refs("NodeObjects", {11}) + Values("NodeIndices", {"1", "1"}) +
                 Value("Orientation", "2") + Value("ScaleFactor", "0.75") +
                 Value("CenterHorizontal", "true") + Value("TopMargin", "10") +
                 Value("PaperSize", "9")),
        Page(103, 100, "TP", "A", "2", 3, Value("Name", "Last") + Value("Units", "")),
        StatusCopy(Page(
            111, 100, "TP", "A", "2", 1,
            Value("Name", "Sheet %d") + Refs("ActivePage", {101}) +
                Values("Fields",
                       {R"(<String FieldId="1" Value="P-1 &amp; co" State="5"/>)", "",
                        R"(<Real FieldId="2" Value="10" Prefix="~" Format="0.0" State="2048"/>)",
                        R"(<Check FieldId="3" Value=)"}) +
                Value("Units", "m") + Value("Revisions", "A") +
                Values(
                    "Annotations",
                    {R"(<Annotation FieldId="1" X="5" Y="6" Markup="0" Value="Check flow"/>)",
                     R"(<Annotation FieldId="2" X="1" Y="2" Markup="1" Value="Issued note"/>)"}) +
                Value("Qualifiers", "1"))),
        StatusCopy(Page(
            121, 100, "TP", "A", "2", 1,
            Refs("ActivePage", {101}) +
                Value("Fields", R"(<String FieldId="1" Value="P-1 sub"/>)") +
                Value("Annotations",
                      R"(<Annotation FieldId="1" X="5" Y="6" Markup="0" Value="Check flow!"/>)"))),
        Datasheet(200, "TP", {201},
                  Value("DocumentName", "Archived sheet") + Value("DefaultCase", "1") +
                      Refs("Folders", {303, 302})),
        Page(201, 200, "TP", "B", "2", 1),
        Datasheet(400, "TS", {401},
                  Value("DocumentName", "Pump list") + Value("DefaultCase", "1") +
                      Value("ProjectId", "1") + Value("ObjectFilter", "kx_claim_only")),
        Page(401, 400, "TS", "S", "1", 1),
        Datasheet(500, "TO", {501, 502, 503}, Child(R"(<user name="ann" status="1"/>)")),
        Page(501, 500, "TO", "O", "1", 1, Refs("OverspillTo", {502})),
        Page(502, 500, "TO", "O", "1", 2, Refs("OverspillTo", {503})),
        Page(503, 500, "TO", "O", "1", 3),
        Datasheet(700, "TL", {701},
                  Value("DocumentName", "Pump list") + Refs("IssuedPages", {711})),
        Page(701, 700, "TL", "L", "1", 1,
             Refs("NodeObjects", {700, 10, 11}) + Values("NodeIndices", {"1", "2"})),
        StatusCopy(Page(711, 700, "TL", "L", "1", 1,
                        Refs("ActivePage", {701}) + Refs("NodeObjects", {700, 10, 11}) +
                            Values("NodeIndices", {"1", "2"}) +
                            Values("Fields", {R"(<String FieldId="101" Value="head"/>)", "", "",
                                              R"(<String FieldId="201" Value="P-1"/>)", "", "",
                                              R"(<String FieldId="201" Value="P-2"/>)"}) +
                            Values("Revisions", {"", "", "", "r0", "", "", "r1"}))),
        Datasheet(800, "TZ", {801}),
        Page(801, 800, "TZ", "Z", "1", 1,
             Refs("NodeObjects", {800, 10}) + Values("NodeIndices", {"1", "2"}) +
                 Values("Revisions", {"a", "b", "c"})),
        Datasheet(600, "TO", {601, 602}),
        Page(601, 600, "TO", "O", "1", 1, Refs("OverspillTo", {602})),
        Page(602, 600, "TO", "O", "1", 2, Refs("OverspillTo", {601})),
    });

}  // namespace

const char* const kPagesFixture = kText.c_str();

PagesHost::PagesHost(const char* fixture) : TestHost(fixture, kx::test::Projects::kRoot) {
  AttachMain();
}

void PagesHost::BeginHandRequest() {
  response_ = kx::host::MakeRef<kx::host::Response>();
  context_ = kx::host::MakeRef<kx::host::RequestContext>(response_);
  main().HoldRequest(context_.get());
}

std::string PagesHost::HandReply() {
  response_->EndReply();
  return Narrow(response_->text());
}

kx::host::RequestResult PagesHost::Request(const char16_t* name, const std::u16string& text) {
  return host().Request(name, text);
}

void PagesHost::SetCurrent(LONG datasheet, LONG page) {
  (void)app().put_CurrentDatasheet(datasheet != 0 ? Object(datasheet).GetInterfacePtr() : nullptr);
  (void)app().put_CurrentPage(page != 0 ? Object(page).GetInterfacePtr() : nullptr);
}

std::string PagesHost::Current() {
  auto text = [](IKXQObject* object) {
    LONG id = 0;
    if (object == nullptr || FAILED(object->get_Id(&id))) return std::string("none");
    return "#" + std::to_string(id);
  };
  return text(app().current_datasheet()) + " " + text(app().current_page());
}

std::vector<std::string> PagesHost::Values(long id, const char16_t* name) {
  std::vector<std::string> values;
  IKXQAttributePtr attribute;
  GetAttributeInterface(Object(id), name, attribute);
  const int32_t count = attribute ? GetAttributeCount(attribute) : 0;
  for (int32_t i = 1; i <= count; ++i) {
    _variant_t value;
    (void)attribute->GetValue(_variant_t(static_cast<LONG>(i)), _variant_t(), value.GetAddress());
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
      values.push_back("-");
    } else if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
      IKXQObjectPtr object;
      GetAttributeAsObject(attribute, i, object);
      values.push_back(object ? "#" + std::to_string(ObjectIdOf(object)) : "-");
    } else {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(attribute, i, text);
      values.push_back(Narrow(text.length() > 0 ? text.view() : u""));
    }
  }
  return values;
}

std::string Narrow(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

std::string FirstDesc(const std::u16string& error) {
  _bstr_t description(GetErrorDescription(_bstr_t(error)), false);
  return Narrow(description.view());
}

std::string ReplyText(const kx::host::RequestResult& result) {
  return result.succeeded() ? Narrow(result.reply) : "error: " + FirstDesc(result.error);
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace kx::test::pages
