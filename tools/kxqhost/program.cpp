// Program's frame: the command line dispatched to the commands, each
// command's argument count checked first; the printing of what a call
// left; where the module library and the sample plant are found.
#include "program.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdlib.h>
#include <unistd.h>

#include "com/activation.h"
#include "com/registry.h"
#include "common.h"
#include "drawings.h"
#include "host/host.h"
#include "host/store_host_session.h"
#include "store/admin.h"
#include "xmltext.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

namespace {

// The folder above the program's own (`bin/`).
fs::path ProgramPrefix() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path().parent_path();
}

// The build tree the program runs from (the folder holding `bin/` and
// `lib/` with the module, and CMake's cache), or "" when it runs from
// elsewhere: an installed program is no build tree's.
fs::path BuildTree() {
  std::error_code ec;
  const fs::path tree = ProgramPrefix();
  return !tree.empty() && fs::exists(tree / "lib" / kModuleLibrary, ec) &&
                 fs::exists(tree / "CMakeCache.txt", ec)
             ? tree
             : fs::path();
}

}  // namespace

void UseBuildRegistry() {
  if (const char* set = std::getenv("KXQ_REGISTRY"); set != nullptr && *set != 0) return;
  const fs::path tree = BuildTree();
  if (!tree.empty()) ::setenv("KXQ_REGISTRY", (tree / "kxq-registry.xml").c_str(), 1);
}

std::string RegisteredModulePath() {
  std::u16string clsid, server;
  if (FAILED(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main\\CLSID", u"", &clsid)) ||
      FAILED(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + u"\\InprocServer32", u"",
                              &server))) {
    return {};
  }
  return Narrow(server);
}

std::string ModuleLibraryPath() {
  std::error_code ec;
  if (const fs::path tree = BuildTree(); !tree.empty()) {
    return fs::canonical(tree / "lib" / kModuleLibrary, ec).string();
  }
  const std::string platform_dir = kx_platform_library_dir();
  if (!platform_dir.empty() && fs::exists(platform_dir + kModuleLibrary, ec)) {
    return fs::canonical(platform_dir + kModuleLibrary, ec).string();
  }
  return {};
}

std::string SamplePlantPath() {
  std::error_code ec;
  // An installed program has its own copy.
  const fs::path installed = ProgramPrefix() / "share" / "KXDBDatasheetSvcs" / "plant.xml";
  if (BuildTree().empty() && fs::exists(installed, ec)) return installed.string();
#ifdef KXQHOST_SOURCE_DIR
  const fs::path built = fs::path(KXQHOST_SOURCE_DIR) / "examples" / "plant.xml";
  if (fs::exists(built, ec)) return built.string();
#endif
  const fs::path local = fs::path("examples") / "plant.xml";
  if (fs::exists(local, ec)) return local.string();
  return {};
}

int PrintVersion(std::FILE* out) {
  const std::string library = ModuleLibraryPath();
  std::fprintf(out, "%s\nmodule library: %s\n", VersionText(),
               library.empty() ? "(none found beside the program)" : library.c_str());
  const std::string registered = RegisteredModulePath();
  std::error_code ec;
  std::string which;
  if (registered.empty()) {
    which = "none (a command registers the module library)";
  } else if (!library.empty() && fs::equivalent(registered, library, ec)) {
    which = registered + " (the module library)";
  } else if (!library.empty()) {
    which = registered + " (another; a command registers the module library in its place)";
  } else {
    which = registered;
  }
  std::fprintf(out, "registration store: %s\nregistered module: %s\n", kx_reg_file_path().c_str(),
               which.c_str());
  return kExitOk;
}

Program::Program(Options options, std::FILE* out, std::FILE* err)
    : options_(std::move(options)), out_(out), err_(err) {}

Program::~Program() {
  if (host_) {
    host_->Detach();
    // The module's tracer may keep the journal past this point.
    host_->journal().WriteTo(nullptr);
  }
  host_.reset();
  session_.reset();
  store_.reset();
  if (journal_file_) std::fclose(journal_file_);
}

void Program::Error(const std::string& text) {
  std::fprintf(err_, "kxqhost: %s\n", text.c_str());
  std::fflush(err_);
}

bool Program::ParseId(const std::string& text, LONG* id) {
  if (!IsInteger(text)) {
    Error("not an object id: " + text);
    return false;
  }
  *id = static_cast<LONG>(std::stoll(text));
  return true;
}

