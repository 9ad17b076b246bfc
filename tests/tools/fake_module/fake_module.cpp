// A stand-in for the service module, loaded by kxqhost through activation
// when a test registers it under the ProgID "KXDBDatasheetSvcs.Main". It
// lets the program's tests see replies, change events, store changes and
// trigger callbacks that the service does not produce yet.
//
// Model: start-up registers "KXDBDatasheetSvcs.Main" and subscribes local
// kind 1 to create events of "Pump". Requests by name:
//   "Reply"           writes <XMLMessage TargetId="T"><Item>a&b</Item></XMLMessage>
//   "SetTag"          sets object 20's "Tag" to the request text
//   "SetTagThenFail"  the same, then fails with "<KXError Desc="fake failure" />"
//   "Event"           posts one change event "DatasheetChanged" to "Editor"
//   "Watch"           binds trigger "Datasheet" of object 10 to this module,
//                     its item "k" reading object 20's "Tag"
//   "WhoAmI"          writes <User>NAME granted|denied</User>: the user's
//                     name and whether they hold "Edit Fakes", the
//                     privilege start-up declares
// A trigger callback sets object 21's "Tag" to "fired by NAME" and clears
// the trigger's fired keys. Any other request succeeds without a reply.
#include <string>

#include "com/activation.h"
#include "com/bstr.h"
#include "com/errorinfo.h"
#include "com/variant.h"
#include "host/com_object.h"
#include "host/interfaces.h"
#include "store/database.h"
#include "store/object.h"

namespace {

using kx::host::internal::DispatchObject;

// {6F1C2A10-3B2D-4E5F-9A1B-2C3D4E5F6071}
constexpr CLSID kFakeClsid = {
    0x6f1c2a10, 0x3b2d, 0x4e5f, {0x9a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60, 0x71}};

HRESULT Fail(const char16_t* text) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return E_FAIL;
  BSTR description = SysAllocString(text);
  create->SetDescription(description);
  SysFreeString(description);
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  if (info) info->Release();
  create->Release();
  return E_FAIL;
}

