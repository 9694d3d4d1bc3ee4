#include <gtest/gtest.h>

#include "support/param_name.h"

#include "engine/avail_map.h"

namespace quorvex {
namespace {

TEST(AvailMap, ClaimSectorSetsOneBit) {
  AvailMap map(100);
  map.ClaimSector(13);
  EXPECT_EQ(map.bytes()[1], 0x20);
  EXPECT_TRUE(map.IsTaken(13));
  EXPECT_FALSE(map.IsTaken(12));
  EXPECT_FALSE(map.IsTaken(14));
  map.ReleaseSector(13);
  EXPECT_FALSE(map.IsTaken(13));
}

TEST(AvailMap, SizeCoversLastSector) {
  EXPECT_EQ(AvailMap(0).bytes().size(), 1u);
  EXPECT_EQ(AvailMap(7).bytes().size(), 1u);
  EXPECT_EQ(AvailMap(8).bytes().size(), 2u);
}

struct RunCase {
  const char* name;
  int64_t start, count;
  std::vector<uint8_t> bytes;
};

class ClaimRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(ClaimRunTest, SetsExactlyTheRun) {
  const RunCase& c = GetParam();
  AvailMap map(39);
  map.ClaimRun(c.start, c.count);
  EXPECT_EQ(map.bytes(), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ClaimRunTest,
    ::testing::Values(RunCase{"unaligned_both_ends", 5, 20, {0xE0, 0xFF, 0xFF, 0x01, 0x00}},
                      RunCase{"aligned_whole_bytes", 8, 16, {0x00, 0xFF, 0xFF, 0x00, 0x00}},
                      RunCase{"inside_one_byte", 2, 3, {0x1C, 0x00, 0x00, 0x00, 0x00}},
                      RunCase{"zero_count", 3, 0, {0x00, 0x00, 0x00, 0x00, 0x00}},
                      RunCase{"negative_count", 3, -5, {0x00, 0x00, 0x00, 0x00, 0x00}},
                      RunCase{"to_the_last_sector", 32, 8, {0x00, 0x00, 0x00, 0x00, 0xFF}}),
    testing::RowName());

}  // namespace
}  // namespace quorvex
