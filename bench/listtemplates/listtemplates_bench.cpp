// "ListTemplates" over libraries of 250 to 2,000 templates, through the
// whole road (host driver, Main, the store's template library, the reply).
// Names come in a scrambled order and mixed letter case, so the listing
// really sorts; Google Benchmark fits the times to n log n (BigO).
#include <benchmark/benchmark.h>
#include <memory>
#include <string>

#include "benchsupport.h"
#include "host/host.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

// A store whose library holds `count` datasheet templates of class "Pump".
std::string LibraryFixture(int count) {
  std::string xml =
      "<store><schema><class name=\"GenericClass\"/><class name=\"Pump\" base=\"GenericClass\"/>"
      "</schema><templates>";
  for (int i = 0; i < count; ++i) {
    // A multiplicative scramble of 0..count-1 gives names out of id order.
    const int key = static_cast<int>((static_cast<long long>(i) * 7919) % 100003);
    const std::string name =
        std::string(i % 2 ? "pump sheet " : "Pump Sheet ") + std::to_string(key);
    xml +=
        "<template id=\"T" + std::to_string(i) + "\" name=\"" + name +
        "\" kind=\"Datasheet\" category=\"Rotating\" classes=\"Pump\"><page id=\"P1\"/></template>";
  }
  return xml + "</templates></store>";
}

void BM_ListTemplates(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::unique_ptr<kx::store::Store> store =
      kxbench::OpenStore(LibraryFixture(count), "library");
  if (!store) {
    state.SkipWithError("the library could not be made");
    return;
  }
  const auto module = kxbench::MakeMain();
  if (!module) {
    state.SkipWithError("Main could not be created");
    return;
  }
  kx::host::Host host;
  kx::test::UseStore(host.application(), store->Database(), kx::test::Projects::kNone);
  host.Attach(module.get());
  for (auto _ : state) {
    auto result = host.Request(u"ListTemplates", u"");
    if (FAILED(result.hr) || result.reply.size() < static_cast<size_t>(count) * 60) {
      state.SkipWithError("ListTemplates failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  host.Detach();
  state.SetComplexityN(count);
}
BENCHMARK(BM_ListTemplates)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
