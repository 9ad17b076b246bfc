#include "program.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <vector>
#include <sstream>
#include <thread>

#include "com/activation.h"
#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/registry.h"
#include "com/sysmsg.h"
#include "com/wstr.h"
#include "drawings.h"
#include "dump.h"
#include "host/host.h"
#include "host/errors.h"
#include "host/utf.h"
#include "host/project_update.h"
#include "msxml/sax.h"
#include "script.h"
#include "session.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"
#include "store/templates.h"
#include "xmltext.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

namespace {

constexpr char16_t kProgId[] = u"KXDBDatasheetSvcs.Main";
constexpr char kModuleLibrary[] = "libKXDBDatasheetSvcs.so";
constexpr char kDefaultStore[] = "kxq-store.db";
// Privileges of the host itself that modules ask about.
constexpr const char16_t* kHostPrivileges[] = {u"SecureAttribute", u"LockAttribute",
                                               u"CheckDocument", u"IssueDocument"};
// A database event kind that no module subscribes to: the host's own
// changes are delivered through a call that routes nothing else.
constexpr LONG kNoEventKind = -1;

std::string Narrow(std::u16string_view text) { return host::internal::Utf16ToUtf8(text); }

// REQUIRES: `text` is valid UTF-8 (main and RunScript check what they
// hand on); anything else becomes U+FFFD.
std::u16string Wide(std::string_view text) {
  auto wide = host::internal::Utf8ToUtf16(text);
  return wide ? *wide : std::u16string(1, u'\uFFFD');
}

std::string HexCode(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

// An automation result as text: a store object as "#ID Class: name", a
// project as "project #ID name", Booleans as "true"/"false", an array one
// element a line as "[index] element"; anything else as its text form.
std::u16string DescribeValue(const VARIANT& value, const std::u16string& text);

std::u16string DescribeObject(IDispatch* dispatch) {
  if (dispatch == nullptr) return u"(none)";
  _com_ptr_t<IKXQObject> object;
  if (SUCCEEDED(dispatch->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&object)))) {
    LONG id = 0;
    object->get_Id(&id);
    std::u16string out = u"#" + kx_format(u"%ld", id);
    _com_ptr_t<IKXQClass> cls;
    _bstr_t className, name;
    if (SUCCEEDED(object->get_Class(&cls)) && cls) cls->get_Name(className.GetAddress());
    _variant_t option(false);
    object->get_Name(option, name.GetAddress());
    return out + u" " + std::u16string(className.view()) + u": " + std::u16string(name.view());
  }
  _com_ptr_t<IKXQObjectCollection> collection;
  if (SUCCEEDED(dispatch->QueryInterface(kx_uuidof<IKXQObjectCollection>(),
                                         reinterpret_cast<void**>(&collection)))) {
    LONG count = 0;
    collection->get_Count(&count);
    std::u16string out = u"collection of " + kx_format(u"%ld", count);
    for (LONG i = 1; i <= count; ++i) {
      _com_ptr_t<IKXQObject> item;
      if (FAILED(collection->get_Item(i, &item)) || !item) continue;
      out += u"\n[" + kx_format(u"%ld", i) + u"] " + DescribeObject(item);
    }
    return out;
  }
  _com_ptr_t<IKXQProject> project;
  if (SUCCEEDED(dispatch->QueryInterface(IID_IKXQProject, reinterpret_cast<void**>(&project)))) {
    LONG id = 0;
    project->get_Id(&id);
    _bstr_t name;
    project->get_Name(name.GetAddress());
    return u"project #" + kx_format(u"%ld", id) + u" " + std::u16string(name.view());
  }
  return u"(object)";
}

