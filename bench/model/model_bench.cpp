// ContinuousPageHelper::GetFieldValueIndex over every field of a long
// continuous-list page, and typed attribute reads against the raw store
// reads they wrap (the ratio is printed first).
//
// KX_BENCH_ROWS sets the number of rows (default 10000) so that a smoke run
// can stay small.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "benchsupport.h"
#include "kxattributeutils.h"
#include "model/continuouspageadvisor.h"
#include "store/admin.h"

namespace {

int Rows() {
  const char* text = std::getenv("KX_BENCH_ROWS");
  const int rows = text != nullptr ? std::atoi(text) : 10000;
  return rows > 0 ? rows : 10000;
}

// A continuous-list template with 3 fixed and 4 repeating fields, and one
// page whose rows are `rows` pumps.
std::string Fixture(int rows) {
  std::string xml = R"(<store><schema>
 <class name="Document"/>
 <class name="Page"><attribute name="NodeObjects" type="object" list="true"/>
  <attribute name="NodeIndices" type="integer" list="true"/></class>
 <class name="Pump"><attribute name="Name"/></class>
</schema><templates>
 <template id="T" name="List" checknum="1" classes="Pump"><page id="L" name="Rows" continuous="Rows">
  <node name="Sheet" index="0" classes="Document"><field id="1" valueKey="0"/><field id="2" valueKey="1"/><field id="3" valueKey="2"/></node>
  <node name="Row" index="1" classes="Pump"><field id="11" valueKey="3"/><field id="12" valueKey="4"/><field id="13" valueKey="-1"/><field id="14" valueKey="5"/></node>
 </page></template>
</templates><objects>
)";
  for (int i = 0; i < rows; ++i) {
    xml += "<object id=\"" + std::to_string(1000 + i) + "\" class=\"Pump\"/>\n";
  }
  xml +=
      "<object id=\"1\" class=\"Page\"><value attribute=\"NodeIndices\">0</value>"
      "<value attribute=\"NodeIndices\">1</value>\n";
  for (int i = 0; i < rows; ++i) {
    xml += "<value attribute=\"NodeObjects\" ref=\"" + std::to_string(1000 + i) + "\"/>\n";
  }
  xml += "</object></objects></store>";
  return xml;
}

struct World {
  std::unique_ptr<kx::store::Store> store;
  IKXQObjectPtr page;
  IKXQTemplatePagePtr templatePage;
  ContinuousPageHelper helper;
};

World& GetWorld() {
  static World* world = [] {
    auto* w = new World;
    w->store = kxbench::OpenStore(Fixture(Rows()));
    if (!w->store) std::exit(1);
    (void)w->store->Database()->get_Object(1, &w->page);
    w->templatePage = kxbench::TemplatePage(w->store->Database(), u"T", u"L");
    (void)w->helper.Initialize(nullptr, w->templatePage, w->page, false);
    return w;
  }();
  return *world;
}

void BM_GetFieldValueIndex(benchmark::State& state) {
  World& world = GetWorld();
  const int32_t fields = world.helper.PageFieldCount();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t field = 1; field <= fields; ++field) {
      int32_t index = 0;
      (void)world.helper.GetFieldValueIndex(field, &index);
      sum += index;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * fields);
  state.counters["rows"] = world.helper.RowCount();
}
BENCHMARK(BM_GetFieldValueIndex)->Unit(benchmark::kMillisecond);

void BM_InitializePageCached(benchmark::State& state) {
  World& world = GetWorld();
  for (auto _ : state) {
    (void)world.helper.Initialize(nullptr, world.templatePage, world.page, false);
  }
}
BENCHMARK(BM_InitializePageCached);

constexpr int32_t kReads = 1000;

void TypedReads(IKXQAttribute* objects) {
  for (int32_t i = 1; i <= kReads; ++i) {
    IKXQObjectPtr object;
    KXDBDatasheetSvcs::GetAttributeObjectAt(objects, object, i);
    benchmark::DoNotOptimize(object.GetInterfacePtr());
  }
}

void RawReads(IKXQAttribute* objects) {
  for (int32_t i = 1; i <= kReads; ++i) {
    VARIANT value;
    VariantInit(&value);
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = i;
    VARIANT unit;
    VariantInit(&unit);
    (void)objects->GetValue(index, unit, &value);
    benchmark::DoNotOptimize(value.pdispVal);
    VariantClear(&value);
  }
}

IKXQAttributePtr NodeObjects() {
  IKXQAttributePtr attribute;
  GetAttributeInterface(GetWorld().page, u"NodeObjects", attribute);
  return attribute;
}

void BM_TypedObjectReads(benchmark::State& state) {
  IKXQAttributePtr objects = NodeObjects();
  for (auto _ : state) TypedReads(objects);
  state.SetItemsProcessed(state.iterations() * kReads);
}
BENCHMARK(BM_TypedObjectReads);

void BM_RawObjectReads(benchmark::State& state) {
  IKXQAttributePtr objects = NodeObjects();
  for (auto _ : state) RawReads(objects);
  state.SetItemsProcessed(state.iterations() * kReads);
}
BENCHMARK(BM_RawObjectReads);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  IKXQAttributePtr objects = NodeObjects();
  const double typed = kxbench::SecondsPerRound([&] { TypedReads(objects); }, 200);
  const double raw = kxbench::SecondsPerRound([&] { RawReads(objects); }, 200);
  std::printf("rows %d; typed reads %.0f/s, raw reads %.0f/s, typed/raw time ratio %.2f\n",
              GetWorld().helper.RowCount(), kReads / typed, kReads / raw, typed / raw);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
