// The field-route cache: per page, the set of distinct objects placed on it
// ("NodeObjects"), so that route walks over the same page within a few
// seconds need not read the whole list again.
//
// An entry is stamped when it is made and at every lookup; a sweeper
// thread wakes every period (5000 ms) and erases every entry that has gone
// unused for a period or more, so an entry lives five to ten seconds after
// its last use. Ages are unsigned 32-bit millisecond differences, correct
// across the wrap of the tick counter.
//
// Changes made elsewhere: the walk erases a page's entry where it changes
// the page's objects; other code here (taking an object off the page) and
// another process (whose change reaches this one at the catch-up that
// starts this process's next call) change them too. The entry keeps the
// page's count of changes (IKXQExternalChanges, when the page answers it:
// its object lists changed here, another process's changes brought in, and
// rollbacks, since a set built in a failed call may show objects that its
// rollback took off the page again) and a lookup that finds the count moved
// erases the entry, so the next walk builds the set again.
//
// Within one page load (while a CallScope is open) the cache also keeps
// each read walk of a field with what it read (the store's IKXQReadLog):
// the trigger set-up that follows the page's writer walks the same fields
// again inside its trigger items, and takes the writer's answer instead,
// the reads replayed into its open items as if made there. The writer's
// read of a value without unit, right after its walk, is kept with the
// walk, and the trigger item then reads that value no more
// (FieldUtils::FieldValueRead). The fields' cases are kept the same way,
// by the page's "Cases" entry they read. A kept walk or case serves only
// under the store's change count it was made under (a walk that changed
// something is not kept), Erase drops the page's kept walks and cases with
// its set, and the end of the outermost scope drops them all. They belong
// to the apartment thread: the sweeper never touches them.
//
// Threads: walks (Lookup, Insert, Erase) come from the host's apartment
// thread; the sweeper is the module's one thread of its own and touches
// nothing but the cache. One mutex guards the map, the entries and their
// stamps. References held by erased entries are released on the thread
// that erases them (the store's objects have atomic reference counts).
// Shutdown stops the sweeper and joins it before it empties the map; it is
// idempotent and runs at the latest when the module is unloaded. After it
// the cache still answers lookups and inserts, without a sweeper.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "com/comutil.h"
#include "com/types.h"
#include "store/object.h"
#include "store/view.h"
#include "variantutil.h"

class RouteCache {
 public:
  using Clock = std::function<uint32_t()>;
  // Distinct objects ordered by pointer value, each holding a reference.
  using PlacedSet = SortedPtrArray<IUnknown>;

  // `clock` gives milliseconds (default: a monotonic tick truncated to 32
  // bits); `period` is the sweep interval and the age at which an entry
  // is erased.
  explicit RouteCache(Clock clock = Clock(),
                      std::chrono::milliseconds period = std::chrono::milliseconds(5000));
  RouteCache(const RouteCache&) = delete;
  RouteCache& operator=(const RouteCache&) = delete;
  ~RouteCache();

  // The module's one cache.
  static RouteCache& Instance();

  // Starts the sweeper once; later calls do nothing, also after a start
  // that failed (the entries then stay until shutdown).
  void StartSweeper();
  bool SweeperStarted() const { return m_started; }
  // For tests: the next StartSweeper fails as a thread start may.
  void FailNextStart() { m_failNextStart = true; }

  // A copy of the page's set (empty when there is no entry); a found entry
  // is stamped now. The caller keeps its reference to `page`.
  void Lookup(IUnknown* page, PlacedSet& set);
  // Makes an entry for the page (taking a reference to it and to every
  // object of `set`), stamped now; an entry already there stays.
  void Insert(IUnknown* page, const PlacedSet& set);
  // Drops the page's entry, when there is one (the page's "NodeObjects"
  // changed).
  void Erase(IUnknown* page);
  // One sweep pass: erases every entry of the period's age or older.
  // Returns how many it erased.
  size_t SweepOnce();
  size_t Size();
  // How many sweep passes the sweeper thread has run.
  uint64_t SweepCount() const;

