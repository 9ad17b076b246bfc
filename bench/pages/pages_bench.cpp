// "InsertPages" of 1, 10 and 100 pages into a 200-page datasheet, and
// "MovePage" on it, through Main's handlers over an in-memory store. Each
// round runs in a store transaction that is rolled back, so every round
// starts from the same datasheet (the rollback's undo is part of the time).
//
// Printed first: the time per inserted page for 1, 10 and 100 pages, and
// for 10 pages into datasheets of 50, 200 and 800 pages, with their ratios:
// inserting renumbers the pages after the anchor, so the cost per page may
// grow with the datasheet's size, but no faster than n log n.
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "benchsupport.h"
#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/wstr.h"
#include "host/host_application.h"
#include "main/main.h"
#include "pages/pages.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

// A datasheet (id 10) held by alice with `pages` current pages 11, 12, ...
std::string Fixture(int pages) {
  std::string xml = R"(<store><schema>
 <class name="Datasheet"><attribute name="TemplateId"/><attribute name="DefaultCase" type="integer"/>
  <attribute name="NumberOfPages" type="integer"/>
  <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/></class>
 <class name="Page"><attribute name="TemplateId"/><attribute name="PageId"/><attribute name="Checknum"/>
  <attribute name="PageNumber" type="integer"/><attribute name="Cases" type="integer" list="true"/>
  <attribute name="NodeObjects" type="object" list="true"/><attribute name="NodeIndices" type="integer" list="true"/>
  <attribute name="Fields" list="true"/></class>
 <class name="Pump"/>
</schema><projects><project id="1" name="Plant"/></projects><templates>
 <template id="T" name="Sheet" checknum="1" classes="Pump"><page id="P" name="Page">
  <node name="Pump" index="0" classes="Pump"><field id="1"/><field id="2"/></node></page></template>
</templates><objects>
 <object id="10" class="Datasheet"><value attribute="TemplateId">T</value>
  <value attribute="DefaultCase">1</value><value attribute="NumberOfPages">)" +
                    std::to_string(pages) + "</value>\n";
  for (int p = 0; p < pages; ++p) {
    xml += "  <value attribute=\"CurrentPages\" ref=\"" + std::to_string(11 + p) + "\"/>\n";
  }
  xml += "  <user name=\"alice\" status=\"1\"/></object>\n";
  for (int p = 0; p < pages; ++p) {
    xml += " <object id=\"" + std::to_string(11 + p) +
           "\" class=\"Page\" owner=\"10\"><value attribute=\"TemplateId\">T</value>"
           "<value attribute=\"PageId\">P</value><value attribute=\"PageNumber\">" +
           std::to_string(p + 1) + "</value></object>\n";
  }
  return xml + "</objects></store>\n";
}

class Sheet {
 public:
  explicit Sheet(int pages) : pages_(pages), store_(kxbench::OpenStore(Fixture(pages))) {
    if (!store_) return;
    app_ = kx::host::MakeRef<kx::host::Application>(kx::host::MakeRef<kx::host::Settings>(),
                                                    kx::host::MakeRef<kx::host::Journal>(),
                                                    kx::host::MakeRef<kx::host::Privileges>());
    kx::test::UseStore(*app_, store_->Database(), kx::test::Projects::kNone);
    service_ = kxbench::MakeMain();
    if (!service_) return;
    (void)service_->Attach(app_.get());
    main_ = &kx::test::MainOf(service_.get());
  }
  ~Sheet() {
    if (service_) (void)service_->Detach();
  }
  bool ok() const { return main_ != nullptr; }

