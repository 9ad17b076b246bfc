// kx::host::Host: drives one data-service module the way the host program
// does: attach, start-up, requests, database events, trigger callbacks and
// object-service calls, each as one call with its own transaction, its
// reply, and its change events delivered afterwards.
//
// Threading: one thread; calls do not nest.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/comutil.h"
#include "host/com_object.h"
#include "host/config.h"
#include "host/dataservice.h"
#include "host/drawing_service.h"
#include "host/hints.h"
#include "host/host_application.h"
#include "host/recording_registrar.h"
#include "host/reply.h"
#include "host/store_session.h"

namespace kx::host {

// The outcome of one call into the module.
struct CallResult {
  HRESULT hr = S_OK;
  // Description of the failure, from the error information the module (or
  // the host) left; empty on success. The module's is a chain of
  // "<KXError Desc=... />" elements, one per frame it passed, outermost
  // first (the innermost, where it was raised, last), each with the same
  // description.
  std::u16string error;
  // The failure's description as plain text, for a user: the first "Desc"
  // of the chain with its XML escapes undone ("Invalid status"), or `error`
  // as it stands when it is no chain (the host's own texts). When a read of
  // the store failed during the call, that failure instead (the store is
  // damaged, say), with its code as `hr`: the module's own text then names
  // only what it went without. Empty on success.
  std::u16string description;
  // For a failed request, what a user may need beside `description`: what
  // the request lacks, the message names nearest a misspelt one, the
  // values or names the module would have taken (`host/hints.h`). Empty
  // otherwise.
  RequestHint hint;
  // Change events of the call, delivered after it; none when it failed.
  std::vector<DeliveredEvent> events;
  // Texts the module sent to the log and the user during the call.
  std::vector<std::u16string> warnings, notices, messages;
  // What the module asked of the host during the call (object creation,
  // class confirmation), in order.
  std::vector<std::u16string> host_calls;

  bool succeeded() const { return SUCCEEDED(hr); }
  // The failure for a user on one line, the hint beside the description
  // (`FailureLine`).
  std::u16string FailureText() const { return FailureLine(description, hint); }
};

struct RequestResult : CallResult {
  // The reply as the response rendered it; empty when the request failed.
  std::u16string reply;
  std::vector<SentFile> files;
  // Texts the module reported through the request context.
  std::vector<std::u16string> reports;
};

struct ServiceResult : CallResult {
  // The method's result: its type and its text (VariantChangeType to
  // VT_BSTR; empty for VT_EMPTY or when it has no text form).
  VARTYPE type = VT_EMPTY;
  std::u16string value;
  // The result itself, for callers that show objects and arrays.
  _variant_t raw;
};

class Host {
 public:
  // Database events and triggers that keep causing new ones are cut off
  // after this many rounds of delivery, failing the call.
  static constexpr int kMaxNotificationRounds = 32;

  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  Application& application() { return *application_; }
  Registrar& registrar() { return *registrar_; }
  Settings& settings() { return *settings_; }
  Journal& journal() { return *journal_; }
  Privileges& privileges() { return *privileges_; }
  // The drawing service the application offers as "DrawingServices".
  DrawingService& drawing() { return *drawing_; }

  // The store the calls run on (not owned; may be null: no transactions,
  // no notifications, every subscription matches every object). The
  // driver becomes the session's delete handler: a deletion in the store,
  // whoever makes it, first delivers the delete database event (kind 2) to
  // the matching subscriptions, synchronously, while the object can still
  // be read; a failing handler refuses the deletion.
  void SetStoreSession(StoreSession* session);

  // The store's database event kind of a deletion.
  static constexpr LONG kDeleteEventKind = 2;

  // Attaches `module` (AddRef'd, kept until Detach) to the application.
  HRESULT Attach(IKXQDataService* module);
  // Detaches and releases the module (events still held are dropped
  // unread); nothing when none is attached.
  void Detach();
  IKXQDataService* module() const { return module_.get(); }

