// The scope guard: a cleanup runs when the scope is left by an exception,
// and not once the scope was left the normal way and the guard dismissed.
#include <gtest/gtest.h>
#include <stdexcept>

#include "kxscopeguard.h"

namespace {

int CountedStep(int& cleanups, bool fail) {
  KXScopeGuard undo([&] { ++cleanups; });
  if (fail) throw std::runtime_error("step failed");
  undo.Dismiss();
  return 1;
}

TEST(ScopeGuard, CleansUpOnAnExceptionOnlyUnlessDismissed) {
  int cleanups = 0;
  EXPECT_EQ(CountedStep(cleanups, false), 1);
  EXPECT_EQ(cleanups, 0);
  EXPECT_THROW(CountedStep(cleanups, true), std::runtime_error);
  EXPECT_EQ(cleanups, 1);
  {
    KXScopeGuard always([&] { ++cleanups; });
  }
  EXPECT_EQ(cleanups, 2);
}

}  // namespace
