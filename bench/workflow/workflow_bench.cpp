// "IssueDocuments" on datasheets of 50 pages, each page showing one pump in
// eight fields with revision slots: the first issue (no previous issue:
// every field with a value is marked) and a later issue (each field
// compared with the previously issued one, the earlier marks cleared, the
// old issued pages deleted). Submit and check run outside the timing.
// The counter "page" is the time per page.
#include <benchmark/benchmark.h>
#include <memory>
#include <string>

#include "benchsupport.h"
#include "com/comutil.h"
#include "host/host.h"
#include "kxstoreptrs.h"
#include "store/admin.h"
#include "storexml.h"

namespace {

constexpr int kPages = 50;
constexpr int kDatasheets = 40;

// Datasheet d (0-based) is object 1000 + 100 d, its pages follow it, pump
// p of the plant is object 10 + p.
std::string Plant() {
  using kx::test::xml::Class;
  std::string xml =
      R"(<store><schema>
  <class name="GenericClass"><attribute name="Name"/>
    <attribute name="DataViews" type="object" list="true" inverse="NodeObjects"/></class>
  <class name="Pump" base="GenericClass">
    <attribute name="Service"/><attribute name="Flow" type="integer"/><attribute name="Head" type="integer"/>
    <attribute name="Speed" type="integer"/><attribute name="Power" type="integer"/>
    <attribute name="Seal"/><attribute name="Casing"/></class>
)" +
      Class("Datasheet", "GenericClass",
            "DocumentName TemplateId Checknum DefaultCase Status LastRevisionLevel "
            "LastMajorRevisionLevel LastMinorRevisionLevel LastIssueReason "
            "CurrentPages SubmittedPages CheckedPages IssuedPages") +
      Class("Page", "GenericClass",
            "TemplateId PageId Checknum PageNumber NodeObjects NodeIndices Cases Fields "
            "Revisions Annotations ActivePage") +
      R"(</schema>
<projects><project id="1" name="Plant"/></projects>
<cases><case id="1" name="Design"/></cases>
<templates><template id="TDS" name="Pump datasheet" checknum="1" kind="Datasheet" classes="Pump">
  <page id="P1" name="Sheet" revisions="8"><node name="Pump" index="0" classes="Pump">
    <field id="1" type="String" attribute="Name" revision="0"/>
    <field id="2" type="String" attribute="Service" revision="1"/>
    <field id="3" type="Integer" attribute="Flow" revision="2"/>
    <field id="4" type="Integer" attribute="Head" revision="3"/>
    <field id="5" type="Integer" attribute="Speed" revision="4"/>
    <field id="6" type="Integer" attribute="Power" revision="5"/>
    <field id="7" type="String" attribute="Seal" revision="6"/>
    <field id="8" type="String" attribute="Casing" revision="7"/>
  </node></page>
</template></templates>
<objects>
)";
  const char* kinds[] = {"String",  "String",  "Integer", "Integer",
                         "Integer", "Integer", "String",  "String"};
  for (int p = 0; p < kPages; ++p) {
    xml += "<object id=\"" + std::to_string(10 + p) +
           "\" class=\"Pump\"><value attribute=\"Name\">P-" + std::to_string(100 + p) +
           "</value><value attribute=\"Service\">Charge</value>"
           "<value attribute=\"Flow\">" +
           std::to_string(300 + p) +
           "</value><value attribute=\"Head\">120</value>"
           "<value attribute=\"Speed\">2950</value><value attribute=\"Power\">160</value>"
           "<value attribute=\"Seal\">Dual</value><value attribute=\"Casing\">Radial "
           "split</value></object>\n";
  }
  for (int d = 0; d < kDatasheets; ++d) {
    const int sheet = 1000 + 100 * d;
    xml += "<object id=\"" + std::to_string(sheet) +
           "\" class=\"Datasheet\"><value attribute=\"TemplateId\">TDS"
           "</value><value attribute=\"Checknum\">1</value><value attribute=\"Status\">1</value>";
    for (int p = 0; p < kPages; ++p) {
      xml += "<value attribute=\"CurrentPages\" ref=\"" + std::to_string(sheet + 1 + p) + "\"/>";
    }
    xml += "</object>\n";
    for (int p = 0; p < kPages; ++p) {
      xml += "<object id=\"" + std::to_string(sheet + 1 + p) + "\" class=\"Page\" owner=\"" +
             std::to_string(sheet) +
             "\"><value attribute=\"TemplateId\">TDS</value><value attribute=\"PageId\">P1</value>"
             "<value attribute=\"Checknum\">1</value><value attribute=\"PageNumber\">" +
             std::to_string(p + 1) + "</value><value attribute=\"NodeObjects\" ref=\"" +
             std::to_string(10 + p) +
             "\"/><value attribute=\"NodeIndices\">1</value><value attribute=\"Cases\">1</value>";
      for (int f = 0; f < 8; ++f) {
        xml += std::string("<value attribute=\"Fields\">&lt;") + kinds[f] + " FieldId=\"" +
               std::to_string(f + 1) + "\"/&gt;</value>";
      }
      xml += "<value attribute=\"Revisions\" position=\"8\" empty=\"true\"/></object>\n";
    }
  }
  return xml + "</objects></store>";
}

