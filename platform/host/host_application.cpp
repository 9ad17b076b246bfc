#include "host/host_application.h"

#include "com/dispatch_impl.h"
#include "com/errorinfo.h"
#include "host/errors.h"
#include "host/events.h"
#include "host/failure_points.h"
#include "host/internal/xml_text.h"
#include "host/store_session.h"
#include "host/template_library.h"

namespace kx::host {

using internal::BstrView;
using internal::Fail;

HRESULT ClassConfirmation::ConfirmClass(BSTR className) {
  classes_.emplace_back(BstrView(className));
  if (log_ != nullptr) log_->push_back(u"confirm class " + classes_.back());
  return S_OK;
}

Application::Application(Ref<Settings> settings, Ref<Journal> journal, Ref<Privileges> privileges)
    : settings_(std::move(settings)),
      journal_(std::move(journal)),
      privileges_(std::move(privileges)),
      confirmation_(MakeRef<ClassConfirmation>()) {
  confirmation_->SetLog(&host_calls_);
}

Application::~Application() = default;

void Application::SetStore(IKXQDatabase* database, IKXQSchema* schema,
                           IKXQTemplateLibrary* library) {
  database_ = internal::StoreRef<IKXQDatabase>(database);
  schema_ = internal::StoreRef<IKXQSchema>(schema);
  library_ = library ? internal::StoreRef<IKXQTemplateLibrary>(
                           MakeRef<TemplateLibrary>(library, settings_).get())
                     : internal::StoreRef<IKXQTemplateLibrary>();
}

void Application::SetProjects(IKXQProject* active, IKXQProject* root) {
  active_project_ = internal::StoreRef<IKXQProject>(active);
  root_project_ = internal::StoreRef<IKXQProject>(root);
}

void Application::AddService(std::u16string name, IDispatch* service) {
  services_[std::move(name)] = Ref<IDispatch>(service);
}

void Application::ClearTexts() {
  warnings_.clear();
  notices_.clear();
  messages_.clear();
  diagnostics_.clear();
  host_calls_.clear();
}

// ---- pending change events ----

std::vector<DeliveredEvent> Application::DeliverPendingEvents() {
  std::vector<DeliveredEvent> delivered;
  // Take the list first: a serialiser may call back into the application,
  // even post; what it posts is delivered in a further pass, a bounded
  // number of times.
  for (int pass = 0; pass < 8 && !pending_.empty(); ++pass) {
    const std::vector<Ref<IKXQApplicationEvent>> events = pending_.TakeAll();
    DeliverEvents(events, delivered);
  }
  DiscardPendingEvents();
  return delivered;
}

void Application::DeliverEvents(const std::vector<Ref<IKXQApplicationEvent>>& events,
                                std::vector<DeliveredEvent>& delivered) {
  for (const auto& event : events) {
    DeliveredEvent out;
    LONG count = 0;
    out.result = event->get_Count(&count);
    for (LONG i = 1; SUCCEEDED(out.result) && i <= count; ++i) {
      BSTR name = nullptr;
      out.result = event->get_Item(i, &name);
      if (SUCCEEDED(out.result)) out.recipients.emplace_back(BstrView(name));
      SysFreeString(name);
    }
    out.key = EventKey(event.get());
    BSTR message = nullptr;
    BSTR xml = nullptr;
    const HRESULT serialised = event->SerializeEvent(&message, &xml);
    if (SUCCEEDED(out.result)) out.result = serialised;
    out.message_name = BstrView(message);
    if (SUCCEEDED(serialised) && xml) out.xml = std::u16string(BstrView(xml));
    SysFreeString(message);
    SysFreeString(xml);
    delivered.push_back(std::move(out));
  }
}

void Application::DiscardPendingEvents() {
  // Released once off the list: a release may call back into the host.
  const std::vector<Ref<IKXQApplicationEvent>> events = pending_.TakeAll();
}

void Application::DiscardPendingEventsAfter(size_t kept) { pending_.Truncate(kept); }

HRESULT Application::PostEvent(IKXQApplicationEvent* event) {
  if (HRESULT hr = failures_.Check("PostEvent"); FAILED(hr)) return hr;
  if (!event) return Fail(E_POINTER, u"No event to post");
  pending_.Add(event);
  return S_OK;
}

HRESULT Application::GetPendingEvents(SAFEARRAY** events) {
  if (HRESULT hr = failures_.Check("GetPendingEvents"); FAILED(hr))
    return internal::NullOut(hr, events);
  return pending_.All(events);
}

HRESULT Application::GetPendingEventsOfKey(BSTR key, SAFEARRAY** events) {
  if (HRESULT hr = failures_.Check("GetPendingEventsOfKey"); FAILED(hr))
    return internal::NullOut(hr, events);
  return pending_.OfKey(BstrView(key), events);
}

HRESULT Application::QueryInterface(REFIID iid, void** out) {
  if (out && IsEqualGUID(iid, kx_uuidof<IKXQPendingEventLookup>())) {
    *out = static_cast<IKXQPendingEventLookup*>(this);
    AddRef();
    return S_OK;
  }
  return DispatchObject::QueryInterface(iid, out);
}

// ---- store and configuration ----

HRESULT Application::get_Schema(IKXQSchema** schema) {
  if (HRESULT hr = failures_.Check("get_Schema"); FAILED(hr)) return internal::NullOut(hr, schema);
  return schema_.CopyTo(schema);
}
HRESULT Application::get_Database(IKXQDatabase** database) {
  if (HRESULT hr = failures_.Check("get_Database"); FAILED(hr))
    return internal::NullOut(hr, database);
  return database_.CopyTo(database);
}
HRESULT Application::get_TemplateLibrary(IKXQTemplateLibrary** library) {
  if (HRESULT hr = failures_.Check("get_TemplateLibrary"); FAILED(hr))
    return internal::NullOut(hr, library);
  return library_.CopyTo(library);
}

HRESULT Application::get_Settings(IKXQSettings** settings) {
  if (HRESULT hr = failures_.Check("get_Settings"); FAILED(hr))
    return internal::NullOut(hr, settings);
  if (!settings) return E_POINTER;
  *settings = Ref<IKXQSettings>(settings_.get()).Detach();
  return S_OK;
}

HRESULT Application::get_Journal(IKXQJournal** journal) {
  if (HRESULT hr = failures_.Check("get_Journal"); FAILED(hr))
    return internal::NullOut(hr, journal);
  if (!journal) return E_POINTER;
  *journal = Ref<IKXQJournal>(journal_.get()).Detach();
  return S_OK;
}

HRESULT Application::get_Privileges(IKXQPrivileges** privileges) {
  if (HRESULT hr = failures_.Check("get_Privileges"); FAILED(hr))
    return internal::NullOut(hr, privileges);
  if (!privileges) return E_POINTER;
  *privileges = Ref<IKXQPrivileges>(privileges_.get()).Detach();
  return S_OK;
}

HRESULT Application::get_ActiveProject(IKXQProject** project) {
  if (HRESULT hr = failures_.Check("get_ActiveProject"); FAILED(hr))
    return internal::NullOut(hr, project);
  return active_project_.CopyTo(project);
}
HRESULT Application::get_RootProject(IKXQProject** project) {
  if (HRESULT hr = failures_.Check("get_RootProject"); FAILED(hr))
    return internal::NullOut(hr, project);
  return root_project_.CopyTo(project);
}

HRESULT Application::SwitchEvaluation(LONG mode, VARIANT* previous) {
  if (HRESULT hr = failures_.Check("SwitchEvaluation"); FAILED(hr)) return hr;
  if (previous) {
    VariantClear(previous);
    previous->vt = VT_I4;
    previous->lVal = evaluation_mode_;
  }
  evaluation_mode_ = mode;
  return S_OK;
}

// ---- current document ----

HRESULT Application::get_CurrentDatasheet(IKXQObject** datasheet) {
  if (HRESULT hr = failures_.Check("get_CurrentDatasheet"); FAILED(hr))
    return internal::NullOut(hr, datasheet);
  return current_datasheet_.CopyTo(datasheet);
}
HRESULT Application::put_CurrentDatasheet(IKXQObject* datasheet) {
  if (HRESULT hr = failures_.Check("put_CurrentDatasheet"); FAILED(hr)) return hr;
  current_datasheet_ = internal::StoreRef<IKXQObject>(datasheet);
  return S_OK;
}
HRESULT Application::get_CurrentPage(IKXQObject** page) {
  if (HRESULT hr = failures_.Check("get_CurrentPage"); FAILED(hr))
    return internal::NullOut(hr, page);
  return current_page_.CopyTo(page);
}
HRESULT Application::put_CurrentPage(IKXQObject* page) {
  if (HRESULT hr = failures_.Check("put_CurrentPage"); FAILED(hr)) return hr;
  current_page_ = internal::StoreRef<IKXQObject>(page);
  return S_OK;
}

// ---- texts ----

HRESULT Application::LogWarning(BSTR text) {
  if (HRESULT hr = failures_.Check("LogWarning"); FAILED(hr)) return hr;
  warnings_.emplace_back(BstrView(text));
  return S_OK;
}
HRESULT Application::LogNotice(BSTR text) {
  if (HRESULT hr = failures_.Check("LogNotice"); FAILED(hr)) return hr;
  notices_.emplace_back(BstrView(text));
  return S_OK;
}
HRESULT Application::ShowMessage(BSTR text) {
  if (HRESULT hr = failures_.Check("ShowMessage"); FAILED(hr)) return hr;
  messages_.emplace_back(BstrView(text));
  return S_OK;
}
HRESULT Application::LogDiagnostic(BSTR text) {
  if (HRESULT hr = failures_.Check("LogDiagnostic"); FAILED(hr)) return hr;
  diagnostics_.emplace_back(BstrView(text));
  return S_OK;
}

// ---- privileges ----

HRESULT Application::GetLocalPrivileges(SAFEARRAY** table) {
  if (HRESULT hr = failures_.Check("GetLocalPrivileges"); FAILED(hr))
    return internal::NullOut(hr, table);
  if (!table) return E_POINTER;
  *table = nullptr;
  const auto& rows = privileges_->local_privileges();
  if (rows.empty()) return S_OK;
  SAFEARRAYBOUND bounds[2];
  bounds[0].lLbound = 0;
  bounds[0].cElements = static_cast<ULONG>(rows.size());
  bounds[1].lLbound = 0;
  bounds[1].cElements = 2;
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (!array) return E_OUTOFMEMORY;
  for (LONG row = 0; row < static_cast<LONG>(rows.size()); ++row) {
    const auto& [name, granted] = rows[static_cast<size_t>(row)];
    VARIANT cell;
    VariantInit(&cell);
    cell.vt = VT_BSTR;
    cell.bstrVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    LONG index[2] = {row, 0};
    HRESULT hr = cell.bstrVal ? SafeArrayPutElement(array, index, &cell) : E_OUTOFMEMORY;
    VariantClear(&cell);
    if (SUCCEEDED(hr)) {
      cell.vt = VT_BOOL;
      cell.boolVal = granted ? VARIANT_TRUE : VARIANT_FALSE;
      index[1] = 1;
      hr = SafeArrayPutElement(array, index, &cell);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
  }
  *table = array;
  return S_OK;
}

// ---- object creation, holds, template work ----

HRESULT Application::BeginObjectCreation() {
  if (HRESULT hr = failures_.Check("BeginObjectCreation"); FAILED(hr)) return hr;
  ++object_creation_depth_;
  host_calls_.push_back(u"begin object creation");
  return S_OK;
}

HRESULT Application::EndObjectCreation() {
  if (HRESULT hr = failures_.Check("EndObjectCreation"); FAILED(hr)) return hr;
  if (object_creation_depth_ == 0) {
    return Fail(E_UNEXPECTED, u"End of object creation without its begin");
  }
  --object_creation_depth_;
  host_calls_.push_back(u"end object creation");
  return S_OK;
}

HRESULT Application::get_ClassConfirmation(IKXQClassConfirmation** confirmation) {
  if (HRESULT hr = failures_.Check("get_ClassConfirmation"); FAILED(hr))
    return internal::NullOut(hr, confirmation);
  if (!confirmation) return E_POINTER;
  *confirmation = Ref<IKXQClassConfirmation>(confirmation_.get()).Detach();
  return S_OK;
}

HRESULT Application::CreateObjectCollection(IKXQObjectCollection** collection) {
  if (HRESULT hr = failures_.Check("CreateObjectCollection"); FAILED(hr))
    return internal::NullOut(hr, collection);
  if (!collection) return E_POINTER;
  *collection = nullptr;
  if (!session_) return Fail(E_NOTIMPL, u"This host has no object store");
  return session_->CreateObjectCollection(collection);
}

HRESULT Application::CreateHold(BSTR name, VARIANT reason, IKXQObject** hold) {
  if (HRESULT hr = failures_.Check("CreateHold"); FAILED(hr)) return internal::NullOut(hr, hold);
  if (!hold) return E_POINTER;
  *hold = nullptr;
  if (!session_) return Fail(E_NOTIMPL, u"This host has no object store");
  return session_->CreateHold(name, reason, hold);
}

HRESULT Application::CloseHold(IKXQObject* hold, VARIANT reason) {
  if (HRESULT hr = failures_.Check("CloseHold"); FAILED(hr)) return hr;
  if (!hold) return Fail(E_POINTER, u"No hold to close");
  if (!session_) return Fail(E_NOTIMPL, u"This host has no object store");
  return session_->CloseHold(hold, reason);
}

HRESULT Application::BeginTemplateWork() {
  if (HRESULT hr = failures_.Check("BeginTemplateWork"); FAILED(hr)) return hr;
  ++template_work_depth_;
  return S_OK;
}

HRESULT Application::EndTemplateWork() {
  if (HRESULT hr = failures_.Check("EndTemplateWork"); FAILED(hr)) return hr;
  if (template_work_depth_ == 0) {
    return Fail(E_UNEXPECTED, u"End of template work without its begin");
  }
  --template_work_depth_;
  return S_OK;
}

HRESULT Application::get_RebuildMode(VARIANT_BOOL* mode) {
  if (HRESULT hr = failures_.Check("get_RebuildMode"); FAILED(hr)) return hr;
  if (!mode) return E_POINTER;
  *mode = rebuild_mode_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT Application::put_RebuildMode(VARIANT_BOOL mode) {
  if (HRESULT hr = failures_.Check("put_RebuildMode"); FAILED(hr)) return hr;
  rebuild_mode_ = mode != VARIANT_FALSE;
  return S_OK;
}

HRESULT Application::GetService(BSTR name, IDispatch** service) {
  if (HRESULT hr = failures_.Check("GetService"); FAILED(hr)) return internal::NullOut(hr, service);
  if (!service) return E_POINTER;
  *service = nullptr;
  const auto found = services_.find(std::u16string(BstrView(name)));
  if (found == services_.end() || !found->second) {
    return Fail(E_INVALIDARG, u"The host offers no service of that name");
  }
  *service = found->second.AddRefCopy();
  return S_OK;
}

}  // namespace kx::host
