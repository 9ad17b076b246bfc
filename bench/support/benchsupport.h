// The set-up the module's benchmarks share: a store in memory made from a
// fixture text and a Main made in-process; the host application is pointed
// at the store by kx::test::UseStore (testhost.h). Failures are the caller's
// to report: a benchmark skips or stops, as it sees fit.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/host.h"
#include "kxstoreptrs.h"
#include "store/admin.h"
#include "testhost.h"

namespace kxbench {

// A fresh store in memory holding `fixture`; null, with the reason on
// stderr (the fixture named `name`), when it cannot be made.
std::unique_ptr<kx::store::Store> OpenStore(const std::string& fixture, const char* name = "bench");

// A Main made in-process, one reference held by the result; null when it
// cannot be made.
kx::host::Ref<IKXQDataService> MakeMain();

// Page `page` of template `tmpl` in `database`; null when there is none.
IKXQTemplatePagePtr TemplatePage(IKXQDatabase* database, const char16_t* tmpl,
                                 const char16_t* page);

// The sample plant (examples/plant.xml) with `rows` more pumps, ids 200000
// on, named G-0 and so on, each a row of the pump summary's list after its
// six; `values` is added to each pump's values.
std::string LengthenedPumpSummary(int rows, const std::string& values = "");

// The mean time of one call of `round`, in seconds, over `rounds` calls.
template <class F>
double SecondsPerRound(F&& round, int rounds) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) round();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

}  // namespace kxbench
