#include <gtest/gtest.h>

#include "support/param_name.h"

#include <filesystem>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "engine/report.h"
#include "engine/walk.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::WalkEnv;
namespace fs = std::filesystem;

/// n sectors of 512 bytes, each filled with its own sector number's low byte.
std::vector<uint8_t> NumberedSectors(int n) {
  std::vector<uint8_t> bytes(static_cast<size_t>(n) * 512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 512);
  return bytes;
}

TEST(Walk, TakenStartDoesNothing) {
  WalkEnv env(NumberedSectors(16));
  env.map.ClaimSector(4);
  Walk walk(env.ctx, 4 * 512);
  EXPECT_TRUE(walk.StartTaken());
  EXPECT_EQ(env.Taken(), std::vector<int64_t>{4});
}

TEST(Walk, ReadAheadStepsOverTakenSectors) {
  WalkEnv env(NumberedSectors(16));
  env.map.ClaimRun(3, 2);  // sectors 3 and 4 belong to a file carved earlier
  Walk walk(env.ctx, 2 * 512);
  ASSERT_FALSE(walk.StartTaken());
  ASSERT_TRUE(walk.Start());
  ASSERT_TRUE(walk.ReadAhead(3 * 512));
  EXPECT_EQ(walk.extents(), (ExtentList{2, 5, 6}));
  EXPECT_EQ(*walk.U8(0), 2);
  EXPECT_EQ(*walk.U8(512), 5);
  EXPECT_EQ(*walk.U8(1024), 6);
  EXPECT_FALSE(walk.U8(1536).has_value());  // nothing read past what was gathered
  EXPECT_EQ(walk.next_offset(), 7 * 512);
  walk.Accept();
  EXPECT_EQ(env.Taken(), (std::vector<int64_t>{2, 3, 4, 5, 6}));
}

TEST(Walk, ScanRangeEndIsInclusive) {
  WalkEnv env(NumberedSectors(16));
  env.SetRangeEnd(9);
  Walk walk(env.ctx, 8 * 512);
  ASSERT_TRUE(walk.Start());
  EXPECT_TRUE(walk.ReadAhead(2 * 512));   // sector 9 is still read
  EXPECT_FALSE(walk.ReadAhead(3 * 512));  // sector 10 is beyond the end
  walk.GiveUp();
  EXPECT_TRUE(env.Taken().empty());
}

TEST(Walk, GivingUpKeepsEarlierClusterTails) {
  WalkEnv env(NumberedSectors(32), 512, 4, 0);
  {
    Walk first(env.ctx, 0);
    ASSERT_TRUE(first.Start());
    first.Accept();  // sector 0 plus the tail 1..3
  }
  {
    Walk second(env.ctx, 4 * 512);
    ASSERT_TRUE(second.Start());
    ASSERT_TRUE(second.ReadAhead(5 * 512));
  }  // goes out of scope without accepting: gives up
  EXPECT_EQ(env.Taken(), (std::vector<int64_t>{0, 1, 2, 3}));
}

struct TailCase {
  const char* name;
  uint32_t sectors_per_cluster;
  int64_t offset;
  int64_t last_claimed;
  std::vector<int64_t> tail;
};

class ClusterTail : public ::testing::TestWithParam<TailCase> {};