  // Stops and joins the sweeper, then erases every entry.
  void Shutdown();

  // Opens the keeping of walks for the call (scopes nest).
  class CallScope {
   public:
    CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    ~CallScope();
  };
  // A read walk's answer: for a field the value holder (null: the walk
  // ended early) and its position, for a root node its object (null: none
  // placed) and view; what the walk read, and the store's change count.
  struct KeptWalk {
    _com_ptr_t<IKXQFieldValue> holder;
    _variant_t position;
    _com_ptr_t<IKXQObject> object;
    _com_ptr_t<IKXQView> view;
    _com_ptr_t<IKXQReadSet> reads;
    LONG changes = 0;
    // The reads include those of the holder's value read right after the
    // walk (FieldUtils::FieldValueRead).
    bool withValue = false;
  };
  bool Keeping() const { return m_callScopes > 0; }
  // The walk kept for the field (or root node) on the page with
  // index-shift key `shift`, made under change count `changes`; null when
  // none.
  const KeptWalk* FindWalk(IUnknown* page, IUnknown* field, const std::u16string& shift,
                           LONG changes) const;
  // The page's read log (IKXQReadLog), asked once a page while Keeping;
  // null when not keeping or the page has none. Not AddRef'd.
  IKXQReadLog* ReadLogOf(IUnknown* page);
  // Keeps a walk (while Keeping), taking references to page and field.
  void KeepWalk(IUnknown* page, IUnknown* field, const std::u16string& shift, KeptWalk walk);
  // A field's case read from the page's "Cases" entry `position` (the
  // template field's case position) under change count `changes`, with
  // what that read read; the fields of a page share their few entries.
  struct KeptCase {
    int32_t caseId = -1;
    bool defined = false;
    _com_ptr_t<IKXQReadSet> reads;
    LONG changes = 0;
  };
  // The case kept for the page's entry made under `changes`; null when none.
  const KeptCase* FindCase(IUnknown* page, LONG position, LONG changes) const;
  // Keeps a case (while Keeping), taking a reference to the page.
  void KeepCase(IUnknown* page, LONG position, KeptCase kept);
  // Route walks made (not taken from a kept one), a continuous list's too,
  // for tests that count them.
  void NoteWalk() { ++m_walks; }
  uint64_t WalkCount() const { return m_walks; }

 private:
  struct Entry {
    uint32_t stamp = 0;
    PlacedSet objects;
    bool counted = false;  // the page answers IKXQExternalChanges
    LONG changes = 0;      // its count when the entry was made
  };
  using Map = std::map<uintptr_t, Entry>;

  static uint32_t TickCount();
  // The page's count of other processes' changes; false when it keeps none.
  static bool ExternalChanges(IUnknown* page, LONG* count);
  static void CopySet(const PlacedSet& from, PlacedSet& to);
  // Releases the entry's references and gives the next one. REQUIRES: lock.
  Map::iterator EraseEntry(Map::iterator it);
  void Sweep();

  Clock m_clock;
  std::chrono::milliseconds m_period;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  Map m_entries;
  bool m_stop = false;           // guarded by m_lock
  uint64_t m_sweeps = 0;         // guarded by m_lock
  bool m_started = false;        // apartment thread only
  bool m_failNextStart = false;  // apartment thread only
  std::thread m_sweeper;

  // Kept walks by page, then by field (the last walk of each), apartment
  // thread only.
  struct HeldWalk {
    _com_ptr_t<IUnknown> field;
    std::u16string shift;
    KeptWalk walk;
  };
  struct PageWalks {
    _com_ptr_t<IUnknown> page;
    _com_ptr_t<IKXQReadLog> log;
    bool asked = false;  // whether the page was asked for its log
    std::unordered_map<uintptr_t, HeldWalk> fields;
    std::unordered_map<LONG, KeptCase> cases;
  };
  void DropWalks(IUnknown* page);
  int m_callScopes = 0;
  std::unordered_map<uintptr_t, PageWalks> m_keptWalks;
  uint64_t m_walks = 0;
};
