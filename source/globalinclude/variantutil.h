// Value conversion between the object store and XML texts, views of
// SAFEARRAYs handed out by the store, and the module's small owned arrays.
//
// None of these types is shared between threads; each value belongs to the
// caller that made it.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "com/variant.h"

struct IKXQClass;
struct IKXQClassView;

namespace VariantUtil {

// The XML text form of a value: integers in decimal, reals and dates with
// "%.16g" and "." as decimal point, Booleans "1"/"0", texts as they are, no
// value as a null BSTR. *out receives a new BSTR the caller frees.
// Throws KXComException: E_INVALIDARG for objects ("Cannot convert a object
// into an XML string") and other types ("No defined XML format for variant
// type"), a failed conversion with its HRESULT.
void FormatForXML(const VARIANT& value, BSTR* out);

// Converts `value` in place from its XML text form (or from another value)
// to `target`. A value without content becomes VT_NULL. Returns whether the
// VARIANT's type now equals `target`. Throws KXComException.
bool ChangeTypeFromXML(VARIANT& value, VARTYPE target);

// Element type of an array from its feature flags (VT_EMPTY when unknown or
// for a null array).
VARTYPE GetSafeArrayVartype(SAFEARRAY* array);

// Reads one element into `out`, whose type is first set to VT_EMPTY (it is
// not cleared: pass an empty VARIANT). BSTRs are copies and interfaces carry
// a reference, both owned by `out`. `elementType` must be the array's own
// element type: another one (of another size, or when the array records its
// type) gives E_INVALIDARG. Refused types (VT_CY, VT_DATE, VT_ERROR, anything outside
// VT_I2..VT_UNKNOWN) give E_INVALIDARG; on any failure `out` becomes
// VT_ERROR carrying the HRESULT, which is returned.
[[nodiscard]] HRESULT GetSafeArrayElement(SAFEARRAY* array, VARTYPE elementType, LONG* indices,
                                          VARIANT* out);

// A locked view of a one-dimensional SAFEARRAY. While attached the array is
// locked; when the vector owns it, it destroys it when it lets it go. A
// refused array is never destroyed: the caller keeps it.
class SafeArrayVector {
 public:
  // An empty vector of the interface form (VT_DISPATCH).
  SafeArrayVector() = default;
  // Interface form: accepts VT_DISPATCH, VT_VARIANT or VT_UNKNOWN elements.
  // Never fails: a refused array leaves the vector empty (VT_EMPTY).
  SafeArrayVector(SAFEARRAY* array, bool owns);
  SafeArrayVector(const SafeArrayVector&) = delete;
  SafeArrayVector& operator=(const SafeArrayVector&) = delete;
  ~SafeArrayVector() { Release(); }

  // String form: lets the current array go, then accepts VT_BSTR or
  // VT_VARIANT elements; a null array gives an empty VT_BSTR vector.
  void AttachStrings(SAFEARRAY* array, bool owns);
  // Re-attaches the interface form: E_POINTER for null, E_INVALIDARG for
  // another element type or dimension count. No error information.
  [[nodiscard]] HRESULT AttachObjects(SAFEARRAY* array, bool owns);
  // Attaches a one-dimensional array of any element type; failures are
  // returned with "<KXError" error information set, never thrown.
  [[nodiscard]] HRESULT Attach(SAFEARRAY* array, bool owns);
  // Unlocks the array and destroys it when owned.
  void Release();

  // Element `index` (0-based) queried for `iid`; *out receives a reference.
  // E_FAIL for element types without interfaces; the platform's
  // DISP_E_BADINDEX outside the array.
  [[nodiscard]] HRESULT GetInterfaceAt(int32_t index, REFIID iid, void** out) const;
  template <class I>
  [[nodiscard]] HRESULT GetInterfaceAt(int32_t index, I** out) const {
    return GetInterfaceAt(index, kx_uuidof<I>(), reinterpret_cast<void**>(out));
  }

  // Element `index` (0-based) of a string-form vector as a new text in
  // *text (the text held there is freed): BSTR elements copied, VARIANT
  // elements changed to text; E_FAIL for other element types, the
  // platform's DISP_E_BADINDEX outside the array.
  [[nodiscard]] HRESULT GetStringAt(int32_t index, BSTR* text) const;
  // The element as a schema class / as a class view (root node, data view).
  [[nodiscard]] HRESULT GetClassAt(int32_t index, IKXQClass** out) const;
  [[nodiscard]] HRESULT GetClassViewAt(int32_t index, IKXQClassView** out) const;

  SAFEARRAY* Array() const { return m_array; }
  int32_t Count() const { return m_count; }
  int32_t LowerBound() const { return m_lowerBound; }
  VARTYPE Vartype() const { return m_vartype; }
  bool Owns() const { return m_owns; }

