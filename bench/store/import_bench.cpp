// `kxqhost init` of generated plants of 2,000 and 8,000 datasheets: the
// sample plant (examples/plant.xml) with its equipment, documents and pages
// copied under fresh ids, the copies' references among themselves moved
// with them. Each init runs in a process of its own: "peak_MB" is its
// maximum resident set, the time its processor time, "written_MB" the
// bytes it wrote to any file (the store, its log and SQLite's temporary
// files: /proc/PID/io's wchar). The import streams the fixture, so the
// larger plant should need at most 1.5 times the memory of the smaller and
// at most 5 times its time and its writes; the ratios are printed first.
// KXQ_SCALE_DIR keeps the fixtures in that folder.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The classes whose objects are copied: everything a datasheet or diagram
// shows and is made of; the globals, folders, holds and template records
// stay single.
const std::set<std::string> kCopied = {
    "Pump", "Motor",   "Vessel",    "HeatExchanger", "Column",        "Datasheet",
    "Page", "Diagram", "Schematic", "DrawnElement",  "Representation"};

// The sample's ids stay below this; copy k adds k times it.
constexpr long kIdStride = 2000;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The value of attribute `name` in the start tag at `tag`, or "".
std::string TagAttribute(const std::string& xml, size_t tag, const std::string& name) {
  const size_t end = xml.find('>', tag);
  const size_t at = xml.find(" " + name + "=\"", tag);
  if (at == std::string::npos || at > end) return {};
  const size_t value = at + name.size() + 3;
  return xml.substr(value, xml.find('"', value) - value);
}

struct Plant {
  std::string head, tail;           // before and after the copied objects
  std::vector<std::string> copied;  // the objects copied, as written
  std::set<long> ids;               // their ids
  int datasheets = 0;               // among them
};

Plant ReadSample() {
  Plant plant;
  const std::string xml = ReadFile(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
  const size_t end = xml.rfind("</objects>");
  if (end == std::string::npos) std::abort();
  plant.head = xml.substr(0, end);
  plant.tail = xml.substr(end);
  for (size_t at = xml.find("<object "); at != std::string::npos && at < end;
       at = xml.find("<object ", at + 1)) {
    const std::string cls = TagAttribute(xml, at, "class");
    if (!kCopied.count(cls)) continue;
    const size_t close = xml.find('>', at);
    const size_t stop = xml[close - 1] == '/' ? close + 1 : xml.find("</object>", at) + 9;
    plant.copied.push_back(xml.substr(at, stop - at));
    plant.ids.insert(std::atol(TagAttribute(xml, at, "id").c_str()));
    plant.datasheets += cls == "Datasheet";
  }
  return plant;
}

// `object` with every id, owner and reference to a copied object moved by
// `offset`.
std::string Moved(const std::string& object, const std::set<long>& ids, long offset) {
  std::string out;
  out.reserve(object.size() + 64);
  size_t from = 0;
  for (;;) {
    size_t best = std::string::npos;
    size_t length = 0;
    for (const char* key : {" id=\"", " owner=\"", " ref=\""}) {
      const size_t at = object.find(key, from);
      if (at < best) {
        best = at;
        length = std::char_traits<char>::length(key);
      }
    }
    if (best == std::string::npos) break;
    const size_t value = best + length;
    const size_t quote = object.find('"', value);
    const long id = std::atol(object.substr(value, quote - value).c_str());
    out.append(object, from, value - from);
    out += std::to_string(ids.count(id) ? id + offset : id);
    from = quote;
  }
  out.append(object, from, std::string::npos);
  return out;
}

// Writes a plant of about `datasheets` datasheets to `path`; its size in
// bytes.
size_t WritePlant(const Plant& sample, int datasheets, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << sample.head;
  const int copies = datasheets / sample.datasheets - 1;
  for (int k = 1; k <= copies; ++k)
    for (const std::string& object : sample.copied)
      out << Moved(object, sample.ids, k * kIdStride) << '\n';
  out << sample.tail;
  out.flush();
  return static_cast<size_t>(out.tellp());
}

struct Run {
  bool ok = false;
  double cpuSeconds = 0;
  double peakMB = 0;
  double writtenMB = 0;
};

// The bytes the stopped (not yet reaped) process `pid` wrote, in MB.
double WrittenMB(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  double bytes = 0;
  while (io >> key >> bytes)
    if (key == "wchar:") return bytes / (1024.0 * 1024.0);
  return 0;
}

// `kxqhost --store STORE init --fixture FIXTURE` in a process of its own
// (spawned, so that its resident set starts afresh).
Run Init(const std::string& fixture, const std::string& store) {
  Run run;
  const std::string host = KXQHOST_PATH;
  std::vector<std::string> args = {host, "--store", store, "init", "--fixture", fixture};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, host.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  // Its counts of input and output go with it when it is reaped.
  siginfo_t ended{};
  if (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) != 0) return run;
  run.writtenMB = WrittenMB(pid);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return run;
}