class Workflow {
 public:
  bool Open() {
    store_ = kxbench::OpenStore(Plant(), "workflow-bench");
    if (!store_) return false;
    module_ = kxbench::MakeMain();
    if (!module_) return false;
    kx::test::UseStore(host_.application(), store_->Database(), kx::test::Projects::kRoot);
    host_.privileges().Grant(u"CheckDocument");
    host_.privileges().Grant(u"IssueDocument");
    return SUCCEEDED(host_.Attach(module_.get()));
  }
  ~Workflow() { host_.Detach(); }

  bool Send(const std::u16string& message, const std::u16string& body) {
    return SUCCEEDED(host_.Request(message, u"<XMLMessage>" + body + u"</XMLMessage>").hr);
  }
  bool SubmitAndCheck(int sheet) {
    const std::u16string document = u"<Datasheet DocumentId=\"" + Id(sheet) + u"\"/>";
    return Send(u"SubmitDocuments",
                u"<SubmitDocuments Confirmed=\"1\">" + document + u"</SubmitDocuments>") &&
           Send(u"CheckDocuments", u"<CheckDocuments>" + document + u"</CheckDocuments>");
  }
  bool Issue(int sheet, const char16_t* revision) {
    return Send(u"IssueDocuments", u"<IssueDocuments Revision=\"" + std::u16string(revision) +
                                       u"\"><Datasheet DocumentId=\"" + Id(sheet) +
                                       u"\"/></IssueDocuments>");
  }

 private:
  static std::u16string Id(int sheet) {
    const std::string text = std::to_string(sheet);
    return std::u16string(text.begin(), text.end());
  }
  std::unique_ptr<kx::store::Store> store_;
  kx::host::Ref<IKXQDataService> module_;
  kx::host::Host host_;
};

void SetPageCounter(benchmark::State& state) {
  state.counters["page"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPages,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Each iteration issues a datasheet that was never issued.
void BM_FirstIssue(benchmark::State& state) {
  Workflow workflow;
  if (!workflow.Open()) {
    state.SkipWithError("no store or no Main");
    return;
  }
  int next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const int sheet = 1000 + 100 * next++;
    const bool ready = next <= kDatasheets && workflow.SubmitAndCheck(sheet);
    state.ResumeTiming();
    if (!ready || !workflow.Issue(sheet, u"A")) {
      state.SkipWithError("submit, check or issue failed");
      break;
    }
  }
  SetPageCounter(state);
}
BENCHMARK(BM_FirstIssue)->Iterations(kDatasheets)->Unit(benchmark::kMillisecond);

// Each iteration issues the same datasheet again.
void BM_SecondIssue(benchmark::State& state) {
  Workflow workflow;
  if (!workflow.Open() || !workflow.SubmitAndCheck(1000) || !workflow.Issue(1000, u"A")) {
    state.SkipWithError("the first issue failed");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    const bool ready = workflow.SubmitAndCheck(1000);
    state.ResumeTiming();
    if (!ready || !workflow.Issue(1000, u"B")) {
      state.SkipWithError("submit, check or issue failed");
      break;
    }
  }
  SetPageCounter(state);
}
BENCHMARK(BM_SecondIssue)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