 private:
  enum class Form { kObjects, kStrings };
  void Build(SAFEARRAY* array, bool owns, Form form);
  void Keep(SAFEARRAY* array, VARTYPE vartype);

  SAFEARRAY* m_array = nullptr;
  int32_t m_count = 0;
  int32_t m_lowerBound = 0;
  VARTYPE m_vartype = VT_DISPATCH;
  bool m_owns = false;
};

// A locked view of a two-dimensional SAFEARRAY, with the same ownership
// rules as SafeArrayVector.
class SafeArrayMatrix {
 public:
  SafeArrayMatrix() = default;
  SafeArrayMatrix(const SafeArrayMatrix&) = delete;
  SafeArrayMatrix& operator=(const SafeArrayMatrix&) = delete;
  ~SafeArrayMatrix() { Release(); }

  // E_POINTER for null, the lock's failure, or E_INVALIDARG with "Safe array
  // is not a 2-Dimensional vector"; error information set, nothing thrown.
  [[nodiscard]] HRESULT Attach(SAFEARRAY* array, bool owns);
  void Release();

  SAFEARRAY* Array() const { return m_array; }
  int32_t Count1() const { return m_count1; }
  int32_t LowerBound1() const { return m_lowerBound1; }
  int32_t Count2() const { return m_count2; }
  int32_t LowerBound2() const { return m_lowerBound2; }
  VARTYPE Vartype() const { return m_vartype; }

 private:
  SAFEARRAY* m_array = nullptr;
  int32_t m_count1 = 0;
  int32_t m_lowerBound1 = 0;
  int32_t m_count2 = 0;
  int32_t m_lowerBound2 = 0;
  VARTYPE m_vartype = VT_EMPTY;
  bool m_owns = false;
};

}  // namespace VariantUtil

// ---------------------------------------------------------------------------
// Owned arrays.

// Binary search over `count` sorted elements between `low` and `high`.
// `compare(i)` answers key <=> element i (<0, 0, >0). *index receives the
// element's position when found, else where inserting the key keeps the
// order.
template <class Compare>
bool SortedFind(int32_t count, int32_t low, int32_t high, Compare compare, int32_t* index) {
  *index = 0;
  if (count <= 0) return false;
  int32_t mid = 0;
  int order = 0;
  while (high >= low) {
    mid = low + (high - low) / 2;
    *index = mid;
    order = compare(mid);
    if (order == 0) return true;
    if (order < 0) {
      if (mid == 0) break;
      high = mid - 1;
    } else {
      if (mid == count - 1) break;
      low = mid + 1;
    }
  }
  if (order > 0) *index = mid + 1;
  return false;
}

template <class Compare>
bool SortedFind(int32_t count, Compare compare, int32_t* index) {
  return SortedFind(count, 0, count - 1, compare, index);
}

// As SortedFind between positions from the caller, clamped: low into
// 0..count-1, high into low..count-1.
template <class Compare>
bool SortedFindClamped(int32_t count, int32_t low, int32_t high, Compare compare, int32_t* index) {
  if (count <= 0) {
    *index = 0;
    return false;
  }
  if (low < 0) low = 0;
  if (low > count - 1) low = count - 1;
  if (high < low) high = low;
  if (high > count - 1) high = count - 1;
  return SortedFind(count, low, high, compare, index);
}

namespace kxarrays_detail {

// Capacity after growing a full array of `capacity` elements: doubled up to
// 512 more at a time, rounded up to a multiple of `block`.
inline int32_t GrownCapacity(int32_t capacity, int32_t block) {
  int32_t grown = capacity == 0 ? 1 : capacity + (capacity < 512 ? capacity : 512);
  return (grown + block - 1) / block * block;
}

inline void CheckInsertIndex(int32_t index, int32_t count) {
  if (index < 0 || index > count) throw std::out_of_range("insert position outside the array");
}

// Interface pointers, each non-null element holding one reference.
// `Block` is the capacity rounding (4 or 8).
template <class I, int32_t Block>
class InterfaceArray {
 public:
  InterfaceArray() = default;
  InterfaceArray(const InterfaceArray&) = delete;
  InterfaceArray& operator=(const InterfaceArray&) = delete;
  ~InterfaceArray() { RemoveAll(); }

