// "ListDatasheetsByStatus" over stores of 2,500 to 20,000 datasheets, each
// with one current page showing its pump and every third also submitted:
// the whole request through the host driver (reading every datasheet,
// sorting the records, writing the reply), and the record list alone
// (adding n records in shuffled title order and reading them sorted).
// Both should grow as n log n; Google Benchmark reports the fitted
// complexity. The XML writer alone writing the records' elements of the
// 2,500-datasheet plant is the floor the whole request is measured against
// (target: the request within 4 times it).
#include <benchmark/benchmark.h>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "benchsupport.h"
#include "com/comutil.h"
#include "host/host.h"
#include "kxstoreptrs.h"
#include "kxxmlutils.h"
#include "model/kxinfoclasses.h"
#include "store/admin.h"
#include "storexml.h"

namespace {

// A plant of `count` pump datasheets. Ids: pumps 10 + 3k, datasheets
// 11 + 3k, their pages 12 + 3k.
std::string Plant(int count) {
  using kx::test::xml::Class;
  std::string xml =
      R"(<store><schema>
  <class name="GenericClass"><attribute name="Name"/>
    <attribute name="DataViews" type="object" list="true" inverse="NodeObjects"/></class>
  <class name="Pump" base="GenericClass"/>
)" +
      Class("Datasheet", "GenericClass",
            "DocumentName TemplateId DefaultCase LastRevisionLevel CurrentPages "
            "SubmittedPages CheckedPages IssuedPages") +
      Class("Page", "GenericClass", "TemplateId PageId Checknum NodeObjects NodeIndices Cases") +
      R"(</schema>
<projects><project id="1" name="Plant"/></projects>
<cases><case id="1" name="Design"/></cases>
<templates><template id="TDS" name="Pump datasheet" checknum="1" kind="Datasheet" classes="Pump">
  <page id="P1" name="Sheet"><node name="Pump" index="0" classes="Pump"><field id="1" attribute="Name"/></node></page>
</template></templates>
<objects>
)";
  std::mt19937 random(7);
  for (int k = 0; k < count; ++k) {
    const int pump = 10 + 3 * k;
    const std::string tag = "P-" + std::to_string(random() % 100000);
    xml += "<object id=\"" + std::to_string(pump) + "\" class=\"Pump\"><value attribute=\"Name\">" +
           tag + "</value><claim project=\"1\"/></object>\n";
    xml += "<object id=\"" + std::to_string(pump + 1) +
           "\" class=\"Datasheet\"><value attribute=\"DocumentName\">Pump " + tag +
           "</value><value attribute=\"TemplateId\">TDS</value><value "
           "attribute=\"DefaultCase\">1</value>"
           "<value attribute=\"CurrentPages\" ref=\"" +
           std::to_string(pump + 2) + "\"/>";
    if (k % 3 == 0)
      xml += "<value attribute=\"SubmittedPages\" ref=\"" + std::to_string(pump + 2) + "\"/>";
    xml += "</object>\n<object id=\"" + std::to_string(pump + 2) + "\" class=\"Page\" owner=\"" +
           std::to_string(pump + 1) +
           "\"><value attribute=\"TemplateId\">TDS</value><value attribute=\"PageId\">P1</value>"
           "<value attribute=\"Checknum\">1</value><value attribute=\"NodeObjects\" ref=\"" +
           std::to_string(pump) +
           "\"/><value attribute=\"NodeIndices\">1</value>"
           "<value attribute=\"Cases\">1</value></object>\n";
  }
  return xml + "</objects></store>";
}

// One store per size, made once.
kx::store::Store* StoreOf(int count) {
  static std::map<int, std::unique_ptr<kx::store::Store>> stores;
  auto& store = stores[count];
  if (!store) store = kxbench::OpenStore(Plant(count), "catalogue-bench");
  return store.get();
}