int Program::Run() {
  const std::string& command = options_.command;
  const auto& args = options_.arguments;
  if (command == "register" || command == "unregister") {
    if (!args.empty()) return Error(command + " takes no argument"), kExitUsage;
    return Registration(command == "register");
  }
  if (command == "init") return Init();
  if (command == "dump") {
    if (args.empty()) return Error("dump needs an object id"), kExitUsage;
    return OpenStore() ? Dump(args) : kExitFailed;
  }
  if (command == "request") {
    const bool extra = !args.empty() && args[0] == "--extra";
    const std::vector<std::string> rest(args.begin() + (extra ? 1 : 0), args.end());
    if (rest.empty() || rest.size() > 2)
      return Error("usage: request [--extra] NAME [FILE|-]"), kExitUsage;
    std::string text;
    std::string error;
    if (rest.size() == 1 && isatty(STDIN_FILENO)) {
      // Nothing is piped in: the text was forgotten, not meant to be empty.
      return Error("request " + rest[0] + " needs its text: give FILE or - (standard input)"),
             kExitUsage;
    }
    if (rest.size() == 2 && rest[1] != "-") {
      if (!ReadRequestFile(rest[1], &text, &error)) return Error(error), kExitFailed;
    } else if (!ReadRequestText(std::cin, &text, &error)) {
      return Error(error), kExitFailed;
    }
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Request(rest[0], text, extra);
  }
  if (command == "reserved") {
    if (args.size() != 1) return Error("usage: reserved SLOT"), kExitUsage;
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Reserved(args[0]);
  }
  if (command == "run") {
    if (args.size() != 1) return Error("usage: run SCRIPT"), kExitUsage;
    return RunScript(args[0]);
  }
  if (command == "service") {
    if (args.size() < 3) return Error("usage: service KIND ID METHOD [ARG...]"), kExitUsage;
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Service(args);
  }
  if (command == "method") {
    if (args.size() != 2) return Error("usage: method ID METHOD"), kExitUsage;
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Method(args);
  }
  if (command == "automation") {
    if (args.empty()) return Error("usage: automation METHOD [ARG...]"), kExitUsage;
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Automation(args);
  }
  if (command == "registration") {
    if (!args.empty()) return Error("registration takes no argument"), kExitUsage;
    if (!OpenStore()) return kExitFailed;
    const bool started = StartModule();
    if (!host_) return kExitFailed;
    const int listed = ListRegistration();
    return started ? listed : kExitFailed;
  }
  if (command == "event") {
    const size_t local = !args.empty() && args[0] == "--local" ? 1 : 0;
    if (args.size() < 2 + local || args.size() > 3 + local) {
      return Error("usage: event [--local] KIND ID [ARG]"), kExitUsage;
    }
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Event(args);
  }
  if (command == "trigger") {
    if (args.size() != 2) return Error("usage: trigger ID NAME"), kExitUsage;
    if (!OpenStore() || !StartModule()) return kExitFailed;
    return Trigger(args);
  }
  Error("unknown command " + command + " (" + options_.program + " --help lists the commands)");
  return kExitUsage;
}

int Program::Finish(const host::CallResult& result, const std::string& what) {
  for (const auto& text : result.warnings)
    std::fprintf(err_, "warning: %s\n", Narrow(text).c_str());
  for (const auto& text : result.notices) std::fprintf(err_, "notice: %s\n", Narrow(text).c_str());
  for (const auto& text : result.messages)
    std::fprintf(err_, "message: %s\n", Narrow(text).c_str());
  for (const auto& text : result.host_calls) std::fprintf(err_, "host: %s\n", Narrow(text).c_str());
  if (!result.succeeded()) {
    if (host_) PrintDrawingCalls(*host_, err_, "drawing: ");
    // The module's chain once, as it wrote it (each frame it passed), then
    // one line with its description in plain words.
    if (!result.error.empty()) std::fprintf(err_, "%s\n", Narrow(result.error).c_str());
    // The description with the host library's hint, on one line.
    const std::string failure = Narrow(result.FailureText());
    // A name from the command line may hold a line end too.
    Error(Narrow(host::FailureLine(Wide(what), {})) + " failed: " +
          (failure.empty() ? Describe(result.hr) : failure + " (" + HexCode(result.hr) + ")"));
    std::fflush(out_);
    return kExitFailed;
  }
  if (result.hr != S_OK) {
    std::fprintf(err_, "kxqhost: %s returned %s\n", what.c_str(),
                 result.hr == S_FALSE ? "S_FALSE" : Describe(result.hr).c_str());
  }
  if (options_.events) {
    for (const auto& change : session_->changes()) {
      std::string attributes;
      for (const auto& name : change.attributes) {
        attributes += (attributes.empty() ? "" : ", ") + Narrow(name);
      }
      std::fprintf(out_, "== store changed #%ld: %s\n", static_cast<long>(change.id),
                   attributes.c_str());
    }
    for (const std::string& line : session_->delivered()) {
      std::fprintf(out_, "== store %s\n", line.c_str());
    }
    for (const std::string& line : session_->workflow()) {
      std::fprintf(out_, "== store %s\n", line.c_str());
    }
    if (host_) PrintDrawingCalls(*host_, out_, "== drawing ");
    for (const auto& event : result.events) {
      std::string recipients;
      for (const auto& name : event.recipients) {
        recipients += (recipients.empty() ? "" : ", ") + Narrow(name);
      }
      const std::string key = event.key ? " [" + Narrow(*event.key) + "]" : std::string();
      std::fprintf(
          out_, "== event %s%s to %s%s\n", Narrow(event.message_name).c_str(), key.c_str(),
          recipients.empty() ? "(nobody)" : recipients.c_str(),
          FAILED(event.result) ? (" (failed: " + Describe(event.result) + ")").c_str() : "");
      if (event.xml) {
        const std::string xml =
            options_.pretty ? IndentXml(Narrow(*event.xml)) : Narrow(*event.xml);
        std::fputs(xml.c_str(), out_);
        if (xml.empty() || xml.back() != '\n') std::fputc('\n', out_);
      }
    }
  }
  if (!options_.events && host_) host_->drawing().TakeCalls();
  if (nothing_done_) {
    std::fprintf(err_, "notice: %s returned nothing, changed nothing and raised no event\n",
                 what.c_str());
    nothing_done_ = false;
  }
  std::fflush(out_);
  std::fflush(err_);
  return kExitOk;
}

}  // namespace kx::kxqhost
