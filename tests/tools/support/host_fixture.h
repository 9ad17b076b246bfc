// A test fixture for running kxqhost: a temporary folder as the working
// directory, a registration store inside it, and a store made from the
// small test plant (data/tiny-plant.xml) on request.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/subprocess.h"

namespace kx::test::tools {

class KxqhostTest : public ::testing::Test {
 protected:
  std::string Registry() const { return dir_ / "registry.xml"; }
  std::string Store() const { return dir_ / "plant.db"; }
  static std::string TinyPlant() { return std::string(KXQHOST_TEST_DATA) + "/tiny-plant.xml"; }

  // kxqhost with the test store.
  Outcome Host(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), {"--store", Store()});
    return RunHost(arguments, dir_.path(), Registry(), input);
  }
  // kxqhost as given (no --store added).
  Outcome Bare(const std::vector<std::string>& arguments, const std::string& input = "") {
    return RunHost(arguments, dir_.path(), Registry(), input);
  }
  void InitStore() {
    const Outcome made = Host({"init", "--fixture", TinyPlant()});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  std::string Dump(const std::vector<std::string>& ids) {
    std::vector<std::string> arguments{"dump"};
    arguments.insert(arguments.end(), ids.begin(), ids.end());
    const Outcome dumped = Host(arguments);
    EXPECT_EQ(dumped.status, 0) << dumped.err;
    return dumped.out;
  }

  TempDir dir_;
};

}  // namespace kx::test::tools
