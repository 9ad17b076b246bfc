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
#include "com/wstr.h"
#include "common.h"
#include "drawings.h"
#include "host/host.h"
#include "program.h"
#include "session.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/templates.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

namespace {

// Privileges of the host itself that modules ask about.
constexpr const char16_t* kHostPrivileges[] = {u"SecureAttribute", u"LockAttribute",
                                               u"CheckDocument", u"IssueDocument"};

}  // namespace

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
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
  IKXQDataService* raw = nullptr;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKXQDataService,
                          reinterpret_cast<void**>(&raw));
  }
  const std::string built = ModuleLibraryPath();
  if ((hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL) && !built.empty()) {
    // The registered library cannot be loaded (another build's, or broken):
    // the one of this build tree takes its place.
    const std::string why = TakeErrorText();
    std::string error;
    if (SUCCEEDED(CallServerEntry(built, "DllRegisterServer", &error)) &&
        SUCCEEDED(hr = CLSIDFromProgID(kProgId, &clsid))) {
      Error("the registered module could not be loaded (" + why + "); registered " + built);
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKXQDataService,
                            reinterpret_cast<void**>(&raw));
    }
  }
  if (FAILED(hr) || !raw) {
    const std::string why = TakeErrorText();
    Error("cannot create KXDBDatasheetSvcs.Main: " + Describe(hr) +
          (why.empty() ? "" : ": " + why));
    return false;
  }
  const auto module = host::Ref<IKXQDataService>::Adopt(raw);

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
  std::string user = options_.user;
  if (user.empty()) user = std::getenv("USER") ? std::getenv("USER") : "kxq";
  host_->privileges().SetLoginName(Wide(user));
  host_->privileges().SetUserName(Wide(user));
  host_->privileges().SetDiscipline(Wide(options_.discipline));

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
  IKXQDatabase* database = store_->Database();
  _com_ptr_t<IKXQSchema> schema;
  _com_ptr_t<IKXQTemplateLibrary> library;
  _com_ptr_t<IKXQProject> active, root;
  if (FAILED(hr = database->get_Schema(&schema)) ||
      FAILED(hr = database->get_TemplateLibrary(&library)) ||
      FAILED(hr = database->get_ActiveProject(&active)) ||
      FAILED(hr = database->get_RootProject(&root))) {
    Error("the store cannot be read: " + TakeErrorText());
    return false;
  }
  host_->application().SetStore(database, schema, library);
  host_->application().SetProjects(active, root);
  OfferDiagramRepresentations(*store_, *host_);
  host_->registrar().SetTemplates(library.GetInterfacePtr());
  host_->SetStoreSession(session_.get());
  const host::Registrar& registrar = host_->registrar();
  session_->SetHandlerTest([&registrar, clsid](const std::u16string& handler) {
    if (handler.empty()) return false;
    for (const std::u16string& service : registrar.services()) {
      if (kx_wcsicmp(service, handler) == 0) return true;
    }
    CLSID named{};
    const bool same =
        SUCCEEDED(CLSIDFromProgID(handler.c_str(), &named)) && IsEqualGUID(named, clsid);
    SetErrorInfo(0, nullptr);
    return same;
  });

  if (FAILED(hr = host_->Attach(module.get()))) {
    const std::string why = TakeErrorText();
    Error("the module refused to attach: " + Describe(hr) + (why.empty() ? "" : ": " + why));
    return false;
  }
  for (const std::string& refusal : options_.refused) {
    const size_t colon = refusal.find(':');
    const std::string operation = refusal.substr(0, colon);
    std::optional<std::u16string> first;
    if (colon != std::string::npos) first = Wide(refusal.substr(colon + 1));
    host_->registrar().FailCall(operation, E_FAIL, u"Refused by kxqhost --refuse", first);
  }
  const host::CallResult started = host_->StartUp();
  if (!started.succeeded()) {
    Finish(started, "the module's start-up");
    return false;
  }
  // The user holds the host's own privileges and those the module
  // declared, except the denied ones.
  std::vector<std::u16string> privileges(std::begin(kHostPrivileges), std::end(kHostPrivileges));
  for (const auto& privilege : registrar.privileges()) privileges.push_back(privilege.name);
  for (const std::u16string& privilege : privileges) {
    bool denied = false;
    for (const std::string& name : options_.denied) denied = denied || Wide(name) == privilege;
    if (!denied) host_->privileges().Grant(privilege);
  }
  // A misspelt name would withhold nothing, and the request would pass
  // unchecked: say which names there are.
  for (const std::string& name : options_.denied) {
    if (std::find(privileges.begin(), privileges.end(), Wide(name)) != privileges.end()) continue;
    std::string names;
    for (const std::u16string& privilege : privileges) {
      names += (names.empty() ? "\"" : ", \"") + Narrow(privilege) + "\"";
    }
    std::fprintf(err_,
                 "notice: --deny %s names no privilege, so it withholds nothing; they are %s\n",
                 name.c_str(), names.c_str());
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
