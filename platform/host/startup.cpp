#include "host/startup.h"

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/registry.h"
#include "com/wstr.h"
#include "host/errors.h"
#include "host/utf.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/templates.h"

namespace kx::host {

HRESULT CreateModule(const char16_t* prog_id, IKXQDataService** module, CLSID* clsid) {
  if (!prog_id || !module || !clsid) return E_POINTER;
  *module = nullptr;
  *clsid = CLSID{};
  HRESULT hr = CLSIDFromProgID(prog_id, clsid);
  if (FAILED(hr)) {
    const std::u16string registry =
        internal::Utf8ToUtf16(kx_reg_file_path()).value_or(u"(a path that is not UTF-8)");
    return internal::Fail(hr, std::u16string(u"The registration store ") + registry +
                                  u" does not name " + prog_id +
                                  u": register the module there (kxqhost register), or set "
                                  u"KXQ_REGISTRY to the store it was registered in");
  }
  hr = CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKXQDataService,
                        reinterpret_cast<void**>(module));
  if (FAILED(hr)) return hr;  // activation left its error information
  if (!*module) return internal::Fail(E_NOINTERFACE, std::u16string(prog_id) + u" gave no module");
  return S_OK;
}

HRESULT ConnectStore(Host& host, store::Store& store, StoreHostSession& session,
                     const CLSID& module_class) {
  IKXQDatabase* database = store.Database();
  if (!database) return internal::Fail(E_UNEXPECTED, u"The object store is closed");
  _com_ptr_t<IKXQSchema> schema;
  _com_ptr_t<IKXQTemplateLibrary> library;
  _com_ptr_t<IKXQProject> active, root;
  HRESULT hr = S_OK;
  if (FAILED(hr = database->get_Schema(&schema)) ||
      FAILED(hr = database->get_TemplateLibrary(&library)) ||
      FAILED(hr = database->get_ActiveProject(&active)) ||
      FAILED(hr = database->get_RootProject(&root))) {
    return hr;  // the store left its error information
  }
  host.application().SetStore(database, schema, library);
  host.application().SetProjects(active, root);
  // A diagram's workflow face comes from the drawing service, which the
  // store itself does not know.
  store.SetRepresentationProvider(
      [drawing = Ref<DrawingService>(&host.drawing())](IKXQObject* object,
                                                       const std::u16string& kind, IUnknown** rep) {
        return drawing->Representation(object, kind, rep);
      });
  host.registrar().SetTemplates(library.GetInterfacePtr());
  host.SetStoreSession(&session);
  const Registrar& registrar = host.registrar();
  session.SetHandlerTest([&registrar, module_class](const std::u16string& handler) {
    if (handler.empty()) return false;
    for (const std::u16string& service : registrar.services()) {
      if (kx_wcsicmp(service, handler) == 0) return true;
    }
    CLSID named{};
    const bool same =
        SUCCEEDED(CLSIDFromProgID(handler.c_str(), &named)) && IsEqualGUID(named, module_class);
    SetErrorInfo(0, nullptr);
    return same;
  });
  return S_OK;
}

CallResult StartModule(Host& host, IKXQDataService* module, const User& user) {
  Privileges& privileges = host.privileges();
  privileges.SetLoginName(user.name);
  privileges.SetUserName(user.name);
  privileges.SetDiscipline(user.discipline);
  CallResult result;
  SetErrorInfo(0, nullptr);
  if (result.hr = host.Attach(module); FAILED(result.hr)) {
    result.error = internal::TakeErrorDescription();
    result.description = internal::PlainDescription(result.error);
    return result;
  }
  result = host.StartUp();
  if (!result.succeeded()) return result;
  for (const std::u16string& privilege : KnownPrivileges(host)) {
    bool denied = false;
    for (const std::u16string& name : user.denied) denied = denied || name == privilege;
    if (!denied) privileges.Grant(privilege);
  }
  return result;
}

std::vector<std::u16string> KnownPrivileges(Host& host) {
  std::vector<std::u16string> names(std::begin(kHostPrivileges), std::end(kHostPrivileges));
  for (const auto& privilege : host.registrar().privileges()) names.push_back(privilege.name);
  return names;
}

}  // namespace kx::host
