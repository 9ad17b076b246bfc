// Cost of one small request ("SetAnnotation") through the whole road, host
// driver to reply, next to the cost of parsing its text alone. The
// annotation workers are defined here as no-ops (taking the place of the
// service library's, as the tests do), so both measure the framework only.
//
// The ratio BM_RequestRoundTrip / BM_ParseOnly is the framework's overhead
// per request over the grammar-driven parse.
#include <benchmark/benchmark.h>

#include <string>

#include "annotations.h"
#include "com/comutil.h"
#include "host/host.h"
#include "main.h"

HRESULT CreateAnnotationMessageParser::CreateAnnotation() { return S_OK; }
HRESULT SetAnnotationMessageParser::SetAnnotation() { return m_pageId == 4 ? S_OK : E_FAIL; }
HRESULT MoveAnnotationMessageParser::MoveAnnotation() { return S_OK; }

namespace {

constexpr char16_t kRequest[] =
    u"<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetAnnotation PageId=\"4\" "
    u"AnnotationId=\"17\" Value=\"Checked against vendor data\"/></XMLMessage>";

void BM_RequestRoundTrip(benchmark::State& state) {
  IKXQDataService* service = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
    state.SkipWithError("Main could not be created");
    return;
  }
  auto module = kx::host::Ref<IKXQDataService>::Adopt(service);
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
  IKXQDataService* service = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
    state.SkipWithError("Main could not be created");
    return;
  }
  auto module = kx::host::Ref<IKXQDataService>::Adopt(service);
  _bstr_t text(kRequest);
  for (auto _ : state) {
    SetAnnotationMessageParser parser(static_cast<Main*>(service));
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