TEST_P(ClusterTail, ClaimsToTheNextBoundary) {
  const TailCase& c = GetParam();
  WalkEnv env(std::vector<uint8_t>(1100 * 512), 512, c.sectors_per_cluster, c.offset);
  Walk walk(env.ctx, c.last_claimed * 512);
  ASSERT_TRUE(walk.Start());
  walk.Accept();
  std::vector<int64_t> expected{c.last_claimed};
  expected.insert(expected.end(), c.tail.begin(), c.tail.end());
  EXPECT_EQ(env.Taken(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClusterTail,
    ::testing::Values(TailCase{"c8_o0_mid_cluster", 8, 0, 1001, {1002, 1003, 1004, 1005, 1006, 1007}},
                      TailCase{"c8_o0_cluster_end", 8, 0, 1007, {}},
                      TailCase{"c8_o3", 8, 3, 1001, {1002}},
                      TailCase{"c1", 1, 0, 1001, {}},
                      TailCase{"offset_beyond_sector", 8, 1050, 1001, {}},
                      TailCase{"stops_at_last_sector", 8, 0, 1097, {1098, 1099}}),
    testing::RowName());

TEST(Walk, FailedReadMidWalkLeavesTheMapAsItWas) {
  auto memory = std::make_shared<MemoryDevice>(NumberedSectors(600));
  auto faulty = std::make_shared<FaultyDevice>(memory, std::set<int64_t>{300});
  WalkEnv env(faulty, 512, 1, 0);
  env.map.ClaimRun(100, 50);
  const auto before = env.map.bytes();
  {
    Walk walk(env.ctx, 10 * 512);
    ASSERT_TRUE(walk.Start());
    EXPECT_FALSE(walk.ReadAhead(400 * 512));
  }
  EXPECT_EQ(env.map.bytes(), before);
}

TEST(Walk, ExceptionInsideAWalkGivesUp) {
  WalkEnv env(NumberedSectors(64));
  const auto before = env.map.bytes();
  auto carve = [&] {
    Walk walk(env.ctx, 0);
    ASSERT_TRUE(walk.Start());
    ASSERT_TRUE(walk.ReadAhead(20 * 512));
    throw std::runtime_error("memory exhausted");
  };
  EXPECT_THROW(carve(), std::runtime_error);
  EXPECT_EQ(env.map.bytes(), before);
}

TEST(Walk, ThirtyTwoBitWalkGivesUpPastTwoGiB) {
  WalkEnv env(NumberedSectors(4));
  Walk walk(env.ctx, 0, Walk::Width::k32);
  ASSERT_TRUE(walk.Start());
  EXPECT_FALSE(walk.ReadAhead(int64_t{1} << 31));
}

TEST(Walk, SkipClaimTakesWithoutReading) {
  WalkEnv env(NumberedSectors(16));
  env.map.ClaimSector(2);
  Walk walk(env.ctx, 0);
  ASSERT_TRUE(walk.Start());
  const uint64_t reads = env.reader.device_reads();
  ASSERT_TRUE(walk.SkipClaim());
  ASSERT_TRUE(walk.SkipClaim());
  EXPECT_EQ(walk.extents(), (ExtentList{0, 1, 3}));
  EXPECT_EQ(walk.buffered(), 512);
  EXPECT_EQ(env.reader.device_reads(), reads);
}

TEST(Walk, DiscardBeforeKeepsPositions) {
  WalkEnv env(NumberedSectors(16));
  Walk walk(env.ctx, 0);
  ASSERT_TRUE(walk.Start());
  ASSERT_TRUE(walk.ReadAhead(4 * 512));
  walk.DiscardBefore(1024);
  EXPECT_FALSE(walk.U8(1023).has_value());
  EXPECT_EQ(*walk.U8(1024), 2);
  EXPECT_EQ(*walk.U8(3 * 512), 3);
}

TEST(Walk, ProgressLineOnlyWhenTheTickMoved) {
  WalkEnv env(NumberedSectors(3000));
  Walk walk(env.ctx, 2048 * 512);
  ASSERT_TRUE(walk.Start());
  ASSERT_TRUE(walk.ReadAhead(500 * 512));
  EXPECT_EQ(env.run.label_sets, 0);
  EXPECT_EQ(env.run.pumps, 0);
  env.run.ui_tick += 200;
  walk.set_next_offset(2113 * 512);
  walk.Progress();
  EXPECT_EQ(env.run.pumps, 1);
  EXPECT_NE(env.run.Label(ProgressWindow::kRecovery, 3).find("2048, 2113"), std::string::npos);
}

class SavedWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvex_walk_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(SavedWalk, AcceptCutsTheFileAndRecordsItsRuns) {
  WalkEnv env(NumberedSectors(16));
  RescueReport report;
  env.ctx.report = &report;
  env.map.ClaimSector(3);
  const std::string path = OutputPath(dir_.string() + "/", 2 * 512, ".ZIP");
  {
    Walk walk(env.ctx, 2 * 512);
    ASSERT_TRUE(walk.CreateOutput(path));
    ASSERT_TRUE(walk.Start());
    ASSERT_TRUE(walk.ReadAhead(3 * 512));
    EXPECT_EQ(*walk.U8(512), 4);  // read back from the file
    ASSERT_TRUE(walk.AcceptSaved(1200));
  }
  EXPECT_EQ(env.ctx.rescued_count, 1u);
  ASSERT_EQ(fs::file_size(path), 1200u);
  std::ifstream in(path, std::ios::binary);
  std::vector<char> data(1200);
  in.read(data.data(), 1200);
  EXPECT_EQ(data[0], 2);
  EXPECT_EQ(data[512], 4);
  EXPECT_EQ(data[1199], 5);
  ASSERT_EQ(report.files().size(), 1u);
  const auto& runs = report.files()[0].runs;
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].img_offset, 1024);
  EXPECT_EQ(runs[0].length, 512);
  EXPECT_EQ(runs[1].file_offset, 512);
  EXPECT_EQ(runs[1].img_offset, 2048);
  EXPECT_EQ(runs[1].length, 688);
}

