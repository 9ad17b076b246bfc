// The route cache beside another process: a page's placed objects changed
// by another process between two calls of this one are seen by the second
// call's walk, as a change made here is.
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "kxstoreutils.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "support/fieldfixture.h"
#include "support/modelfixture.h"
#include "testhost.h"
#include "teststore.h"

namespace modeltest {
namespace {

int32_t ListCount(IKXQObject* object, const char16_t* attribute) {
  IKXQAttributePtr list;
  GetAttributeInterface(object, attribute, list);
  return list ? GetAttributeCount(list) : -1;
}

// In a child process of its own (a second host on the file): puts nozzle 1
// on the page, not on a node, and commits.
int PlaceNozzleElsewhere(const std::string& path) {
  std::unique_ptr<kx::store::Store> other;
  if (!kx::store::Store::Open(path, kx::store::OpenMode::kOpenExisting, &other).ok()) return 2;
  IKXQObjectPtr page = kxtest::ObjectOf(other->Database(), kFieldPage);
  IKXQObjectPtr nozzle = kxtest::ObjectOf(other->Database(), kFieldNozzle1);
  if (!page || !nozzle) return 3;
  if (!other->Begin().ok()) return 4;
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  KXDBDatasheetSvcs::SetAttributeObjectAt(objects, GetAttributeCount(objects) + 1, nozzle);
  return other->Commit().ok() ? 0 : 5;
}

TEST(RouteCacheProcesses, AnotherProcessPlacingAnObjectBetweenTwoCallsIsSeenByTheNextWalk) {
  char folder[] = "/tmp/kxroutes-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/s.kxq";
  auto store = kxtest::OpenStore(kFieldFixture, "field fixture", path);
  ASSERT_TRUE(store);
  IKXQObjectPtr page = kxtest::ObjectOf(store->Database(), kFieldPage);
  IKXQTemplateLibraryPtr library;
  store->Database()->get_TemplateLibrary(&library);
  IKXQTemplatePtr tmpl;
  library->GetTemplate(_bstr_t(u"TP"), _variant_t(), &tmpl);
  IKXQTemplatePagePtr templatePage;
  tmpl->get_PageById(_bstr_t(u"P1"), &templatePage);
  ASSERT_TRUE(templatePage);

  // The first call: nozzle 2 placed on its node, then a walk that places
  // nothing leaves the page's set in the cache.
  ASSERT_TRUE(store->Begin().ok());
  Resolve(page, TemplateField(templatePage, kNozzle2Field), false);
  Resolve(page, TemplateField(templatePage, kNozzle2Field), false);
  ASSERT_TRUE(store->Commit().ok());

  // Meanwhile another process puts nozzle 1 on the page.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) ::_exit(PlaceNozzleElsewhere(path));
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  // The second call catches up: nozzle 1 stands on the page, so writing
  // field 8 ("Nozzles(1)") goes to a fresh member, not into nozzle 1.
  ASSERT_TRUE(store->Begin().ok());
  _variant_t position;
  const IKXQFieldValuePtr holder =
      Resolve(page, TemplateField(templatePage, kNozzle1Field), true, nullptr, &position);
  ASSERT_TRUE(holder);
  FieldUtils::SetAttributeValueFromText(holder, position, u"9", nullptr);
  ASSERT_TRUE(store->Commit().ok());
  IKXQObjectPtr pump = kxtest::ObjectOf(store->Database(), kFieldPump);
  EXPECT_EQ(ListCount(pump, u"Nozzles"), 3);
  IKXQAttributePtr size;
  GetAttributeInterface(kxtest::ObjectOf(store->Database(), kFieldNozzle1), u"Size", size);
  _bstr_t kept;
  KXDBDatasheetSvcs::GetAttributeValueString(size, kept);
  EXPECT_EQ(Narrow(kept), "1");

  store.reset();
  for (const char* part : {"", "-wal", "-shm"}) ::unlink((path + part).c_str());
  ::rmdir(folder);
}

// A call that fails is rolled back: the objects its walks placed on the page
// are off it again, and the set its walks cached goes with them. Writing
// field 8 ("Nozzles(1)") in the next call goes into nozzle 1, not into a
// fresh member made because nozzle 1 still seemed to stand on the page.
TEST(RouteCacheProcesses, ARolledBackCallLeavesNoPlacedObjectBehindInTheCache) {
  char folder[] = "/tmp/kxroutes-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/s.kxq";
  auto store = kxtest::OpenStore(kFieldFixture, "field fixture", path);
  ASSERT_TRUE(store);
  IKXQObjectPtr page = kxtest::ObjectOf(store->Database(), kFieldPage);
  IKXQTemplateLibraryPtr library;
  store->Database()->get_TemplateLibrary(&library);
  IKXQTemplatePtr tmpl;
  library->GetTemplate(_bstr_t(u"TP"), _variant_t(), &tmpl);
  IKXQTemplatePagePtr templatePage;
  tmpl->get_PageById(_bstr_t(u"P1"), &templatePage);
  ASSERT_TRUE(templatePage);
  const int32_t placedBefore = ListCount(page, u"NodeObjects");

  // The failed call: nozzle 1 placed on its node, then a walk that places
  // nothing caches the page's set with it; the call is rolled back.
  ASSERT_TRUE(store->Begin().ok());
  Resolve(page, TemplateField(templatePage, kNozzle1Field), false);
  Resolve(page, TemplateField(templatePage, kNozzle1Field), false);
  ASSERT_GT(ListCount(page, u"NodeObjects"), placedBefore);
  ASSERT_TRUE(store->Rollback().ok());
  ASSERT_EQ(ListCount(page, u"NodeObjects"), placedBefore);

  ASSERT_TRUE(store->Begin().ok());
  _variant_t position;
  const IKXQFieldValuePtr holder =
      Resolve(page, TemplateField(templatePage, kNozzle1Field), true, nullptr, &position);
  ASSERT_TRUE(holder);
  FieldUtils::SetAttributeValueFromText(holder, position, u"9", nullptr);
  ASSERT_TRUE(store->Commit().ok());
  IKXQObjectPtr pump = kxtest::ObjectOf(store->Database(), kFieldPump);
  EXPECT_EQ(ListCount(pump, u"Nozzles"), 2);
  IKXQAttributePtr size;
  GetAttributeInterface(kxtest::ObjectOf(store->Database(), kFieldNozzle1), u"Size", size);
  _bstr_t written;
  KXDBDatasheetSvcs::GetAttributeValueString(size, written);
  EXPECT_EQ(Narrow(written), "9");

  store.reset();
  for (const char* part : {"", "-wal", "-shm"}) ::unlink((path + part).c_str());
  ::rmdir(folder);
}

// A page's objects changed here by other code than the walk (an object
// taken off the page, as removing field objects does) leave no stale set
// either: writing field 8 then goes into nozzle 1, which no longer stands
// on the page.
TEST(RouteCacheProcesses, AnObjectTakenOffThePageHereIsNoLongerSeenPlaced) {
  char folder[] = "/tmp/kxroutes-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/s.kxq";
  auto store = kxtest::OpenStore(kFieldFixture, "field fixture", path);
  ASSERT_TRUE(store);
  IKXQObjectPtr page = kxtest::ObjectOf(store->Database(), kFieldPage);
  IKXQTemplateLibraryPtr library;
  store->Database()->get_TemplateLibrary(&library);
  IKXQTemplatePtr tmpl;
  library->GetTemplate(_bstr_t(u"TP"), _variant_t(), &tmpl);
  IKXQTemplatePagePtr templatePage;
  tmpl->get_PageById(_bstr_t(u"P1"), &templatePage);
  ASSERT_TRUE(templatePage);
  IKXQObjectPtr nozzle = kxtest::ObjectOf(store->Database(), kFieldNozzle1);

  ASSERT_TRUE(store->Begin().ok());
  Resolve(page, TemplateField(templatePage, kNozzle1Field), false);
  Resolve(page, TemplateField(templatePage, kNozzle1Field), false);
  ASSERT_TRUE(store->Commit().ok());

  // The next call takes nozzle 1 off the page.
  ASSERT_TRUE(store->Begin().ok());
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  int32_t at = 0;
  for (int32_t p = 1; p <= GetAttributeCount(objects) && at == 0; ++p) {
    IKXQObjectPtr value;
    GetAttributeAsObject(objects, p, value);
    if (value == nozzle) at = p;
  }
  ASSERT_GT(at, 0);
  KXDBDatasheetSvcs::SetAttributeObjectAt(objects, at, nullptr);
  ASSERT_TRUE(store->Commit().ok());

  ASSERT_TRUE(store->Begin().ok());
  _variant_t position;
  const IKXQFieldValuePtr holder =
      Resolve(page, TemplateField(templatePage, kNozzle1Field), true, nullptr, &position);
  ASSERT_TRUE(holder);
  FieldUtils::SetAttributeValueFromText(holder, position, u"9", nullptr);
  ASSERT_TRUE(store->Commit().ok());
  IKXQObjectPtr pump = kxtest::ObjectOf(store->Database(), kFieldPump);
  EXPECT_EQ(ListCount(pump, u"Nozzles"), 2);
  IKXQAttributePtr size;
  GetAttributeInterface(nozzle, u"Size", size);
  _bstr_t written;
  KXDBDatasheetSvcs::GetAttributeValueString(size, written);
  EXPECT_EQ(Narrow(written), "9");

  store.reset();
  for (const char* part : {"", "-wal", "-shm"}) ::unlink((path + part).c_str());
  ::rmdir(folder);
}

}  // namespace
}  // namespace modeltest
