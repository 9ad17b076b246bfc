// The route cache: entries made, refreshed and swept by age on an injected
// clock, the sweeper thread racing the walks, and shutdown. Built a second
// time under ThreadSanitizer (scripts/test.sh tsan).
#include "fieldmodel/routecache.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// An object with an atomic reference count, standing for a page or an
// object placed on it.
class Counted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  ULONG refs() const { return refs_.load(); }

 private:
  std::atomic<ULONG> refs_{1};
};

// A page that counts other processes' changes, as the store's objects do.
class CountingPage final : public IKXQExternalChanges {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    *ppv = nullptr;
    if (IsEqualGUID(iid, kx_uuidof<IKXQExternalChanges>())) {
      *ppv = static_cast<IKXQExternalChanges*>(this);
    } else if (IsEqualGUID(iid, kx_uuidof<IUnknown>())) {
      *ppv = this;
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE get_ExternalChangeCount(LONG* count) override {
    *count = changes;
    return S_OK;
  }
  ULONG refs() const { return refs_.load(); }
  IUnknown* unknown() { return this; }
  LONG changes = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

class RouteCacheTest : public ::testing::Test {
 protected:
  // Inserts an entry for `page` holding `objects`.
  static void Insert(RouteCache& cache, Counted& page, std::initializer_list<Counted*> objects) {
    RouteCache::PlacedSet set;
    for (Counted* object : objects) {
      int32_t at = 0;
      if (!set.Find(object, &at)) {
        set.InsertAt(at);
        set.SetAt(at, object);
      }
    }
    cache.Insert(&page, set);
  }
  int32_t LookupCount(RouteCache& cache, Counted& page) {
    RouteCache::PlacedSet found;
    cache.Lookup(&page, found);
    return found.GetCount();
  }

  std::atomic<uint32_t> now_{0};
  RouteCache::Clock clock_ = [this] { return now_.load(); };
  Counted page1_, page2_, page3_, a_, b_;
};

TEST_F(RouteCacheTest, EntriesAreMadeRefreshedAndSweptByAge) {
  RouteCache cache(clock_);
  Insert(cache, page1_, {&a_, &b_});
  EXPECT_EQ(page1_.refs(), 2u);
  EXPECT_EQ(a_.refs(), 2u);  // the set built for the call is gone again
  // A second insert keeps the entry that stands.
  Insert(cache, page1_, {&a_});
  now_ = 4000;
  EXPECT_EQ(LookupCount(cache, page1_), 2);  // refreshed at 4000
  now_ = 8999;
  EXPECT_EQ(cache.SweepOnce(), 0u);
  now_ = 9000;
  EXPECT_EQ(cache.SweepOnce(), 1u);
  EXPECT_EQ(LookupCount(cache, page1_), 0);
  EXPECT_EQ(page1_.refs(), 1u);
  EXPECT_EQ(a_.refs(), 1u);
  EXPECT_EQ(b_.refs(), 1u);
}

TEST_F(RouteCacheTest, AgesAreCorrectAcrossTheWrapOfTheTickCounter) {
  RouteCache cache(clock_);
  now_ = 0xFFFFF000u;
  Insert(cache, page1_, {&a_});
  Insert(cache, page2_, {&b_});
  Insert(cache, page3_, {});
  now_ = 0x00000387u;  // 4999 ms later
  EXPECT_EQ(cache.SweepOnce(), 0u);
  now_ = 0x00000388u;  // 5000 ms: all three, neighbours in key order, in one pass
  EXPECT_EQ(cache.SweepOnce(), 3u);
  EXPECT_EQ(cache.Size(), 0u);
}

TEST_F(RouteCacheTest, AChangedPageIsErasedAndShutdownReleasesEverything) {
  RouteCache cache(clock_);
  Insert(cache, page1_, {&a_});
  Insert(cache, page2_, {&a_, &b_});
  cache.Erase(&page1_);
  EXPECT_EQ(LookupCount(cache, page1_), 0);
  EXPECT_EQ(a_.refs(), 2u);
  cache.Shutdown();
  cache.Shutdown();  // idempotent
  EXPECT_EQ(a_.refs(), 1u);
  EXPECT_EQ(page2_.refs(), 1u);
  // Still usable without a sweeper.
  Insert(cache, page3_, {&b_});
  EXPECT_EQ(LookupCount(cache, page3_), 1);
}

// Another process changed the page: the first lookup after the catch-up
// that brought the change in finds the entry gone, as after a change here.
TEST_F(RouteCacheTest, AnEntryGoesWhenAnotherProcessChangedItsPage) {
  RouteCache cache(clock_);
  CountingPage page;
  page.changes = 3;
  RouteCache::PlacedSet set;
  set.InsertAt(0);
  set.SetAt(0, &a_);
  cache.Insert(page.unknown(), set);
  RouteCache::PlacedSet found;
  cache.Lookup(page.unknown(), found);
  EXPECT_EQ(found.GetCount(), 1);
  found.RemoveAll();
  EXPECT_EQ(page.refs(), 2u);
  page.changes = 4;
  cache.Lookup(page.unknown(), found);
  EXPECT_EQ(found.GetCount(), 0);
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(page.refs(), 1u);
  EXPECT_EQ(a_.refs(), 2u);  // the set made here holds it still
  // A new entry counts from the new count.
  cache.Insert(page.unknown(), set);
  cache.Lookup(page.unknown(), found);
  EXPECT_EQ(found.GetCount(), 1);
  found.RemoveAll();
  set.RemoveAll();
  cache.Shutdown();
  EXPECT_EQ(page.refs(), 1u);
}

TEST_F(RouteCacheTest, AFailedSweeperStartIsNotRetriedAndEntriesStay) {
  RouteCache cache(clock_, std::chrono::milliseconds(1));
  cache.FailNextStart();
  cache.StartSweeper();
  cache.StartSweeper();
  EXPECT_TRUE(cache.SweeperStarted());
  Insert(cache, page1_, {&a_});
  now_ = 100000;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(cache.SweepCount(), 0u);
  EXPECT_EQ(cache.Size(), 1u);
  cache.Shutdown();
  EXPECT_EQ(a_.refs(), 1u);
}

// The sweeper erases entries while the apartment thread looks up, inserts
// and erases; shutting down stops and joins it with entries still held.
TEST_F(RouteCacheTest, TheSweeperRacesTheWalksAndShutdownJoinsIt) {
  auto cache = std::make_unique<RouteCache>(clock_, std::chrono::milliseconds(1));
  cache->StartSweeper();
  std::atomic<bool> done{false};
  std::thread ticker([&] {
    while (!done) {
      now_ += 1;
      std::this_thread::yield();
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (cache->SweepCount() < 20 && std::chrono::steady_clock::now() < deadline) {
    Insert(*cache, page1_, {&a_, &b_});
    Insert(*cache, page2_, {&b_});
    RouteCache::PlacedSet found;
    cache->Lookup(&page1_, found);
    cache->Erase(&page2_);
  }
  EXPECT_GE(cache->SweepCount(), 20u);
  // An entry left alone is swept by the thread.
  Insert(*cache, page3_, {&a_});
  while (cache->Size() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(cache->Size(), 0u);
  Insert(*cache, page3_, {&a_});
  done = true;
  ticker.join();
  cache.reset();  // shutdown: join, then release
  EXPECT_EQ(page1_.refs(), 1u);
  EXPECT_EQ(page3_.refs(), 1u);
  EXPECT_EQ(a_.refs(), 1u);
  EXPECT_EQ(b_.refs(), 1u);
}

}  // namespace
