// A create event on a continuous-list summary sheet of 1,000 and of 10,000
// rows: the time from the new object (its transaction begun) to its row
// added and the call committed. The growth from 1,000 to 10,000 rows is
// printed first; a cost that grows with the rows (10 for linear) means the
// event reads the whole list.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <string>

#include "sessionplant.h"

namespace {

std::string Fixture(int rows) {
  std::string xml = R"(<store><schema>
 <class name="GenericClass"><attribute name="Name"/><attribute name="F1"/>
  <attribute name="DataViews" type="object" list="true" inverse="NodeObjects"/></class>
 <class name="Pump" base="GenericClass"/>
 <class name="Document" base="GenericClass"><attribute name="TemplateId"/>
  <attribute name="Checknum"/><attribute name="DocumentName"/><attribute name="ObjectFilter"/>
  <attribute name="CurrentPages" type="object" list="true" collection="true"/></class>
 <class name="Datasheet" base="Document"/>
 <class name="Page" base="GenericClass"><attribute name="TemplateId"/><attribute name="PageId"/>
  <attribute name="Checknum"/><attribute name="PageNumber" type="integer"/>
  <attribute name="NodeObjects" type="object" list="true"/>
  <attribute name="NodeIndices" type="integer" list="true"/>
  <attribute name="Cases" type="integer" list="true"/><attribute name="Fields" list="true"/>
  <attribute name="Revisions" list="true"/><attribute name="ObjectFilter"/></class>
</schema><projects><project id="1" name="Plant"/></projects><templates>
 <template id="L" name="List" checknum="1" kind="Summary" classes="Pump">
  <page id="P" name="Rows" continuous="Rows">
   <node name="Sheet" index="0" classes="Document"><field id="1" type="String" attribute="DocumentName" valueKey="0"/></node>
   <node name="Row" index="1" classes="Pump"><field id="2" type="String" attribute="F1" valueKey="1"/></node>
  </page></template></templates><objects>
 <object id="1" class="Datasheet"><value attribute="TemplateId">L</value>
  <value attribute="Checknum">1</value><value attribute="CurrentPages" ref="2"/></object>
 <object id="2" class="Page" owner="1"><value attribute="TemplateId">L</value>
  <value attribute="PageId">P</value><value attribute="Checknum">1</value>
  <value attribute="PageNumber">1</value><value attribute="Cases">1</value>
  <value attribute="NodeIndices">1</value><value attribute="NodeIndices">2</value>
  <value attribute="NodeObjects" ref="1"/>
)";
  for (int r = 0; r < rows; ++r) {
    xml += "  <value attribute=\"NodeObjects\" ref=\"" + std::to_string(100 + r) + "\"/>\n";
  }
  xml += "  <value attribute=\"Fields\" position=\"" + std::to_string(rows + 1) +
         "\" empty=\"true\"/>\n </object>\n";
  for (int r = 0; r < rows; ++r) {
    xml += " <object id=\"" + std::to_string(100 + r) + "\" class=\"Pump\"/>\n";
  }
  return xml + "</objects></store>";
}

// A store with the list, and the host that delivers its create events to an
// in-process Main.
class Plant : public kxbench::SessionPlant {
 public:
  explicit Plant(int rows) : SessionPlant(Fixture(rows)) {
    IKXQSchemaPtr schema;
    IKXQTemplateLibraryPtr library;
    (void)database()->get_Schema(&schema);
    (void)database()->get_TemplateLibrary(&library);
    host().registrar().SetTemplates(library);
    if (!AttachMain() || !host().StartUp().succeeded()) std::abort();
    (void)schema->get_Class(_bstr_t(u"Pump"), &m_pump);
  }
  // One new pump and its create event; false when the call failed.
  bool CreateOnce() {
    const kx::host::CallResult result = ChangeAndDeliver([&] {
      IKXQObjectPtr made;
      (void)m_pump->CreateInstance(&made);
    });
    return result.succeeded();
  }

 private:
  IKXQClassPtr m_pump;
};

void BM_CreateEvent(benchmark::State& state) {
  Plant plant(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!plant.CreateOnce()) state.SkipWithError("the create event failed");
  }
  state.counters["rows"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_CreateEvent)->Arg(1000)->Arg(10000);

double SecondsPerEvent(int rows, int rounds) {
  Plant plant(rows);
  if (!plant.CreateOnce()) std::abort();
  return kxbench::SecondsPerRound([&] { plant.CreateOnce(); }, rounds);
}

}  // namespace

int main(int argc, char** argv) {
  const double small = SecondsPerEvent(1000, 50);
  const double large = SecondsPerEvent(10000, 50);
  std::printf("create event: %.1f us at 1000 rows, %.1f us at 10000 rows, growth %.2f\n",
              small * 1e6, large * 1e6, large / small);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
