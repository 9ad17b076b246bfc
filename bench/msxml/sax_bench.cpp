// The SAX reader, created by class id and fed a UTF-16 request, against
// bare expat reading the same document as UTF-8, both with handlers that
// only count. Prints the ratio of the two times; the reader's conversions
// (UTF-16 in, UTF-16 out) are what the ratio measures.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <expat.h>
#include <map>
#include <string>

#include "com/activation.h"
#include "com/clsids.h"
#include "com/variant.h"
#include "msxml/sax.h"

namespace {

// About 1 MiB: an "XMLMessage" envelope holding many message elements with
// attributes and text, some of it outside ASCII.
std::string MakeDocument() {
  std::string doc = "<?xml version=\"1.0\"?>\n<XMLMessage TargetId=\"T-000123\" Status=\"1\">\n";
  for (int i = 0; doc.size() < (1u << 20); ++i) {
    const std::string n = std::to_string(i);
    doc += "  <SetRealField PageId=\"" + n + "\" FieldId=\"" + std::to_string(i % 97) +
           "\" Index=\"" + std::to_string(i % 7) + "\" Value=\"" + n +
           ".25\" Prefix=\"\" Postfix=\"mm\" Format=\"%.2f\" Published=\"true\">"
           "Nominal diameter \xc3\xa9"
           "tape " +
           n + " &amp; flange</SetRealField>\n";
  }
  doc += "</XMLMessage>\n";
  return doc;
}

std::u16string Widen(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
    } else {  // the document's only non-ASCII characters are two-byte ones
      out += static_cast<char16_t>(((b & 0x1F) << 6) | (utf8[++i] & 0x3F));
    }
  }
  return out;
}

const std::string& Document() {
  static const std::string doc = MakeDocument();
  return doc;
}

struct Counts {
  long elements = 0;
  long attributes = 0;
  long chars = 0;
};

// --- bare expat -------------------------------------------------------------

void XMLCALL ExpatStart(void* data, const XML_Char*, const XML_Char** atts) {
  auto* c = static_cast<Counts*>(data);
  ++c->elements;
  for (; *atts != nullptr; atts += 2) ++c->attributes;
}
void XMLCALL ExpatEnd(void*, const XML_Char*) {}
void XMLCALL ExpatText(void* data, const XML_Char*, int len) {
  static_cast<Counts*>(data)->chars += len;
}

void BM_Expat(benchmark::State& state) {
  const std::string& doc = Document();
  for (auto _ : state) {
    Counts counts;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &counts);
    XML_SetElementHandler(p, ExpatStart, ExpatEnd);
    XML_SetCharacterDataHandler(p, ExpatText);
    if (XML_Parse(p, doc.data(), static_cast<int>(doc.size()), XML_TRUE) != XML_STATUS_OK) {
      state.SkipWithError("expat failed");
    }
    XML_ParserFree(p);
    benchmark::DoNotOptimize(counts);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_Expat)->Unit(benchmark::kMillisecond);

// --- the SAX reader ---------------------------------------------------------

class CountingHandler final : public ISAXContentHandler {
 public:
  Counts counts;
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }  // lives on the benchmark's stack
  ULONG Release() override { return 1; }
  HRESULT putDocumentLocator(ISAXLocator*) override { return S_OK; }
  HRESULT startDocument() override { return S_OK; }
  HRESULT endDocument() override { return S_OK; }
  HRESULT startPrefixMapping(const char16_t*, int, const char16_t*, int) override { return S_OK; }
  HRESULT endPrefixMapping(const char16_t*, int) override { return S_OK; }
  HRESULT startElement(const char16_t*, int, const char16_t*, int, const char16_t*, int,
                       ISAXAttributes* atts) override {
    ++counts.elements;
    int n = 0;
    atts->getLength(&n);
    counts.attributes += n;
    return S_OK;
  }
  HRESULT endElement(const char16_t*, int, const char16_t*, int, const char16_t*, int) override {
    return S_OK;
  }
  HRESULT characters(const char16_t*, int n) override {
    counts.chars += n;
    return S_OK;
  }
  HRESULT ignorableWhitespace(const char16_t*, int) override { return S_OK; }
  HRESULT processingInstruction(const char16_t*, int, const char16_t*, int) override {
    return S_OK;
  }
  HRESULT skippedEntity(const char16_t*, int) override { return S_OK; }
};

void BM_SaxReader(benchmark::State& state) {
  const std::string& doc = Document();
  const std::u16string text = Widen(doc);
  ISAXXMLReader* reader = nullptr;
  if (FAILED(CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                              reinterpret_cast<void**>(&reader)))) {
    state.SkipWithError("cannot create the reader");
    return;
  }
  CountingHandler handler;
  reader->putContentHandler(&handler);
  VARIANT input;
  VariantInit(&input);
  input.vt = VT_BSTR;
  input.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  for (auto _ : state) {
    handler.counts = Counts();
    if (FAILED(reader->parse(input))) state.SkipWithError("reader failed");
    benchmark::DoNotOptimize(handler.counts);
  }
  VariantClear(&input);
  reader->putContentHandler(nullptr);
  reader->Release();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_SaxReader)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  auto expat = reporter.seconds.find("BM_Expat");
  auto sax = reporter.seconds.find("BM_SaxReader");
  if (expat != reporter.seconds.end() && sax != reporter.seconds.end() && expat->second > 0) {
    std::printf("document: %zu bytes; SAX reader / bare expat = %.2f (target at most 1.5)\n",
                Document().size(), sax->second / expat->second);
  }
  return 0;
}
