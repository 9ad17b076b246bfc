// The listing records: their order and duplicates, the elements they write,
// and how they are read from stored datasheets and diagrams.
#include "model/kxinfoclasses.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "host/reply.h"
#include "kxattributeutils.h"
#include "support/modelfixture.h"

using kx::test::model::ModelStore;
using kx::test::model::Narrow;

namespace {

// "Status Title #DocumentId" of each datasheet record, in list order.
std::vector<std::string> Keys(const KXDatasheetInfoList& list) {
  std::vector<std::string> keys;
  for (int32_t i = 0; i < list.GetCount(); ++i) {
    const KXDatasheetInfo& info = list.GetAt(i);
    keys.push_back(std::to_string(info.Status) + " " + Narrow(info.Title) + " #" +
                   std::to_string(info.DocumentId));
  }
  return keys;
}

// What a record (datasheet or diagram) writes on a response of its own.
template <class Info>
std::string Written(const Info& info) {
  auto response = kx::host::MakeRef<kx::host::Response>();
  info.WriteXML(response.get());
  return Narrow(response->text().c_str());
}

TEST(DatasheetInfoList, StatusThenNaturalTitleThenIdAndEachVersionOnce) {
  ModelStore store;
  KXDatasheetInfoList list;
  EXPECT_EQ(list.CurrentPage, 0);
  list.AddTemplateEntry(u"T", u"Tank 1", nullptr, u"TDS", false, u"General", true);
  EXPECT_EQ(list.CurrentPage, 0) << "creation entries leave the current page alone";
  list.AddDocument(4, store.Object(200), u"n", u"Pump 10", u"", u"A", 1, true);
  list.AddDocument(2, store.Object(300), u"n", u"pump 2", u"", u"", 1, true);
  list.AddDocument(2, store.Object(200), u"n", u"Pump 10", u"", u"", 1, true);
  list.AddDocument(2, store.Object(400), u"n", u"Pump 10", u"", u"", 1, true);
  // The same version again, and one only differing in letter case.
  list.AddDocument(2, store.Object(300), u"other", u"PUMP 2", u"", u"", 1, true);
  EXPECT_EQ(list.CurrentPage, 4);
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"0 Tank 1 #-1", "2 pump 2 #300", "2 Pump 10 #200",
                                                  "2 Pump 10 #400", "4 Pump 10 #200"}));
  EXPECT_EQ(Narrow(list.GetAt(1).Name), "n") << "the first of two equal records stays";

  KXDatasheetInfo key;
  key.Status = 2;
  key.Title = u"Pump 9";
  key.DocumentId = 1;
  int32_t index = -1;
  EXPECT_FALSE(list.Find(key, &index));
  EXPECT_EQ(index, 2);
  key.Title = u"pump 10";
  key.DocumentId = 400;
  EXPECT_TRUE(list.Find(key, &index));
  EXPECT_EQ(index, 3);
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.CurrentPage, 0) << "an emptied list is as new";
}

// Title keys are compared four code units at a time: titles alike for
// more than four, and titles that begin others, still sort by their first
// difference, the shorter first.
TEST(DatasheetInfoList, TitlesThatBeginAlikeSortByFirstDifferenceThenLength) {
  ModelStore store;
  KXDatasheetInfoList list;
  const char16_t* const titles[] = {u"Tank farm", u"Tank",        u"Tank farm B",
                                    u"Tank f",    u"Tank farm A", u"Tank fa"};
  LONG id = 200;
  for (const char16_t* title : titles)
    list.AddDocument(1, store.Object(id), u"n", title, u"", u"", 1, true);
  EXPECT_EQ(Keys(list), (std::vector<std::string>{"1 Tank #200", "1 Tank f #200", "1 Tank fa #200",
                                                  "1 Tank farm #200", "1 Tank farm A #200",
                                                  "1 Tank farm B #200"}));
}

