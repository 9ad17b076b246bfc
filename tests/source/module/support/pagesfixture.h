// A small store and an in-process module for the page-contents tests.
//
// PagesHost is the shared test host (testhost.h) on a store made from
// `kPagesFixture`, its application reporting the root project, so that
// requests run end to end: host, module, store, reply and change events.
// Beside that it can serve a "request" by hand (a response held by Main)
// for the routines that have no message of their own, such as the loader.
//
// The fixture: template "TP" (checknum 2, and an older version 1) with page
// "A" (a string, a real with a unit and a check field on node "Equipment",
// one unit field in Length, three revisions, one qualifier) and page "B";
// template "TS" (kind Summary); template "TO" whose page "O" overspills
// into itself. Ids below.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "host/reply.h"
#include "testhost.h"

namespace kx::test::pages {

extern const char* const kPagesFixture;

enum : LONG {
  kPump1 = 10,
  kPump2 = 11,
  kMotor = 12,
  kSheet = 100,  // "Pump sheet": current 101, 102, 103; issued 111; submitted 121
  kPage1 = 101,  // name "Sheet %d", print set-up PaperSource only, annotation 1
  kPage2 = 102,
  kPage3 = 103,
  kIssued1 = 111,     // issued copy of 101: fields 1, (none), 2, a broken one; annotations 1, 2
  kSubmitted1 = 121,  // submitted copy of 101
  kFolded = 200,      // datasheet in folder 302, below retrievable folder 300
  kFoldedPage = 201,
  kOldSheet = 210,  // made from TP version 1
  kOldPage = 211,
  kSummary = 400,  // summary sheet of project 1, filter "kx_claim_only"
  kSummaryPage = 401,
  kChain = 500,  // pages 501 -> 502 -> 503 linked by "OverspillTo"
  kChain1 = 501,
  kChain2 = 502,
  kChain3 = 503,
  kList = 700,          // continuous list "TL": fixed fields 1-3, rows of 3 fields
  kListPage = 701,      // rows P-1, P-2
  kListIssued = 711,    // its issued copy, with stored fields and revisions of both rows
  kNoValues = 800,      // continuous list "TZ" whose repeating fields have no values
  kNoValuesPage = 801,  // three revisions, one value key
  kLoop = 600,          // pages 601 <-> 602: a circular chain
  kLoop1 = 601,
  kLoop2 = 602,
};

class PagesHost : public kx::test::TestHost {
 public:
  explicit PagesHost(const char* fixture = kPagesFixture);

  // A request served by hand: a fresh response held by Main.
  void BeginHandRequest();
  // The reply written by hand so far (open elements closed).
  std::string HandReply();
  kx::host::Response& response() { return *response_; }

  // Sends a message end to end; the reply (or the error description) in
  // UTF-8.
  kx::host::RequestResult Request(const char16_t* name, const std::u16string& text);

  // Sets the user's current datasheet and page (0: none).
  void SetCurrent(LONG datasheet, LONG page);
  // "#ID" or "none" for the current datasheet and page.
  std::string Current();
  // The values of attribute `name` of object `id`: "#ID" per object value,
  // the text otherwise, "-" for an empty slot.
  std::vector<std::string> Values(long id, const char16_t* name);

 private:
  kx::host::Ref<kx::host::Response> response_;
  kx::host::Ref<kx::host::RequestContext> context_;
};

std::string Narrow(std::u16string_view text);
// The first "Desc" of an error description.
std::string FirstDesc(const std::u16string& error);
// The reply in UTF-8, or "error: " and the first "Desc" of the error.
std::string ReplyText(const kx::host::RequestResult& result);
// Number of occurrences of `needle` in `text`.
size_t Count(const std::string& text, const std::string& needle);

}  // namespace kx::test::pages
