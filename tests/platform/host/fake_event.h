// A change event as modules make them, for the tests: a key ("F1 42"), a
// set of ids that merging unites, recipients, and an XML document built when
// the host asks. The launch helper follows the modules' rule: an event whose
// key is pending is merged into the pending one, otherwise it is posted.
#pragma once

#include <set>
#include <span>
#include <string>
#include <vector>

#include "com/dispatch_impl.h"
#include "host/application.h"
#include "host/com_object.h"
#include "host/events.h"

// Global, as interfaces with an id must be.
struct IFakeKeyedEvent : IUnknown {
  virtual const std::u16string& Key() = 0;
  virtual void Merge(IFakeKeyedEvent* other) = 0;

 protected:
  ~IFakeKeyedEvent() = default;
};
KX_DEFINE_IID(IFakeKeyedEvent, 0x5a0e3c11, 0x2b7d, 0x4c55, 0x9e, 0x61, 0x0d, 0x31, 0x7a, 0x44, 0x2f,
              0x90)

namespace kx::host::test {

class FakeEvent final : public kx::com::DispatchImpl<FakeEvent, IKXQApplicationEvent>,
                        public IFakeKeyedEvent {
 public:
  FakeEvent(std::u16string key, int id, std::vector<std::u16string> recipients, int* alive)
      : key_(std::move(key)), recipients_(std::move(recipients)), alive_(alive) {
    ids_.insert(id);
    if (alive_) ++*alive_;
  }

  // IUnknown: answers IKXQApplicationEvent and IFakeKeyedEvent, not IDispatch.
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IKXQApplicationEvent)) {
      *out = static_cast<IKXQApplicationEvent*>(this);
    } else if (IsEqualGUID(iid, IID_IFakeKeyedEvent)) {
      *out = static_cast<IFakeKeyedEvent*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  // IDispatch: the property "Key" (by which the host's pending store finds
  // the event), unless `keyed` is false.
  std::span<const kx::com::DispatchEntry> dispatch_entries() const {
    static const kx::com::DispatchEntry kEntries[] = {
        {u"Key", 1, DISPATCH_PROPERTYGET, 0,
         [](void* self, WORD, VARIANT* const*, VARIANT* result) {
           const std::u16string& key = static_cast<FakeEvent*>(self)->key_;
           result->vt = VT_BSTR;
           result->bstrVal = SysAllocStringLen(key.data(), static_cast<UINT>(key.size()));
           return S_OK;
         }}};
    if (!keyed) return {};
    return kEntries;
  }

  HRESULT get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(recipients_.size());
    return S_OK;
  }
  HRESULT get_Item(LONG index, BSTR* name) override {
    if (!name) return E_POINTER;
    *name = nullptr;
    if (index < 1 || index > static_cast<LONG>(recipients_.size())) return E_INVALIDARG;
    const auto& text = recipients_[static_cast<size_t>(index - 1)];
    *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
  }
  HRESULT SerializeEvent(BSTR* message, BSTR* xml) override {
    *message = SysAllocString(u"DataField");
    if (fail_serialise) return S_OK;  // as modules do: name only, reason logged
    std::u16string text = u"<XMLMessage Key=\"" + key_ + u"\">";
    for (int id : ids_) text += u"<Field Id=\"" + std::u16string(1, char16_t(u'0' + id)) + u"\"/>";
    text += u"</XMLMessage>";
    *xml = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return S_OK;
  }

  const std::u16string& Key() override { return key_; }
  void Merge(IFakeKeyedEvent* other) override {
    auto* event = static_cast<FakeEvent*>(other);
    ids_.insert(event->ids_.begin(), event->ids_.end());
  }

  bool fail_serialise = false;
  bool keyed = true;

 private:
  ~FakeEvent() {
    if (alive_) --*alive_;
  }

  ULONG refs_ = 0;
  std::u16string key_;
  std::set<int> ids_;
  std::vector<std::u16string> recipients_;
  int* alive_;
};

// Posts `event` through `application` unless an event of its key is pending,
// in which case the pending one takes its ids. `*merged` (optional) tells
// which happened.
inline HRESULT LaunchEvent(IKXQApplication* application, FakeEvent* event, bool* merged = nullptr) {
  Ref<FakeEvent> hold(event);
  bool found = false;
  SAFEARRAY* pending = nullptr;
  HRESULT hr = application->GetPendingEvents(&pending);
  if (FAILED(hr)) return hr;
  if (pending) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(pending, 1, &lower);
    SafeArrayGetUBound(pending, 1, &upper);
    for (LONG i = lower; i <= upper && !found && SUCCEEDED(hr); ++i) {
      IUnknown* item = nullptr;
      hr = SafeArrayGetElement(pending, &i, &item);
      if (FAILED(hr)) break;
      IFakeKeyedEvent* keyed = nullptr;
      item->QueryInterface(IID_IFakeKeyedEvent, reinterpret_cast<void**>(&keyed));
      item->Release();
      if (!keyed) continue;  // another module's event
      if (keyed->Key() == event->Key()) {
        keyed->Merge(event);
        found = true;
      }
      keyed->Release();
    }
    SafeArrayDestroy(pending);
  }
  if (merged) *merged = found;
  if (FAILED(hr) || found) return hr;
  return application->PostEvent(event);
}

}  // namespace kx::host::test
