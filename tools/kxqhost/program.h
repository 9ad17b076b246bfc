// The host program: opens the object store, loads the module by activation,
// attaches it through the host library's driver and serves one command.
// Every call into the module runs in one store transaction (see
// host::StoreHostSession); its reply and change events go to the output stream,
// its failure description to the error stream.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "com/types.h"
#include "options.h"

namespace kx::host {
class Host;
class StoreHostSession;
struct CallResult;
struct ServiceResult;
struct SentFile;
}  // namespace kx::host
namespace kx::store {
class Store;
}

namespace kx::kxqhost {

struct Step;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a call or a command failed
inline constexpr int kExitUsage = 2;   // the command line is wrong

class Program {
 public:
  // `out` and `err` are not owned.
  Program(Options options, std::FILE* out, std::FILE* err);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Serves the command; returns the exit status.
  int Run();

 private:
  // storecommands.cpp: `init`, `dump`, and the store.
  int Init();
  int Dump(const std::vector<std::string>& ids);
  // Opens the store named by --store, or the default one (created from the
  // sample plant when missing). False after printing why not.
  bool OpenStore();

  // module.cpp: `register`, `unregister`, `registration`, and the module's
  // start-up.
  int Registration(bool do_register);
  int ListRegistration();
  // Registers the module when needed, creates and attaches it and runs its
  // start-up. False after printing why not.
  bool StartModule();
  bool EnsureRegistered();

  // request.cpp: `request`. `extra`: through the request slot that takes an
  // extra argument.
  int Request(const std::string& name, const std::string& text, bool extra = false);
  void PrintSentFile(const host::SentFile& file);
  // The user's current datasheet and page as the module left them (work on
  // a page must put back what was current before it).
  void PrintCurrentDocument();

  // service.cpp: `service`, `method`, `automation`.
  int Service(const std::vector<std::string>& arguments);
  int Method(const std::vector<std::string>& arguments);
  int Automation(const std::vector<std::string>& arguments);
  void PrintResult(const host::ServiceResult& result);

  // event.cpp: `event`, `trigger`.
  int Event(const std::vector<std::string>& arguments);
  int Trigger(const std::vector<std::string>& arguments);

  // run.cpp: `run`, a script's steps.
  int RunScript(const std::string& path);
  int RunStep(const Step& step, const std::string& folder);
  // storesteps.cpp: the steps that change the store ("set", "stall",
  // "create", "delete", "watch").
  int HostChange(const Step& step);
  // hoststeps.cpp: the steps that drive the host itself ("deliver",
  // "detach", "attach", "reserved"), and the delivery of held events.
  int HostStep(const Step& step);
  int Reserved(const std::string& slot);
  int DeliverHeldEvents(const std::string& what);

  // program.cpp: what every command shares.
  // Prints what a call left: the change events (with --events), the texts
  // for the log and the user, and on failure its description. Returns the
  // exit status for the call.
  int Finish(const host::CallResult& result, const std::string& what);
  bool ParseId(const std::string& text, LONG* id);
  void Error(const std::string& text);

  Options options_;
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* journal_file_ = nullptr;
  std::unique_ptr<store::Store> store_;
  std::unique_ptr<host::StoreHostSession> session_;
  std::unique_ptr<host::Host> host_;
  bool module_started_ = false;
  bool read_only_ = false;     // the store is read without writing (OpenStore)
  bool nothing_done_ = false;  // the last call returned nothing and did nothing
};

// The module library next to the program's build tree, or "" when none.
std::string ModuleLibraryPath();
// The library the registration store names for the module's ProgID, or ""
// when it names none.
std::string RegisteredModulePath();
// Without KXQ_REGISTRY, a program in a build tree (its module in ../lib)
// keeps its registration store in that tree, `kxq-registry.xml` beside
// `bin/` and `lib/`: each build registers and loads its own module, never
// another checkout's from the store in the user's data folder.
void UseBuildRegistry();
// The sample plant fixture, or "" when none is found.
std::string SamplePlantPath();
// Prints the version and the module library the program would register;
// returns the exit status.
int PrintVersion(std::FILE* out);

}  // namespace kx::kxqhost
