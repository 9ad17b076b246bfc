// A cleanup that must run when a scope is left by an exception (or at all),
// written once beside what it undoes instead of in a catch that rethrows.
//
//   KXScopeGuard endItem([&] { (void)trigger->EndItem(); });
//   passes = Test(...);      // may throw: the item is ended all the same
//   endItem.Dismiss();       // the normal way ends it with a checked call
//   KX_CHECK(ctx, trigger->EndItem());
#pragma once

#include <utility>

template <class Cleanup>
class KXScopeGuard {
 public:
  explicit KXScopeGuard(Cleanup cleanup) : m_cleanup(std::move(cleanup)) {}
  KXScopeGuard(const KXScopeGuard&) = delete;
  KXScopeGuard& operator=(const KXScopeGuard&) = delete;
  // The cleanup must not throw: it may run while an exception unwinds.
  ~KXScopeGuard() {
    if (m_armed) m_cleanup();
  }

  // The scope was left the normal way: the cleanup does not run.
  void Dismiss() { m_armed = false; }

 private:
  Cleanup m_cleanup;
  bool m_armed = true;
};
