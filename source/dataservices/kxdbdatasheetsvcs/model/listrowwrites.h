// What the batched row changes of a continuous list share: many rows taken
// off or put in, each list of the page rewritten once instead of once per
// row, with the same outcome as one row at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "kxstoreptrs.h"

namespace KXDBDatasheetSvcs {

// Whether any value of the list from `first` on carries something of its
// slot (a lock, a status flag, a hold, number texts): a value put at another
// position would leave that behind, where inserting or removing moves it
// along.
bool SlotsCarryState(IKXQAttribute* list, int32_t first);
// The list's values as they are, from `first` on (index 0 is `first`).
std::vector<_variant_t> ReadListValues(IKXQAttribute* list, int32_t first);
// A value of "Fields" as a text, as reading it as one gives it.
_bstr_t FieldRecordText(const _variant_t& value);
// The record `text` renumbered to `row` into `renumbered`; false when it
// does not read, or when renumbering it on the way (to another row first,
// as a row taken off or put in before it did) would give another text.
bool RenumbersAlike(const _bstr_t& text, int32_t row, _bstr_t& renumbered);
// Writes `values` over the list from `first` on (an unchanged value is not
// written again) and cuts the list after them.
void WriteListValues(IKXQAttribute* list, int32_t first, const std::vector<_variant_t>& values);

}  // namespace KXDBDatasheetSvcs
