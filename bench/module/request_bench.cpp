// Cost of one small request ("SetAnnotation") through the whole road, host
// driver to reply, next to the cost of parsing its text alone. The
// annotation workers are replaced by no-ops through Main's worker table, so
// both measure the framework only.
//
// The ratio BM_RequestRoundTrip / BM_ParseOnly is the framework's overhead
// per request over the grammar-driven parse.
#include <benchmark/benchmark.h>
#include <string>

#include "com/comutil.h"
#include "host/host.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "pages/annotations.h"

namespace {

// Workers that do nothing; the one of "SetAnnotation" checks that the parse
// reached it with the page id.
class NoOpWorkers final : public MainWorkers {
 public:
  HRESULT RunWorker(MessageParser& request, uint32_t) override {
    auto* set = dynamic_cast<SetAnnotationMessageParser*>(&request);
    return set == nullptr || set->m_pageId == 4 ? S_OK : E_FAIL;
  }
};

NoOpWorkers noOpWorkers;

Main* CreateMain() {
  IKXQDataService* service = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
    return nullptr;
  }
  Main* main = static_cast<Main*>(service);
  main->UseWorkers(&noOpWorkers);
  return main;
}

constexpr char16_t kRequest[] =
    u"<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetAnnotation PageId=\"4\" "
    u"AnnotationId=\"17\" Value=\"Checked against vendor data\"/></XMLMessage>";

void BM_RequestRoundTrip(benchmark::State& state) {
  Main* main = CreateMain();
  if (main == nullptr) {
    state.SkipWithError("Main could not be created");
    return;
  }
  auto module = kx::host::Ref<IKXQDataService>::Adopt(main);
  kx::host::Host host;
  host.Attach(module.get());
  for (auto _ : state) {
    auto result = host.Request(u"SetAnnotation", kRequest);
    if (FAILED(result.hr)) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  host.Detach();
}
BENCHMARK(BM_RequestRoundTrip);

void BM_ParseOnly(benchmark::State& state) {
  Main* main = CreateMain();
  if (main == nullptr) {
    state.SkipWithError("Main could not be created");
    return;
  }
  auto module = kx::host::Ref<IKXQDataService>::Adopt(main);
  _bstr_t text(kRequest);
  for (auto _ : state) {
    SetAnnotationMessageParser parser(main);
    const HRESULT hr = parser.Parse(text);
    if (FAILED(hr)) {
      state.SkipWithError("parse failed");
      break;
    }
    benchmark::DoNotOptimize(parser.m_annotationId);
  }
}
BENCHMARK(BM_ParseOnly);

}  // namespace

BENCHMARK_MAIN();
