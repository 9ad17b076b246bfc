#include "sortedstringarray.h"

#include "com/wstr.h"

namespace {

int CompareNoCase(const OLECHAR* a, const OLECHAR* b) {
  const int order = _wcsicmp(a != nullptr ? a : u"", b != nullptr ? b : u"");
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

void OwnedStringArray::InsertAt(int32_t position) {
  kxarrays_detail::CheckInsertIndex(position, count_);
  if (count_ == capacity_) {
    const int32_t capacity = kxarrays_detail::GrownCapacity(capacity_, 4);
    OwnedString* items = new OwnedString[static_cast<size_t>(capacity)];
    for (int32_t i = 0; i < position; ++i) items[i] = std::move(items_[i]);
    for (int32_t i = position; i < count_; ++i) items[i + 1] = std::move(items_[i]);
    delete[] items_;
    items_ = items;
    capacity_ = capacity;
  } else {
    for (int32_t k = count_; k > position; --k) items_[k] = std::move(items_[k - 1]);
  }
  ++count_;
}

void OwnedStringArray::Append(const OLECHAR* text) {
  OwnedString copy(text);
  InsertAt(count_);
  items_[count_ - 1] = std::move(copy);
}

void OwnedStringArray::RemoveAll() {
  delete[] items_;
  items_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

bool SortedStringArray::Find(const OLECHAR* text, int32_t* position) const {
  return SortedFind(
      count_, [&](int32_t i) { return CompareNoCase(text, items_[i].Get()); }, position);
}

bool SortedStringArray::Add(const OLECHAR* text) {
  int32_t position = 0;
  if (Find(text, &position)) return false;
  // Copy first so that a failed allocation leaves the array as it was.
  OwnedString copy(text);
  InsertAt(position);
  items_[position] = std::move(copy);
  return true;
}

void SortedStringArray::RemoveAll() {
  for (int32_t i = 0; i < count_; ++i) items_[i].Reset();
  count_ = 0;
}
