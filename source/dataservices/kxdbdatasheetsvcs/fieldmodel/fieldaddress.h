// The address of a field in a request, as the field-value and field-property
// messages give it: "PageId" (the page object), "FieldId" (the field of its
// template page) and "Index" (the row of a continuous list; -1 on a plain
// page). A parser keeps the three values by deriving from `FieldAddress`
// beside its schema and stores them with `StoreFieldAddress`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "messagekit.h"

// The three values, -1 until given.
struct FieldAddress {
  int32_t m_pageId = -1;
  int32_t m_fieldId = -1;
  int32_t m_index = -1;
};

// `SetValue` of the address with the ids of `Schema`: S_OK, or E_INVALIDARG
// for an id that is not one of the three.
template <class Schema>
HRESULT StoreFieldAddress(FieldAddress& address, uint32_t id, const SAXValue& value) {
  switch (id) {
    case Schema::PageId: return Store(address.m_pageId, value);
    case Schema::FieldId: return Store(address.m_fieldId, value);
    case Schema::Index: return Store(address.m_index, value);
    default: return E_INVALIDARG;
  }
}

// The attributes "PageId", "FieldId" and "Index" with the ids of `Schema`,
// alone or followed by `more`.
template <class Schema>
constexpr std::array<GrammarRecord, 3> FieldAddressAttributes() {
  return {{Grammar::Integer(u"PageId", Schema::PageId),
           Grammar::Integer(u"FieldId", Schema::FieldId),
           Grammar::Integer(u"Index", Schema::Index)}};
}
template <class Schema, size_t N>
constexpr std::array<GrammarRecord, N + 3> FieldAddressAttributes(const GrammarRecord (&more)[N]) {
  const std::array<GrammarRecord, 3> address = FieldAddressAttributes<Schema>();
  std::array<GrammarRecord, N + 3> out{};
  for (size_t i = 0; i < 3; ++i) out[i] = address[i];
  for (size_t i = 0; i < N; ++i) out[i + 3] = more[i];
  return out;
}
