// The module's owned arrays: growth rules, ordering, ownership of elements.
#include <gtest/gtest.h>
#include <vector>

#include "sortedstringarray.h"
#include "support/frameworktestsupport.h"
#include "variantutil.h"

namespace {

using kx::test::Narrow;

// An IUnknown that counts its references and never deletes itself, so that
// tests can look at the count after the array let it go.
class CountedObject final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

template <class Array>
std::vector<int32_t> CapacitiesWhileAppending(Array& array, int32_t n) {
  std::vector<int32_t> seen;
  for (int32_t i = 0; i < n; ++i) {
    array.InsertAt(array.GetCount());
    if (seen.empty() || seen.back() != array.GetCapacity()) seen.push_back(array.GetCapacity());
  }
  return seen;
}

const std::vector<int32_t> kGrowthBy4 = {4, 8, 16, 32, 64, 128, 256, 512, 1024, 1536, 2048};
const std::vector<int32_t> kGrowthBy8 = {8, 16, 32, 64, 128, 256, 512, 1024, 1536, 2048};

TEST(OwnedArraysGrowth, ComPtrArrayGrowsInBlocksOfFour) {
  ComPtrArray<> array;
  EXPECT_EQ(array.GetCapacity(), 0);
  EXPECT_EQ(CapacitiesWhileAppending(array, 2048), kGrowthBy4);
}

TEST(OwnedArraysGrowth, PtrArrayGrowsInBlocksOfEight) {
  PtrArray<> array;
  EXPECT_EQ(CapacitiesWhileAppending(array, 2048), kGrowthBy8);
}

TEST(OwnedArraysGrowth, SortedIdArrayGrowsInBlocksOfEight) {
  SortedIdArray ids;
  std::vector<int32_t> seen;
  for (int32_t i = 0; i < 2048; ++i) {
    ASSERT_TRUE(ids.Add(i * 3));
    if (seen.empty() || seen.back() != ids.GetCapacity()) seen.push_back(ids.GetCapacity());
  }
  EXPECT_EQ(seen, kGrowthBy8);
}

TEST(OwnedArraysGrowth, SortedStringArrayGrowsInBlocksOfFour) {
  SortedStringArray names;
  std::vector<int32_t> seen;
  for (int32_t i = 0; i < 2048; ++i) {
    std::u16string name = u"n";
    for (int32_t v = i; v > 0; v /= 10) name.push_back(static_cast<char16_t>(u'0' + v % 10));
    ASSERT_TRUE(names.Add(name.c_str()));
    if (seen.empty() || seen.back() != names.GetCapacity()) seen.push_back(names.GetCapacity());
  }
  EXPECT_EQ(seen, kGrowthBy4);
}

TEST(OwnedArraysGrowth, FullArrayOf1024GrowsBy512) {
  ComPtrArray<> array;
  while (array.GetCount() < 1024) array.InsertAt(array.GetCount());
  ASSERT_EQ(array.GetCapacity(), 1024);
  array.InsertAt(0);
  EXPECT_EQ(array.GetCapacity(), 1536);
}

TEST(OwnedArraysGrowth, AllocateBlockRoundsUp) {
  int32_t capacity = 5;
  IUnknown** block = ComPtrArray<>::AllocateBlock(capacity);
  EXPECT_EQ(capacity, 8);
  for (int32_t i = 0; i < capacity; ++i) EXPECT_EQ(block[i], nullptr);
  delete[] block;
  capacity = 9;
  block = PtrArray<>::AllocateBlock(capacity);
  EXPECT_EQ(capacity, 16);
  for (int32_t i = 0; i < capacity; ++i) EXPECT_EQ(block[i], nullptr);
  delete[] block;
}

TEST(InterfaceArrays, InsertKeepsOrderAndOpensNullSlot) {
  CountedObject a, b, c;
  PtrArray<> array;
  array.Add(&a);
  array.Add(&c);
  array.InsertAt(1);
  EXPECT_EQ(array.GetAt(1), nullptr);
  array.SetAt(1, &b);
  EXPECT_EQ(array.GetAt(0), &a);
  EXPECT_EQ(array.GetAt(1), &b);
  EXPECT_EQ(array.GetAt(2), &c);
  EXPECT_EQ(array.GetCount(), 3);
}

TEST(InterfaceArrays, ReferencesSurviveGrowthAndAreReleasedOnce) {
  CountedObject objects[9];
  {
    ComPtrArray<> array;
    for (auto& o : objects) array.InsertAt(0), array.SetAt(0, &o);  // grows 4 -> 8 -> 16
    for (auto& o : objects) EXPECT_EQ(o.refs, 2u);
    array.RemoveAt(3);
    EXPECT_EQ(objects[5].refs, 1u);  // inserted at the front: index 3 is the sixth
    EXPECT_EQ(array.GetCount(), 8);
  }
  for (auto& o : objects) EXPECT_EQ(o.refs, 1u);
}

TEST(InterfaceArrays, RemoveAllReleasesAndResets) {
  CountedObject a;
  PtrArray<> array;
  array.Add(&a);
  array.InsertAt(1);  // a null slot is skipped when releasing
  array.RemoveAll();
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(array.GetCount(), 0);
  EXPECT_EQ(array.GetCapacity(), 0);
}

TEST(InterfaceArrays, InsertOutsideTheArrayIsRefused) {
  ComPtrArray<> array;
  EXPECT_THROW(array.InsertAt(1), std::out_of_range);
  EXPECT_THROW(array.InsertAt(-1), std::out_of_range);
  EXPECT_EQ(array.GetCount(), 0);
}

TEST(SortedPtrArrayTest, KeepsDistinctObjectsInPointerOrder) {
  CountedObject objects[5];
  SortedPtrArray<> set;
  int32_t index = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i : {3, 0, 4, 1, 2}) {
      if (set.Find(&objects[i], &index)) continue;
      set.InsertAt(index);
      set.SetAt(index, &objects[i]);
    }
  }
  ASSERT_EQ(set.GetCount(), 5);
  for (int32_t i = 0; i + 1 < set.GetCount(); ++i) {
    EXPECT_LT(reinterpret_cast<uintptr_t>(set.GetAt(i)),
              reinterpret_cast<uintptr_t>(set.GetAt(i + 1)));
  }
  EXPECT_TRUE(set.Find(&objects[2], &index));
  EXPECT_EQ(set.GetAt(index), &objects[2]);
}

