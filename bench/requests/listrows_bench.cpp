// The field-object messages over many rows of a continuous list: the
// sample plant's pump summary (page 1071) lengthened by n pumps, each a row
// with its four field records, and n more pumps on no list. Confirmed,
// "HideFieldObjects" takes the n rows off the list, "DeleteFieldObjects"
// deletes their pumps (each delete takes its row off) and
// "ShowFieldObjects" puts the n other pumps in as rows 0 to n - 1, for
// n = 1,000 and 4,000. Each request runs on a fresh store; the least time
// of three rounds is printed first with its growth from 1,000 to 4,000 rows
// (4 for linear; within 5 is the target: one row at a time, each row cost
// as much as the list behind it).
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "com/wstr.h"
#include "sessionplant.h"

namespace {

constexpr int kListed = 200000;    // ids of the pumps added as rows
constexpr int kUnlisted = 300000;  // ids of the pumps on no list

// The sample plant with `rows` more rows on page 1071 and `rows` pumps
// on no list.
std::string Fixture(int rows) {
  std::ifstream file(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  std::string xml = text.str();
  std::string pumps, refs, fields;
  for (int r = 0; r < rows; ++r) {
    const std::string id = std::to_string(kListed + r);
    const std::string row = std::to_string(6 + r);
    pumps += "<object id=\"" + id + "\" class=\"Pump\"><value attribute=\"Name\">G-" +
             std::to_string(r) + "</value></object>\n";
    pumps += "<object id=\"" + std::to_string(kUnlisted + r) +
             "\" class=\"Pump\"><value attribute=\"Name\">N-" + std::to_string(r) +
             "</value></object>\n";
    refs += "<value attribute=\"NodeObjects\" ref=\"" + id + "\"/>";
    for (const char* field : {"String FieldId=\"402\"", "String FieldId=\"403\"",
                              "Real FieldId=\"404\" Format=\"0.0\"", "Real FieldId=\"405\""}) {
      fields += std::string("<value attribute=\"Fields\">&lt;") + field + " Index=\"" + row +
                "\"/&gt;</value>";
    }
  }
  const std::string lastRow = "<value attribute=\"NodeObjects\" ref=\"106\"/>";
  const std::string lastField =
      "<value attribute=\"Fields\">&lt;Real FieldId=\"405\" Index=\"5\"/&gt;</value>";
  const std::string revisions = "<value attribute=\"Revisions\" position=\"25\" empty=\"true\"/>";
  const size_t row = xml.find(lastRow);
  const size_t field = xml.find(lastField);
  const size_t revision = xml.find(revisions);
  const size_t objects = xml.find("<objects>");
  if (row == std::string::npos || field == std::string::npos || revision == std::string::npos ||
      objects == std::string::npos)
    std::abort();
  // From the end, so that the earlier places stay where they are.
  xml.replace(revision, revisions.size(),
              "<value attribute=\"Revisions\" position=\"" + std::to_string(25 + 4 * rows) +
                  "\" empty=\"true\"/>");
  xml.insert(field + lastField.size(), fields);
  xml.insert(row + lastRow.size(), refs);
  xml.insert(objects + 9, pumps);
  return xml;
}

// The request of message `name` naming `rows` rows of page 1071: the added
// rows (hide, delete), or rows 0 to rows - 1 each with a pump of its own
// (show).
std::u16string RequestText(const std::string& name, int rows) {
  std::string text =
      "<XMLMessage TargetId=\"1007\" Status=\"1\"><" + name + " PageId=\"1071\" Confirmed=\"1\">";
  for (int r = 0; r < rows; ++r) {
    text += name == "ShowFieldObjects"
                ? "<Field FieldId=\"402\" Index=\"" + std::to_string(r) + "\" ObjectId=\"" +
                      std::to_string(kUnlisted + r) + "\"/>"
                : "<Field FieldId=\"402\" Index=\"" + std::to_string(6 + r) + "\"/>";
  }
  return kx_utf8_to_utf16_lossy(text + "</" + name + "></XMLMessage>");
}

// Seconds of one request on a fresh plant of `rows` more rows; negative
// when it failed or left the list otherwise than it should.
double Seconds(const std::string& name, int rows) {
  kxbench::SessionPlant plant(Fixture(rows));
  // Started up, the module hears of the deletes (it takes their rows off).
  IKXQTemplateLibraryPtr library;
  (void)plant.database()->get_TemplateLibrary(&library);
  plant.host().registrar().SetTemplates(library);
  if (!plant.AttachMain() || !plant.host().StartUp().succeeded()) return -1;
  const std::u16string request = RequestText(name, rows);
  const auto start = std::chrono::steady_clock::now();
  const kx::host::RequestResult result =
      plant.host().Request(kx_utf8_to_utf16_lossy(name), request);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!result.succeeded()) {
    std::fprintf(stderr, "%s\n", kx_utf16_to_utf8_lossy(result.error).c_str());
    return -1;
  }
  IKXQObjectPtr page;
  IKXQAttributePtr objects;
  LONG count = 0;
  if (FAILED(plant.database()->get_Object(1071, &page)) || !page ||
      FAILED(page->get_Attribute(_bstr_t(u"NodeObjects"), _variant_t(), &objects)) || !objects ||
      FAILED(objects->get_Count(&count)))
    return -1;
  // The globals object and the six rows of the sample plant, and the rows
  // shown.
  const LONG expected = name == "ShowFieldObjects" ? 7 + 2 * rows : 7;
  if (count != expected)
    std::fprintf(stderr, "\"NodeObjects\" holds %ld\n", static_cast<long>(count));
  return count == expected ? seconds : -1;
}

// The least time of `rounds` requests (the machine may be busy).
double LeastSeconds(const std::string& name, int rows, int rounds) {
  double least = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const double seconds = Seconds(name, rows);
    if (seconds < 0) {
      std::fprintf(stderr, "%s of %d rows failed\n", name.c_str(), rows);
      std::abort();
    }
    least = std::min(least, seconds);
  }
  return least;
}

const char* const kMessages[] = {"HideFieldObjects", "DeleteFieldObjects", "ShowFieldObjects"};

void BM_ListRows(benchmark::State& state) {
  const std::string name = kMessages[state.range(0)];
  const int rows = static_cast<int>(state.range(1));
  state.SetLabel(name);
  for (auto _ : state) {
    const double seconds = Seconds(name, rows);
    if (seconds < 0) {
      state.SkipWithError("the request failed or left the list otherwise");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["rows"] = rows;
}
BENCHMARK(BM_ListRows)
    ->ArgsProduct({{0, 1, 2}, {1000, 4000}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (const char* name : kMessages) {
    const double small = LeastSeconds(name, 1000, 3);
    const double large = LeastSeconds(name, 4000, 3);
    std::printf("%s: %.1f ms at 1000 rows, %.1f ms at 4000 rows, growth %.2f\n", name, small * 1e3,
                large * 1e3, large / small);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
