// A create event on a continuous-list summary sheet of 1,000 and of 10,000
// rows: the time from the new object (its transaction begun) to its row
// added and the call committed. The growth from 1,000 to 10,000 rows is
// printed first; a cost that grows with the rows (10 for linear) means the
// event reads the whole list.
//
// "SetFieldFormat" of one column of the sample plant's pump summary (page
// 1071) lengthened to 1,000 and 4,000 rows: the request, which formats every
// row of the column, and its "DataField" event with a field and a revision
// element per row. Its growth from 1,000 to 4,000 rows is printed too (4 for
// linear; within 5 is the target).
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "com/wstr.h"
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

// The sample plant with `rows` more pumps, each a row of the pump summary's
// list after its six.
std::string ColumnFixture(int rows) { return kxbench::LengthenedPumpSummary(rows); }

// The pump summary of `rows` extra rows with Main attached; each Format
// sets the design pressure column's alignment, to 1 and 2 by turns, so that
// every call changes every row.
class ColumnPlant : public kxbench::SessionPlant {
 public:
  explicit ColumnPlant(int rows) : SessionPlant(ColumnFixture(rows)), m_rows(rows) {
    if (!AttachMain()) std::abort();
  }
  // Processor seconds of one call; negative when it failed or wrote no
  // event.
  double Format() {
    m_alignment = 3 - m_alignment;
    const std::string text =
        "<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetFieldFormat PageId=\"1071\" "
        "Alignment=\"" +
        std::to_string(m_alignment) +
        "\" RealFormat=\"0.0\"><FieldId ID=\"404\" Index=\"2\"/></SetFieldFormat></XMLMessage>";
    const std::u16string request = kx_utf8_to_utf16_lossy(text);
    const std::clock_t start = std::clock();
    const kx::host::RequestResult result = host().Request(u"SetFieldFormat", request);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    // One "DataField" event holding every row of the column.
    if (!result.succeeded() || result.events.empty() || !result.events[0].xml ||
        result.events[0].xml->size() < static_cast<size_t>(m_rows) * 100)
      return -1;
    return seconds;
  }

 private:
  int m_rows;
  int m_alignment = 1;
};

void BM_SetColumnFormat(benchmark::State& state) {
  ColumnPlant plant(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const double seconds = plant.Format();
    if (seconds < 0) {
      state.SkipWithError("the request failed or wrote no event");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["rows"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_SetColumnFormat)->Arg(1000)->Arg(4000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The least processor time of `rounds` calls (the machine may be busy).
double ColumnSeconds(int rows, int rounds) {
  ColumnPlant plant(rows);
  double least = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const double seconds = plant.Format();
    if (seconds < 0) std::abort();
    least = std::min(least, seconds);
  }
  return least;
}

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
  const double column = ColumnSeconds(1000, 5);
  const double longColumn = ColumnSeconds(4000, 5);
  std::printf("column format: %.1f ms at 1000 rows, %.1f ms at 4000 rows, growth %.2f\n",
              column * 1e3, longColumn * 1e3, longColumn / column);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
