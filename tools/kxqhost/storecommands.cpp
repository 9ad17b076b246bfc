// The commands that need the store alone, `init` and `dump`, and the
// opening of the store that every other command starts with.
#include <cstdio>
#include <filesystem>

#include "common.h"
#include "dump.h"
#include "program.h"
#include "session.h"
#include "store/admin.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

// Only `init` makes a store: any other command on a missing one says how
// to make it, and leaves no file behind.
bool Program::OpenStore() {
  const std::string path = options_.store.empty() ? kDefaultStore : options_.store;
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    if (options_.store.empty()) {
      Error("no store at ./" + path + "; make one from the sample plant with: " + options_.program +
            " init");
    } else {
      Error("no store at " + path + "; make one with: " + options_.program + " --store " + path +
            " init");
    }
    return false;
  }
  const store::Status status = store::Store::Open(path, store::OpenMode::kOpenExisting, &store_);
  if (!status.ok()) {
    store_.reset();
    Error("cannot open the store " + path + ": " + status.message);
    return false;
  }
  session_ = std::make_unique<StoreHostSession>(*store_);
  return true;
}

int Program::Init() {
  const auto& args = options_.arguments;
  std::string fixture;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--fixture" && i + 1 < args.size()) {
      fixture = args[++i];
    } else if (args[i].starts_with("--fixture=")) {
      fixture = args[i].substr(10);
    } else {
      return Error("usage: init [--fixture FILE]"), kExitUsage;
    }
  }
  if (fixture.empty()) fixture = SamplePlantPath();
  if (fixture.empty()) return Error("no fixture given and no sample plant found"), kExitFailed;
  const std::string path = options_.store.empty() ? kDefaultStore : options_.store;
  std::error_code ec;
  if (fs::exists(path, ec)) return Error(path + " exists; remove it first"), kExitFailed;
  std::unique_ptr<store::Store> made;
  store::Status status = store::Store::Open(path, store::OpenMode::kCreate, &made);
  if (status.ok()) status = made->ImportFixtureFile(fixture);
  if (!status.ok()) {
    made.reset();
    // A store whose import failed holds nothing worth keeping.
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix, ec);
    Error("cannot create " + path + " from " + fixture + ": " + status.message);
    return kExitFailed;
  }
  std::fprintf(out_, "created %s from %s (%ld objects)\n", path.c_str(), fixture.c_str(),
               made->ObjectCount());
  return kExitOk;
}

int Program::Dump(const std::vector<std::string>& ids) {
  for (const std::string& text : ids) {
    LONG id = 0;
    if (!ParseId(text, &id)) return kExitUsage;
    std::string dump;
    if (HRESULT hr = DumpObject(store_->Database(), id, &dump); FAILED(hr)) {
      const std::string why = TakeErrorText();
      Error("cannot dump object " + text + ": " + (why.empty() ? Describe(hr) : why));
      return kExitFailed;
    }
    std::fputs(dump.c_str(), out_);
  }
  std::fflush(out_);
  return kExitOk;
}

}  // namespace kx::kxqhost