  // Failures injected into the response and the request context of every
  // later request (each request gets a fresh copy).
  FailurePoints& response_failures() { return response_failures_; }
  FailurePoints& context_failures() { return context_failures_; }

  // The module's start-up registration with the registrar.
  CallResult StartUp();

  // One request with message `name` and request text `text`. Its response
  // sends files only from FileFolders().
  RequestResult Request(std::u16string_view name, std::u16string_view text);

  // A database event of the store's `event_kind` for `object`, delivered as
  // the store would: once per subscription of that kind whose class filter
  // the object matches, with the subscription's local kind. `arguments` is
  // borrowed. No matching subscription: success, nothing called.
  CallResult DatabaseEvent(LONG event_kind, IKXQObject* object, const VARIANT& arguments);

  // The module's request operation with an extra argument (`extra`,
  // borrowed), otherwise as Request.
  RequestResult RequestWithExtra(std::u16string_view name, std::u16string_view text,
                                 const VARIANT& extra);
  // The module's not-implemented operation `slot` (1 to 5, in interface
  // order); another number fails with E_INVALIDARG without a call.
  CallResult CallReserved(int slot);

  // Held events: while set, the change events a call posts stay pending in
  // the application after the call (a later launch may merge into them)
  // instead of being delivered; a failed call discards only its own.
  void SetHoldEvents(bool hold) { hold_events_ = hold; }
  bool hold_events() const { return hold_events_; }
  // Delivers the held events, in one transaction of their own (an event
  // reads the store as it is now); the texts they left come with them.
  CallResult DeliverHeldEvents();

  // The module's database-event operation called directly with `local_kind`.
  CallResult ModuleEvent(LONG local_kind, IKXQObject* object, const VARIANT& arguments);

  // The module's trigger callback for `trigger` (borrowed).
  CallResult FireTrigger(IKXQTrigger* trigger);

  // Asks the module for its object service of `kind` on `object` and calls
  // its automation method `method` with `arguments` (borrowed, in call
  // order) through IDispatch.
  ServiceResult CallObjectService(LONG kind, IKXQObject* object, std::u16string_view method,
                                  const std::vector<VARIANT>& arguments = {});

  // The module's own automation method `method` (its IDispatch, as the
  // host reaches IKXDBDatasheetSvcsMain) with `arguments` (borrowed, in call
  // order; trailing optional ones may be left out).
  ServiceResult CallAutomation(std::u16string_view method,
                               const std::vector<VARIANT>& arguments = {});

  // The module's object-service method `method_id` on `object`.
  ServiceResult RunMethod(LONG method_id, IKXQObject* object);

  // The folders a request may send files from: every folder of the
  // settings and the template library's templates and bitmap folders (as
  // the application hands the library to modules).
  std::vector<std::u16string> FileFolders();

 private:
  template <class Call>
  CallResult Run(Call&& call);
  HRESULT DeliverNotifications(std::u16string& error);
  RequestResult SendRequest(std::u16string_view name, std::u16string_view text,
                            const VARIANT* extra);
  HRESULT Route(const StoreNotification& notification);
  HRESULT RouteDatabaseEvent(LONG event_kind, IKXQObject* object, VARIANT* arguments);
  HRESULT AnnounceDelete(IKXQObject* object);

  Ref<Settings> settings_;
  Ref<Journal> journal_;
  Ref<Privileges> privileges_;
  Ref<Registrar> registrar_;
  Ref<Application> application_;
  Ref<DrawingService> drawing_;
  Ref<IKXQDataService> module_;
  StoreSession* session_ = nullptr;
  FailurePoints response_failures_;
  FailurePoints context_failures_;
  bool in_call_ = false;
  bool hold_events_ = false;
  // Delete events being delivered, one inside the other (a handler that
  // deletes).
  int delete_depth_ = 0;
  // Expires with the host: the sessions' delete handlers test it.
  std::shared_ptr<Host*> alive_ = std::make_shared<Host*>(this);
};

}  // namespace kx::host