std::u16string DescribeValue(const VARIANT& value, const std::u16string& text) {
  if (value.vt == VT_BOOL) return value.boolVal ? u"true" : u"false";
  if (value.vt == VT_DISPATCH) return DescribeObject(value.pdispVal);
  if ((value.vt & VT_ARRAY) == 0 || value.parray == nullptr) return text;
  SAFEARRAY* array = value.parray;
  if (SafeArrayGetDim(array) != 1) return u"(array)";
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  const VARTYPE elementType = value.vt & VT_TYPEMASK;
  std::u16string out;
  for (LONG i = lower; i <= upper; ++i) {
    _variant_t element;
    if (elementType == VT_VARIANT) {
      SafeArrayGetElement(array, &i, &element.GetVARIANT());
    } else if (elementType == VT_BSTR) {
      BSTR item = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(array, &i, &item))) element = _bstr_t(item, false);
    }
    _variant_t asText;
    std::u16string itemText;
    if (SUCCEEDED(VariantChangeType(&asText.GetVARIANT(), &element.GetVARIANT(), 0, VT_BSTR))) {
      itemText = std::u16string(asText.GetVARIANT().bstrVal, SysStringLen(asText.GetVARIANT().bstrVal));
    }
    if (!out.empty()) out += u"\n";
    out += u"[" + kx_format(u"%ld", i) + u"] " +
           DescribeValue(element.GetVARIANT(), itemText);
  }
  return out.empty() ? u"(no elements)" : out;
}

std::u16string DescribeResult(const _variant_t& value, const std::u16string& text) {
  return DescribeValue(static_cast<const VARIANT&>(value), text);
}

std::string Describe(HRESULT hr) { return HexCode(hr) + " (" + Narrow(kx_system_message(hr)) + ")"; }

// The thread's error description, or "" when none was left.
std::string TakeErrorText() { return Narrow(host::internal::TakeErrorDescription()); }

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  *text = buffer.str();
  return !file.bad();
}

// A request text longer than the XML reader takes is refused before it is
// read whole: it would be held several times over (bytes, UTF-16, the
// message) only to be refused by the reader.
constexpr size_t kMaxRequestBytes = static_cast<size_t>(kSaxMaxDocumentBytes);

std::string TooLargeRequest() {
  return "the request is larger than " + std::to_string(kMaxRequestBytes) + " bytes, more than the XML reader takes";
}

// Reads at most kMaxRequestBytes; false with *error set when there is more
// or the stream fails.
bool ReadRequestText(std::istream& in, std::string* text, std::string* error) {
  text->clear();
  std::vector<char> chunk(1 << 16);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (text->size() + got > kMaxRequestBytes) {
      *error = TooLargeRequest();
      text->clear();
      return false;
    }
    text->append(chunk.data(), got);
  }
  if (in.bad()) *error = "the request text cannot be read";
  return !in.bad();
}

bool ReadRequestFile(const std::string& path, std::string* text, std::string* error) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) > kMaxRequestBytes && !ec) {
    *error = TooLargeRequest() + ": " + path;
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  return ReadRequestText(file, text, error);
}

bool IsInteger(const std::string& text) {
  if (text.empty()) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i >= text.size() || text.size() - i > 10) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const long long value = std::stoll(text);
  return value >= INT32_MIN && value <= INT32_MAX;
}

// A command-line argument as a VARIANT: a whole number as VT_I4, "true"
// and "false" as VT_BOOL, anything else as text.
_variant_t ArgumentValue(const std::string& text) {
  if (IsInteger(text)) return _variant_t(static_cast<long>(std::stoll(text)));
  if (text == "true") return _variant_t(true);
  if (text == "false") return _variant_t(false);
  return _variant_t(Wide(text).c_str());
}