TEST_F(SavedWalk, ReadsBackAcrossWhatIsWrittenAndWhatIsStillBuffered) {
  // 1 MiB of copy goes to the file at once; fields straddling that point and lying on
  // either side of it read back the same.
  WalkEnv env(NumberedSectors(2100));
  const std::string path = OutputPath(dir_.string() + "/", 0, ".RAR");
  Walk walk(env.ctx, 0);
  ASSERT_TRUE(walk.CreateOutput(path));
  ASSERT_TRUE(walk.Start());
  ASSERT_TRUE(walk.ReadAhead(2100 * 512));
  const int64_t mib = 1048576;
  EXPECT_EQ(*walk.Le32(mib - 2), 0x0000FFFFu);  // two bytes of sector 2047 (0xFF), two of 2048 (0x00)
  EXPECT_EQ(*walk.U8(mib - 1), 0xFF);
  EXPECT_EQ(*walk.U8(mib), 0x00);
  EXPECT_EQ(*walk.U8(2099 * 512), static_cast<uint8_t>(2099));
  EXPECT_EQ(*walk.U8(10 * 512), 10);
  ASSERT_TRUE(walk.AcceptSaved(2100 * 512));
  EXPECT_EQ(fs::file_size(path), 2100u * 512);
  std::ifstream in(path, std::ios::binary);
  std::vector<char> data(2100 * 512);
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  for (size_t i = 0; i < data.size(); i += 512) ASSERT_EQ(static_cast<uint8_t>(data[i]), static_cast<uint8_t>(i / 512));
}

TEST_F(SavedWalk, GivingUpRemovesTheFile) {
  WalkEnv env(NumberedSectors(16));
  const std::string path = OutputPath(dir_.string() + "/", 0, ".RAR");
  {
    Walk walk(env.ctx, 0);
    ASSERT_TRUE(walk.CreateOutput(path));
    ASSERT_TRUE(walk.Start());
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(env.ctx.rescued_count, 0u);
  EXPECT_TRUE(env.Taken().empty());
}

TEST_F(SavedWalk, AShortWriteIsNotARescue) {
  // A file-size limit of 600 bytes stands in for a full disk: the second sector is cut short.
  WalkEnv env(NumberedSectors(16));
  const std::string path = OutputPath(dir_.string() + "/", 0, ".ZIP");
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 600;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool saved = true;
  {
    Walk walk(env.ctx, 0);
    ASSERT_TRUE(walk.CreateOutput(path));
    ASSERT_TRUE(walk.Start());
    ASSERT_TRUE(walk.ReadAhead(2 * 512));
    saved = walk.AcceptSaved(1024);  // the copy reaches the file here, and comes up short
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(saved);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(env.ctx.rescued_count, 0u);
  EXPECT_TRUE(env.Taken().empty());
}

}  // namespace
}  // namespace quorvex
