// Owned arrays of wide strings: `OwnedStringArray` in the order of
// insertion, `SortedStringArray` kept sorted without regard to case (ASCII
// letters only, whatever the locale) and without duplicates.
#pragma once

#include <cstdint>

#include "variantutil.h"

// Each slot owns its string (or is null); slots from count to capacity-1
// are null. Capacity grows 4, 8, 16, ... 512, then by 512 at a time.
class OwnedStringArray {
 public:
  OwnedStringArray() = default;
  OwnedStringArray(const OwnedStringArray&) = delete;
  OwnedStringArray& operator=(const OwnedStringArray&) = delete;
  ~OwnedStringArray() { RemoveAll(); }

  int32_t GetCount() const { return m_count; }
  int32_t GetCapacity() const { return m_capacity; }
  // Borrowed; null for a null slot.
  const OLECHAR* GetAt(int32_t index) const { return m_items[index].Get(); }

  // Opens a null slot at `position` (0..count), growing when full. The
  // array is unchanged when the allocation fails (std::bad_alloc).
  void InsertAt(int32_t position);
  // Stores a copy of `text` at `index` (null stores a null slot).
  void SetAt(int32_t index, const OLECHAR* text) { m_items[index].Assign(text); }
  // Appends a copy of `text`.
  void Append(const OLECHAR* text);
  // Frees every string and the block; count and capacity 0.
  void RemoveAll();

 protected:
  int32_t m_count = 0;
  int32_t m_capacity = 0;
  OwnedString* m_items = nullptr;
};

class SortedStringArray : private OwnedStringArray {
 public:
  using OwnedStringArray::GetAt;
  using OwnedStringArray::GetCapacity;
  using OwnedStringArray::GetCount;
  using OwnedStringArray::InsertAt;

  // Binary search (`_wcsicmp`). *position receives the position of the
  // equal string, else where the string would be inserted. A null string
  // compares as empty.
  bool Find(const OLECHAR* text, int32_t* position) const;
  // Inserts a copy at its sorted place unless an equal string (without
  // regard to case) is held; the held spelling is kept. True when added.
  bool Add(const OLECHAR* text);
  // Frees every string; the block and its capacity stay for reuse.
  void RemoveAll();
  // Frees the strings and the block too.
  void Free() { OwnedStringArray::RemoveAll(); }
};
