#include "sortedstringarray.h"

#include "com/wstr.h"

namespace {

int CompareNoCase(const OLECHAR* a, const OLECHAR* b) {
  const int order = _wcsicmp(a != nullptr ? a : u"", b != nullptr ? b : u"");
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

void OwnedStringArray::InsertAt(int32_t position) {
  kxarrays_detail::CheckInsertIndex(position, m_count);
  if (m_count == m_capacity) {
    const int32_t capacity = kxarrays_detail::GrownCapacity(m_capacity, 4);
    OwnedString* items = new OwnedString[static_cast<size_t>(capacity)];
    for (int32_t i = 0; i < position; ++i) items[i] = std::move(m_items[i]);
    for (int32_t i = position; i < m_count; ++i) items[i + 1] = std::move(m_items[i]);
    delete[] m_items;
    m_items = items;
    m_capacity = capacity;
  } else {
    for (int32_t k = m_count; k > position; --k) m_items[k] = std::move(m_items[k - 1]);
  }
  ++m_count;
}

void OwnedStringArray::Append(const OLECHAR* text) {
  OwnedString copy(text);
  InsertAt(m_count);
  m_items[m_count - 1] = std::move(copy);
}

void OwnedStringArray::RemoveAll() {
  delete[] m_items;
  m_items = nullptr;
  m_count = 0;
  m_capacity = 0;
}

bool SortedStringArray::Find(const OLECHAR* text, int32_t* position) const {
  return SortedFind(
      m_count, [&](int32_t i) { return CompareNoCase(text, m_items[i].Get()); }, position);
}

bool SortedStringArray::Add(const OLECHAR* text) {
  int32_t position = 0;
  if (Find(text, &position)) return false;
  // Copy first so that a failed allocation leaves the array as it was.
  OwnedString copy(text);
  InsertAt(position);
  m_items[position] = std::move(copy);
  return true;
}

void SortedStringArray::RemoveAll() {
  for (int32_t i = 0; i < m_count; ++i) m_items[i].Reset();
  m_count = 0;
}
