// The route cache beside another process: a page's placed objects changed
// by another process between two calls of this one are seen by the second
// call's walk, as a change made here is.
#include <filesystem>
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

namespace kx::test::model {
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
  IKXQObjectPtr page = kx::test::ObjectOf(other->Database(), kFieldPage);
  IKXQObjectPtr nozzle = kx::test::ObjectOf(other->Database(), kFieldNozzle1);
  if (!page || !nozzle) return 3;
  if (!other->Begin().ok()) return 4;
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  KXDBDatasheetSvcs::SetAttributeObjectAt(objects, GetAttributeCount(objects) + 1, nozzle);
  return other->Commit().ok() ? 0 : 5;
}

// A store file of the field fixture in a folder of its own, its page and
// template page, and the write of field 8 ("Nozzles(1)") that each test
// makes last, in a call of its own.
class RouteCacheProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(::mkdtemp(folder_.data()), nullptr);
    path_ = folder_ + "/s.kxq";
    store_ = kx::test::OpenStore(kFieldFixture, "field fixture", path_);
    ASSERT_TRUE(store_);
    page_ = kx::test::ObjectOf(store_->Database(), kFieldPage);
    IKXQTemplateLibraryPtr library;
    store_->Database()->get_TemplateLibrary(&library);
    IKXQTemplatePtr tmpl;
    library->GetTemplate(_bstr_t(u"TP"), _variant_t(), &tmpl);
    tmpl->get_PageById(_bstr_t(u"P1"), &templatePage_);
    ASSERT_TRUE(templatePage_);
  }
  void TearDown() override {
    page_ = nullptr;
    templatePage_ = nullptr;
    store_.reset();
    for (const char* part : {"", "-wal", "-shm"}) ::unlink((path_ + part).c_str());
    ::rmdir(folder_.c_str());
  }
  // A walk to field `field` within a call of its own (placing nothing).
  void Walk(int32_t field) {
    ASSERT_TRUE(store_->Begin().ok());
    Resolve(page_, TemplateField(templatePage_, field), false);
    Resolve(page_, TemplateField(templatePage_, field), false);
    ASSERT_TRUE(store_->Commit().ok());
  }
  // Writes "9" through field 8 in a call of its own; the pump's nozzle
  // count and nozzle 1's "Size" afterwards.
  void WriteNozzle1(int32_t* nozzles, std::string* size1) {
    ASSERT_TRUE(store_->Begin().ok());
    _variant_t position;
    const IKXQFieldValuePtr holder =
        Resolve(page_, TemplateField(templatePage_, kNozzle1Field), true, nullptr, &position);
    ASSERT_TRUE(holder);
    FieldUtils::SetAttributeValueFromText(holder, position, u"9", nullptr);
    ASSERT_TRUE(store_->Commit().ok());
    *nozzles = ListCount(kx::test::ObjectOf(store_->Database(), kFieldPump), u"Nozzles");
    IKXQAttributePtr size;
    GetAttributeInterface(kx::test::ObjectOf(store_->Database(), kFieldNozzle1), u"Size", size);
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeValueString(size, text);
    *size1 = Narrow(text);
  }

  std::string folder_ = (std::filesystem::temp_directory_path() / "kxroutes-XXXXXX").string();
  std::string path_;
  std::unique_ptr<kx::store::Store> store_;
  IKXQObjectPtr page_;
  IKXQTemplatePagePtr templatePage_;
};

TEST_F(RouteCacheProcesses, AnotherProcessPlacingAnObjectBetweenTwoCallsIsSeenByTheNextWalk) {
  // The other process is made before the first walk starts the cache's
  // sweeper thread: a fork beside a thread that is starting may copy a lock
  // that thread holds, and the child would wait on it for ever. It waits
  // for its turn on a pipe.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(go[1]);
    char turn = 0;
    ::_exit(::read(go[0], &turn, 1) == 1 ? PlaceNozzleElsewhere(path_) : 6);
  }
  ::close(go[0]);

  // The first call: nozzle 2 placed on its node, then a walk that places
  // nothing leaves the page's set in the cache.
  Walk(kNozzle2Field);

  // Meanwhile the other process puts nozzle 1 on the page.
  const char turn = 1;
  ASSERT_EQ(::write(go[1], &turn, 1), 1);
  ::close(go[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  // The second call catches up: nozzle 1 stands on the page, so writing
  // field 8 ("Nozzles(1)") goes to a fresh member, not into nozzle 1.
  int32_t nozzles = 0;
  std::string size1;
  WriteNozzle1(&nozzles, &size1);
  EXPECT_EQ(nozzles, 3);
  EXPECT_EQ(size1, "1");
}

// A call that fails is rolled back: the objects its walks placed on the page
// are off it again, and the set its walks cached goes with them. Writing
// field 8 ("Nozzles(1)") in the next call goes into nozzle 1, not into a
// fresh member made because nozzle 1 still seemed to stand on the page.
TEST_F(RouteCacheProcesses, ARolledBackCallLeavesNoPlacedObjectBehindInTheCache) {
  const int32_t placedBefore = ListCount(page_, u"NodeObjects");

  // The failed call: nozzle 1 placed on its node, then a walk that places
  // nothing caches the page's set with it; the call is rolled back.
  ASSERT_TRUE(store_->Begin().ok());
  Resolve(page_, TemplateField(templatePage_, kNozzle1Field), false);
  Resolve(page_, TemplateField(templatePage_, kNozzle1Field), false);
  ASSERT_GT(ListCount(page_, u"NodeObjects"), placedBefore);
  ASSERT_TRUE(store_->Rollback().ok());
  ASSERT_EQ(ListCount(page_, u"NodeObjects"), placedBefore);

  int32_t nozzles = 0;
  std::string size1;
  WriteNozzle1(&nozzles, &size1);
  EXPECT_EQ(nozzles, 2);
  EXPECT_EQ(size1, "9");
}

// A page's objects changed here by other code than the walk (an object
// taken off the page, as removing field objects does) leave no stale set
// either: writing field 8 then goes into nozzle 1, which no longer stands
// on the page.
TEST_F(RouteCacheProcesses, AnObjectTakenOffThePageHereIsNoLongerSeenPlaced) {
  IKXQObjectPtr nozzle = kx::test::ObjectOf(store_->Database(), kFieldNozzle1);
  Walk(kNozzle1Field);

  // The next call takes nozzle 1 off the page.
  ASSERT_TRUE(store_->Begin().ok());
  IKXQAttributePtr objects;
  GetAttributeInterface(page_, u"NodeObjects", objects);
  int32_t at = 0;
  for (int32_t p = 1; p <= GetAttributeCount(objects) && at == 0; ++p) {
    IKXQObjectPtr value;
    GetAttributeAsObject(objects, p, value);
    if (value == nozzle) at = p;
  }
  ASSERT_GT(at, 0);
  KXDBDatasheetSvcs::SetAttributeObjectAt(objects, at, nullptr);
  ASSERT_TRUE(store_->Commit().ok());

  int32_t nozzles = 0;
  std::string size1;
  WriteNozzle1(&nozzles, &size1);
  EXPECT_EQ(nozzles, 2);
  EXPECT_EQ(size1, "9");
}

}  // namespace
}  // namespace kx::test::model
