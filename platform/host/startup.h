// Starting a module on an object store: what a host does before its first
// request, in three calls (docs/writing-a-host.md):
//
//   kx::host::Ref<IKXQDataService> module;
//   CLSID module_class{};
//   CreateModule(u"KXDBDatasheetSvcs.Main", &module, &module_class);
//   ConnectStore(host, *store, session, module_class);
//   CallResult started = StartModule(host, module.get(), user);
//
// Settings (host.settings()) and the journal are set before StartModule:
// a module reads its configuration when it is attached.
//
// Threading: the host's one thread.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"
#include "host/store_host_session.h"

namespace kx::host {

// The privileges of the host itself that modules ask about.
inline constexpr const char16_t* kHostPrivileges[] = {u"SecureAttribute", u"LockAttribute",
                                                      u"CheckDocument", u"IssueDocument"};

// Creates the module of ProgID `prog_id` by activation: the registration
// store (KXQ_REGISTRY, else the user's; com/registry.h) names its class and
// library. *module gets it (AddRef'd for the caller: `&ref` of a
// Ref<IKXQDataService>), *clsid its class. On failure *module is null and
// the thread's error information says why, naming the registration store
// when it does not know the ProgID.
HRESULT CreateModule(const char16_t* prog_id, IKXQDataService** module, CLSID* clsid);

// Points `host` at `store`: the application's database, schema, template
// library and projects (the store's active project and its root), the
// registrar's templates, the diagrams of the drawing service as the store's
// "Diagram" representations, and `session` as the host's store session,
// which delivers the callbacks of the triggers whose handler names the
// module: a service it registers at start-up, or the ProgID of
// `module_class`. `store` and `session` must outlive the host's use of
// them. Fails, with error information, when the store cannot be read.
HRESULT ConnectStore(Host& host, store::Store& store, StoreHostSession& session,
                     const CLSID& module_class);

// The user the host runs the module for.
struct User {
  std::u16string name;                 // the login and user name
  std::u16string discipline;           // none when empty
  std::vector<std::u16string> denied;  // privileges the user does not hold
};

// Gives the host `user`'s names and discipline, attaches `module` and runs
// its start-up. After a successful start-up the user holds the host's
// privileges and every privilege the module declared, except the denied
// ones. A refused attach leaves no module attached (host.module() is null)
// and the result carries the module's description; a failed start-up
// leaves the module attached, holding no privilege.
CallResult StartModule(Host& host, IKXQDataService* module, const User& user);

// The host's privileges and those the module declared at start-up, in that
// order.
std::vector<std::u16string> KnownPrivileges(Host& host);

}  // namespace kx::host
