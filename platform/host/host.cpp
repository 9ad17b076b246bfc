#include "host/host.h"

#include "com/comutil.h"
#include "com/errorinfo.h"
#include "host/errors.h"
#include "host/internal/xml_text.h"
#include "store/database.h"
#include "store/templates.h"

namespace kx::host {

using internal::BstrView;

namespace {

void StoreResultValue(VARIANT* value, ServiceResult& result) {
  result.type = value->vt;
  result.raw = *value;
  if (value->vt == VT_EMPTY || value->vt == VT_NULL) return;
  _variant_t text;
  if (SUCCEEDED(VariantChangeType(&text, value, 0, VT_BSTR))) {
    result.value = BstrView(text.bstrVal);
  }
}

}  // namespace

Host::Host()
    : settings_(MakeRef<Settings>()),
      journal_(MakeRef<Journal>()),
      privileges_(MakeRef<Privileges>()),
      registrar_(MakeRef<Registrar>()),
      application_(MakeRef<Application>(settings_, journal_, privileges_)),
      drawing_(MakeRef<DrawingService>(application_.get())) {
  application_->AddService(u"DrawingServices", drawing_.get());
}

Host::~Host() {
  Detach();
  drawing_->Disconnect();
}

void Host::SetStoreSession(StoreSession* session) {
  session_ = session;
  application_->SetStoreSession(session);
  if (!session_) return;
  // A session may outlive the host, or the host move on to another one:
  // the handler then does nothing. A session gone first is never touched.
  std::weak_ptr<Host*> host = alive_;
  session_->SetDeleteHandler([host, session](IKXQObject* object) -> HRESULT {
    const std::shared_ptr<Host*> self = host.lock();
    if (!self || (*self)->session_ != session) return S_OK;
    return (*self)->AnnounceDelete(object);
  });
}

// The delete event, delivered while the object can still be read. It runs
// inside whatever transaction the deletion runs in: that of a call into the
// module, or a change the host makes itself.
HRESULT Host::AnnounceDelete(IKXQObject* object) {
  if (!module_) return S_OK;
  if (delete_depth_ >= kMaxNotificationRounds) {
    return internal::Fail(E_FAIL, u"Deletions kept causing deletions " +
                                      internal::FormatReal(kMaxNotificationRounds) +
                                      u" levels deep");
  }
  ++delete_depth_;
  VARIANT arguments;
  VariantInit(&arguments);
  const HRESULT hr = RouteDatabaseEvent(kDeleteEventKind, object, &arguments);
  --delete_depth_;
  return hr;
}

HRESULT Host::Attach(IKXQDataService* module) {
  if (!module) return internal::Fail(E_POINTER, u"No module to attach");
  // Referenced before the detach: `module` may be the attached one, held
  // only by this host.
  Ref<IKXQDataService> attached(module);
  Detach();
  module_ = std::move(attached);
  const HRESULT hr = module_->Attach(application_.get());
  if (FAILED(hr)) module_ = nullptr;
  return hr;
}

void Host::Detach() {
  if (!module_) return;
  // Held events may point into the module: they go with it, unread.
  application_->DiscardPendingEvents();
  module_->Detach();
  module_ = nullptr;
}

// Runs one call into the module inside one store transaction, then delivers
// what the store recorded and the change events the module posted. A
// failure anywhere rolls the transaction back and drops the events.
template <class Call>
CallResult Host::Run(Call&& call) {
  CallResult result;
  if (!module_) {
    result.hr = E_UNEXPECTED;
    result.error = result.description = u"No module is attached";
    return result;
  }
  if (in_call_) {
    result.hr = E_UNEXPECTED;
    result.error = result.description = u"A call into the module is already running";
    return result;
  }
  in_call_ = true;
  const size_t held = application_->pending_count();
  application_->ClearTexts();
  if (session_) {
    if (HRESULT hr = session_->Begin(); FAILED(hr)) {
      result.hr = hr;
      result.error = internal::TakeErrorDescription();
      if (result.error.empty()) result.error = u"Cannot begin a store transaction";
      result.description = internal::PlainDescription(result.error);
      in_call_ = false;
      return result;
    }
  }
  SetErrorInfo(0, nullptr);
  result.hr = call();
  if (FAILED(result.hr)) {
    result.error = internal::TakeErrorDescription();
  } else {
    // A success other than S_OK (S_FALSE) stays the call's answer.
    const HRESULT delivered = DeliverNotifications(result.error);
    if (FAILED(delivered)) result.hr = delivered;
  }
  if (SUCCEEDED(result.hr)) {
    // Events are read inside the transaction, so their documents show the
    // changes of this call.
    if (!hold_events_) result.events = application_->DeliverPendingEvents();
    if (session_) {
      if (HRESULT hr = session_->Commit(); FAILED(hr)) {
        result.hr = hr;
        result.error = internal::TakeErrorDescription();
        if (result.error.empty()) result.error = u"Cannot commit the store transaction";
        result.events.clear();
      }
    }
  }
  // A read of the store that failed during the call is its reason: the
  // module saw only that something was missing.
  std::u16string read_failure;
  if (FAILED(result.hr) && session_) {
    if (HRESULT read = session_->TakeReadFailure(&read_failure); FAILED(read)) result.hr = read;
  }
  if (FAILED(result.hr)) {
    if (hold_events_) {
      application_->DiscardPendingEventsAfter(held);
    } else {
      application_->DiscardPendingEvents();
    }
    if (session_) {
      session_->Rollback();
      session_->TakeNotifications();
    }
  }
  result.description =
      read_failure.empty() ? internal::PlainDescription(result.error) : read_failure;
  result.warnings = application_->warnings();
  result.notices = application_->notices();
  result.messages = application_->messages();
  result.host_calls = application_->host_calls();
  in_call_ = false;
  return result;
}

HRESULT Host::DeliverNotifications(std::u16string& error) {
  if (!session_) return S_OK;
  for (int round = 0; round < kMaxNotificationRounds; ++round) {
    const std::vector<StoreNotification> notifications = session_->TakeNotifications();
    if (notifications.empty()) return S_OK;
    for (const auto& notification : notifications) {
      SetErrorInfo(0, nullptr);
      if (HRESULT hr = Route(notification); FAILED(hr)) {
        error = internal::TakeErrorDescription();
        return hr;
      }
    }
  }
  error = u"Database events and triggers kept arising after " +
          internal::FormatReal(kMaxNotificationRounds) + u" rounds of delivery";
  return E_FAIL;
}

HRESULT Host::Route(const StoreNotification& notification) {
  if (notification.kind == StoreNotification::Kind::kTrigger) {
    return module_->TriggerFired(notification.trigger.get(), application_.get());
  }
  VARIANT arguments;
  VariantInit(&arguments);
  VariantCopy(&arguments, &notification.arguments);
  const HRESULT hr =
      RouteDatabaseEvent(notification.event_kind, notification.object.get(), &arguments);
  VariantClear(&arguments);
  return hr;
}

HRESULT Host::RouteDatabaseEvent(LONG event_kind, IKXQObject* object, VARIANT* arguments) {
  for (const auto& subscription : registrar_->subscriptions()) {
    if (subscription.event_kind != event_kind) continue;
    bool matches = !session_;
    for (const auto& class_name : subscription.classes) {
      if (matches) break;
      matches = session_->IsOfClass(object, class_name);
    }
    if (!matches) continue;
    if (HRESULT hr = module_->OnDatabaseEvent(subscription.local_kind, object, arguments);
        FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

CallResult Host::StartUp() {
  return Run([&] { return module_->StartUp(registrar_.get()); });
}

std::vector<std::u16string> Host::FileFolders() {
  std::vector<std::u16string> folders = settings_->FolderPaths();
  IKXQTemplateLibrary* library = nullptr;
  if (SUCCEEDED(application_->get_TemplateLibrary(&library)) && library) {
    for (auto folder :
         {&IKXQTemplateLibrary::get_TemplatesFolder, &IKXQTemplateLibrary::get_BitmapFolder}) {
      BSTR path = nullptr;
      if (SUCCEEDED((library->*folder)(&path)) && SysStringLen(path) != 0) {
        folders.push_back(ToHostPath(internal::BstrView(path)));
      }
      SysFreeString(path);
    }
    library->Release();
  }
  SetErrorInfo(0, nullptr);
  return folders;
}

RequestResult Host::Request(std::u16string_view name, std::u16string_view text) {
  return SendRequest(name, text, nullptr);
}

RequestResult Host::RequestWithExtra(std::u16string_view name, std::u16string_view text,
                                     const VARIANT& extra) {
  return SendRequest(name, text, &extra);
}

CallResult Host::CallReserved(int slot) {
  if (slot < 1 || slot > 5) {
    CallResult result;
    result.hr = E_INVALIDARG;
    result.error = u"The module has no not-implemented operation " + internal::FormatReal(slot);
    result.description = result.error;
    return result;
  }
  return Run([&] {
    switch (slot) {
      case 1: return module_->Reserved1();
      case 2: return module_->Reserved2();
      case 3: return module_->Reserved3();
      case 4: return module_->Reserved4();
      default: return module_->Reserved5();
    }
  });
}

CallResult Host::DeliverHeldEvents() {
  const bool hold = hold_events_;
  hold_events_ = false;
  CallResult result = Run([] { return S_OK; });
  hold_events_ = hold;
  return result;
}

RequestResult Host::SendRequest(std::u16string_view name, std::u16string_view text,
                                const VARIANT* extra) {
  RequestResult result;
  Ref<Response> response = MakeRef<Response>();
  Ref<RequestContext> context = MakeRef<RequestContext>(response);
  response->failures() = response_failures_;
  context->failures() = context_failures_;
  response->SetFileFolders(FileFolders());
  const _bstr_t name_bstr(name);
  const _bstr_t text_bstr(text);
  static_cast<CallResult&>(result) = Run([&] {
    if (!extra) return module_->ProcessRequest(name_bstr, text_bstr, context.get());
    _variant_t copy(*extra);
    return module_->ProcessRequestWithResponse(name_bstr, text_bstr, context.get(), copy);
  });
  response->Finish(result.succeeded());
  if (!result.succeeded() && module_) {
    _com_ptr_t<IKXQSchema> schema;
    if (FAILED(application_->get_Schema(&schema))) schema = nullptr;
    result.hint = FailedRequestHint(name, text, result.description, schema);
  }
  result.reply = response->TakeText();
  result.files = response->files();
  result.reports = context->reports();
  return result;
}

CallResult Host::DatabaseEvent(LONG event_kind, IKXQObject* object, const VARIANT& arguments) {
  return Run([&] {
    _variant_t copy;
    VariantCopy(&copy, &arguments);
    return RouteDatabaseEvent(event_kind, object, &copy);
  });
}

CallResult Host::ModuleEvent(LONG local_kind, IKXQObject* object, const VARIANT& arguments) {
  return Run([&] {
    _variant_t copy;
    VariantCopy(&copy, &arguments);
    return module_->OnDatabaseEvent(local_kind, object, &copy);
  });
}

CallResult Host::FireTrigger(IKXQTrigger* trigger) {
  return Run([&] { return module_->TriggerFired(trigger, application_.get()); });
}

namespace {

// Calls automation method `method` of `target` with `arguments` (in call
// order) through IDispatch; the result goes to *value.
HRESULT InvokeByName(IDispatch* target, std::u16string_view method,
                     const std::vector<VARIANT>& arguments, VARIANT* value,
                     const std::u16string& owner) {
  std::u16string name(method);
  LPOLESTR names[1] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return internal::Fail(hr, owner + u" has no method " + name);
  // Invoke takes its arguments last first.
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPPARAMS params{};
  params.rgvarg = reversed.empty() ? nullptr : reversed.data();
  params.cArgs = static_cast<UINT>(reversed.size());
  EXCEPINFO exception{};
  UINT argument_error = 0;
  hr = target->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, value,
                      &exception, &argument_error);
  if (hr == DISP_E_EXCEPTION) {
    const HRESULT code = exception.scode ? exception.scode : E_FAIL;
    const std::u16string description(BstrView(exception.bstrDescription));
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    return internal::Fail(code, description);
  }
  if (hr == DISP_E_BADPARAMCOUNT) {
    return internal::Fail(hr, u"Wrong number of arguments for " + name);
  }
  return hr;
}

}  // namespace

ServiceResult Host::CallObjectService(LONG kind, IKXQObject* object, std::u16string_view method,
                                      const std::vector<VARIANT>& arguments) {
  ServiceResult result;
  _variant_t value;
  static_cast<CallResult&>(result) = Run([&]() -> HRESULT {
    _variant_t reserved;
    IDispatch* raw = nullptr;
    HRESULT hr = module_->GetObjectServices(kind, reserved, object, application_.get(), &raw);
    Ref<IDispatch> services = Ref<IDispatch>::Adopt(raw);
    if (FAILED(hr)) return hr;
    if (!services) return internal::Fail(E_FAIL, u"The module gave no object service");
    return InvokeByName(services.get(), method, arguments, &value, u"The object service");
  });
  if (result.succeeded()) StoreResultValue(&value, result);
  return result;
}

ServiceResult Host::CallAutomation(std::u16string_view method,
                                   const std::vector<VARIANT>& arguments) {
  ServiceResult result;
  _variant_t value;
  static_cast<CallResult&>(result) = Run([&]() -> HRESULT {
    IDispatch* raw = nullptr;
    HRESULT hr = module_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&raw));
    Ref<IDispatch> automation = Ref<IDispatch>::Adopt(raw);
    if (FAILED(hr) || !automation) {
      return internal::Fail(FAILED(hr) ? hr : E_NOINTERFACE,
                            u"The module has no automation interface");
    }
    return InvokeByName(automation.get(), method, arguments, &value, u"The module");
  });
  if (result.succeeded()) StoreResultValue(&value, result);
  return result;
}

ServiceResult Host::RunMethod(LONG method_id, IKXQObject* object) {
  ServiceResult result;
  _variant_t value;
  static_cast<CallResult&>(result) = Run([&] {
    _variant_t reserved1, reserved2;
    return module_->RunMethod(method_id, reserved1, object, reserved2, application_.get(), &value);
  });
  if (result.succeeded()) StoreResultValue(&value, result);
  return result;
}

}  // namespace kx::host
