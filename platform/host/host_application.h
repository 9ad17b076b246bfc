// The host application object handed to modules: the store pointers and
// projects the host program gives it, the user's current datasheet and
// page, the texts modules send to the log and the user, and the change
// events waiting for delivery.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/application.h"
#include "host/com_object.h"
#include "host/config.h"
#include "host/failure_points.h"
#include "host/pending_events.h"
#include "host/store_ref.h"

namespace kx::host {

class StoreSession;

// One change event as delivered: its recipients and its message. `xml` is
// empty when the event could not build its document.
struct DeliveredEvent {
  std::vector<std::u16string> recipients;
  std::u16string message_name;
  // The event's key, when it answers the automation property "Key" (the
  // datasheet service's events do); for diagnosis only.
  std::optional<std::u16string> key;
  std::optional<std::u16string> xml;
  HRESULT result = S_OK;  // of the event's own operations
};

// Records the class names modules ask the user to confirm (and, when
// given a log, a line "confirm class NAME" in it).
class ClassConfirmation final : public internal::DispatchObject<IKXQClassConfirmation> {
 public:
  HRESULT ConfirmClass(BSTR className) override;
  const std::vector<std::u16string>& classes() const { return classes_; }
  void Clear() { classes_.clear(); }
  void SetLog(std::vector<std::u16string>* log) { log_ = log; }

 private:
  std::vector<std::u16string> classes_;
  std::vector<std::u16string>* log_ = nullptr;
};

// Answers IKXQPendingEventLookup too: its pending store keeps the events by
// key.
class Application final : public internal::DispatchObject<IKXQApplication>,
                          public IKXQPendingEventLookup {
 public:
  Application(Ref<Settings> settings, Ref<Journal> journal, Ref<Privileges> privileges);
  ~Application() override;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }

  // ---- set up by the host program ----
  // Store interfaces (each may be null); references are taken. Modules get
  // the library through a TemplateLibrary, whose folders the settings may
  // replace.
  void SetStore(IKXQDatabase* database, IKXQSchema* schema, IKXQTemplateLibrary* library);
  void SetProjects(IKXQProject* active, IKXQProject* root);
  // Not owned; may be null (then holds and collections fail with E_NOTIMPL).
  void SetStoreSession(StoreSession* session) { session_ = session; }
  // A service GetService hands out under `name` (compared exactly).
  void AddService(std::u16string name, IDispatch* service);

  // ---- what modules left ----
  const std::vector<std::u16string>& warnings() const { return warnings_; }
  const std::vector<std::u16string>& notices() const { return notices_; }
  const std::vector<std::u16string>& messages() const { return messages_; }
  const std::vector<std::u16string>& diagnostics() const { return diagnostics_; }
  // What modules asked of the host itself during the call, in order: "begin
  // object creation", "end object creation", "confirm class NAME".
  const std::vector<std::u16string>& host_calls() const { return host_calls_; }
  void ClearTexts();
  ClassConfirmation& class_confirmation() { return *confirmation_; }
  IKXQObject* current_datasheet() const { return current_datasheet_.get(); }
  IKXQObject* current_page() const { return current_page_.get(); }
  int object_creation_depth() const { return object_creation_depth_; }
  int template_work_depth() const { return template_work_depth_; }
  bool rebuild_mode() const { return rebuild_mode_; }
  LONG evaluation_mode() const { return evaluation_mode_; }
  Settings& settings() { return *settings_; }
  Journal& journal() { return *journal_; }
  Privileges& privileges() { return *privileges_; }

  // ---- pending change events ----
  size_t pending_count() const { return pending_.size(); }
  // Reads every pending event (recipients, then message) in posting order
  // and releases it. An event failing its own operations is delivered with
  // what it gave and its failure in `result`.
  std::vector<DeliveredEvent> DeliverPendingEvents();
  // Releases every pending event unread (the call that posted them failed).
  void DiscardPendingEvents();
  // Releases, unread, the pending events after the first `kept` (those a
  // failed call posted while earlier ones were held).
  void DiscardPendingEventsAfter(size_t kept);

  // ---- IKXQApplication ----
  HRESULT get_Schema(IKXQSchema** schema) override;
  HRESULT get_Database(IKXQDatabase** database) override;
  HRESULT get_TemplateLibrary(IKXQTemplateLibrary** library) override;
  HRESULT get_Settings(IKXQSettings** settings) override;
  HRESULT get_Journal(IKXQJournal** journal) override;
  HRESULT get_Privileges(IKXQPrivileges** privileges) override;
  HRESULT get_ActiveProject(IKXQProject** project) override;
  HRESULT get_RootProject(IKXQProject** project) override;
  HRESULT SwitchEvaluation(LONG mode, VARIANT* previous) override;
  HRESULT get_CurrentDatasheet(IKXQObject** datasheet) override;
  HRESULT put_CurrentDatasheet(IKXQObject* datasheet) override;
  HRESULT get_CurrentPage(IKXQObject** page) override;
  HRESULT put_CurrentPage(IKXQObject* page) override;
  HRESULT LogWarning(BSTR text) override;
  HRESULT LogNotice(BSTR text) override;
  HRESULT ShowMessage(BSTR text) override;
  HRESULT LogDiagnostic(BSTR text) override;
  HRESULT GetLocalPrivileges(SAFEARRAY** table) override;
  HRESULT PostEvent(IKXQApplicationEvent* event) override;
  HRESULT GetPendingEvents(SAFEARRAY** events) override;
  // IKXQPendingEventLookup.
  HRESULT GetPendingEventsOfKey(BSTR key, SAFEARRAY** events) override;
  HRESULT BeginObjectCreation() override;
  HRESULT EndObjectCreation() override;
  HRESULT get_ClassConfirmation(IKXQClassConfirmation** confirmation) override;
  HRESULT CreateObjectCollection(IKXQObjectCollection** collection) override;
  HRESULT CreateHold(BSTR name, VARIANT reason, IKXQObject** hold) override;
  HRESULT CloseHold(IKXQObject* hold, VARIANT reason) override;
  HRESULT BeginTemplateWork() override;
  HRESULT EndTemplateWork() override;
  HRESULT get_RebuildMode(VARIANT_BOOL* mode) override;
  HRESULT put_RebuildMode(VARIANT_BOOL mode) override;
  HRESULT GetService(BSTR name, IDispatch** service) override;

  // Injected failures of this object's operations (for tests).
  FailurePoints& failures() { return failures_; }

 private:
  FailurePoints failures_;
  static void DeliverEvents(const std::vector<Ref<IKXQApplicationEvent>>& events,
                            std::vector<DeliveredEvent>& delivered);

  Ref<Settings> settings_;
  Ref<Journal> journal_;
  Ref<Privileges> privileges_;
  Ref<ClassConfirmation> confirmation_;
  internal::StoreRef<IKXQDatabase> database_;
  internal::StoreRef<IKXQSchema> schema_;
  internal::StoreRef<IKXQTemplateLibrary> library_;
  internal::StoreRef<IKXQProject> active_project_;
  internal::StoreRef<IKXQProject> root_project_;
  internal::StoreRef<IKXQObject> current_datasheet_;
  internal::StoreRef<IKXQObject> current_page_;
  StoreSession* session_ = nullptr;
  std::map<std::u16string, Ref<IDispatch>> services_;
  PendingEvents pending_;
  std::vector<std::u16string> warnings_, notices_, messages_, diagnostics_, host_calls_;
  int object_creation_depth_ = 0;
  int template_work_depth_ = 0;
  bool rebuild_mode_ = false;
  LONG evaluation_mode_ = 0;
};

}  // namespace kx::host