// A command-line argument of an automation call: "#ID" an object of the
// store, "#ID.ATTRIBUTE" its attribute, "template:ID" a template of the
// library, else as ArgumentValue. False with *error set when what it names
// does not exist.
bool AutomationArgument(IKXQDatabase* database, const std::string& text, _variant_t* value,
                        std::string* error) {
  if (text.rfind("template:", 0) == 0) {
    _com_ptr_t<IKXQTemplateLibrary> library;
    _com_ptr_t<IKXQTemplate> found;
    if (FAILED(database->get_TemplateLibrary(&library)) || !library ||
        FAILED(library->GetTemplate(_bstr_t(Wide(text.substr(9)).c_str()), _variant_t(), &found)) ||
        !found) {
      *error = "no template " + text.substr(9);
      return false;
    }
    *value = _variant_t(static_cast<IDispatch*>(found.GetInterfacePtr()));
    return true;
  }
  if (text.size() < 2 || text[0] != '#') {
    *value = ArgumentValue(text);
    return true;
  }
  const size_t dot = text.find('.');
  const std::string id_text = text.substr(1, dot == std::string::npos ? std::string::npos : dot - 1);
  if (!IsInteger(id_text)) {
    *value = ArgumentValue(text);
    return true;
  }
  _com_ptr_t<IKXQObject> object;
  if (FAILED(database->get_Object(static_cast<LONG>(std::stoll(id_text)), &object))) {
    *error = "no object " + id_text + ": " + TakeErrorText();
    return false;
  }
  if (dot == std::string::npos) {
    *value = _variant_t(static_cast<IDispatch*>(object.GetInterfacePtr()));
    return true;
  }
  const std::string name = text.substr(dot + 1);
  _com_ptr_t<IKXQAttribute> attribute;
  if (FAILED(object->get_Attribute(_bstr_t(Wide(name).c_str()), _variant_t(-1L), &attribute)) ||
      !attribute) {
    *error = "object " + id_text + " has no attribute " + name;
    return false;
  }
  *value = _variant_t(static_cast<IDispatch*>(attribute.GetInterfacePtr()));
  return true;
}

// Calls DllRegisterServer or DllUnregisterServer of the library at `path`.
// The library stays loaded (activation loads it again by the same path).
HRESULT CallServerEntry(const std::string& path, const char* entry, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    *error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
    return CO_E_DLLNOTFOUND;
  }
  auto function = reinterpret_cast<HRESULT (*)()>(dlsym(library, entry));
  if (!function) {
    *error = path + " has no " + entry;
    return CO_E_ERRORINDLL;
  }
  const HRESULT hr = function();
  if (FAILED(hr)) {
    const std::string text = TakeErrorText();
    *error = std::string(entry) + " failed: " + Describe(hr) + (text.empty() ? "" : ": " + text);
  }
  return hr;
}

}  // namespace

std::string ModuleLibraryPath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path candidate = exe.parent_path().parent_path() / "lib" / kModuleLibrary;
    if (fs::exists(candidate, ec)) return fs::canonical(candidate, ec).string();
  }
  const std::string platform_dir = kx_platform_library_dir();
  if (!platform_dir.empty() && fs::exists(platform_dir + kModuleLibrary, ec)) {
    return fs::canonical(platform_dir + kModuleLibrary, ec).string();
  }
  return {};
}