// Borrowed BSTR view of a literal for one call.
class Text {
 public:
  explicit Text(const char16_t* text) : bstr_(SysAllocString(text)) {}
  ~Text() { SysFreeString(bstr_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  operator BSTR() const { return bstr_; }

 private:
  BSTR bstr_;
};

VARIANT Empty() {
  VARIANT value;
  VariantInit(&value);
  return value;
}

class FakeEvent final : public DispatchObject<IKXQApplicationEvent> {
 public:
  HRESULT get_Count(LONG* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT get_Item(LONG index, BSTR* name) override {
    *name = index == 1 ? SysAllocString(u"Editor") : nullptr;
    return index == 1 ? S_OK : E_INVALIDARG;
  }
  HRESULT SerializeEvent(BSTR* message, BSTR* xml) override {
    *message = SysAllocString(u"DatasheetChanged");
    *xml = SysAllocString(u"<Event Id=\"20\"/>");
    return S_OK;
  }
};

class FakeService final : public DispatchObject<IKXQDataService> {
 public:
  HRESULT StartUp(IKXQRegistrar* registrar) override {
    Text progid(u"KXDBDatasheetSvcs.Main");
    registrar->RegisterService(progid);
    registrar->DeclarePrivilege(Text(u"Edit Fakes"), Text(u"Fakes"), Text(u"Edits fakes"));
    VARIANT kind = Empty();
    kind.vt = VT_I4;
    kind.lVal = 1;
    VARIANT filter = Empty();
    filter.vt = VT_BSTR;
    filter.bstrVal = SysAllocString(u"Pump");
    const HRESULT hr = registrar->Subscribe(1, kind, filter, VARIANT_FALSE);
    VariantClear(&filter);
    return hr;
  }

  HRESULT ProcessRequest(BSTR name, BSTR text, IKXQRequestContext* context) override {
    const std::u16string message(name ? name : u"");
    const std::u16string body(text ? text : u"", SysStringLen(text));
    if (message == u"Reply") return Reply(context);
    if (message == u"SetTag") return SetText(20, u"Tag", body);
    if (message == u"SetTagThenFail") {
      if (HRESULT hr = SetText(20, u"Tag", body); FAILED(hr)) return hr;
      return Fail(u"<KXError Desc=\"fake failure\" />");
    }
    if (message == u"Event") {
      IKXQApplicationEvent* event = new FakeEvent;
      event->AddRef();
      const HRESULT hr = application_->PostEvent(event);
      event->Release();
      return hr;
    }
    if (message == u"Watch") return Watch();
    if (message == u"WhoAmI") return WhoAmI(context);
    return S_OK;
  }

  HRESULT TriggerFired(IKXQTrigger* trigger, IKXQApplication*) override {
    BSTR name = nullptr;
    trigger->GetName(&name);
    const std::u16string text = u"fired by " + std::u16string(name ? name : u"");
    SysFreeString(name);
    trigger->ClearFiredKeys();
    return SetText(21, u"Tag", text);
  }

  HRESULT GetObjectServices(LONG, VARIANT, IKXQObject*, IKXQApplication*,
                            IDispatch** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT RunMethod(LONG, VARIANT, IKXQObject*, VARIANT, IKXQApplication*, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT OnDatabaseEvent(LONG, IKXQObject*, VARIANT*) override { return S_OK; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Attach(IKXQApplication* application) override {
    if (application_) application_->Release();
    application_ = application;
    application_->AddRef();
    return S_OK;
  }
  HRESULT Detach() override {
    if (application_) application_->Release();
    application_ = nullptr;
    return S_OK;
  }
  HRESULT ProcessRequestWithResponse(BSTR name, BSTR text, IKXQRequestContext* context,
                                     VARIANT) override {
    return ProcessRequest(name, text, context);
  }

 private:
  ~FakeService() override { Detach(); }

  HRESULT Reply(IKXQRequestContext* context) {
    IKXQResponse* response = nullptr;
    if (HRESULT hr = context->get_Response(&response); FAILED(hr)) return hr;
    IKXQXMLAttributes* attributes = nullptr;
    response->BeginXMLReply();
    response->NewAttributes(&attributes);
    VARIANT target = Empty();
    target.vt = VT_BSTR;
    target.bstrVal = SysAllocString(u"T");
    attributes->Add(Text(u"TargetId"), target);
    VariantClear(&target);
    response->StartElement(Text(u"XMLMessage"), attributes);
    response->WriteElement(Text(u"Item"), nullptr, Text(u"a&b"));
    response->EndElement(Text(u"XMLMessage"));
    const HRESULT hr = response->EndReply();
    attributes->Release();
    response->Release();
    return hr;
  }

  HRESULT WhoAmI(IKXQRequestContext* context) {
    IKXQPrivileges* privileges = nullptr;
    if (HRESULT hr = application_->get_Privileges(&privileges); FAILED(hr)) return hr;
    BSTR user = nullptr;
    VARIANT_BOOL granted = VARIANT_FALSE;
    privileges->get_UserName(&user);
    privileges->HasPrivilege(Text(u"Edit Fakes"), &granted);
    privileges->Release();
    const std::u16string text =
        std::u16string(user ? user : u"") + (granted == VARIANT_TRUE ? u" granted" : u" denied");
    SysFreeString(user);
    IKXQResponse* response = nullptr;
    if (HRESULT hr = context->get_Response(&response); FAILED(hr)) return hr;
    const HRESULT hr = response->WriteElement(Text(u"User"), nullptr, Text(text.c_str()));
    response->Release();
    return hr;
  }

  HRESULT Attribute(LONG id, const char16_t* name, IKXQAttribute** attribute) {
    IKXQDatabase* database = nullptr;
    if (HRESULT hr = application_->get_Database(&database); FAILED(hr)) return hr;
    IKXQObject* object = nullptr;
    HRESULT hr = database->get_Object(id, &object);
    database->Release();
    if (FAILED(hr)) return hr;
    VARIANT selector = Empty();
    hr = object->get_Attribute(Text(name), selector, attribute);
    object->Release();
    return hr;
  }

  HRESULT SetText(LONG id, const char16_t* name, const std::u16string& text) {
    IKXQAttribute* attribute = nullptr;
    if (HRESULT hr = Attribute(id, name, &attribute); FAILED(hr)) return hr;
    VARIANT value = Empty();
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    const HRESULT hr = attribute->PutValue(Empty(), Empty(), value);
    VariantClear(&value);
    attribute->Release();
    return hr;
  }

  HRESULT Watch() {
    IKXQDatabase* database = nullptr;
    if (HRESULT hr = application_->get_Database(&database); FAILED(hr)) return hr;
    IKXQObject* owner = nullptr;
    HRESULT hr = database->get_Object(10, &owner);
    database->Release();
    if (FAILED(hr)) return hr;
    IKXQTrigger* trigger = nullptr;
    hr = owner->get_Trigger(Text(u"Datasheet"), &trigger);
    owner->Release();
    if (FAILED(hr)) return hr;
    IKXQAttribute* attribute = nullptr;
    VARIANT key = Empty();
    key.vt = VT_BSTR;
    key.bstrVal = SysAllocString(u"k");
    VARIANT value = Empty();
    if (SUCCEEDED(hr = trigger->SetHandler(Text(u"KXDBDatasheetSvcs.Main"))) &&
        SUCCEEDED(hr = Attribute(20, u"Tag", &attribute)) &&
        SUCCEEDED(hr = trigger->BeginItem(key))) {
      hr = attribute->GetValue(Empty(), Empty(), &value);
      trigger->EndItem();
    }
    VariantClear(&key);
    VariantClear(&value);
    if (attribute) attribute->Release();
    trigger->Release();
    return hr;
  }

  IKXQApplication* application_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    FakeService* service = new FakeService;
    service->AddRef();
    const HRESULT hr = service->QueryInterface(riid, ppv);
    service->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory gFactory;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!IsEqualGUID(clsid, kFakeClsid)) {
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return gFactory.QueryInterface(riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() { return S_FALSE; }
