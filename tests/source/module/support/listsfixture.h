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

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "pagesfixture.h"

namespace kx::test::lists {

using kx::test::pages::Narrow;
using kx::test::pages::PagesHost;

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

// The plant above served end to end, with the messages' and the
// store's small helpers.
class ListsTest : public ::testing::Test {
 protected:
  ListsTest() : host_(kListsFixture) {}

  kx::host::RequestResult Send(const char16_t* message, const std::u16string& body,
                               const std::u16string& target = u"T") {
    return host_.Request(message, u"<XMLMessage TargetId=\"" + target + u"\" Status=\"1\">" + body +
                                      u"</XMLMessage>");
  }
  std::vector<std::string> Values(long id, const char16_t* name) { return host_.Values(id, name); }
  std::string Text(long id, const char16_t* name) {
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeString(host_.Object(id), text, name, -1);
    return Narrow(text.length() > 0 ? text.view() : u"");
  }
  long Link(long id, const char16_t* name) {
    IKXQObjectPtr linked;
    KXDBDatasheetSvcs::GetAttributeObjectByName(host_.Object(id), linked, name);
    return linked ? ObjectIdOf(linked) : 0;
  }
  bool HasTrigger(long id, const char16_t* name) {
    VARIANT_BOOL has = VARIANT_FALSE;
    (void)host_.Object(id)->HasTrigger(_bstr_t(name), &has);
    return has == VARIANT_TRUE;
  }
  static std::vector<std::string> Keys(const kx::host::CallResult& result) {
    std::vector<std::string> keys;
    for (const auto& event : result.events) keys.push_back(Narrow(event.key.value_or(u"?")));
    return keys;
  }
  static std::string Reply(const kx::host::RequestResult& result) {
    return kx::test::pages::ReplyText(result);
  }
  std::u16string Filter(long page, const char16_t* filter, bool attach) {
    return u"<ApplyDatasheetFilter PageId=\"" + std::u16string(kx_ltow(page, 10)) +
           u"\" FieldId=\"1\" FilterId=\"" + filter + u"\" Attach=\"" + (attach ? u"1" : u"0") +
           u"\"/>";
  }
  std::u16string Sort(long page, long field, const char16_t* code) {
    return u"<ApplyDatasheetSort PageId=\"" + std::u16string(kx_ltow(page, 10)) + u"\" FieldId=\"" +
           std::u16string(kx_ltow(field, 10)) + u"\" SortId=\"" + code + u"\"/>";
  }
  // The row objects of the list page and the value of each row's name field.
  std::vector<std::string> Rows() {
    std::vector<std::string> objects = Values(kListPage, u"NodeObjects");
    return std::vector<std::string>(objects.begin() + 1, objects.end());
  }

  PagesHost host_;
};

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace kx::test::lists
