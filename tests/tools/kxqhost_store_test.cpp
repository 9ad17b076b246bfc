// The store as the program uses it: the cost of showing an object that many
// pages show.
#include <algorithm>
#include <chrono>
#include <string>

#include "support/host_fixture.h"

namespace kxqtest {
namespace {

std::string SamplePlant() {
  return ReadText(std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml");
}

// The sample plant with `pages` more pages showing pump 101.
std::string PlantWithPagesOn101(int pages) {
  std::string objects;
  for (int k = 0; k < pages; ++k)
    objects += "<object id=\"" + std::to_string(5000 + k) +
               "\" class=\"Page\"><value attribute=\"NodeObjects\" ref=\"101\"/></object>\n";
  std::string plant = SamplePlant();
  const size_t end = plant.rfind("</objects>");
  plant.insert(end, objects);
  return plant;
}

class KxqhostStoreTest : public KxqhostTest {
 protected:
  // The best of two `dump 101` runs on a store whose pump 101 is shown on
  // `pages` more pages, in seconds.
  double DumpSeconds(int pages) {
    const std::string fixture = dir_ / ("plant" + std::to_string(pages) + ".xml");
    const std::string store = dir_ / ("plant" + std::to_string(pages) + ".db");
    WriteText(fixture, PlantWithPagesOn101(pages));
    const Outcome made = Bare({"--store", store, "init", "--fixture", fixture});
    EXPECT_EQ(made.status, 0) << made.err;
    double best = 1e9;
    for (int round = 0; round < 2; ++round) {
      const auto start = std::chrono::steady_clock::now();
      const Outcome dumped = Bare({"--store", store, "dump", "101"});
      best = std::min(
          best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      EXPECT_EQ(dumped.status, 0) << dumped.err;
      EXPECT_NE(dumped.out.find("#" + std::to_string(5000 + pages - 1) + "\n"), std::string::npos);
    }
    return best;
  }
};

// "DataViews" is read whole once, not once per element shown: four times
// the pages cost about four times as much, not sixteen.
TEST_F(KxqhostStoreTest, DumpOfAnObjectShownOnManyPagesGrowsLinearly) {
  const double small = DumpSeconds(500);
  const double large = DumpSeconds(2000);
  // The floor keeps the start of the program from deciding alone.
  EXPECT_LE(large, 5 * std::max(small, 0.1)) << small << " s for 500, " << large << " s for 2,000";
}

}  // namespace
}  // namespace kxqtest
