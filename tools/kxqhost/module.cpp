// The module: its registration (the `register` and `unregister`
// commands, and on first use), its activation, attach and start-up, which
// every command that calls it runs first; and the `registration` command,
// the calls the start-up made.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/registry.h"
#include "common.h"
#include "host/host.h"
#include "host/startup.h"
#include "host/store_host_session.h"
#include "program.h"
#include "store/admin.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

int Program::Registration(bool do_register) {
  const std::string library = ModuleLibraryPath();
  if (library.empty()) return Error(std::string("cannot find ") + kModuleLibrary), kExitFailed;
  std::string error;
  const HRESULT hr =
      CallServerEntry(library, do_register ? "DllRegisterServer" : "DllUnregisterServer", &error);
  if (FAILED(hr)) return Error(error), kExitFailed;
  std::fprintf(out_, "%s %s in %s\n", do_register ? "registered" : "unregistered", library.c_str(),
               kx_reg_file_path().c_str());
  return kExitOk;
}

bool Program::EnsureRegistered() {
  const std::string library = ModuleLibraryPath();
  const std::string registered = RegisteredModulePath();
  std::error_code ec;
  const bool other = !registered.empty() && !library.empty() &&
                     !fs::equivalent(registered, library, ec) && !options_.registered_module;
  if (!registered.empty() && fs::exists(registered, ec) && !other) return true;
  SetErrorInfo(0, nullptr);
  if (library.empty()) {
    Error("the module is not registered and " + std::string(kModuleLibrary) +
          " is not in the build tree");
    return false;
  }
  std::string error;
  if (FAILED(CallServerEntry(library, "DllRegisterServer", &error))) {
    Error(error);
    return false;
  }
  if (other && fs::exists(registered, ec)) {
    // Another build's module would run this build's commands.
    std::fprintf(err_,
                 "notice: the registration store %s named another module, %s; registered and "
                 "loading this build's, %s (--registered-module loads the registered one)\n",
                 kx_reg_file_path().c_str(), registered.c_str(), library.c_str());
    std::fflush(err_);
  }
  return true;
}

bool Program::StartModule() {
  if (module_started_) return true;
  if (!EnsureRegistered()) return false;
  host::Ref<IKXQDataService> module;
  CLSID clsid{};
  HRESULT hr = host::CreateModule(kProgId, &module, &clsid);
  const std::string built = ModuleLibraryPath();
  if ((hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL) && !built.empty()) {
    // The registered library cannot be loaded (another build's, or broken):
    // the one of this build tree takes its place.
    const std::string why = TakeErrorText();
    std::string error;
    if (SUCCEEDED(CallServerEntry(built, "DllRegisterServer", &error))) {
      Error("the registered module could not be loaded (" + why + "); registered " + built);
      hr = host::CreateModule(kProgId, &module, &clsid);
    }
  }
  if (FAILED(hr)) {
    const std::string why = TakeErrorText();
    Error("cannot create KXDBDatasheetSvcs.Main: " + Describe(hr) +
          (why.empty() ? "" : ": " + why));
    return false;
  }

  host_ = std::make_unique<host::Host>();
  host::Settings& settings = host_->settings();
  for (const std::string& file : options_.settings_files) {
    std::string error;
    if (!settings.LoadFile(file, &error)) return Error(error), false;
  }
  for (const std::string& assignment : options_.overrides) {
    std::string error;
    if (!settings.Override(assignment, &error)) return Error(error), false;
  }
  if (!options_.journal.empty()) {
    journal_file_ = std::fopen(options_.journal.c_str(), "a");
    if (!journal_file_) return Error("cannot open the journal " + options_.journal), false;
    host_->journal().WriteTo(journal_file_);
  }

  if (!options_.project.empty()) {
    LONG project = 0;
    if (!ParseId(options_.project, &project)) return false;
    const store::Status status = store_->SetActiveProject(project);
    if (!status.ok())
      return Error("cannot make project " + options_.project + " active: " + status.message), false;
  }
  // "ID:PRIVILEGE=PLACE": the object's privilege-on-relation test refuses
  // PRIVILEGE, naming PLACE.
  for (const std::string& deny : options_.denied_on) {
    const size_t colon = deny.find(':');
    const size_t eq = deny.find('=', colon == std::string::npos ? 0 : colon);
    LONG id = 0;
    if (colon == std::string::npos || eq == std::string::npos || eq == colon + 1 ||
        !ParseId(deny.substr(0, colon), &id)) {
      return Error("--deny-on needs ID:PRIVILEGE=PLACE, not " + deny), false;
    }
    const store::Status status = store_->DenyPrivilege(
        id, Wide(deny.substr(colon + 1, eq - colon - 1)), Wide(deny.substr(eq + 1)));
    if (!status.ok()) return Error("cannot deny on " + deny + ": " + status.message), false;
  }
  if (FAILED(host::ConnectStore(*host_, *store_, *session_, clsid))) {
    Error("the store cannot be read: " + TakeErrorText());
    return false;
  }
  for (const std::string& refusal : options_.refused) {
    const size_t colon = refusal.find(':');
    const std::string operation = refusal.substr(0, colon);
    std::optional<std::u16string> first;
    if (colon != std::string::npos) first = Wide(refusal.substr(colon + 1));
    host_->registrar().FailCall(operation, E_FAIL, u"Refused by kxqhost --refuse", first);
  }

  host::User user;
  const char* login = std::getenv("USER");
  user.name = Wide(!options_.user.empty() ? options_.user : login ? login : "kxq");
  user.discipline = Wide(options_.discipline);
  for (const std::string& name : options_.denied) user.denied.push_back(Wide(name));
  const host::CallResult started = host::StartModule(*host_, module.get(), user);
  if (!host_->module()) {
    const std::string why = Narrow(started.error);
    Error("the module refused to attach: " + Describe(started.hr) +
          (why.empty() ? "" : ": " + why));
    return false;
  }
  if (!started.succeeded()) {
    Finish(started, "the module's start-up");
    return false;
  }
  // A misspelt name would withhold nothing, and the request would pass
  // unchecked: say which names there are.
  const std::vector<std::u16string> privileges = host::KnownPrivileges(*host_);
  for (const std::u16string& name : user.denied) {
    if (std::find(privileges.begin(), privileges.end(), name) != privileges.end()) continue;
    std::string names;
    for (const std::u16string& privilege : privileges) {
      names += (names.empty() ? "\"" : ", \"") + Narrow(privilege) + "\"";
    }
    std::fprintf(err_,
                 "notice: --deny %s names no privilege, so it withholds nothing; they are %s\n",
                 Narrow(name).c_str(), names.c_str());
    std::fflush(err_);
  }
  module_started_ = true;
  return true;
}

// What the registrar received at start-up, one call a line, refused ones
// marked.
int Program::ListRegistration() {
  for (const host::RegistrarCall& call : host_->registrar().calls()) {
    std::fprintf(out_, "%s%s\n", call.ToString().c_str(), call.failed ? " (refused)" : "");
  }
  return kExitOk;
}

}  // namespace kx::kxqhost