std::string SamplePlantPath() {
  std::error_code ec;
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
    if (rest.empty() || rest.size() > 2) return Error("usage: request [--extra] NAME [FILE|-]"), kExitUsage;
    std::string text;
    std::string error;
    if (rest.size() == 2 && rest[1] != "-") {
      if (!ReadRequestFile(rest[1], &text, &error)) return Error(error), kExitFailed;
    } else if ((rest.size() == 2 || !isatty(STDIN_FILENO)) && !ReadRequestText(std::cin, &text, &error)) {
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
  Error("unknown command " + command);
  std::fputs(UsageText(), err_);
  return kExitUsage;
}

// ---------------------------------------------------------------------------
// The store.

bool Program::OpenStore() {
  std::string path = options_.store;
  std::error_code ec;
  if (path.empty()) {
    path = kDefaultStore;
    if (!fs::exists(path, ec)) {
      const std::string fixture = SamplePlantPath();
      if (fixture.empty()) {
        Error("no store at ./" + path + " and no sample plant (examples/plant.xml) to make one");
        return false;
      }
      std::unique_ptr<store::Store> made;
      store::Status status = store::Store::Open(path, store::OpenMode::kCreate, &made);
      if (status.ok()) status = made->ImportFixtureFile(fixture);
      if (!status.ok()) {
        made.reset();
        fs::remove(path, ec);
        Error("cannot create the default store from " + fixture + ": " + status.message);
        return false;
      }
      store_ = std::move(made);
    }
  } else if (!fs::exists(path, ec)) {
    Error("no store at " + path + " (create one with: kxqhost --store " + path + " init)");
    return false;
  }
  if (!store_) {
    const store::Status status = store::Store::Open(path, store::OpenMode::kOpenExisting, &store_);
    if (!status.ok()) {
      store_.reset();
      Error("cannot open the store " + path + ": " + status.message);
      return false;
    }
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

// ---------------------------------------------------------------------------
// The module.

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
  CLSID clsid{};
  if (SUCCEEDED(CLSIDFromProgID(kProgId, &clsid))) {
    std::u16string server;
    const std::u16string key =
        u"HKEY_CLASSES_ROOT\\CLSID\\" + kx_guid_to_string(clsid) + u"\\InprocServer32";
    std::error_code ec;
    if (SUCCEEDED(kx_reg_get_value(key, u"", &server)) && fs::exists(Narrow(server), ec)) {
      return true;
    }
  }
  SetErrorInfo(0, nullptr);
  const std::string library = ModuleLibraryPath();
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
    Error("cannot create KXDBDatasheetSvcs.Main: " + Describe(hr) + (why.empty() ? "" : ": " + why));
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
    if (!status.ok()) return Error("cannot make project " + options_.project + " active: " + status.message), false;
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
    const bool same = SUCCEEDED(CLSIDFromProgID(handler.c_str(), &named)) && IsEqualGUID(named, clsid);
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
  module_started_ = true;
  return true;
}

// ---------------------------------------------------------------------------
// Calls.

int Program::Finish(const host::CallResult& result, const std::string& what) {
  for (const auto& text : result.warnings) std::fprintf(err_, "warning: %s\n", Narrow(text).c_str());
  for (const auto& text : result.notices) std::fprintf(err_, "notice: %s\n", Narrow(text).c_str());
  for (const auto& text : result.messages) std::fprintf(err_, "message: %s\n", Narrow(text).c_str());
  for (const auto& text : result.host_calls) std::fprintf(err_, "host: %s\n", Narrow(text).c_str());
  if (!result.succeeded()) {
    if (host_) PrintDrawingCalls(*host_, err_, "drawing: ");
    if (!result.error.empty()) std::fprintf(err_, "%s\n", Narrow(result.error).c_str());
    Error(what + " failed: " + Describe(result.hr));
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
      std::fprintf(out_, "== event %s%s to %s%s\n", Narrow(event.message_name).c_str(), key.c_str(),
                   recipients.empty() ? "(nobody)" : recipients.c_str(),
                   FAILED(event.result) ? (" (failed: " + Describe(event.result) + ")").c_str() : "");
      if (event.xml) {
        const std::string xml = options_.pretty ? IndentXml(Narrow(*event.xml)) : Narrow(*event.xml);
        std::fputs(xml.c_str(), out_);
        if (xml.empty() || xml.back() != '\n') std::fputc('\n', out_);
      }
    }
  }
  if (!options_.events && host_) host_->drawing().TakeCalls();
  std::fflush(out_);
  std::fflush(err_);
  return kExitOk;
}

// A sent file as it would reach the client: a header line, then a text
// file's content as it is, or the first bytes of a binary file in
// hexadecimal.
void Program::PrintSentFile(const host::SentFile& file) {
  std::fprintf(out_, "== sent file %s (%s, %zu bytes)\n", Narrow(file.path).c_str(),
               file.binary ? "binary" : "text", file.content.size());
  if (!file.binary) {
    std::fwrite(file.content.data(), 1, file.content.size(), out_);
    if (!file.content.empty() && file.content.back() != '\n') std::fputc('\n', out_);
    return;
  }
  constexpr size_t kShown = 32;
  for (size_t i = 0; i < file.content.size() && i < kShown; ++i) {
    std::fprintf(out_, "%s%02x", i == 0 ? "" : " ", static_cast<unsigned char>(file.content[i]));
  }
  if (file.content.size() > kShown) std::fputs(" ...", out_);
  if (!file.content.empty()) std::fputc('\n', out_);
}

int Program::Request(const std::string& name, const std::string& text, bool extra) {
  const auto wide = host::internal::Utf8ToUtf16(text);
  if (!wide) return Error("the request text is not valid UTF-8"), kExitFailed;
  const host::RequestResult result =
      extra ? host_->RequestWithExtra(Wide(name), *wide, _variant_t()) : host_->Request(Wide(name), *wide);
  if (result.succeeded()) {
    const std::string reply = options_.pretty ? IndentXml(Narrow(result.reply)) : Narrow(result.reply);
    std::fwrite(reply.data(), 1, reply.size(), out_);
    if (!reply.empty() && reply.back() != '\n') std::fputc('\n', out_);
    for (const auto& file : result.files) PrintSentFile(file);
    for (const auto& report : result.reports) std::fprintf(err_, "report: %s\n", Narrow(report).c_str());
  }
  const bool nothing_done = result.succeeded() && result.reply.empty() && result.files.empty() &&
                            result.events.empty() && session_->changes().empty() &&
                            session_->delivered().empty() && session_->workflow().empty();
  const int status = Finish(result, "request " + name);
  if (nothing_done) {
    std::fprintf(err_, "notice: %s\n", NothingDoneNotice(name, text).c_str());
    std::fflush(err_);
  }
  if (options_.events) PrintCurrentDocument();
  return status;
}

void Program::PrintCurrentDocument() {
  auto id_text = [](IKXQObject* object) {
    LONG id = 0;
    if (object == nullptr || FAILED(object->get_Id(&id))) return std::string("none");
    return "#" + std::to_string(id);
  };
  const host::Application& application = host_->application();
  std::fprintf(out_, "== current datasheet %s, page %s\n",
               id_text(application.current_datasheet()).c_str(),
               id_text(application.current_page()).c_str());
  std::fflush(out_);
}

int Program::Service(const std::vector<std::string>& args) {
  LONG kind = 0, id = 0;
  if (!IsInteger(args[0])) return Error("not an object-service kind: " + args[0]), kExitUsage;
  kind = static_cast<LONG>(std::stoll(args[0]));
  if (!ParseId(args[1], &id)) return kExitUsage;
  _com_ptr_t<IKXQObject> object;
  if (FAILED(store_->Database()->get_Object(id, &object))) {
    return Error("no object " + args[1] + ": " + TakeErrorText()), kExitFailed;
  }
  std::vector<_variant_t> holders(args.size() - 3);
  for (size_t i = 3; i < args.size(); ++i) {
    std::string error;
    if (!AutomationArgument(store_->Database(), args[i], &holders[i - 3], &error)) {
      return Error(error), kExitFailed;
    }
  }
  std::vector<VARIANT> arguments(holders.begin(), holders.end());
  // The copies above only borrow the holders' contents.
  const host::ServiceResult result =
      host_->CallObjectService(kind, object, Wide(args[2]), arguments);
  if (result.succeeded() && result.type != VT_EMPTY && result.type != VT_NULL) {
    std::fprintf(out_, "%s\n", Narrow(DescribeResult(result.raw, result.value)).c_str());
  }
  return Finish(result, "service " + args[0] + " " + args[2]);
}

// RunMethod of the module: METHOD is the method's number or the name it
// was declared with at start-up (compared without regard to case).
int Program::Method(const std::vector<std::string>& args) {
  LONG id = 0;
  if (!ParseId(args[0], &id)) return kExitUsage;
  LONG method = 0;
  if (IsInteger(args[1])) {
    method = static_cast<LONG>(std::stoll(args[1]));
  } else {
    bool found = false;
    for (const host::MethodDeclaration& declared : host_->registrar().methods()) {
      if (kx_wcsicmp(declared.name, Wide(args[1])) != 0) continue;
      method = declared.id;
      found = true;
      break;
    }
    if (!found) return Error("the module declared no method " + args[1]), kExitFailed;
  }
  _com_ptr_t<IKXQObject> object;
  if (FAILED(store_->Database()->get_Object(id, &object))) {
    return Error("no object " + args[0] + ": " + TakeErrorText()), kExitFailed;
  }
  const host::ServiceResult result = host_->RunMethod(method, object);
  if (result.succeeded() && result.type != VT_EMPTY && result.type != VT_NULL) {
    std::fprintf(out_, "%s\n", Narrow(DescribeResult(result.raw, result.value)).c_str());
  }
  return Finish(result, "method " + args[1]);
}

// One of Main's own automation methods through its IDispatch.
int Program::Automation(const std::vector<std::string>& args) {
  std::vector<_variant_t> holders(args.size() - 1);
  for (size_t i = 1; i < args.size(); ++i) {
    std::string error;
    if (!AutomationArgument(store_->Database(), args[i], &holders[i - 1], &error)) {
      return Error(error), kExitFailed;
    }
  }
  std::vector<VARIANT> arguments(holders.begin(), holders.end());
  // The copies above only borrow the holders' contents.
  const host::ServiceResult result = host_->CallAutomation(Wide(args[0]), arguments);
  if (result.succeeded() && result.type != VT_EMPTY && result.type != VT_NULL) {
    std::fprintf(out_, "%s\n", Narrow(DescribeResult(result.raw, result.value)).c_str());
  }
  return Finish(result, "automation " + args[0]);
}

// What the registrar received at start-up, one call a line, refused ones
// marked.
int Program::ListRegistration() {
  for (const host::RegistrarCall& call : host_->registrar().calls()) {
    std::fprintf(out_, "%s%s\n", call.ToString().c_str(), call.failed ? " (refused)" : "");
  }
  return kExitOk;
}

int Program::Event(const std::vector<std::string>& args) {
  const bool local = args[0] == "--local";
  const size_t at = local ? 1 : 0;
  if (!IsInteger(args[at])) return Error("not an event kind: " + args[at]), kExitUsage;
  const LONG kind = static_cast<LONG>(std::stoll(args[at]));
  LONG id = 0;
  if (!ParseId(args[at + 1], &id)) return kExitUsage;
  const std::string argument = args.size() > at + 2 ? args[at + 2] : std::string();
  const bool has_argument = args.size() > at + 2;
  IKXQDatabase* database = store_->Database();
  _com_ptr_t<IKXQObject> object;
  if (id != 0 && FAILED(database->get_Object(id, &object))) {
    return Error("no object " + args[at + 1] + ": " + TakeErrorText()), kExitFailed;
  }
  // The argument the store hands with each kind (local kinds in brackets):
  // 11 [5] the case number, 13 [6] a project update, 15 [7] the project,
  // 5 [8] the new class; any other kind a number or a text when given.
  const LONG store_kind = local ? 0 : kind;
  _variant_t value;
  host::Ref<host::ProjectUpdate> update;
  if (local && kind >= 6 && kind <= 8 && argument == "-") {
    // "-": a local kind that expects an interface gets an empty VARIANT.
  } else if (store_kind == 13 || (local && kind == 6)) {
    update = host::MakeRef<host::ProjectUpdate>();
    value = _variant_t(static_cast<IDispatch*>(update.get()));
  } else if (store_kind == 15 || (local && kind == 7)) {
    LONG project_id = id;
    if (has_argument && !ParseId(argument, &project_id)) return kExitUsage;
    _com_ptr_t<IKXQProject> project;
    if (FAILED(database->get_Project(project_id, &project))) {
      return Error("no project " + std::to_string(project_id) + ": " + TakeErrorText()), kExitFailed;
    }
    value = _variant_t(static_cast<IDispatch*>(project.GetInterfacePtr()));
  } else if (store_kind == 5 || (local && kind == 8)) {
    _com_ptr_t<IKXQClass> cls;
    if (has_argument) {
      _com_ptr_t<IKXQSchema> schema;
      if (SUCCEEDED(database->get_Schema(&schema))) schema->get_Class(_bstr_t(Wide(argument).c_str()), &cls);
      if (!cls) return Error("no class " + argument), kExitFailed;
    } else if (object) {
      object->get_Class(&cls);
    }
    if (cls) value = _variant_t(static_cast<IDispatch*>(cls.GetInterfacePtr()));
  } else if (has_argument) {
    value = ArgumentValue(argument);
  }
  if (!local) {
    bool routed = false;
    for (const auto& subscription : host_->registrar().SubscriptionsFor(kind)) {
      for (const auto& class_name : subscription.classes) {
        routed = routed || session_->IsOfClass(object, class_name);
      }
    }
    if (!routed) {
      Error("no subscription of the module takes database event " + std::to_string(kind) +
            " for object " + std::to_string(id) + "; nothing was delivered");
    }
  }
  const host::CallResult result = local ? host_->ModuleEvent(kind, object, value)
                                        : host_->DatabaseEvent(kind, object, value);
  if (result.succeeded() && update) {
    for (IKXQObject* changed : update->changed_objects()) {
      LONG changed_id = 0;
      changed->get_Id(&changed_id);
      std::fprintf(out_, "== project update reported #%ld\n", static_cast<long>(changed_id));
    }
  }
  return Finish(result, "database event " + std::to_string(kind));
}

int Program::Trigger(const std::vector<std::string>& args) {
  LONG id = 0;
  if (!ParseId(args[0], &id)) return kExitUsage;
  _com_ptr_t<IKXQObject> object;
  if (FAILED(store_->Database()->get_Object(id, &object))) {
    return Error("no object " + args[0] + ": " + TakeErrorText()), kExitFailed;
  }
  const _bstr_t name(Wide(args[1]).c_str());
  VARIANT_BOOL has = VARIANT_FALSE;
  if (FAILED(object->HasTrigger(name, &has)) || has != VARIANT_TRUE) {
    SetErrorInfo(0, nullptr);
    return Error("object " + args[0] + " has no trigger " + args[1]), kExitFailed;
  }
  _com_ptr_t<IKXQTrigger> trigger;
  if (FAILED(object->get_Trigger(name, &trigger))) {
    return Error("cannot get trigger " + args[1] + ": " + TakeErrorText()), kExitFailed;
  }
  return Finish(host_->FireTrigger(trigger), "trigger " + args[1]);
}

// ---------------------------------------------------------------------------
// Scripts.

int Program::RunScript(const std::string& path) {
  std::string text;
  if (!ReadFile(path, &text)) return Error("cannot read " + path), kExitFailed;
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
      const fs::path file = fs::path(rest[1]).is_absolute() ? fs::path(rest[1]) : fs::path(folder) / rest[1];
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

// Steps that change the store as another client would: the change and the
// notifications it causes run in one transaction through the host driver.
int Program::HostChange(const Step& step) {
  const std::string& command = step.words[0];
  const std::vector<std::string> args(step.words.begin() + 1, step.words.end());
  IKXQDatabase* database = store_->Database();
  if (HRESULT hr = session_->BeginHostChange(); FAILED(hr)) {
    return Error("cannot begin a change: " + TakeErrorText()), kExitFailed;
  }
  std::string failure;
  int seconds = 0;
  auto fail = [&](const std::string& text) {
    failure = text;
    return false;
  };
  auto object_of = [&](const std::string& text, _com_ptr_t<IKXQObject>& object) {
    if (!IsInteger(text)) return fail("not an object id: " + text);
    if (FAILED(database->get_Object(static_cast<LONG>(std::stoll(text)), &object))) {
      return fail("no object " + text + ": " + TakeErrorText());
    }
    return true;
  };
  // Sets ATTRIBUTE[POS] of an object to VALUE [UNIT] (no value: clears).
  auto set_value = [&](const std::string& id, const std::string& slot, const std::string* value,
                       const std::string* unit) {
    _com_ptr_t<IKXQObject> object;
    if (!object_of(id, object)) return false;
    std::string name = slot;
    _variant_t index;
    if (const size_t open = slot.find('['); open != std::string::npos && slot.back() == ']') {
      name = slot.substr(0, open);
      const std::string position = slot.substr(open + 1, slot.size() - open - 2);
      if (!IsInteger(position)) return fail("not a list position: " + position);
      index = _variant_t(static_cast<long>(std::stoll(position)));
    }
    _com_ptr_t<IKXQAttribute> attribute;
    if (FAILED(object->get_Attribute(_bstr_t(Wide(name).c_str()), _variant_t(-1L), &attribute))) {
      return fail(TakeErrorText());
    }
    if (!attribute) return fail("object " + id + " has no attribute " + name);
    HRESULT hr = S_OK;
    if (!value) {
      hr = attribute->Clear(index);
    } else {
      LONG type = 0;
      attribute->get_DataType(&type);
      _variant_t data = (type == KXQ_TYPE_OBJECT && value->starts_with("#") && IsInteger(value->substr(1)))
                            ? _variant_t(static_cast<long>(std::stoll(value->substr(1))))
                            : _variant_t(Wide(*value).c_str());
      const _variant_t unit_value = unit ? _variant_t(Wide(*unit).c_str()) : _variant_t();
      hr = attribute->PutValue(index, unit_value, data);
    }
    if (FAILED(hr)) return fail("cannot change " + name + ": " + TakeErrorText());
    return true;
  };

  bool changed = false;
  if (command == "set") {
    changed = set_value(args[0], args[1], args.size() > 2 ? &args[2] : nullptr,
                        args.size() > 3 ? &args[3] : nullptr);
  } else if (command == "stall") {
    if (!IsInteger(args[0])) {
      fail("not a number of seconds: " + args[0]);
    } else {
      seconds = static_cast<int>(std::stoll(args[0]));
      changed = set_value(args[1], args[2], &args[3], nullptr);
    }
  } else if (command == "create") {
    _com_ptr_t<IKXQSchema> schema;
    _com_ptr_t<IKXQClass> cls;
    _com_ptr_t<IKXQObject> owner, made;
    if (FAILED(database->get_Schema(&schema)) ||
        FAILED(schema->get_Class(_bstr_t(Wide(args[0]).c_str()), &cls)) || !cls) {
      fail("no class " + args[0]);
    } else if (args.size() > 1 && !object_of(args[1], owner)) {
    } else if (FAILED(cls->CreateInstance(&made)) || (owner && FAILED(made->put_Owner(owner)))) {
      fail("cannot create a " + args[0] + ": " + TakeErrorText());
    } else {
      LONG id = 0;
      made->get_Id(&id);
      std::fprintf(out_, "created #%ld\n", static_cast<long>(id));
      changed = true;
    }
  } else if (command == "delete") {
    _com_ptr_t<IKXQObject> object;
    if (object_of(args[0], object)) {
      if (FAILED(object->Delete())) {
        fail("cannot delete " + args[0] + ": " + TakeErrorText());
      } else {
        changed = true;
      }
    }
  } else if (command == "watch") {
    _com_ptr_t<IKXQObject> owner, read;
    _com_ptr_t<IKXQTrigger> trigger;
    _com_ptr_t<IKXQAttribute> attribute;
    _variant_t ignored;
    if (object_of(args[0], owner) && object_of(args[3], read)) {
      if (FAILED(owner->get_Trigger(_bstr_t(Wide(args[1]).c_str()), &trigger)) ||
          FAILED(trigger->SetHandler(_bstr_t(kProgId))) ||
          FAILED(read->get_Attribute(_bstr_t(Wide(args[4]).c_str()), _variant_t(-1L), &attribute))) {
        fail("cannot watch: " + TakeErrorText());
      } else if (!attribute) {
        fail("object " + args[3] + " has no attribute " + args[4]);
      } else if (FAILED(trigger->BeginItem(_variant_t(Wide(args[2]).c_str()))) ||
                 FAILED(attribute->GetValue(_variant_t(), _variant_t(), ignored.GetAddress())) ||
                 FAILED(trigger->EndItem())) {
        fail("cannot watch: " + TakeErrorText());
      } else {
        changed = true;
      }
    }
  }
  if (!changed) {
    session_->AbandonHostChange();
    return Error(failure), kExitFailed;
  }
  if (seconds > 0) {
    std::fprintf(out_, "stalling %d s before the commit\n", seconds);
    std::fflush(out_);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
  }
  const host::CallResult result = host_->DatabaseEvent(kNoEventKind, nullptr, _variant_t());
  session_->AbandonHostChange();
  return Finish(result, command);
}

}  // namespace kx::kxqhost
