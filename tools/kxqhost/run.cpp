// The `run` command: a script's steps in one process, each after a header
// line; the steps that change the store are in storesteps.cpp, those that
// drive the host in hoststeps.cpp.
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common.h"
#include "host/host.h"
#include "host/utf.h"
#include "program.h"
#include "script.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

namespace {

// False with *why the errno of the failure.
bool ReadFile(const std::string& path, std::string* text, int* why) {
  std::error_code ec;
  *why = fs::is_directory(path, ec) ? EISDIR : 0;
  if (*why != 0) return false;
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *why = errno;
    return false;
  }
  std::ostringstream buffer;
  buffer << file.rdbuf();
  *text = buffer.str();
  if (file.bad()) *why = EIO;
  return !file.bad();
}

}  // namespace

int Program::RunScript(const std::string& path) {
  std::string text;
  if (int why = 0; !ReadFile(path, &text, &why)) return Error(CannotRead(path, why)), kExitFailed;
  if (!host::internal::Utf8ToUtf16(text)) return Error(path + " is not valid UTF-8"), kExitUsage;
  std::vector<Step> steps;
  if (std::string error = ParseScript(text, path, &steps); !error.empty()) {
    return Error(error), kExitUsage;
  }
  if (!OpenStore() || !StartModule()) return kExitFailed;
  host_->SetHoldEvents(options_.hold_events);
  const std::string folder = fs::path(path).parent_path().string();
  for (const Step& step : steps) {
    std::fprintf(out_, "## %s%s\n", step.expect_failure ? "! " : "", step.text.c_str());
    // A request's text written in the script is shown as written there,
    // with its end word, so that its reply can be read against it.
    if (step.body) std::fprintf(out_, "%s%s\n", step.body->c_str(), step.body_end.c_str());
    std::fflush(out_);
    const int status = RunStep(step, folder);
    std::fflush(out_);
    const std::string where = path + ":" + std::to_string(step.line);
    if (status == kExitOk && step.expect_failure) {
      return Error(where + ": the step succeeded but was expected to fail"), kExitFailed;
    }
    if (status != kExitOk && !step.expect_failure) {
      Error(where + ": the step failed");
      DeliverHeldEvents("end of the run");
      return status;
    }
  }
  return DeliverHeldEvents("end of the run");
}

int Program::RunStep(const Step& step, const std::string& folder) {
  const std::string& command = step.words[0];
  const std::vector<std::string> args(step.words.begin() + 1, step.words.end());
  if (command == "request") {
    const bool extra = args[0] == "--extra";
    const std::vector<std::string> rest(args.begin() + (extra ? 1 : 0), args.end());
    std::string text;
    if (step.body) {
      text = *step.body;
    } else if (rest.size() == 2) {
      const fs::path file =
          fs::path(rest[1]).is_absolute() ? fs::path(rest[1]) : fs::path(folder) / rest[1];
      std::string error;
      if (!ReadRequestFile(file.string(), &text, &error)) return Error(error), kExitFailed;
    }
    return Request(rest[0], text, extra);
  }
  if (command == "deliver" || command == "detach" || command == "attach" || command == "reserved") {
    return HostStep(step);
  }
  if (command == "dump") return Dump(args);
  if (command == "service") return Service(args);
  if (command == "method") return Method(args);
  if (command == "automation") return Automation(args);
  if (command == "event") return Event(args);
  if (command == "trigger") return Trigger(args);
  if (command == "wait") {
    // Outside any transaction: another process may change the store meanwhile.
    if (!IsInteger(args[0])) return Error("not a number of seconds: " + args[0]), kExitFailed;
    std::this_thread::sleep_for(std::chrono::seconds(std::stoll(args[0])));
    return kExitOk;
  }
  return HostChange(step);
}

}  // namespace kx::kxqhost
