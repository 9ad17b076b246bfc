// StoreHostSession: the host's transactions and notifications on an object
// store of platform/store (`kx::store::Store`). It brackets every call of the host driver in one
// store transaction and turns what the store's observer reports during the call into the
// notifications the driver delivers after it: a database event "create" (kind 1) for each object
// created and still alive, and one trigger callback per fired trigger whose handler names the
// module (SetHandlerTest: a service it registered, or its ProgID).
//
// Deletions are announced before they happen: the store asks the session,
// which hands the object to the driver's delete handler (the delete
// database event, delivered synchronously); a failure refuses the deletion.
//
// Threading: the host's one thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/store_session.h"
#include "store/admin.h"

namespace kx::host {

class StoreHostSession final : public StoreSession, public store::StoreObserver {
 public:
  // The store's database event kind of a creation, which the session
  // raises for each object created and still alive after a call.
  static constexpr LONG kCreateEventKind = 1;

  // Observes `store` (not owned; must outlive the session) until destroyed.
  explicit StoreHostSession(store::Store& store);
  ~StoreHostSession() override;
  StoreHostSession(const StoreHostSession&) = delete;
  StoreHostSession& operator=(const StoreHostSession&) = delete;

  // Decides whether a trigger's handler ProgID names the module; triggers
  // of other handlers are not delivered. Unset: none is delivered.
  void SetHandlerTest(std::function<bool(const std::u16string&)> is_module);

  // A change the host makes itself (as another client of the store would):
  // opens the transaction that the next call of the driver joins instead of
  // beginning its own, so the change and the notifications it causes commit
  // or roll back together. REQUIRES: no transaction open.
  HRESULT BeginHostChange();
  // Rolls back a host change that no call joined (the driver refused the
  // call before beginning). Nothing when none is pending.
  void AbandonHostChange();

  // What was handed to the driver since the last BeginHostChange or Begin,
  // one line each ("created #ID (database event 1)", "trigger NAME on #ID
  // fired (keys: K1, K2)"), for the program's output after a successful
  // call. The driver delivers a database event only to the subscriptions
  // whose class filter the object matches.
  const std::vector<std::string>& delivered() const { return delivered_; }

  // The objects whose values changed in the current or last transaction,
  // in order of their first change, each with the attributes changed (in
  // order, each once). Cleared when a transaction begins or rolls back.
  struct Change {
    LONG id = 0;
    std::vector<std::u16string> attributes;
  };
  const std::vector<Change>& changes() const { return changes_; }
  // The workflow steps the store logged in the current or last
  // transaction, one line each ("closed #1001 at status \"4\"", "issued
  // #1001: \"B||Issued for purchase\""); cleared
  // as the changes are.
  const std::vector<std::string>& workflow() const { return workflow_; }

  // StoreSession
  HRESULT Begin() override;
  HRESULT Commit() override;
  HRESULT Rollback() override;
  HRESULT TakeReadFailure(std::u16string* why) override;
  std::vector<StoreNotification> TakeNotifications() override;
  bool IsOfClass(IKXQObject* object, std::u16string_view class_name) override;
  HRESULT CreateHold(BSTR name, const VARIANT& reason, IKXQObject** hold) override;
  HRESULT CloseHold(IKXQObject* hold, const VARIANT& reason) override;
  // An empty collection of the store's.
  HRESULT CreateObjectCollection(IKXQObjectCollection** collection) override;

  // store::StoreObserver
  HRESULT BeforeDelete(IKXQObject* object) override;
  void ObjectCreated(LONG id, const std::u16string& class_name) override;
  void ValueChanged(LONG id, const std::u16string& attribute) override;
  void TriggerFired(LONG owner_id, const std::u16string& trigger,
                    const std::u16string& key) override;
  void TransactionEnded(bool committed) override;
  void WorkflowRecorded(LONG id, LONG code, const std::u16string& text) override;

 private:
  struct Fired {
    LONG owner = 0;
    std::u16string trigger;
    std::vector<std::u16string> keys;
  };
  HRESULT StatusResult(const store::Status& status);
  // Forgets what the store reported of a transaction: a new one begins, or
  // it was rolled back.
  void ForgetTransaction();

  store::Store& store_;
  std::function<bool(const std::u16string&)> is_module_;
  bool host_change_open_ = false;
  // Recorded since the last TakeNotifications, in order.
  std::vector<LONG> created_;
  std::vector<Fired> fired_;
  // owner id -> its entries of fired_: a change that fires the triggers of
  // many objects finds each one's entry without a scan of them all.
  std::unordered_map<LONG, std::vector<size_t>> fired_of_;
  std::vector<std::string> delivered_;
  std::vector<Change> changes_;
  std::unordered_map<LONG, size_t> change_of_;  // object id -> its entry of changes_
  std::vector<std::string> workflow_;
};

}  // namespace kx::host
