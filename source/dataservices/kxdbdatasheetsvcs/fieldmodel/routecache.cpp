#include "fieldmodel/routecache.h"

#include <system_error>

RouteCache::RouteCache(Clock clock, std::chrono::milliseconds period)
    : m_clock(clock ? std::move(clock) : Clock(&RouteCache::TickCount)), m_period(period) {}

RouteCache::~RouteCache() { Shutdown(); }

RouteCache& RouteCache::Instance() {
  // Destroyed when the module is unloaded (or the process ends): the
  // destructor stops and joins the sweeper before the map goes.
  static RouteCache cache;
  return cache;
}

uint32_t RouteCache::TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void RouteCache::CopySet(const PlacedSet& from, PlacedSet& to) {
  to.RemoveAll();
  for (int32_t i = 0; i < from.GetCount(); ++i) to.Add(from.GetAt(i));
}

void RouteCache::StartSweeper() {
  if (m_started) return;
  m_started = true;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = false;
  }
  if (m_failNextStart) {
    m_failNextStart = false;
    return;
  }
  try {
    m_sweeper = std::thread(&RouteCache::Sweep, this);
  } catch (const std::system_error&) {
    // No sweeper: entries stay until shutdown, and no second start is tried.
  }
}

bool RouteCache::ExternalChanges(IUnknown* page, LONG* count) {
  IKXQExternalChanges* changes = nullptr;
  if (page == nullptr ||
      FAILED(page->QueryInterface(kx_uuidof<IKXQExternalChanges>(),
                                  reinterpret_cast<void**>(&changes))) ||
      changes == nullptr) {
    return false;
  }
  const bool ok = SUCCEEDED(changes->get_ExternalChangeCount(count));
  changes->Release();
  return ok;
}

void RouteCache::Lookup(IUnknown* page, PlacedSet& set) {
  set.RemoveAll();
  LONG changes = 0;
  const bool counted = ExternalChanges(page, &changes);
  std::lock_guard<std::mutex> guard(m_lock);
  auto it = m_entries.find(reinterpret_cast<uintptr_t>(page));
  if (it == m_entries.end()) return;
  // Another process changed the page since the entry was made.
  if (it->second.counted && (!counted || it->second.changes != changes)) {
    EraseEntry(it);
    return;
  }
  it->second.stamp = m_clock();
  CopySet(it->second.objects, set);
}

void RouteCache::Insert(IUnknown* page, const PlacedSet& set) {
  if (page == nullptr) return;
  LONG changes = 0;
  const bool counted = ExternalChanges(page, &changes);
  std::lock_guard<std::mutex> guard(m_lock);
  auto [it, inserted] = m_entries.try_emplace(reinterpret_cast<uintptr_t>(page));
  if (!inserted) return;  // the entry already there stays
  page->AddRef();
  it->second.stamp = m_clock();
  it->second.counted = counted;
  it->second.changes = changes;
  CopySet(set, it->second.objects);
}

void RouteCache::Erase(IUnknown* page) {
  DropWalks(page);
  std::lock_guard<std::mutex> guard(m_lock);
  auto it = m_entries.find(reinterpret_cast<uintptr_t>(page));
  if (it != m_entries.end()) EraseEntry(it);
}

RouteCache::CallScope::CallScope() { ++Instance().m_callScopes; }

RouteCache::CallScope::~CallScope() {
  RouteCache& cache = Instance();
  if (--cache.m_callScopes == 0) cache.m_keptWalks.clear();
}

const RouteCache::KeptWalk* RouteCache::FindWalk(IUnknown* page, IUnknown* field,
                                                 const std::u16string& shift, LONG changes) const {
  const auto onPage = m_keptWalks.find(reinterpret_cast<uintptr_t>(page));
  if (onPage == m_keptWalks.end()) return nullptr;
  const auto it = onPage->second.fields.find(reinterpret_cast<uintptr_t>(field));
  if (it == onPage->second.fields.end() || it->second.walk.changes != changes ||
      it->second.shift != shift) {
    return nullptr;
  }
  return &it->second.walk;
}

void RouteCache::KeepWalk(IUnknown* page, IUnknown* field, const std::u16string& shift,
                          KeptWalk walk) {
  if (!Keeping() || page == nullptr || field == nullptr) return;
  PageWalks& onPage = m_keptWalks[reinterpret_cast<uintptr_t>(page)];
  if (!onPage.page) onPage.page = page;
  HeldWalk& held = onPage.fields[reinterpret_cast<uintptr_t>(field)];
  held.field = field;
  held.shift = shift;
  held.walk = std::move(walk);
}

const RouteCache::KeptCase* RouteCache::FindCase(IUnknown* page, LONG position,
                                                 LONG changes) const {
  const auto onPage = m_keptWalks.find(reinterpret_cast<uintptr_t>(page));
  if (onPage == m_keptWalks.end()) return nullptr;
  const auto it = onPage->second.cases.find(position);
  if (it == onPage->second.cases.end() || it->second.changes != changes) return nullptr;
  return &it->second;
}

void RouteCache::KeepCase(IUnknown* page, LONG position, KeptCase kept) {
  if (!Keeping() || page == nullptr) return;
  PageWalks& onPage = m_keptWalks[reinterpret_cast<uintptr_t>(page)];
  if (!onPage.page) onPage.page = page;
  onPage.cases[position] = std::move(kept);
}

IKXQReadLog* RouteCache::ReadLogOf(IUnknown* page) {
  if (!Keeping() || page == nullptr) return nullptr;
  PageWalks& onPage = m_keptWalks[reinterpret_cast<uintptr_t>(page)];
  if (!onPage.page) onPage.page = page;
  if (!onPage.asked) {
    onPage.asked = true;
    IKXQReadLog* log = nullptr;
    if (SUCCEEDED(page->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&log)))) {
      onPage.log.Attach(log);
    }
  }
  return onPage.log.GetInterfacePtr();
}

void RouteCache::DropWalks(IUnknown* page) {
  if (!m_keptWalks.empty()) m_keptWalks.erase(reinterpret_cast<uintptr_t>(page));
}

RouteCache::Map::iterator RouteCache::EraseEntry(Map::iterator it) {
  IUnknown* page = reinterpret_cast<IUnknown*>(it->first);
  it->second.objects.RemoveAll();
  auto next = m_entries.erase(it);
  page->Release();
  return next;
}

size_t RouteCache::SweepOnce() {
  std::lock_guard<std::mutex> guard(m_lock);
  const uint32_t now = m_clock();
  const auto age = static_cast<uint32_t>(m_period.count());
  size_t erased = 0;
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    if (static_cast<uint32_t>(now - it->second.stamp) >= age) {
      it = EraseEntry(it);
      ++erased;
    } else {
      ++it;
    }
  }
  ++m_sweeps;
  return erased;
}

void RouteCache::Sweep() {
  std::unique_lock<std::mutex> lock(m_lock);
  for (;;) {
    m_wake.wait_for(lock, m_period, [this] { return m_stop; });
    if (m_stop) return;
    lock.unlock();
    SweepOnce();
    lock.lock();
  }
}

size_t RouteCache::Size() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_entries.size();
}

uint64_t RouteCache::SweepCount() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_sweeps;
}

void RouteCache::Shutdown() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_sweeper.joinable()) m_sweeper.join();
  std::lock_guard<std::mutex> guard(m_lock);
  for (auto it = m_entries.begin(); it != m_entries.end();) it = EraseEntry(it);
}
