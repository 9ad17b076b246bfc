// A cleanup that runs when its scope is left, by return or by exception.
//
//   KX_CHECK(ctx, application->BeginTemplateWork());
//   ScopeGuard endWork([&] { (void)application->EndTemplateWork(); });
//   work();
//   endWork.Dismiss();  // done: the end is checked below
//   KX_CHECK(ctx, application->EndTemplateWork());
//
// The cleanup runs in a destructor, so it must not throw: a failure of its
// own is absorbed inside it.
#pragma once

#include <utility>

template <class Cleanup>
class ScopeGuard {
 public:
  explicit ScopeGuard(Cleanup cleanup) : m_cleanup(std::move(cleanup)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard() {
    if (m_armed) m_cleanup();
  }

  // The scope's work is done: the cleanup is not run.
  void Dismiss() { m_armed = false; }

 private:
  Cleanup m_cleanup;
  bool m_armed = true;
};