// The folder of the fixtures: KXQ_SCALE_DIR, kept, or one of its own,
// removed at exit.
const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = (fs::temp_directory_path() / "kxq-import-XXXXXX").string();
    if (const char* kept = std::getenv("KXQ_SCALE_DIR")) {
      pattern = kept;
      fs::create_directories(pattern);
    } else {
      if (::mkdtemp(pattern.data()) == nullptr) std::abort();
      std::atexit([] { fs::remove_all(Folder()); });
    }
    ::setenv("KXQ_REGISTRY", (fs::path(pattern) / "registry.xml").c_str(), 1);
    return pattern;
  }();
  return folder;
}

// The fixture of `datasheets`, written once.
std::string Fixture(int datasheets, size_t* bytes) {
  static const Plant sample = ReadSample();
  const std::string path = Folder() + "/plant-" + std::to_string(datasheets) + ".xml";
  static std::vector<std::pair<std::string, size_t>> written;
  for (const auto& [p, size] : written)
    if (p == path) {
      *bytes = size;
      return path;
    }
  *bytes = WritePlant(sample, datasheets, path);
  written.emplace_back(path, *bytes);
  return path;
}

// The least of `rounds` runs, each on a new store.
Run BestInit(int datasheets, int rounds) {
  size_t bytes = 0;
  const std::string fixture = Fixture(datasheets, &bytes);
  Run best;
  for (int i = 0; i < rounds; ++i) {
    const std::string store = Folder() + "/plant-" + std::to_string(datasheets) + ".db";
    const Run run = Init(fixture, store);
    fs::remove(store);
    if (!run.ok) return run;
    if (!best.ok || run.cpuSeconds < best.cpuSeconds) best.cpuSeconds = run.cpuSeconds;
    if (!best.ok || run.peakMB < best.peakMB) best.peakMB = run.peakMB;
    if (!best.ok || run.writtenMB < best.writtenMB) best.writtenMB = run.writtenMB;
    best.ok = true;
  }
  return best;
}

void BM_InitPlant(benchmark::State& state) {
  const int datasheets = static_cast<int>(state.range(0));
  size_t bytes = 0;
  Fixture(datasheets, &bytes);
  double peak = 0, written = 0;
  for (auto _ : state) {
    const Run run = BestInit(datasheets, 1);
    if (!run.ok) {
      state.SkipWithError("init failed");
      break;
    }
    state.SetIterationTime(run.cpuSeconds);
    peak = std::max(peak, run.peakMB);
    written = std::max(written, run.writtenMB);
  }
  state.counters["peak_MB"] = peak;
  state.counters["written_MB"] = written;
  state.counters["fixture_MB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
}
BENCHMARK(BM_InitPlant)
    ->Arg(2000)
    ->Arg(8000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const Run small = BestInit(2000, 3);
  const Run large = BestInit(8000, 3);
  if (!small.ok || !large.ok) {
    std::fprintf(stderr, "init failed\n");
    return 1;
  }
  std::printf(
      "init: 2000 datasheets %.2f s, %.1f MB, %.1f MB written; 8000 datasheets %.2f s, %.1f MB, "
      "%.1f MB written; time %.2f times, memory %.2f times, writes %.2f times\n",
      small.cpuSeconds, small.peakMB, small.writtenMB, large.cpuSeconds, large.peakMB,
      large.writtenMB, large.cpuSeconds / small.cpuSeconds, large.peakMB / small.peakMB,
      large.writtenMB / small.writtenMB);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
