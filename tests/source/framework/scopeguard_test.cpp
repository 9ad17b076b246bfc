// The scope guard: its cleanup runs once however the scope is left, unless
// the work was done and the guard dismissed.
#include <gtest/gtest.h>
#include <stdexcept>

#include "kxscopeguard.h"

namespace {

TEST(ScopeGuard, CleansUpOnReturnAndOnExceptionButNotWhenDismissed) {
  int cleanups = 0;
  {
    ScopeGuard guard([&] { ++cleanups; });
  }
  EXPECT_EQ(cleanups, 1);
  EXPECT_THROW(
      {
        ScopeGuard guard([&] { ++cleanups; });
        throw std::runtime_error("failed");
      },
      std::runtime_error);
  EXPECT_EQ(cleanups, 2);
  {
    ScopeGuard guard([&] { ++cleanups; });
    guard.Dismiss();
  }
  EXPECT_EQ(cleanups, 2);
}

}  // namespace
