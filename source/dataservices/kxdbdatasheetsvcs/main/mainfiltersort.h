// "FilterSort.xml": a site's default object filter and sort per summary
// template, read once per Main from the templates folder into a table
// sorted by template id (letter case not counted).
//
//   <Templates>
//     <Template Id="PUMP-SUM" FilterId="Ready" SortId="CLA"/>
//   </Templates>
//
// Names are matched exactly; elements and attributes outside that grammar
// are skipped. The first record of an id wins; a record needs an id and a
// filter or a sort.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "com/comutil.h"

struct FilterSortRecord {
  _bstr_t id;
  _bstr_t filterId;  // a schema filter's name or "KX_CLAIM_ONLY"; may be empty
  _bstr_t sortId;    // a schema sort's code; may be empty
};

class FilterSortTable {
 public:
  int32_t GetCount() const { return static_cast<int32_t>(m_records.size()); }
  // Grows as the module's arrays do: 0, 8, 16, 32 ... 1024, then 512 more
  // at a time.
  int32_t GetCapacity() const { return m_capacity; }
  const FilterSortRecord& GetAt(int32_t index) const {
    return *m_records[static_cast<size_t>(index)];
  }
  // Binary search for `id` (without regard to case) between `low` and
  // `high` (clamped); *index: where it is or would be inserted.
  bool Find(const OLECHAR* id, int32_t low, int32_t high, int32_t* index) const;
  // Adds the record at its sorted place unless its id is held; true when
  // added.
  bool Insert(std::unique_ptr<FilterSortRecord> record);
  // The record of `id`, or null.
  const FilterSortRecord* Lookup(const OLECHAR* id) const;

 private:
  void InsertAt(int32_t index);  // an empty slot at `index`

  std::vector<std::unique_ptr<FilterSortRecord>> m_records;
  int32_t m_capacity = 0;
};