void BM_ListDatasheetsByStatus(benchmark::State& state) {
  kx::store::Store* store = StoreOf(static_cast<int>(state.range(0)));
  const auto module = store != nullptr ? kxbench::MakeMain() : kx::host::Ref<IKXQDataService>();
  if (!module) {
    state.SkipWithError("no store or no Main");
    return;
  }
  kx::host::Host host;
  kx::test::UseStore(host.application(), store->Database(), kx::test::Projects::kRoot);
  host.Attach(module.get());
  size_t length = 0;
  for (auto _ : state) {
    const auto result = host.Request(u"ListDatasheetsByStatus", u"1");
    if (FAILED(result.hr)) {
      state.SkipWithError("request failed");
      break;
    }
    length = result.reply.size();
  }
  host.Detach();
  state.SetComplexityN(state.range(0));
  state.counters["reply_chars"] = static_cast<double>(length);
}
BENCHMARK(BM_ListDatasheetsByStatus)
    ->RangeMultiplier(2)
    ->Range(2500, 20000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN);

// The "Datasheet" elements the request writes for the plant of `count`
// datasheets (status 1 for each, status 2 for every third), by the XML
// writer alone; characters written.
size_t WriteRecordsAlone(int count) {
  _com_ptr_t<ikxXMLStringWriter> writer;
  if (FAILED(KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                               reinterpret_cast<void**>(&writer)))) {
    return 0;
  }
  writer->SetOption(false);
  std::mt19937 random(7);
  auto write = [&](LONG status, const std::u16string& name, const std::u16string& title,
                   LONG documentId) {
    (void)writer->StartElement(u"Datasheet");
    (void)writer->WriteAttribute(u"Status", status);
    (void)writer->WriteAttribute(u"Name", name.c_str());
    (void)writer->WriteAttribute(u"Title", title.c_str());
    (void)writer->WriteAttribute(u"DocumentId", documentId);
    (void)writer->WriteAttribute(u"Case", u"Design");
    (void)writer->WriteAttribute(u"Scoped", true);
    (void)writer->WriteAttribute(u"Type", LONG{1});
    (void)writer->WriteAttribute(u"DatasheetCategory", u"");
    (void)writer->EndElement(u"Datasheet");
  };
  for (int k = 0; k < count; ++k) {
    const std::string tag = "P-" + std::to_string(random() % 100000);
    const std::u16string name(_bstr_t(("Pump " + tag).c_str()).view());
    const std::u16string title(_bstr_t((tag + " Pump " + tag).c_str()).view());
    const LONG id = 11 + 3 * k;
    write(1, name, title, id);
    if (k % 3 == 0) write(2, name, title, id);
  }
  BSTR text = nullptr;
  (void)writer->GetString(&text);
  const _bstr_t held(text, false);
  return held.length();
}

void BM_DatasheetInfoWriteOnly(benchmark::State& state) {
  size_t length = 0;
  for (auto _ : state) length = WriteRecordsAlone(static_cast<int>(state.range(0)));
  state.counters["reply_chars"] = static_cast<double>(length);
}
BENCHMARK(BM_DatasheetInfoWriteOnly)->Arg(2500)->Unit(benchmark::kMillisecond);

void BM_DatasheetInfoListSort(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<_bstr_t> titles;
  std::mt19937 random(11);
  for (int i = 0; i < count; ++i)
    titles.emplace_back(("Pump P-" + std::to_string(random() % 100000)).c_str());
  for (auto _ : state) {
    KXDatasheetInfoList list;
    for (int i = 0; i < count; ++i) {
      list.AddDocument(1 + i % 4, nullptr, titles[static_cast<size_t>(i)],
                       titles[static_cast<size_t>(i)], u"Design", u"", 1, true);
    }
    benchmark::DoNotOptimize(list.GetCount());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DatasheetInfoListSort)
    ->RangeMultiplier(2)
    ->Range(2500, 20000)
    ->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
