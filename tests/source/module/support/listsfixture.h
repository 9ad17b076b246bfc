// A small plant of summary sheets and lists for the composition, filter,
// sort, pack and overspill tests, served end to end by an in-process Main
// (see pagesfixture.h for the host it runs on).
//
// Pumps 10 to 14 and 16 (names P-3, P-1, P-5, P-2, P-4, P-6; speeds and
// flows for the value sorts) and motor 15. Sheets:
// - 100 "TS": page-per-member summary of project 1, pages 101 (pump 10),
//   102 (empty), 103 (pump 12); filter "KX_CLAIM_ONLY" not set.
// - 200 "TC": continuous-list summary, page 201 listing pumps 11, 10, 11
//   (a duplicate) with their field records and revisions.
// - 300 "TR": pump datasheet whose page 301 shows pump 10 and two of its
//   readings; template page R overspills into itself for "Readings".
// - 400 "TR" with the circular chain 401 <-> 402.
// - 500 "TS": summary sheet local to project 2.
// - 600 "TN": page 601 without overspill association.
// - 700 "TR": page 701 shows pump 16, whose two readings fill the page.
// - 800 "TR": page 801 shows pump 10 with its first reading node empty and
//   reading 21 on the second.
#pragma once

namespace liststest {

extern const char* const kListsFixture;

enum : long {
  kSummary = 100,
  kSummaryPage1 = 101,
  kSummaryGap = 102,
  kSummaryPage3 = 103,
  kList = 200,
  kListPage = 201,
  kSheet = 300,
  kSheetPage = 301,
  kLoopSheet = 400,
  kLoop1 = 401,
  kLoop2 = 402,
  kForeignSummary = 500,
  kPlainPage = 601,
  kFullPage = 701,
  kGapPage = 801,
};

}  // namespace liststest