  int32_t GetCount() const { return m_count; }
  int32_t GetCapacity() const { return m_capacity; }
  // Borrowed: no reference added.
  I* GetAt(int32_t index) const { return m_block[index]; }
  // Stores `item` at `index` with a reference added, releasing what was
  // there.
  void SetAt(int32_t index, I* item) {
    if (item != nullptr) item->AddRef();
    I* old = m_block[index];
    m_block[index] = item;
    if (old != nullptr) old->Release();
  }
  // Opens a null element at `index` (0..count), growing when full.
  void InsertAt(int32_t index) {
    CheckInsertIndex(index, m_count);
    if (m_count == m_capacity) {
      int32_t capacity = GrownCapacity(m_capacity, Block);
      I** block = AllocateBlock(capacity);
      if (m_count > 0) {
        std::memcpy(block, m_block, sizeof(I*) * static_cast<size_t>(index));
        std::memcpy(block + index + 1, m_block + index,
                    sizeof(I*) * static_cast<size_t>(m_count - index));
      }
      delete[] m_block;  // its pointers were moved, not released
      m_block = block;
      m_capacity = capacity;
    } else {
      for (int32_t k = m_count; k > index; --k) {
        m_block[k] = m_block[k - 1];
        m_block[k - 1] = nullptr;
      }
    }
    ++m_count;
  }
  // Appends `item` with a reference added; returns its index.
  int32_t Add(I* item) {
    InsertAt(m_count);
    SetAt(m_count - 1, item);
    return m_count - 1;
  }
  // Releases the element at `index` and closes the gap.
  void RemoveAt(int32_t index) {
    I* old = m_block[index];
    for (int32_t k = index; k + 1 < m_count; ++k) m_block[k] = m_block[k + 1];
    m_block[--m_count] = nullptr;
    if (old != nullptr) old->Release();
  }
  // Releases every element, frees the block; count and capacity 0.
  void RemoveAll() {
    I** block = m_block;
    const int32_t count = m_count;
    m_block = nullptr;
    m_count = 0;
    m_capacity = 0;
    for (int32_t i = 0; i < count; ++i) {
      if (block[i] != nullptr) block[i]->Release();
    }
    delete[] block;
  }
  // Rounds `capacity` up to a multiple of the block size and allocates a
  // block of that many null pointers.
  static I** AllocateBlock(int32_t& capacity) {
    capacity = (capacity + Block - 1) / Block * Block;
    return new I*[static_cast<size_t>(capacity)]();
  }

 protected:
  int32_t m_count = 0;
  int32_t m_capacity = 0;
  I** m_block = nullptr;
};

}  // namespace kxarrays_detail

// Reference-holding interface pointers; capacity a multiple of 4.
template <class I = IUnknown>
class ComPtrArray : public kxarrays_detail::InterfaceArray<I, 4> {};

// Interface pointers in a zero-filled block; capacity a multiple of 8.
template <class I = IUnknown>
class PtrArray : public kxarrays_detail::InterfaceArray<I, 8> {};

// A ComPtrArray kept in ascending order of pointer values: a set of
// distinct objects by identity. Find, then InsertAt and SetAt at the index.
template <class I = IUnknown>
class SortedPtrArray : public ComPtrArray<I> {
 public:
  bool Find(const void* item, int32_t* index) const {
    const auto key = reinterpret_cast<uintptr_t>(item);
    return SortedFind(
        this->m_count,
        [&](int32_t i) {
          const auto element = reinterpret_cast<uintptr_t>(this->m_block[i]);
          return key < element ? -1 : (key > element ? 1 : 0);
        },
        index);
  }
};

// A sorted set of 32-bit object ids; capacity a multiple of 8.
class SortedIdArray {
 public:
  SortedIdArray() = default;
  SortedIdArray(const SortedIdArray&) = delete;
  SortedIdArray& operator=(const SortedIdArray&) = delete;
  ~SortedIdArray() { RemoveAll(); }

  int32_t GetCount() const { return m_count; }
  int32_t GetCapacity() const { return m_capacity; }
  int32_t GetAt(int32_t index) const { return m_block[index]; }

  bool Find(int32_t id, int32_t* index) const;
  // Inserts `id` at its place unless present; true when inserted.
  bool Add(int32_t id);
  void RemoveAll();
  // Exchanges count, capacity and storage with `other`: how an id set is
  // handed over whole.
  void Swap(SortedIdArray& other) noexcept {
    std::swap(m_count, other.m_count);
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_block, other.m_block);
  }

 private:
  int32_t m_count = 0;
  int32_t m_capacity = 0;
  int32_t* m_block = nullptr;
};

// An owning pointer to a zero-terminated wide string (new[]/delete[]), or
// null. Copies are deep.
class OwnedString {
 public:
  OwnedString() = default;
  explicit OwnedString(const OLECHAR* text);
  OwnedString(const OwnedString& other);
  OwnedString(OwnedString&& other) noexcept : m_text(other.m_text) { other.m_text = nullptr; }
  OwnedString& operator=(const OwnedString& other);
  OwnedString& operator=(OwnedString&& other) noexcept;
  ~OwnedString() { delete[] m_text; }

  const OLECHAR* Get() const { return m_text; }
  // Replaces the text by a copy of `text` (null empties it).
  void Assign(const OLECHAR* text);
  void Reset();

 private:
  OLECHAR* m_text = nullptr;
};