  // Inserts `count` pages after the middle page; false on failure.
  bool Insert(int count) {
    std::u16string request = u"<XMLMessage TargetId=\"10\" Status=\"1\"><InsertPages PageId=\"";
    request += std::u16string(kx_format(u"%d", 11 + pages_ / 2)) + u"\">";
    for (int k = 0; k < count; ++k) request += u"<Page TemplateId=\"T\" TemplatePageId=\"P\"/>";
    request += u"</InsertPages></XMLMessage>";
    const _bstr_t text(request.c_str());
    return Round([&] { return KXDBDatasheetSvcs::InsertPages(*main_, text); });
  }
  // Moves the second page after the last but one.
  bool Move() {
    const std::u16string request =
        u"<XMLMessage TargetId=\"10\" Status=\"1\"><MovePage MovePageId=\"12\" PageId=\"" +
        std::u16string(kx_format(u"%d", 10 + pages_ - 1)) + u"\"/></XMLMessage>";
    const _bstr_t text(request.c_str());
    return Round([&] { return KXDBDatasheetSvcs::MovePage(*main_, text); });
  }

 private:
  template <class Call>
  bool Round(Call call) {
    if (!store_->Begin().ok()) return false;
    const HRESULT hr = call();
    if (FAILED(hr)) {
      IErrorInfo* info = nullptr;
      BSTR text = nullptr;
      if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        (void)info->GetDescription(&text);
        info->Release();
      }
      std::fprintf(stderr, "failed: %s\n", _bstr_t(text, false).utf8().c_str());
    }
    app_->DiscardPendingEvents();
    const bool rolledBack = store_->Rollback().ok();
    return SUCCEEDED(hr) && rolledBack;
  }

  int pages_;
  std::unique_ptr<kx::store::Store> store_;
  kx::host::Ref<kx::host::Application> app_;
  kx::host::Ref<IKXQDataService> service_;
  Main* main_ = nullptr;
};

void BM_InsertPages(benchmark::State& state) {
  Sheet sheet(200);
  const int count = static_cast<int>(state.range(0));
  if (!sheet.ok()) {
    state.SkipWithError("no store");
    return;
  }
  for (auto _ : state) {
    if (!sheet.Insert(count)) {
      state.SkipWithError("InsertPages failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_InsertPages)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_MovePage(benchmark::State& state) {
  Sheet sheet(200);
  if (!sheet.ok()) {
    state.SkipWithError("no store");
    return;
  }
  for (auto _ : state) {
    if (!sheet.Move()) {
      state.SkipWithError("MovePage failed");
      break;
    }
  }
}
BENCHMARK(BM_MovePage)->Unit(benchmark::kMicrosecond);

// Processor seconds per inserted page: `count` pages into a datasheet of
// `pages`.
double PerPage(int pages, int count) {
  Sheet sheet(pages);
  if (!sheet.ok()) return NAN;
  const int rounds = count >= 100 ? 3 : (count >= 10 ? 10 : 50);
  (void)sheet.Insert(count);  // warm-up
  // Processor time: the ratios should not depend on what else the machine
  // runs.
  const std::clock_t start = std::clock();
  for (int r = 0; r < rounds; ++r) {
    if (!sheet.Insert(count)) return NAN;
  }
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / rounds / count;
}

}  // namespace

int main(int argc, char** argv) {
  const double one = PerPage(200, 1);
  const double ten = PerPage(200, 10);
  const double hundred = PerPage(200, 100);
  std::printf(
      "InsertPages into 200 pages, per page: 1 page %.1f us, 10 pages %.1f us, "
      "100 pages %.1f us; ratios 10/1 %.2f, 100/1 %.2f\n",
      one * 1e6, ten * 1e6, hundred * 1e6, ten / one, hundred / one);
  const double small = PerPage(50, 10);
  const double large = PerPage(800, 10);
  std::printf(
      "InsertPages of 10, per page: into 50 pages %.1f us, 200 pages %.1f us, 800 pages "
      "%.1f us; ratios 200/50 %.2f (n log n bound %.2f), 800/200 %.2f (bound %.2f)\n",
      small * 1e6, ten * 1e6, large * 1e6, ten / small,
      200.0 * std::log(200.0) / (50.0 * std::log(50.0)), large / ten,
      800.0 * std::log(800.0) / (200.0 * std::log(200.0)));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
