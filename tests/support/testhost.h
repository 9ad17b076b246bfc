// The service's tests on a real store: a host driver whose application
// works on a store made from a fixture text, with the module's Main made
// in-process attached to it, and the pieces of that set-up which the test
// stores without a host share.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/host.h"
#include "kxstoreptrs.h"
#include "store/admin.h"

class Main;
class MainWorkers;

namespace kx::test {

// The projects an application reports once pointed at a store.
enum class Projects {
  kNone,    // none
  kRoot,    // the root project, also as the active one
  kActive,  // the store's active project and its root
};

// Points `app` at `database`: its schema, its template library and the
// projects as `projects` says.
void UseStore(kx::host::Application& app, IKXQDatabase* database, Projects projects);

// A Main made in-process, one reference held by the result (a test failure
// and null when it cannot be made); it works with `workers` when given.
kx::host::Ref<IKXQDataService> MakeMain(MainWorkers* workers = nullptr);
Main& MainOf(IKXQDataService* service);

// Object `id` of `database`; a test failure when there is none.
IKXQObjectPtr ObjectOf(IKXQDatabase* database, LONG id);
// Attribute `name` of `object`; null when either is missing.
IKXQAttributePtr AttributeOf(IKXQObject* object, const char16_t* name);
// The text at a 1-based `position` (0: the single value) of `attribute` of
// `object`; none when it holds no text there.
std::optional<std::string> TextAt(IKXQObject* object, const char16_t* attribute, LONG position = 0);
// Lets go of the thread's error information.
void ClearErrorInfo();

class TestHost {
 public:
  // Opens a store in memory from `fixture` (see OpenStore) and points the
  // host's application at it. Main comes with AttachMain, once the caller
  // has given the host its session and settings.
  TestHost(const std::string& fixture, Projects projects, const std::string& name = "fixture");
  // Drops the events still pending, detaches Main and lets go of the
  // session and of the thread's error information.
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Runs every call in a transaction of `session`, owned from now on.
  void UseSession(std::unique_ptr<kx::host::StoreSession> session);
  // Makes a Main (see MakeMain) and attaches it; a test failure when it
  // refuses.
  void AttachMain(MainWorkers* workers = nullptr);

  kx::host::Host& host() { return host_; }
  kx::host::Application& app() { return host_.application(); }
  kx::store::Store& store() const { return *store_; }
  IKXQDatabase* database() const { return store_->Database(); }
  IKXQDataService* service() const { return service_.get(); }
  Main& main() const { return MainOf(service_.get()); }
  IKXQObjectPtr Object(LONG id) const { return ObjectOf(database(), id); }

 private:
  std::unique_ptr<kx::store::Store> store_;
  std::unique_ptr<kx::host::StoreSession> session_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
};

}  // namespace kx::test
