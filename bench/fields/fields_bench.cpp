// Resolving every field of a 500-field page, cold (the page's placed-object
// set read again for each field, as without the route cache) and through
// the cache; the time ratio is printed first.
//
// The page carries KX_BENCH_PLACED objects (default 300) besides its pump
// and motor, so that reading its "NodeObjects" costs what it does on a
// crowded page.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "fieldmodel/fieldutils.h"
#include "fieldmodel/routecache.h"
#include "store/admin.h"

namespace {

constexpr int kFields = 500;

int Placed() {
  const char* text = std::getenv("KX_BENCH_PLACED");
  const int placed = text != nullptr ? std::atoi(text) : 300;
  return placed >= 0 ? placed : 300;
}

// Half the fields on the pump, half on its motor (one route step further).
std::string Fixture(int placed) {
  std::string xml = R"(<store><schema>
 <class name="Page"><attribute name="NodeObjects" type="object" list="true"/>
  <attribute name="NodeIndices" type="integer" list="true"/>
  <attribute name="Cases" type="integer" list="true"/></class>
 <class name="Motor"><attribute name="Tag"/><attribute name="Power" type="real"/></class>
 <class name="Pump"><attribute name="Tag"/><attribute name="Speed" type="integer"/>
  <attribute name="Motor" type="object" class="Motor"/></class>
</schema><templates>
 <template id="T" name="Big" checknum="1" classes="Pump"><page id="P" name="Page">
  <node name="Pump" index="0" classes="Pump">
)";
  for (int f = 1; f <= kFields / 2; ++f) {
    xml += "<field id=\"" + std::to_string(f) + "\" type=\"String\" attribute=\"" +
           (f % 2 ? "Tag" : "Speed") + "\" case=\"0\"/>\n";
  }
  xml += "<node name=\"Motor\" index=\"1\" classes=\"Motor\">\n";
  for (int f = kFields / 2 + 1; f <= kFields; ++f) {
    xml += "<field id=\"" + std::to_string(f) + "\" type=\"String\" attribute=\"" +
           (f % 2 ? "Tag" : "Power") + "\" case=\"0\"/>\n";
  }
  xml += R"(</node></node></page></template></templates><objects>
<object id="2" class="Motor"><value attribute="Tag">M-1</value><value attribute="Power">15</value></object>
<object id="3" class="Pump"><value attribute="Tag">P-1</value><value attribute="Speed">1450</value>
 <value attribute="Motor" ref="2"/></object>
)";
  for (int i = 0; i < placed; ++i) {
    xml += "<object id=\"" + std::to_string(1000 + i) + "\" class=\"Motor\"/>\n";
  }
  xml +=
      "<object id=\"1\" class=\"Page\"><value attribute=\"Cases\">1</value>"
      "<value attribute=\"NodeIndices\">1</value><value attribute=\"NodeObjects\" ref=\"3\"/>\n";
  for (int i = 0; i < placed; ++i) {
    xml += "<value attribute=\"NodeObjects\" ref=\"" + std::to_string(1000 + i) + "\"/>\n";
  }
  xml += "</object></objects></store>";
  return xml;
}

struct World {
  std::unique_ptr<kx::store::Store> store;
  IKXQObjectPtr page;
  std::vector<IKXQTemplateFieldPtr> fields;
};

World& GetWorld() {
  static World* world = [] {
    auto* w = new World;
    w->store = kxbench::OpenStore(Fixture(Placed()));
    if (!w->store) std::exit(1);
    (void)w->store->Database()->get_Object(1, &w->page);
    const IKXQTemplatePagePtr templatePage =
        kxbench::TemplatePage(w->store->Database(), u"T", u"P");
    for (int f = 1; f <= kFields; ++f) {
      IKXQTemplateFieldPtr field;
      (void)templatePage->get_Field(f, &field);
      w->fields.push_back(field);
    }
    return w;
  }();
  return *world;
}

// Resolves every field once; `cold` forgets the page's cached set first.
void ResolveAll(bool cold) {
  World& world = GetWorld();
  for (const auto& field : world.fields) {
    if (cold) RouteCache::Instance().Erase(world.page);
    _variant_t value;
    IKXQFieldValuePtr holder;
    (void)FieldUtils::ResolveFieldObject(world.page, field, nullptr, &value, &holder);
    benchmark::DoNotOptimize(holder.GetInterfacePtr());
  }
}

void BM_ResolvePageCold(benchmark::State& state) {
  for (auto _ : state) ResolveAll(true);
  state.SetItemsProcessed(state.iterations() * kFields);
}
BENCHMARK(BM_ResolvePageCold)->Unit(benchmark::kMillisecond);

void BM_ResolvePageCached(benchmark::State& state) {
  for (auto _ : state) ResolveAll(false);
  state.SetItemsProcessed(state.iterations() * kFields);
}
BENCHMARK(BM_ResolvePageCached)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ResolveAll(false);  // places the motor once
  const double cold = kxbench::SecondsPerRound([] { ResolveAll(true); }, 10);
  const double cached = kxbench::SecondsPerRound([] { ResolveAll(false); }, 10);
  std::printf(
      "%d fields, %d objects placed: cold %.2f ms, cached %.2f ms, cold/cached ratio %.2f\n",
      kFields, Placed() + 2, cold * 1e3, cached * 1e3, cold / cached);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  RouteCache::Instance().Shutdown();
  return 0;
}
