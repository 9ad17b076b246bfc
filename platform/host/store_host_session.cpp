#include "host/store_host_session.h"

#include <algorithm>

#include "com/comutil.h"
#include "com/errorinfo.h"
#include "host/errors.h"
#include "host/utf.h"
#include "store/database.h"
#include "store/object.h"

namespace kx::host {

namespace {

std::string Narrow(std::u16string_view text) { return internal::Utf16ToUtf8(text); }

// Sets one named attribute of `object` to `value` (borrowed).
HRESULT PutAttribute(IKXQObject* object, const char16_t* name, const VARIANT& value) {
  IKXQAttribute* raw = nullptr;
  _variant_t selector(-1L);
  HRESULT hr = object->get_Attribute(_bstr_t(name), selector, &raw);
  _com_ptr_t<IKXQAttribute> attribute(raw, false);
  if (FAILED(hr)) return hr;
  if (!attribute) {
    return internal::Fail(E_FAIL, std::u16string(u"A hold has no attribute ") + name);
  }
  VARIANT empty;
  VariantInit(&empty);
  return attribute->PutValue(empty, empty, value);
}

}  // namespace

StoreHostSession::StoreHostSession(store::Store& store) : store_(store) {
  store_.SetObserver(this);
}

StoreHostSession::~StoreHostSession() {
  AbandonHostChange();
  store_.SetObserver(nullptr);
}

void StoreHostSession::SetHandlerTest(std::function<bool(const std::u16string&)> is_module) {
  is_module_ = std::move(is_module);
}

HRESULT StoreHostSession::StatusResult(const store::Status& status) {
  if (status.ok()) return S_OK;
  const auto text = internal::Utf8ToUtf16(status.message);
  return internal::Fail(status.hr, text ? *text : u"The object store failed");
}

HRESULT StoreHostSession::BeginHostChange() {
  if (host_change_open_) return internal::Fail(E_UNEXPECTED, u"A host change is already open");
  delivered_.clear();
  ForgetTransaction();
  if (HRESULT hr = StatusResult(store_.Begin()); FAILED(hr)) return hr;
  host_change_open_ = true;
  return S_OK;
}

void StoreHostSession::AbandonHostChange() {
  if (!host_change_open_) return;
  host_change_open_ = false;
  if (store_.InTransaction()) (void)store_.Rollback();
}

HRESULT StoreHostSession::Begin() {
  if (host_change_open_) {
    // The call joins the host's change: its transaction is already open.
    host_change_open_ = false;
    return S_OK;
  }
  delivered_.clear();
  ForgetTransaction();
  return StatusResult(store_.Begin());
}

HRESULT StoreHostSession::Commit() { return StatusResult(store_.Commit()); }

HRESULT StoreHostSession::Rollback() {
  if (!store_.InTransaction()) return S_FALSE;
  return StatusResult(store_.Rollback());
}

HRESULT StoreHostSession::TakeReadFailure(std::u16string* why) {
  why->clear();
  const store::Status read = store_.TakeReadFailure();
  if (read.ok()) return S_OK;
  const auto text = internal::Utf8ToUtf16(read.message);
  *why = text ? *text : u"The object store could not be read";
  return read.hr;
}

HRESULT StoreHostSession::BeforeDelete(IKXQObject* object) { return AnnounceDelete(object); }

void StoreHostSession::ObjectCreated(LONG id, const std::u16string&) { created_.push_back(id); }

void StoreHostSession::TriggerFired(LONG owner_id, const std::u16string& trigger,
                                    const std::u16string& key) {
  // One callback per trigger and round, however many of its items fired:
  // the module reads the fired keys from the trigger itself.
  std::vector<size_t>& entries = fired_of_[owner_id];
  for (size_t at : entries) {
    if (fired_[at].trigger == trigger) {
      fired_[at].keys.push_back(key);
      return;
    }
  }
  entries.push_back(fired_.size());
  fired_.push_back({owner_id, trigger, {key}});
}

void StoreHostSession::ValueChanged(LONG id, const std::u16string& attribute) {
  const auto [at, added] = change_of_.try_emplace(id, changes_.size());
  if (added) {
    changes_.push_back({id, {attribute}});
    return;
  }
  Change& change = changes_[at->second];
  if (std::find(change.attributes.begin(), change.attributes.end(), attribute) ==
      change.attributes.end()) {
    change.attributes.push_back(attribute);
  }
}

void StoreHostSession::WorkflowRecorded(LONG id, LONG code, const std::u16string& text) {
  // Said in the workflow's words; a code the store may add later keeps its
  // number.
  const std::string object = "#" + std::to_string(id);
  const std::string quoted = "\"" + internal::Utf16ToUtf8(text) + "\"";
  std::string line;
  switch (code) {
    case 7: line = "submitted " + object + (text.empty() ? "" : ": " + quoted); break;
    case 8: line = "checked " + object + (text.empty() ? "" : ": " + quoted); break;
    case 9: line = "issued " + object + ": " + quoted; break;
    case 10: line = "withdrawn " + object + (text.empty() ? "" : ": " + quoted); break;
    case 199: line = "closed " + object + " at status " + quoted; break;
    case 300: line = "sealed page " + object; break;
    case 0: line = "text of " + object + ": " + quoted; break;
    default:
      if (code > 100 && code < 199) {
        line = "opened " + object + " at status " + quoted;
        // Every opening asks for access mode 2; another one is worth seeing.
        if (code != 102) line += " in access mode " + std::to_string(code - 100);
      } else {
        line = "workflow action " + std::to_string(code) + " of " + object + ": " + quoted;
      }
  }
  workflow_.push_back(line);
}

void StoreHostSession::TransactionEnded(bool committed) {
  if (!committed) ForgetTransaction();
}

void StoreHostSession::ForgetTransaction() {
  changes_.clear();
  change_of_.clear();
  workflow_.clear();
  created_.clear();
  fired_.clear();
  fired_of_.clear();
}

std::vector<StoreNotification> StoreHostSession::TakeNotifications() {
  std::vector<StoreNotification> notifications;
  IKXQDatabase* database = store_.Database();
  const std::vector<LONG> created = std::exchange(created_, {});
  const std::vector<Fired> fired = std::exchange(fired_, {});
  fired_of_.clear();
  for (LONG id : created) {
    IKXQObject* raw = nullptr;
    // An object created and deleted within the same call raises nothing.
    if (FAILED(database->get_Object(id, &raw)) || raw == nullptr) {
      SetErrorInfo(0, nullptr);
      continue;
    }
    StoreNotification notification;
    notification.kind = StoreNotification::Kind::kDatabaseEvent;
    notification.event_kind = kCreateEventKind;
    notification.object = internal::StoreRef<IKXQObject>(raw);
    raw->Release();
    notifications.push_back(notification);
    delivered_.push_back("created #" + std::to_string(id) + " (database event " +
                         std::to_string(kCreateEventKind) + ")");
  }
  for (const Fired& item : fired) {
    if (!is_module_) continue;
    IKXQObject* owner = nullptr;
    if (FAILED(database->get_Object(item.owner, &owner)) || owner == nullptr) {
      SetErrorInfo(0, nullptr);
      continue;
    }
    _com_ptr_t<IKXQObject> owner_holder(owner, false);
    IKXQTrigger* trigger = nullptr;
    if (FAILED(owner->get_Trigger(_bstr_t(item.trigger.c_str()), &trigger)) || !trigger) {
      SetErrorInfo(0, nullptr);
      continue;
    }
    _com_ptr_t<IKXQTrigger> trigger_holder(trigger, false);
    BSTR handler = nullptr;
    const HRESULT hr = trigger->GetHandler(&handler);
    const std::u16string handler_text(handler ? handler : u"", SysStringLen(handler));
    SysFreeString(handler);
    if (FAILED(hr) || !is_module_(handler_text)) {
      SetErrorInfo(0, nullptr);
      continue;
    }
    StoreNotification notification;
    notification.kind = StoreNotification::Kind::kTrigger;
    notification.trigger = internal::StoreRef<IKXQTrigger>(trigger);
    notifications.push_back(notification);
    std::string keys;
    for (const auto& key : item.keys) keys += (keys.empty() ? "" : ", ") + Narrow(key);
    delivered_.push_back("trigger " + Narrow(item.trigger) + " on #" + std::to_string(item.owner) +
                         " fired (keys: " + keys + ")");
  }
  return notifications;
}

bool StoreHostSession::IsOfClass(IKXQObject* object, std::u16string_view class_name) {
  if (!object) return false;
  VARIANT_BOOL is = VARIANT_FALSE;
  const _variant_t name(std::u16string(class_name).c_str());
  if (FAILED(object->IsOfClass(name, &is))) {
    SetErrorInfo(0, nullptr);
    return false;
  }
  return is == VARIANT_TRUE;
}

HRESULT StoreHostSession::CreateHold(BSTR name, const VARIANT& reason, IKXQObject** hold) {
  if (!hold) return E_POINTER;
  *hold = nullptr;
  IKXQSchema* schema_raw = nullptr;
  HRESULT hr = store_.Database()->get_Schema(&schema_raw);
  _com_ptr_t<IKXQSchema> schema(schema_raw, false);
  if (FAILED(hr)) return hr;
  IKXQClass* class_raw = nullptr;
  hr = schema->get_Class(_bstr_t(u"Hold"), &class_raw);
  _com_ptr_t<IKXQClass> hold_class(class_raw, false);
  if (FAILED(hr)) return hr;
  if (!hold_class) return internal::Fail(E_FAIL, u"The store's schema has no class Hold");
  IKXQObject* made = nullptr;
  if (hr = hold_class->CreateInstance(&made); FAILED(hr)) return hr;
  _com_ptr_t<IKXQObject> object(made, false);
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = name;  // borrowed for the call
  hr = PutAttribute(object, u"Name", text);
  if (SUCCEEDED(hr)) hr = PutAttribute(object, u"InActive", _variant_t(false));
  if (SUCCEEDED(hr) && reason.vt == VT_BSTR) hr = PutAttribute(object, u"CreatedReason", reason);
  if (FAILED(hr)) {
    // A hold half made would be committed with the call if the module goes
    // on; it is deleted, keeping the error information of the failure.
    IErrorInfo* why = nullptr;
    if (GetErrorInfo(0, &why) != S_OK) why = nullptr;
    (void)object->Delete();
    SetErrorInfo(0, why);
    if (why) why->Release();
    return hr;
  }
  *hold = object.Detach();
  return S_OK;
}

HRESULT StoreHostSession::CloseHold(IKXQObject* hold, const VARIANT&) {
  if (!hold) return E_POINTER;
  return PutAttribute(hold, u"InActive", _variant_t(true));
}

HRESULT StoreHostSession::CreateObjectCollection(IKXQObjectCollection** collection) {
  if (!collection) return E_POINTER;
  *collection = store_.CreateObjectCollection();
  return *collection ? S_OK : internal::Fail(E_FAIL, u"The object store is closed");
}

}  // namespace kx::host
