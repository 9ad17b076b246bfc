#include "host/pending_events.h"

#include <utility>

#include "com/dispatch_impl.h"
#include "com/errorinfo.h"
#include "host/internal/xml_text.h"

namespace kx::host {

std::optional<std::u16string> EventKey(IKXQApplicationEvent* event) {
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(kx_get_dispid(event, u"Key", &id))) {
    SetErrorInfo(0, nullptr);
    return std::nullopt;
  }
  VARIANT result;
  VariantInit(&result);
  std::optional<std::u16string> key;
  if (SUCCEEDED(kx_invoke(event, id, DISPATCH_PROPERTYGET, nullptr, 0, &result)) &&
      result.vt == VT_BSTR) {
    key = std::u16string(internal::BstrView(result.bstrVal));
  }
  VariantClear(&result);
  SetErrorInfo(0, nullptr);
  return key;
}

void PendingEvents::Add(IKXQApplicationEvent* event) {
  // Posted in the middle of a module's call: what the module left as the
  // thread's error information is its own.
  IErrorInfo* kept = nullptr;
  if (GetErrorInfo(0, &kept) != S_OK) kept = nullptr;
  std::optional<std::u16string> key = EventKey(event);
  SetErrorInfo(0, kept);
  if (kept) kept->Release();
  if (key) by_key_[*key].push_back(events_.size());
  events_.push_back({Ref<IKXQApplicationEvent>(event), std::move(key)});
}

std::vector<Ref<IKXQApplicationEvent>> PendingEvents::TakeAll() {
  std::vector<Ref<IKXQApplicationEvent>> taken;
  taken.reserve(events_.size());
  for (Entry& entry : events_) taken.push_back(std::move(entry.event));
  events_.clear();
  by_key_.clear();
  return taken;
}

void PendingEvents::Truncate(size_t kept) {
  std::vector<Entry> dropped;
  while (events_.size() > kept) {
    Entry& last = events_.back();
    if (last.key) {
      // The last position of its key: positions ascend.
      const auto found = by_key_.find(*last.key);
      found->second.pop_back();
      if (found->second.empty()) by_key_.erase(found);
    }
    dropped.push_back(std::move(last));
    events_.pop_back();
  }
}

template <class Item>
HRESULT PendingEvents::MakeArray(size_t count, Item item, SAFEARRAY** array) {
  if (!array) return E_POINTER;
  *array = nullptr;
  if (count == 0) return S_OK;
  SAFEARRAY* made = SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(count));
  if (!made) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    // An event's IKXQApplicationEvent face is also its IUnknown face.
    IUnknown* element = item(static_cast<size_t>(i));
    if (HRESULT hr = SafeArrayPutElement(made, &i, element); FAILED(hr)) {
      SafeArrayDestroy(made);
      return hr;
    }
  }
  *array = made;
  return S_OK;
}

HRESULT PendingEvents::All(SAFEARRAY** array) const {
  return MakeArray(
      events_.size(), [&](size_t i) { return events_[i].event.get(); }, array);
}

HRESULT PendingEvents::OfKey(std::u16string_view key, SAFEARRAY** array) const {
  const auto found = by_key_.find(key);
  if (found == by_key_.end())
    return MakeArray(
        0, [](size_t) { return nullptr; }, array);
  const std::vector<size_t>& positions = found->second;
  return MakeArray(
      positions.size(), [&](size_t i) { return events_[positions[i]].event.get(); }, array);
}

}  // namespace kx::host
