// A small plant for template validation, opening and comparing: template
// "TV" in two versions (1 and the current 2, which re-orders page "A"'s
// fields, adds two sketch fields, a second length unit, a motor node and
// more revisions), a continuous list "TL" in two versions, and datasheets
// built from them:
//   100 "Stale sheet" (TV 1): page 101 with pump 10, fields 1 and 2, two
//       sketches waiting for their fields, units mm and m, revisions A, B;
//   200 "Lost sheet": page 201 whose template "GONE" does not exist;
//   300 "Fresh sheet" (TV 2): page 301, up to date;
//   400 "List sheet" (TL 1): list page 401 with rows P-1 and P-2;
//   500 "Other sheet" (TO 1): page 501, another template;
//   600 a label (TV 1); 700 "Empty sheet", a datasheet without pages;
//   800 "Nozzle sheet" (TN 1): page 801 showing the spare nozzle N-9 (16,
//       pump P-2's) hidden, pump P-3 (13) with its nozzles N-1 (14) and
//       N-2 (15) and its driver M-1 (12) on child nodes, a sketch waiting for
//       its field; TN 2 moves the spare after the pump, adds a third nozzle
//       node and a sketch field, and shows "Head" where field 3 showed
//       "Flow";
//   900 "Pump pages" (summary TSN 1): page 901 showing P-1 on its root node
//       and again on the child node "Detail", P-2 on "Other", which TSN 2
//       moves behind the child.
// Templates for creation: "TS" (summary of pumps), "BEDD" (named "RQ Master
// BEDD"), "bedd-lower" (the same name in lower case), "GEN" (kind General).
// Object 1 holds the project's dimension set ("SI" or "Workshop").
// The sketch records name files under a fresh temporary folder: `good`
// (holding "sketch") and `bad` (a folder, so reading it fails).
#pragma once

#include <filesystem>
#include <string>

#include "support/pagesfixture.h"

namespace kx::test::validation {

enum : LONG {
  kPump = 10,
  kPump2 = 11,
  kMotor = 12,
  kStale = 100,
  kStalePage = 101,
  kLost = 200,
  kLostPage = 201,
  kFresh = 300,
  kFreshPage = 301,
  kList = 400,
  kListPage = 401,
  kOther = 500,
  kLabel = 600,
  kEmpty = 700,  // a datasheet without pages
  kPump3 = 13,
  kNozzle1 = 14,
  kNozzle2 = 15,
  kSpareNozzle = 16,
  kNozzleSheet = 800,
  kNozzlePage = 801,
  kPumpPages = 900,
  kPumpPagesPage = 901,
};

class ValidationPlant {
 public:
  // `secondSketch` names the file of the second waiting sketch: "good" or
  // "bad"; `units` is the project-wide dimension set (object 1).
  explicit ValidationPlant(const char* secondSketch = "good", const char* units = "SI");
  ~ValidationPlant();

  kx::test::pages::PagesHost& host() { return *host_; }
  // The values of a list attribute of object `id` as text, "|" between
  // them ("-" for an empty slot).
  std::string List(LONG id, const char16_t* name);
  std::string Text(LONG id, const char16_t* name);
  // The number of the item behind `attribute` of object `id`, as the store
  // gives it to a field that shows the attribute.
  LONG ItemNumber(LONG id, const char16_t* attribute);
  // Writes `text` at `position` of the list attribute `name` of `id`.
  void Put(LONG id, const char16_t* name, LONG position, const std::string& text);

 private:
  std::filesystem::path root_;
  std::string fixture_;
  std::unique_ptr<kx::test::pages::PagesHost> host_;
};

}  // namespace kx::test::validation
