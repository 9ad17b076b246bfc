// The change events a host application holds for delivery, in posting
// order, with their index by key: every change of the list goes through
// here, so the index always agrees with it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/com_object.h"
#include "host/events.h"

namespace kx::host {

class PendingEvents {
 public:
  size_t size() const { return events_.size(); }
  bool empty() const { return events_.empty(); }

  // Appends `event` (AddRef'd), under the key it answers as its automation
  // property "Key", if any. The thread's error information is left as it
  // was.
  void Add(IKXQApplicationEvent* event);
  // Hands the whole list over and leaves it empty.
  std::vector<Ref<IKXQApplicationEvent>> TakeAll();
  // Keeps the first `kept` events; the rest are released once they are off
  // the list.
  void Truncate(size_t kept);

  // A new 1-D SAFEARRAY of VT_UNKNOWN (lower bound 0, each element
  // AddRef'd, in posting order) of every event, or of those of `key`; null
  // when there are none.
  HRESULT All(SAFEARRAY** array) const;
  HRESULT OfKey(std::u16string_view key, SAFEARRAY** array) const;

 private:
  struct Entry {
    Ref<IKXQApplicationEvent> event;
    std::optional<std::u16string> key;
  };
  // `count` elements, the i-th `item(i)`.
  template <class Item>
  static HRESULT MakeArray(size_t count, Item item, SAFEARRAY** array);

  std::vector<Entry> events_;
  // Positions in `events_` by key, ascending.
  std::map<std::u16string, std::vector<size_t>, std::less<>> by_key_;
};

// The key `event` answers as its automation property "Key", if any; the
// thread's error information is cleared.
std::optional<std::u16string> EventKey(IKXQApplicationEvent* event);

}  // namespace kx::host
