// Every walk over files made by real tools (tests/data/media_av/make.sh): the map holds
// exactly the file's sectors plus the rest of the last cluster; sectors of an earlier file
// inside it are stepped over; a file cut by the scan-range end is given up or kept as far
// as it goes, as each format's walk does.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "carvers/carver.h"
#include "media_av/av_fixture.h"
#include "support/param_name.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::DiskAround;
using testing::ReadFixture;
using testing::RunWithTail;
using testing::SectorsFor;
using testing::WalkEnv;

// What a walk leaves when the scan range or a bad sector cuts the file.
enum class WhenCut {
  kReleased,      ///< the whole file is given up
  kKeptSoFar,     ///< the stream ends at the cut, its sectors before it stay taken
  kClaimedUnread  ///< the sectors are claimed without reading, up to the range end
};

int64_t WholeFile(const std::vector<uint8_t>& file) { return static_cast<int64_t>(file.size()); }
// The walk ends at the "fact" chunk: the RIFF header and the "fmt " chunk (20 bytes of data).
int64_t UpToFact(const std::vector<uint8_t>&) { return 12 + 8 + 20; }
// The walk ends after the Data Object: the index objects after it are not the file's.
int64_t UpToIndex(const std::vector<uint8_t>& file) {
  const std::vector<uint8_t> simple_index = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11};
  const int64_t at = testing::Find(file, simple_index, 30);
  return at > 0 ? at : static_cast<int64_t>(file.size());
}

struct FixtureRow {
  std::string name;
  std::string file;
  CarverFn carver;
  int64_t (*length)(const std::vector<uint8_t>&);
  WhenCut when_cut;
};

class FixtureWalk : public ::testing::TestWithParam<FixtureRow> {};

TEST_P(FixtureWalk, ClaimsTheFileAndTheRestOfItsCluster) {
  const FixtureRow& row = GetParam();
  const auto file = ReadFixture(row.file);
  ASSERT_FALSE(file.empty());
  for (const uint32_t bps : {512u, 4096u}) {
    WalkEnv env(DiskAround(file, 8, 24, bps), bps, 4, 0);
    row.carver(env.ctx, 8 * int64_t{bps}, "");
    EXPECT_EQ(env.Taken(), RunWithTail(8, SectorsFor(row.length(file), bps), 4)) << bps << "-byte sectors";
  }
}

TEST_P(FixtureWalk, StepsOverTheClusterOfAnEarlierFile) {
  const FixtureRow& row = GetParam();
  const auto file = ReadFixture(row.file);
  const int64_t sectors = SectorsFor(row.length(file));
  if (sectors < 6) GTEST_SKIP() << "the file ends in its first cluster";
  // The file's first cluster (sectors 8-11), a cluster of another file (12-15), the rest.
  std::vector<uint8_t> disk = DiskAround(file, 8, 28);
  const auto split = disk.begin() + 12 * 512;
  disk.insert(split, 4 * 512, 0xEE);
  WalkEnv env(disk, 512, 4, 0);
  env.map.ClaimRun(12, 4);
  row.carver(env.ctx, 8 * 512, "");
  EXPECT_EQ(env.Taken(), RunWithTail(8, sectors + 4, 4));
}

TEST_P(FixtureWalk, ScanRangeEndingInsideTheFile) {
  const FixtureRow& row = GetParam();
  const auto file = ReadFixture(row.file);
  const int64_t sectors = SectorsFor(row.length(file));
  if (sectors < 4) GTEST_SKIP() << "the walk ends in the first sectors";
  WalkEnv env(DiskAround(file, 8, 24), 512, 1, 0);
  const int64_t last = 8 + sectors - 3;
  env.SetRangeEnd(last);
  const auto before = env.map.bytes();
  row.carver(env.ctx, 8 * 512, "");
  if (row.when_cut == WhenCut::kReleased) {
    EXPECT_EQ(env.map.bytes(), before);
  } else if (row.when_cut == WhenCut::kClaimedUnread) {
    EXPECT_EQ(env.Taken(), RunWithTail(8, last - 8 + 1));
  } else {
    const auto taken = env.Taken();
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.front(), 8);
    EXPECT_LE(taken.back(), last);
    EXPECT_EQ(taken, RunWithTail(8, static_cast<int64_t>(taken.size())));
  }
}

