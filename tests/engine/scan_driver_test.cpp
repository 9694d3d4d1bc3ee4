#include <gtest/gtest.h>

#include "support/param_name.h"

#include <cstring>
#include <filesystem>

#include "engine/identify.h"
#include "engine/scan_driver.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::FakeRun;
using testing::WalkEnv;
namespace fs = std::filesystem;

std::vector<uint8_t> WithZipHeadersAt(int sectors, std::initializer_list<int> at) {
  std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * 512);
  for (int s : at) std::memcpy(bytes.data() + static_cast<size_t>(s) * 512, "PK\x03\x04", 4);
  return bytes;
}

std::vector<int64_t> Sectors(const CandidateList& list) {
  std::vector<int64_t> out;
  for (size_t i = 0; i < list.size(); ++i) out.push_back(list.sector(i));
  return out;
}

TEST(SearchPass, KnownOffsetExaminesOneSectorPerCluster) {
  WalkEnv env(WithZipHeadersAt(64, {3, 5, 11, 19, 20}));
  ScanSettings s;
  s.first_sector = 0;
  s.last_sector = 63;
  s.sectors_per_cluster = 8;
  s.cluster_offset = 3;
  CandidateList list;
  uint32_t found = 0;
  SearchPass(env.reader, s, 512, &env.map, env.run, &list, &found);
  EXPECT_EQ(Sectors(list), (std::vector<int64_t>{3, 11, 19}));
  EXPECT_EQ(found, 3u);
}

TEST(SearchPass, FreeSpaceOnlySkipsTakenSectors) {
  WalkEnv env(WithZipHeadersAt(16, {2, 7}));
  env.map.ClaimSector(7);
  ScanSettings s;
  s.first_sector = 0;
  s.last_sector = 15;
  s.free_space_only = true;
  CandidateList list;
  uint32_t found = 0;
  SearchPass(env.reader, s, 512, &env.map, env.run, &list, &found);
  EXPECT_EQ(Sectors(list), (std::vector<int64_t>{2}));
}

TEST(SearchPass, CancelStopsTheSearchAtOnce) {
  WalkEnv env(WithZipHeadersAt(4000, {10, 3000}));
  ScanSettings s;
  s.first_sector = 0;
  s.last_sector = 3999;
  CandidateList list;
  uint32_t found = 0;
  // The watcher's tick moves at every pump; the first refresh presses Cancel.
  env.run.ui_tick = 200;
  env.run.on_pump = [](FakeRun& r) { r.search_cancel = true; };
  SearchPass(env.reader, s, 512, &env.map, env.run, &list, &found);
  EXPECT_EQ(Sectors(list), (std::vector<int64_t>{}));
  EXPECT_EQ(env.run.pumps, 1);
}

TEST(SearchPass, UnreadableSectorIsSkippedAndItsNeighboursStillRead) {
  auto memory = std::make_shared<MemoryDevice>(WithZipHeadersAt(2000, {900, 1000, 1001}));
  auto faulty = std::make_shared<FaultyDevice>(memory, std::set<int64_t>{1000});
  WalkEnv env(faulty, 512, 1, 0);
  ScanSettings s;
  s.first_sector = 0;
  s.last_sector = 1999;
  CandidateList list;
  uint32_t found = 0;
  SearchPass(env.reader, s, 512, &env.map, env.run, &list, &found);
  EXPECT_EQ(Sectors(list), (std::vector<int64_t>{900, 1001}));
}

struct AlignCase {
  const char* name;
  uint32_t c;
  std::vector<std::pair<int64_t, uint8_t>> candidates;
  int64_t offset;
  std::vector<int64_t> kept;
};

class Alignment : public ::testing::TestWithParam<AlignCase> {};

TEST_P(Alignment, MostFrequentResidueWins) {
  const AlignCase& c = GetParam();
  CandidateList list;
  for (auto [sector, code] : c.candidates) list.Append(sector, code);
  FakeRun run;
  EXPECT_EQ(AlignCandidates(list, c.c, run), c.offset);
  EXPECT_EQ(Sectors(list), c.kept);
}

using namespace type_code;
INSTANTIATE_TEST_SUITE_P(
    Histogram, Alignment,
    ::testing::Values(
        AlignCase{"half_weight_jpeg_loses", 4, {{8, kJpegOther}, {13, kZip}}, 1, {13}},
        AlignCase{"two_half_weights_tie_to_smaller", 4, {{8, kJpegOther}, {12, kJpegOther}, {13, kZip}}, 0, {8, 12}},
        AlignCase{"metadata_only_gives_zero", 4, {{5, kMetadata}, {9, kMetadata}}, 0, {}},
        AlignCase{"metadata_does_not_count", 8, {{3, kMetadata}, {4, kMetadata}, {12, kRar}}, 4, {4, 12}},
        AlignCase{"never_carved_codes_count", 4, {{2, kGif}, {6, kJet}, {9, kZip}}, 2, {2, 6}},
        AlignCase{"empty_list", 8, {}, 0, {}}),
    testing::RowName());