// The first eight units of a title decide most comparisons by themselves:
// they order as the units do, high units too, a title that begins another
// first; titles alike in all eight are told apart by the rest, and found.
TEST(DatasheetInfoList, TitlesOrderByTheirUnitsWithinTheFirstEightAndPast) {
  ModelStore store;
  KXDatasheetInfoList list;
  const char16_t* const titles[] = {u"Tanks\u00e9B", u"TanksA",       u"Tanks\uffff",
                                    u"Tank",         u"Tanks\u00e9A", u"TanksAB",
                                    u"Tank farm B",  u"Tank farm A",  u"Tank farm"};
  const char16_t* const names[] = {u"0", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8"};
  for (size_t i = 0; i < std::size(titles); ++i)
    list.AddDocument(1, store.Object(200), names[i], titles[i], u"", u"", 1, true);
  std::string order;
  for (int32_t i = 0; i < list.GetCount(); ++i) order += Narrow(list.GetAt(i).Name);
  EXPECT_EQ(order, "387615402");
  KXDatasheetInfo key;
  key.Status = 1;
  key.Title = u"tank farm b";
  key.DocumentId = 200;
  int32_t index = -1;
  EXPECT_TRUE(list.Find(key, &index));
  EXPECT_EQ(index, 3);
  key.Title = u"Tanks\u00e9";
  EXPECT_FALSE(list.Find(key, &index));
  EXPECT_EQ(index, 6);
}

// Tags of one plant share their first dozen key units ("p-", the digit
// count and the digits, " pump "): past them the whole titles decide, a
// repeated key is listed once, and every record lands in its place
// however the records were added.
TEST(DatasheetInfoList, TitlesAlikeInTheirFirstDozenUnits) {
  ModelStore store;
  KXDatasheetInfoList list;
  const char16_t* const titles[] = {u"P-12345 Pump 10", u"P-12345 Pump 2", u"P-12345 Pump",
                                    u"P-12345 Pump 2",  u"P-12345 Pump B", u"P-12345 Pump 2",
                                    u"P-12345 Pump A",  u"P-12344 Pump 9", u"P-12345 Pumps"};
  const int32_t statuses[] = {1, 1, 1, 1, 1, 1, 2, 1, 1};
  const LONG ids[] = {200, 300, 200, 300, 200, 200, 200, 200, 200};
  const char16_t* const names[] = {u"0", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8"};
  for (size_t i = 0; i < std::size(titles); ++i)
    list.AddDocument(statuses[i], store.Object(ids[i]), names[i], titles[i], u"", u"", 1, true);
  EXPECT_EQ(Keys(list),
            (std::vector<std::string>{"1 P-12344 Pump 9 #200", "1 P-12345 Pump #200",
                                      "1 P-12345 Pump 2 #200", "1 P-12345 Pump 2 #300",
                                      "1 P-12345 Pump 10 #200", "1 P-12345 Pump B #200",
                                      "1 P-12345 Pumps #200", "2 P-12345 Pump A #200"}));
  std::string order;
  for (int32_t i = 0; i < list.GetCount(); ++i) order += Narrow(list.GetAt(i).Name);
  EXPECT_EQ(order, "72510486") << "of equal keys the first added stays";
}

// Records of titles made by `title` (from a random source), in random
// order, some sorted midway: the list holds what sorting the whole keys (ties
// newest first) and keeping each run's first added, or every creation entry
// added with `alwaysAdd`, gives.
template <class MakeTitle>
void ExpectOrderOfWholeKeys(unsigned seed, size_t most, MakeTitle title) {
  ModelStore store;
  std::mt19937 random(seed);
  const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const LONG ids[] = {200, 300, 400};
  struct Expected {
    int32_t status;
    std::u16string key;
    int32_t documentId;
    uint32_t order;
    bool kept;  // a creation entry added with `alwaysAdd`
    std::string name;
  };
  for (int round = 0; round < 40; ++round) {
    KXDatasheetInfoList list;
    std::vector<Expected> expected;
    const auto sortExpected = [&] {
      std::sort(expected.begin(), expected.end(), [](const Expected& a, const Expected& b) {
        return std::tie(a.status, a.key, a.documentId, b.order) <
               std::tie(b.status, b.key, b.documentId, a.order);
      });
      std::vector<Expected> kept;
      for (size_t i = 0; i < expected.size(); ++i) {
        const bool last =
            i + 1 == expected.size() ||
            std::tie(expected[i].status, expected[i].key, expected[i].documentId) !=
                std::tie(expected[i + 1].status, expected[i + 1].key, expected[i + 1].documentId);
        if (last || expected[i].kept) kept.push_back(expected[i]);
      }
      expected = kept;
    };
    const size_t count = 1 + pick(most);
    for (uint32_t i = 0; i < count; ++i) {
      const std::u16string made = title(pick);
      const std::string name = std::to_string(i);
      const std::u16string wide(name.begin(), name.end());
      Expected record{static_cast<int32_t>(pick(3)), {}, -1, i, false, name};
      KXDBDatasheetSvcs::AppendNaturalKey(made.c_str(), record.key);
      if (record.status == 0) {
        record.kept = pick(2) == 0;
        list.AddTemplateEntry(wide.c_str(), made.c_str(), nullptr, u"TDS", false, u"General",
                              record.kept);
      } else {
        record.documentId = ids[pick(std::size(ids))];
        list.AddDocument(record.status, store.Object(record.documentId), wide.c_str(), made.c_str(),
                         u"", u"", 1, true);
      }
      expected.push_back(record);
      if (pick(100) == 0) {
        sortExpected();
        ASSERT_EQ(list.GetCount(), static_cast<int32_t>(expected.size()));
      }
    }
    sortExpected();
    std::vector<std::string> names;
    std::vector<std::string> wanted;
    for (int32_t i = 0; i < list.GetCount(); ++i) names.push_back(Narrow(list.GetAt(i).Name));
    for (const Expected& record : expected) wanted.push_back(record.name);
    ASSERT_EQ(names, wanted) << "round " << round;
  }
}

// Titles of a few pieces: many keys agree in their first dozen units.
TEST(DatasheetInfoList, RandomTitlesAsSortingTheWholeKeys) {
  const std::u16string parts[] = {u"P-", u"p-", u"1", u"12", u"0012", u"12345", u"9", u"Pump",
                                  u" ",  u"A",  u"a", u"b",  u"10",   u"2",     u"",  u"\u00e9"};
  ExpectOrderOfWholeKeys(7, 300, [&](const auto& pick) {
    std::u16string title;
    for (size_t n = pick(7); n > 0; --n) title += parts[pick(std::size(parts))];
    return title;
  });
}

// Records sorted again by the next dozen units of their keys while their
// heads are equal: titles alike for up to hundreds of units, ending anywhere
// (empty ones too), differing in letter case only, or long past a thousand.
TEST(DatasheetInfoList, TitlesAlikeFarIntoTheirKeysAsSortingTheWholeKeys) {
  std::u16string common;
  while (common.size() < 1200) common += u"P-0012 Pump train 7 of column C-3, spare ";
  const std::u16string tails[] = {u"", u"a", u"A", u"b", u"1", u"10", u"01", u" ", u"\uffff"};
  ExpectOrderOfWholeKeys(11, 200, [&](const auto& pick) {
    const size_t reach[] = {0, 12, 24, 36, 200, common.size()};
    const size_t length = std::min(common.size(), reach[pick(std::size(reach))] + pick(3));
    std::u16string title = common.substr(0, length);
    for (size_t n = pick(3); n > 0; --n) title += tails[pick(std::size(tails))];
    if (pick(4) == 0)
      for (char16_t& c : title)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return title;
  });
}

TEST(DatasheetInfoList, CreationEntriesWithEqualKeys) {
  ModelStore store;
  KXDatasheetInfoList list;
  list.AddTemplateEntry(u"Summary", u"Pumps", nullptr, u"TSUM", true, u"General", false);
  list.AddTemplateEntry(u"Summary", u"Pumps", nullptr, u"TSUM2", true, u"General", false);
  ASSERT_EQ(list.GetCount(), 1) << "an entry without always-add does not repeat a key";
  list.AddTemplateEntry(u"A", u"Pumps", nullptr, u"TA", false, u"General", true);
  list.AddTemplateEntry(u"B", u"Pumps", nullptr, u"TB", false, u"General", true);
  ASSERT_EQ(list.GetCount(), 3);
  // Each always-add entry goes before the equal ones already listed.
  EXPECT_EQ(Narrow(list.GetAt(0).TemplateId), "TB");
  EXPECT_EQ(Narrow(list.GetAt(1).TemplateId), "TA");
  EXPECT_EQ(Narrow(list.GetAt(2).TemplateId), "TSUM");
  EXPECT_EQ(list.GetAt(2).Type, 2);
}

TEST(DatasheetInfo, WrittenAttributes) {
  ModelStore store;
  KXDatasheetInfoList list;
  list.AddTemplateEntry(u"Pump datasheet", u"P-102: Pump datasheet", store.Object(101), u"TDS",
                        false, u"Rotating", true);
  list.AddTemplateEntry(u"Pump datasheet", u"P-101: Pump datasheet", store.Object(100), u"TDS",
                        false, u"Rotating", true);
  list.AddDocument(1, store.Object(200), nullptr, u"Pump sheet", u"Design", nullptr, 3, false);
  EXPECT_EQ(list.GetAt(0).ObjectId, 100);
  EXPECT_TRUE(list.GetAt(0).Scoped) << "P-101 is claimed by the root project";
  EXPECT_EQ(list.GetAt(1).ObjectId, 101);
  EXPECT_FALSE(list.GetAt(1).Scoped) << "P-102 is claimed by no project";
  EXPECT_EQ(
      Written(list.GetAt(2)),
      "<Datasheet Status=\"1\" Name=\"\" Title=\"Pump sheet\" DocumentId=\"200\" Case=\"Design\" "
      "Scoped=\"0\" Type=\"3\" DatasheetCategory=\"General\"/>");
  KXDatasheetInfo scoped;
  scoped.Status = 0;
  scoped.Name = u"N";
  scoped.Title = u"T";
  scoped.ObjectId = 7;
  scoped.TemplateId = u"X";
  scoped.Scoped = true;
  scoped.Revision = u"B";
  EXPECT_EQ(Written(scoped),
            "<Datasheet Status=\"0\" Name=\"N\" Title=\"T\" ObjectId=\"7\" TemplateId=\"X\" "
            "Revision=\"B\" Scoped=\"1\" Type=\"1\" DatasheetCategory=\"General\"/>");
  scoped.Scoped = false;
  EXPECT_EQ(Written(scoped), "") << "a creation entry out of scope is kept but not written";
}

// A list written whole with one attribute list writes what its records
// write one by one, also for records added after it was first read; a text
// given as null stays null in the record, an empty one empty.
TEST(DatasheetInfoList, WrittenWholeAsRecordByRecord) {
  ModelStore store;
  KXDatasheetInfoList list;
  list.Reserve(2);
  list.AddDocument(1, store.Object(200), u"n", u"Pump 10", u"Design", nullptr, 1, true);
  list.AddTemplateEntry(u"T", u"Tank", store.Object(100), u"TDS", false, u"Rotating", true);
  ASSERT_EQ(list.GetCount(), 2);
  list.AddDocument(2, store.Object(300), nullptr, u"Pump 2", u"", u"", 3, false);
  list.AddDocument(1, store.Object(300), u"a<b", u"Pump 2", u"Design", u"B", 2, true);
  ASSERT_EQ(list.GetCount(), 4);
  auto whole = kx::host::MakeRef<kx::host::Response>();
  IKXQXMLAttributes* shared = nullptr;
  ASSERT_EQ(S_OK, whole->NewAttributes(&shared));
  list.WriteRecords(whole.get(), shared);
  shared->Release();
  std::string oneByOne;
  for (int32_t i = 0; i < list.GetCount(); ++i) oneByOne += Written(list.GetAt(i));
  EXPECT_EQ(Narrow(whole->text().c_str()), oneByOne);
  EXPECT_NE(oneByOne.find("Name=\"a&lt;b\" Title=\"Pump 2\" DocumentId=\"300\""),
            std::string::npos);
  const KXDatasheetInfo& submitted = list.GetAt(3);
  ASSERT_EQ(submitted.Status, 2);
  EXPECT_EQ(static_cast<const OLECHAR*>(submitted.Name), nullptr);
  ASSERT_NE(static_cast<const OLECHAR*>(submitted.Revision), nullptr);
  EXPECT_EQ(submitted.Revision.length(), 0u);
  EXPECT_EQ(Narrow(list.GetAt(1).Revision), "B");
  EXPECT_EQ(list.GetAt(1).Type, 2);
  EXPECT_EQ(static_cast<const OLECHAR*>(list.GetAt(2).Revision), nullptr);
}

TEST(DatasheetInfoList, EveryVersionOfAStoredDatasheet) {
  ModelStore store;
  KXDatasheetInfoList list;
  list.AddDatasheet(store.application(), store.Object(kx::test::model::kSheet));
  list.AddDatasheet(store.application(), store.Object(kx::test::model::kSheet));
  ASSERT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.GetAt(0).Status, 1);
  EXPECT_EQ(list.GetAt(1).Status, 2);
  EXPECT_EQ(list.GetAt(2).Status, 4);
  EXPECT_EQ(list.CurrentPage, 1);
  EXPECT_EQ(Narrow(list.GetAt(2).Name), "Pump sheet");
  EXPECT_EQ(Narrow(list.GetAt(0).Title), Narrow(list.GetAt(2).Title));
  EXPECT_EQ(list.GetAt(0).Type, 1);
}

TEST(DiagramInfoList, OrderClassesAndVersions) {
  ModelStore store;
  KXDiagramInfoList list;
  list.AddDocument(0, nullptr, u"Shared Diagram", u"", u"");
  list.AddDocument(0, nullptr, u"new PFD Diagram", u"", u"");
  list.AddDocument(0, nullptr, u"New PFD Diagram", u"", u"");
  list.AddDiagram(store.application(), store.database(), store.Object(kx::test::model::kDiagram));
  ASSERT_EQ(list.GetCount(), 4);
  EXPECT_EQ(Narrow(list.GetAt(0).Name), "New PFD Diagram") << "equal names: the later first";
  EXPECT_EQ(Narrow(list.GetAt(1).Name), "new PFD Diagram");
  EXPECT_EQ(Narrow(list.GetAt(2).Name), "Shared Diagram");
  const KXDiagramInfo& diagram = list.GetAt(3);
  EXPECT_EQ(diagram.Status, 1);
  EXPECT_EQ(diagram.DocumentId, kx::test::model::kDiagram);
  EXPECT_EQ(Narrow(diagram.DiagramClass), "PFD") << "class \"Diagram\" shows as PFD";
  EXPECT_EQ(Narrow(diagram.Case), "Design");
  EXPECT_EQ(list.CurrentPage, 1);
  EXPECT_EQ(Written(diagram),
            "<Diagram Name=\"PID-1\" DiagramClass=\"PFD\" Status=\"1\" DocumentId=\"700\" "
            "Case=\"Design\" Type=\"0\"/>");
  EXPECT_EQ(Written(list.GetAt(0)),
            "<Diagram Name=\"New PFD Diagram\" DiagramClass=\"PFD\" Status=\"0\" Scoped=\"1\" "
            "Type=\"0\"/>");

  KXDiagramInfo shared;
  shared.Name = u"PID-1 [Diagram]";
  shared.DocumentId = 700;
  EXPECT_EQ(
      Written(shared),
      "<Diagram Name=\"PID-1 [Diagram]\" DiagramClass=\"PFD\" DocumentId=\"700\" Type=\"0\"/>");
}

}  // namespace
