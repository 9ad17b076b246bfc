// The seam between the host and the object store it runs on. The host runs
// every call into a module (request, database event, trigger callback,
// object-service call) in one store transaction, and after a successful
// call delivers what the store recorded during it: database events the
// module subscribed to and triggers bound to it. The store-backed host
// program implements this; tests use fakes or run without a store.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "com/dispatch.h"
#include "com/oleauto.h"
#include "host/store_fwd.h"
#include "host/store_ref.h"

namespace kx::host {

// Something the store recorded during a call, for the module.
struct StoreNotification {
  enum class Kind { kDatabaseEvent, kTrigger };
  Kind kind = Kind::kDatabaseEvent;
  // Database event: the store's event kind, the object, and the event's
  // argument (VT_EMPTY, VT_I4, or an interface as VT_UNKNOWN/VT_DISPATCH).
  LONG event_kind = 0;
  internal::StoreRef<IKXQObject> object;
  // Trigger: the trigger that fired.
  internal::StoreRef<IKXQTrigger> trigger;

  StoreNotification();
  StoreNotification(const StoreNotification& other);
  StoreNotification& operator=(const StoreNotification& other);
  ~StoreNotification();
  // Owned; cleared on destruction.
  VARIANT arguments;
};

class StoreSession {
 public:
  virtual ~StoreSession() = default;

  // One transaction per call. Begin is called before the call; Commit after
  // a successful call and the delivery of its notifications; Rollback after
  // a failed one. A failing Begin or Commit fails the call.
  virtual HRESULT Begin() = 0;
  virtual HRESULT Commit() = 0;
  virtual HRESULT Rollback() = 0;

  // A read of the store that failed during the call where the store's
  // interface could not say so (the module then goes on without what it
  // could not read, and may fail for that reason without naming it): its
  // code, with *why set, else S_OK. Asked after a failed call; cleared.
  virtual HRESULT TakeReadFailure(std::u16string* why) {
    why->clear();
    return S_OK;
  }

  // What the store recorded since the last call of TakeNotifications, in
  // order.
  virtual std::vector<StoreNotification> TakeNotifications() { return {}; }

  // Whether `object` is of class `class_name` or of a class derived from it
  // (routes database events through the class filters of subscriptions).
  virtual bool IsOfClass(IKXQObject* object, std::u16string_view class_name) = 0;

  // The driver's handler of deletions: a session whose store tells it of a
  // deletion before it happens calls AnnounceDelete there, synchronously;
  // the driver delivers the delete database event to the module, whose
  // failure refuses the deletion (nothing deleted, the delete call fails).
  using DeleteHandler = std::function<HRESULT(IKXQObject* object)>;
  void SetDeleteHandler(DeleteHandler handler) { delete_handler_ = std::move(handler); }

  // Holds and object collections, which the host makes in the store. The
  // defaults fail with E_NOTIMPL.
  virtual HRESULT CreateHold(BSTR name, const VARIANT& reason, IKXQObject** hold);
  virtual HRESULT CloseHold(IKXQObject* hold, const VARIANT& reason);
  virtual HRESULT CreateObjectCollection(IKXQObjectCollection** collection);

 protected:
  // The delete handler's answer for `object` (borrowed); S_OK without one.
  HRESULT AnnounceDelete(IKXQObject* object) {
    return delete_handler_ ? delete_handler_(object) : S_OK;
  }

 private:
  DeleteHandler delete_handler_;
};

}  // namespace kx::host