TEST_P(FixtureWalk, UnreadableSectorInsideTheFileGivesUpOrEndsIt) {
  const FixtureRow& row = GetParam();
  const auto file = ReadFixture(row.file);
  const int64_t sectors = SectorsFor(row.length(file));
  if (sectors < 4) GTEST_SKIP() << "the walk ends in the first sectors";
  auto memory = std::make_shared<MemoryDevice>(DiskAround(file, 8, 24), 512);
  // The last sector of the file is always read (a box's or chunk's end is gathered);
  // reads that reach it deliver the sectors before it.
  auto faulty = std::make_shared<FaultyDevice>(memory, std::set<int64_t>{8 + sectors - 1}, true);
  WalkEnv env(faulty, 512, 1, 0);
  const auto before = env.map.bytes();
  row.carver(env.ctx, 8 * 512, "");
  if (row.when_cut == WhenCut::kReleased) {
    EXPECT_EQ(env.map.bytes(), before);
  } else if (row.when_cut == WhenCut::kClaimedUnread) {
    EXPECT_EQ(env.Taken(), RunWithTail(8, sectors));
  } else {
    for (int64_t s : env.Taken()) EXPECT_LT(s, 8 + sectors - 1);
  }
}

TEST_P(FixtureWalk, TakenStartSectorChangesNothing) {
  const FixtureRow& row = GetParam();
  WalkEnv env(DiskAround(ReadFixture(row.file), 8, 24), 512, 4, 0);
  env.map.ClaimSector(8);
  const auto before = env.map.bytes();
  row.carver(env.ctx, 8 * 512, "");
  EXPECT_EQ(env.map.bytes(), before);
  EXPECT_EQ(env.device->reads(), 0u);
}

TEST_P(FixtureWalk, DamagedCopiesStayInsideTheirRange) {
  // Deterministic damage to the first sectors (headers, sizes, chain entries): whatever
  // the walk decides, it claims only sectors from its start on, or none.
  const FixtureRow& row = GetParam();
  const auto file = ReadFixture(row.file);
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const size_t span = std::min<size_t>(file.size(), 1536);
  for (int round = 0; round < 120; ++round) {
    std::vector<uint8_t> damaged = file;
    for (int k = 0; k < 4; ++k) damaged[next() % span] = static_cast<uint8_t>(next());
    WalkEnv env(DiskAround(damaged, 8, 16), 512, 4, 0);
    row.carver(env.ctx, 8 * 512, "");
    const auto taken = env.Taken();
    if (!taken.empty()) {
      EXPECT_GE(taken.front(), 8) << "round " << round;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealFiles, FixtureWalk,
    ::testing::Values(
        FixtureRow{"Mp4MdatThenMoov", "plain.mp4", CarveMp4, WholeFile, WhenCut::kReleased},
        FixtureRow{"Mp4FastStart", "fast.mp4", CarveMp4, WholeFile, WhenCut::kReleased},
        FixtureRow{"ThreeGp", "clip.3gp", CarveMp4, WholeFile, WhenCut::kReleased},
        FixtureRow{"QuickTimeWide", "clip.mov", CarveMp4, WholeFile, WhenCut::kReleased},
        FixtureRow{"Avi", "clip.avi", CarveRiff, WholeFile, WhenCut::kReleased},
        FixtureRow{"Wave", "plain.wav", CarveRiff, WholeFile, WhenCut::kReleased},
        FixtureRow{"WaveWithFact", "fact.wav", CarveRiff, UpToFact, WhenCut::kReleased},
        FixtureRow{"AsfByFileSize", "clip.wmv", CarveAsf, WholeFile, WhenCut::kClaimedUnread},
        FixtureRow{"AsfByObjects", "clip.wmv", CarveAsfObjects, UpToIndex, WhenCut::kReleased},
        FixtureRow{"MpegProgramStream", "clip.mpg", CarveMpegPs, WholeFile, WhenCut::kKeptSoFar},
        FixtureRow{"MpegTransport192", "clip.m2ts", CarveMpegTs, WholeFile, WhenCut::kKeptSoFar},
        FixtureRow{"CompoundFile", "doc.msi", CarveOle2, WholeFile, WhenCut::kReleased},
        FixtureRow{"PdfFromGhostscript", "doc.pdf", CarvePdf, WholeFile, WhenCut::kReleased},
        FixtureRow{"PdfLinearized", "linear.pdf", CarvePdf, WholeFile, WhenCut::kReleased}),
    testing::RowName());

}  // namespace
}  // namespace quorvex
