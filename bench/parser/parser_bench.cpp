// The cost of the grammar parser over bare expat for one "SetRealField"
// request: a message parser built per request (as a handler does) against
// an expat parser created, run on the same UTF-8 bytes with handlers that
// do nothing, and freed. Prints the ratio of the two times (target: at most
// 2). Each benchmark runs five times; the ratio compares medians.

#include <benchmark/benchmark.h>
#include <cstdio>
#include <expat.h>
#include <map>
#include <string>

#include "com/activation.h"
#include "com/bstr.h"
#include "com/clsids.h"
#include "com/wstr.h"
#include "msxml/sax.h"
#include "support/setrealfield.h"

namespace {

const char16_t kRequest[] =
    u"<XMLMessage TargetId=\"Datasheet 4711\" Status=\"1\">"
    u"<SetRealField PageId=\"101\" FieldId=\"7\" Index=\"3\" Value=\"12.5\" Prefix=\"~\""
    u" Postfix=\"mm\" Substitution=\"n/a\" Format=\"%.2f\" ConfirmedClass=\"Pump\""
    u" Published=\"yes\"/></XMLMessage>";

void BM_GrammarParser(benchmark::State& state) {
  BSTR text = SysAllocString(kRequest);
  for (auto _ : state) {
    kx::test::SetRealFieldMessageParser parser;
    HRESULT hr = parser.Parse(text);
    if (FAILED(hr)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(parser.pageId);
  }
  SysFreeString(text);
}
BENCHMARK(BM_GrammarParser)->Repetitions(5)->ReportAggregatesOnly(true);

// What a parse pays for activation alone: the reader created by class id
// and released.
void BM_ReaderActivation(benchmark::State& state) {
  for (auto _ : state) {
    ISAXXMLReader* reader = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                                  reinterpret_cast<void**>(&reader));
    if (FAILED(hr)) state.SkipWithError("no reader");
    if (reader != nullptr) reader->Release();
  }
}
BENCHMARK(BM_ReaderActivation)->Repetitions(5)->ReportAggregatesOnly(true);

void XMLCALL OnStart(void* data, const XML_Char*, const XML_Char** attributes) {
  int* count = static_cast<int*>(data);
  for (; *attributes != nullptr; attributes += 2) ++*count;
}
void XMLCALL OnEnd(void*, const XML_Char*) {}
void XMLCALL OnText(void*, const XML_Char*, int) {}

void BM_BareExpat(benchmark::State& state) {
  std::string bytes;
  if (!kx_utf16_to_utf8(kRequest, &bytes)) state.SkipWithError("bad request text");
  for (auto _ : state) {
    int attributes = 0;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &attributes);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser, OnText);
    if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_OK) {
      state.SkipWithError("expat failed");
    }
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(attributes);
  }
}
BENCHMARK(BM_BareExpat)->Repetitions(5)->ReportAggregatesOnly(true);

// Keeps the median time per iteration of every benchmark (the median of
// the repetitions, or the single run's time without repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times[run.run_name.function_name] = run.GetAdjustedRealTime();
      } else if (run.run_type == Run::RT_Iteration && run.repetitions <= 1) {
        times[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto grammar = reporter.times.find("BM_GrammarParser");
  auto expat = reporter.times.find("BM_BareExpat");
  if (grammar != reporter.times.end() && expat != reporter.times.end() && expat->second > 0) {
    std::printf("grammar parser / bare expat: %.2f (target at most 2)\n",
                grammar->second / expat->second);
  }
  benchmark::Shutdown();
  return 0;
}
