// A store run as the host program runs it, for the benchmarks of what other
// clients' changes cause: the host library's store session (a change made
// outside a call is delivered afterwards as database events and trigger
// callbacks) and a Main made in-process.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "benchsupport.h"
#include "host/store_host_session.h"

namespace kxbench {

class SessionPlant {
 public:
  // The store made from `fixture`, its session and the application pointed
  // at it; aborts when the store cannot be made. Main comes with
  // AttachMain, once the caller has set up the session and the host.
  explicit SessionPlant(const std::string& fixture) : store_(OpenStore(fixture)) {
    if (!store_) std::abort();
    session_ = std::make_unique<kx::host::StoreHostSession>(*store_);
    host_.SetStoreSession(session_.get());
    kx::test::UseStore(host_.application(), store_->Database(), kx::test::Projects::kRoot);
  }
  ~SessionPlant() {
    host_.Detach();
    host_.SetStoreSession(nullptr);
  }
  SessionPlant(const SessionPlant&) = delete;
  SessionPlant& operator=(const SessionPlant&) = delete;

  // Attaches a Main made in-process; aborts when it cannot be made.
  // Whether it was attached.
  bool AttachMain() {
    service_ = MakeMain();
    if (!service_) std::abort();
    return SUCCEEDED(host_.Attach(service_.get()));
  }

  // Makes `change` as another client would, in a change of its own, then
  // lets the host deliver what it caused; the outcome of that delivery.
  template <class F>
  kx::host::CallResult ChangeAndDeliver(F&& change) {
    (void)session_->BeginHostChange();
    change();
    kx::host::CallResult result = host_.DatabaseEvent(-1, nullptr, _variant_t());
    session_->AbandonHostChange();
    return result;
  }

  IKXQDatabase* database() const { return store_->Database(); }
  kx::host::StoreHostSession& session() { return *session_; }
  kx::host::Host& host() { return host_; }
  Main& main() const { return kx::test::MainOf(service_.get()); }

 private:
  std::unique_ptr<kx::store::Store> store_;
  std::unique_ptr<kx::host::StoreHostSession> session_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
};

}  // namespace kxbench