TEST(SortedIdArrayTest, AddKeepsAscendingOrderWithoutDuplicates) {
  SortedIdArray ids;
  for (int32_t id : {40, -7, 12, 40, 0, 12, 2147483647, -2147483647 - 1}) ids.Add(id);
  ASSERT_EQ(ids.GetCount(), 6);
  const int32_t expected[] = {-2147483647 - 1, -7, 0, 12, 40, 2147483647};
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(ids.GetAt(i), expected[i]);
  EXPECT_FALSE(ids.Add(12));
  EXPECT_EQ(ids.GetCount(), 6);
}

TEST(SortedIdArrayTest, FindGivesInsertPositions) {
  SortedIdArray ids;
  int32_t index = -1;
  EXPECT_FALSE(ids.Find(5, &index));
  EXPECT_EQ(index, 0);
  for (int32_t id : {10, 20, 30}) ids.Add(id);
  EXPECT_FALSE(ids.Find(99, &index));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(ids.Find(1, &index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(ids.Find(25, &index));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(ids.Find(20, &index));
  EXPECT_EQ(index, 1);
  ids.RemoveAll();
  EXPECT_EQ(ids.GetCapacity(), 0);
}

TEST(SortedFindTest, ClampedSearchStaysInsideTheArray) {
  const int32_t values[] = {1, 3, 5, 7};
  int32_t index = -1;
  auto compareWith = [&](int32_t key) {
    return [&values, key](int32_t i) { return key < values[i] ? -1 : (key > values[i] ? 1 : 0); };
  };
  EXPECT_TRUE(SortedFindClamped(4, -10, 99, compareWith(7), &index));
  EXPECT_EQ(index, 3);
  EXPECT_TRUE(SortedFindClamped(4, -1, 2, compareWith(1), &index));
  EXPECT_EQ(index, 0);
  // high below low is raised to low: only element 2 is looked at.
  EXPECT_FALSE(SortedFindClamped(4, 2, 0, compareWith(1), &index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(SortedFindClamped(0, 0, 0, compareWith(1), &index));
  EXPECT_EQ(index, 0);
}

TEST(OwnedStringTest, CopiesAreDeep) {
  OwnedString a(u"Pressure");
  OwnedString b(a);
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(Narrow(b.Get()), "Pressure");
  OwnedString c;
  c = a;
  EXPECT_NE(c.Get(), a.Get());
  OwnedString& alias = c;
  c = alias;  // assignment from itself keeps the text
  EXPECT_EQ(Narrow(c.Get()), "Pressure");
  OwnedString empty;
  c = empty;
  EXPECT_EQ(c.Get(), nullptr);
}

TEST(SortedStringArrayTest, CaseVariantIsNotAddedAndSpellingKept) {
  SortedStringArray names;
  EXPECT_TRUE(names.Add(u"Pressure"));
  EXPECT_FALSE(names.Add(u"pressure"));
  ASSERT_EQ(names.GetCount(), 1);
  EXPECT_EQ(Narrow(names.GetAt(0)), "Pressure");
}

TEST(SortedStringArrayTest, SortedAndSearchedWithoutRegardToCase) {
  SortedStringArray names;
  for (const char16_t* s : {u"b", u"a", u"c"}) names.Add(s);
  EXPECT_EQ(Narrow(names.GetAt(0)), "a");
  EXPECT_EQ(Narrow(names.GetAt(1)), "b");
  EXPECT_EQ(Narrow(names.GetAt(2)), "c");
  int32_t position = -1;
  EXPECT_TRUE(names.Find(u"B", &position));
  EXPECT_EQ(position, 1);
  EXPECT_FALSE(names.Find(u"bb", &position));
  EXPECT_EQ(position, 2);
  EXPECT_FALSE(names.Find(u"zz", &position));
  EXPECT_EQ(position, 3);
}

TEST(SortedStringArrayTest, EmptyArrayFindsNothingAtZero) {
  SortedStringArray names;
  int32_t position = -1;
  EXPECT_FALSE(names.Find(u"x", &position));
  EXPECT_EQ(position, 0);
}

TEST(SortedStringArrayTest, LettersFoldAsciiOnly) {
  // Underscore sorts after capitals but before small letters in ASCII; with
  // folding to lower case it sorts before letters.
  SortedStringArray names;
  for (const char16_t* s : {u"B", u"_", u"a"}) names.Add(s);
  EXPECT_EQ(Narrow(names.GetAt(0)), "_");
  EXPECT_EQ(Narrow(names.GetAt(1)), "a");
  EXPECT_EQ(Narrow(names.GetAt(2)), "B");
}

TEST(SortedStringArrayTest, GrowthPointsAtFifthAnd513thAnd1025th) {
  SortedStringArray names;
  std::vector<std::pair<int32_t, int32_t>> growth;  // (count after add, capacity)
  int32_t last = 0;
  for (int32_t i = 0; i < 1025; ++i) {
    std::u16string name = u"k";
    for (int32_t v = i; v > 0; v /= 10) name.push_back(static_cast<char16_t>(u'0' + v % 10));
    names.Add(name.c_str());
    if (names.GetCapacity() != last) growth.emplace_back(names.GetCount(), names.GetCapacity());
    last = names.GetCapacity();
  }
  EXPECT_NE(std::find(growth.begin(), growth.end(), std::make_pair(5, 8)), growth.end());
  EXPECT_NE(std::find(growth.begin(), growth.end(), std::make_pair(513, 1024)), growth.end());
  EXPECT_NE(std::find(growth.begin(), growth.end(), std::make_pair(1025, 1536)), growth.end());
}

TEST(SortedStringArrayTest, RemoveAllKeepsTheBlockForReuse) {
  SortedStringArray names;
  for (const char16_t* s : {u"a", u"b", u"c", u"d", u"e"}) names.Add(s);
  ASSERT_EQ(names.GetCapacity(), 8);
  names.RemoveAll();
  EXPECT_EQ(names.GetCount(), 0);
  EXPECT_EQ(names.GetCapacity(), 8);
  EXPECT_TRUE(names.Add(u"x"));
  EXPECT_EQ(names.GetCapacity(), 8);
  EXPECT_EQ(Narrow(names.GetAt(0)), "x");
}

TEST(SortedStringArrayTest, NullStringIsHeldAsNullSlotBeforeOthers) {
  SortedStringArray names;
  names.Add(u"a");
  EXPECT_TRUE(names.Add(nullptr));
  EXPECT_EQ(names.GetAt(0), nullptr);
  EXPECT_FALSE(names.Add(u""));  // compares equal to the null slot
}

TEST(OwnedStringArrayTest, RemoveAllFreesTheBlock) {
  OwnedStringArray list;
  list.Append(u"z");
  list.Append(u"a");
  EXPECT_EQ(Narrow(list.GetAt(0)), "z");
  EXPECT_EQ(Narrow(list.GetAt(1)), "a");
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetCapacity(), 0);
}

}  // namespace