TEST(RecoveryPass, MetadataClaimedToTheClusterEnd) {
  WalkEnv env(std::vector<uint8_t>(64 * 512), 512, 4, 0);
  CandidateList list;
  list.Append(8, kMetadata);
  list.Append(21, kMetadata);
  ScanSettings s;
  uint32_t errors = 0;
  RecoveryPass(env.ctx, list, s, env.run, &errors);
  EXPECT_EQ(env.Taken(), (std::vector<int64_t>{8, 9, 10, 11, 21, 22, 23}));
}

TEST(RecoveryPass, StopEndsBothRunsAndPauseWaits) {
  WalkEnv env(std::vector<uint8_t>(64 * 512));
  CandidateList list;
  for (int64_t s = 0; s < 10; ++s) list.Append(s, kMetadata);
  ScanSettings settings;
  uint32_t errors = 0;
  // Pause before the third candidate, release after two sleeps, then stop at the sixth.
  env.run.on_pump = [&](FakeRun& r) {
    if (r.pumps == 7) r.run_state = kPause;
    if (r.pumps == 16) r.run_state = kStop;
  };
  env.run.on_sleep = [](FakeRun& r) {
    if (r.sleeps == 2) r.run_state = kRun;
  };
  RecoveryPass(env.ctx, list, settings, env.run, &errors);
  EXPECT_EQ(env.run.sleeps, 2);
  // Candidates are handled from the last to the first; the ones after the stop are not.
  EXPECT_TRUE(env.map.IsTaken(9));
  EXPECT_FALSE(env.map.IsTaken(0));
  EXPECT_EQ(env.run.Label(ProgressWindow::kRecovery, 2).back(), '%');
}

TEST(RecoveryPass, ProgressNeverReachesAHundred) {
  WalkEnv env(std::vector<uint8_t>(8 * 512));
  CandidateList list;
  for (int64_t s = 0; s < 4; ++s) list.Append(s, kGif);
  ScanSettings settings;
  uint32_t errors = 0;
  RecoveryPass(env.ctx, list, settings, env.run, &errors);
  EXPECT_NE(env.run.Label(ProgressWindow::kRecovery, 2).find("75%"), std::string::npos);
}

class CheckRescueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source.working.last_sector = 999;
    source.working.bytes_per_sector = 512;
    folder = fs::temp_directory_path().string();
  }
  SourceState source;
  std::string folder;
};

TEST_F(CheckRescueTest, ChecksInOrder) {
  ScanSettings s;
  struct Row { const char* name; uint32_t mask; std::string folder, first, last; bool on_source; int slot; };
  const std::vector<Row> rows = {
      {"no_type", 0, "/nonexistent", "x", "y", true, 20},
      {"no_folder", kDefaultTypeMask, "/nonexistent/folder", "0", "999", false, 21},
      {"empty_folder", kDefaultTypeMask, "", "0", "999", false, 21},
      {"on_source", kDefaultTypeMask, folder, "0", "999", true, 22},
      {"letters", kDefaultTypeMask, folder, "abc", "999", false, 23},
      {"first_after_last", kDefaultTypeMask, folder, "10", "9", false, 23},
      {"past_the_end", kDefaultTypeMask, folder, "0", "1000", false, 23},
      {"negative", kDefaultTypeMask, folder, "-1", "5", false, 23},
      {"last_sector_ok", kDefaultTypeMask, folder, "0", "999", false, 0},
      {"one_sector", kDefaultTypeMask, folder, "5", "5", false, 0},
  };
  for (const Row& r : rows) {
    RescueRequest req;
    req.type_mask = r.mask;
    req.folder_text = r.folder;
    req.first_text = r.first;
    req.last_text = r.last;
    const bool on = r.on_source;
    EXPECT_EQ(CheckRescue(req, source, [on](const std::string&) { return on; }, &s), r.slot) << r.name;
  }
}

TEST_F(CheckRescueTest, FolderGetsASeparatorAndClusterFromTheChoice) {
  ScanSettings s;
  RescueRequest req;
  req.folder_text = folder;
  req.first_text = "0";
  req.last_text = "999";
  req.cluster_bytes = 256;  // below one sector counts as one
  ASSERT_EQ(CheckRescue(req, source, nullptr, &s), 0);
  EXPECT_EQ(s.output_folder.back(), '/');
  EXPECT_EQ(s.sectors_per_cluster, 1u);
  req.cluster_bytes = 4096;
  ASSERT_EQ(CheckRescue(req, source, nullptr, &s), 0);
  EXPECT_EQ(s.sectors_per_cluster, 8u);
}

}  // namespace
}  // namespace quorvex
