// Walks of CarveCab and Carve7z over sources in memory: real archives made by gcab and 7zz,
// saved and claim-only, around taken clusters, cut by the scan-range end, and damaged
// copies whose length fields point nowhere sensible.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "archive_cab_7z/cab_7z_fixture.h"
#include "carvers/carver.h"
#include "engine/output_file.h"
#include "source/sector_reader.h"
#include "support/param_name.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::DiskWith;
using testing::ReadArchiveFixture;
using testing::RunWithTail;
using testing::ScratchFolder;
using testing::SectorCount;
using testing::WalkEnv;

struct ArchiveRow {
  std::string name;
  std::string file;
  CarverFn carve;
  std::string extension;
};
void PrintTo(const ArchiveRow& row, std::ostream* os) { *os << row.name; }

const std::vector<ArchiveRow> kArchives = {
    {"cab_tiny", "tiny.cab", CarveCab, ".CAB"},
    {"cab_plain", "plain.cab", CarveCab, ".CAB"},
    {"cab_multi", "multi.cab", CarveCab, ".CAB"},
    {"cab_mszip", "mszip.cab", CarveCab, ".CAB"},
    {"sevenz_store_tiny", "store_tiny.7z", Carve7z, ".7Z"},
    {"sevenz_store_mid", "store_mid.7z", Carve7z, ".7Z"},
    {"sevenz_lzma", "lzma.7z", Carve7z, ".7Z"},
    {"sevenz_solid", "solid.7z", Carve7z, ".7Z"},
    {"sevenz_store_mid_v03", "store_mid_v03.7z", Carve7z, ".7Z"},
    {"sevenz_solid_v03", "solid_v03.7z", Carve7z, ".7Z"},
};

struct Grid {
  uint32_t sectors_per_cluster;
  int64_t cluster_offset;
};
// Start sector 5 lies on both grids (5 - 1 is a multiple of 4).
const Grid kGrids[] = {{1, 0}, {4, 1}};
constexpr int64_t kStart = 5;

class ArchiveWalk : public ::testing::TestWithParam<ArchiveRow> {};

TEST_P(ArchiveWalk, SavedFileIsByteIdenticalAndHoldsExactlyItsSectors) {
  const ArchiveRow& row = GetParam();
  const auto archive = ReadArchiveFixture(row.file);
  const int64_t sectors = SectorCount(static_cast<int64_t>(archive.size()));
  for (const Grid& grid : kGrids) {
    SCOPED_TRACE(grid.sectors_per_cluster);
    WalkEnv env(DiskWith(archive, kStart, 6), 512, grid.sectors_per_cluster, grid.cluster_offset);
    ScratchFolder out(row.name);
    row.carve(env.ctx, kStart * 512, out.folder());
    ASSERT_EQ(out.Files(), std::vector<fs::path>{out.path() / ("TEST_AAAAAAAF" + row.extension)});
    EXPECT_EQ(testing::ReadFileBytes(out.Files()[0]), archive);
    EXPECT_EQ(env.ctx.rescued_count, 1u);
    EXPECT_EQ(env.Taken(), RunWithTail(kStart, sectors, grid.sectors_per_cluster, grid.cluster_offset));
  }
}

TEST_P(ArchiveWalk, ClaimOnlyClaimsExactlyItsSectorsAndReadsOnlyTheStart) {
  const ArchiveRow& row = GetParam();
  const auto archive = ReadArchiveFixture(row.file);
  const int64_t sectors = SectorCount(static_cast<int64_t>(archive.size()));
  for (const Grid& grid : kGrids) {
    SCOPED_TRACE(grid.sectors_per_cluster);
    WalkEnv env(DiskWith(archive, kStart, 6), 512, grid.sectors_per_cluster, grid.cluster_offset);
    row.carve(env.ctx, kStart * 512, "");
    EXPECT_EQ(env.ctx.rescued_count, 0u);
    EXPECT_EQ(env.Taken(), RunWithTail(kStart, sectors, grid.sectors_per_cluster, grid.cluster_offset));
    // One fill of the reader's window for the start sector, nothing after it.
    EXPECT_EQ(env.device->reads(), 1u);
    EXPECT_LE(env.device->bytes_read(), static_cast<uint64_t>(SectorReader::kWindowSize));
  }
}

TEST_P(ArchiveWalk, ClusterTakenByAnEarlierFileIsSteppedOver) {
  const ArchiveRow& row = GetParam();
  const auto archive = ReadArchiveFixture(row.file);
  const int64_t sectors = SectorCount(static_cast<int64_t>(archive.size()));
  if (sectors < 3) GTEST_SKIP() << "needs an archive with a middle";
  // 2-sector clusters: the archive's first cluster at 4..5, a foreign cluster at 6..7, the
  // rest of the archive from 8 on.
  constexpr int64_t kFirst = 4, kForeign = 6, kRest = 8;
  std::vector<uint8_t> disk(static_cast<size_t>((kRest + sectors + 4) * 512), 0);
  std::copy(archive.begin(), archive.begin() + 1024, disk.begin() + kFirst * 512);
  std::fill(disk.begin() + kForeign * 512, disk.begin() + kRest * 512, uint8_t{0xEE});
  std::copy(archive.begin() + 1024, archive.end(), disk.begin() + kRest * 512);
  std::vector<int64_t> expected = {kFirst, kFirst + 1, kForeign, kForeign + 1};
  for (int64_t s : RunWithTail(kRest, sectors - 2, 2, 0)) expected.push_back(s);

  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "saved" : "claim-only");
    WalkEnv env(disk, 512, 2, 0);
    env.map.ClaimSector(kForeign);
    env.map.ClaimSector(kForeign + 1);
    ScratchFolder out(row.name);
    row.carve(env.ctx, kFirst * 512, save ? out.folder() : "");
    EXPECT_EQ(env.Taken(), expected);
    if (save) {
      ASSERT_EQ(out.Files().size(), 1u);
      EXPECT_EQ(testing::ReadFileBytes(out.Files()[0]), archive);
    }
  }
}

TEST_P(ArchiveWalk, ArchiveCutByTheScanRangeEndIsNotKept) {
  const ArchiveRow& row = GetParam();
  const auto archive = ReadArchiveFixture(row.file);
  const int64_t sectors = SectorCount(static_cast<int64_t>(archive.size()));
  if (sectors < 2) GTEST_SKIP() << "a one-sector archive cannot be cut";
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "saved" : "claim-only");
    WalkEnv env(DiskWith(archive, kStart, 6), 512, 1, 0);
    env.SetRangeEnd(kStart + sectors - 2);  // one sector short
    const auto map_before = env.map.bytes();
    ScratchFolder out(row.name);
    row.carve(env.ctx, kStart * 512, save ? out.folder() : "");
    EXPECT_TRUE(out.Files().empty());
    EXPECT_EQ(env.ctx.rescued_count, 0u);
    EXPECT_EQ(env.map.bytes(), map_before);
    EXPECT_LE(env.device->reads(), 1u);  // refused from the start sector's header alone

    // The scan-range end is inclusive: ending exactly on the archive's last sector is enough.
    env.SetRangeEnd(kStart + sectors - 1);
    row.carve(env.ctx, kStart * 512, save ? out.folder() : "");
    EXPECT_EQ(env.Taken(), RunWithTail(kStart, sectors));
    EXPECT_EQ(out.Files().size(), save ? 1u : 0u);
  }
}

TEST_P(ArchiveWalk, TakenStartSectorDoesNothing) {
  const ArchiveRow& row = GetParam();
  WalkEnv env(DiskWith(ReadArchiveFixture(row.file), kStart, 2), 512, 4, 1);
  env.map.ClaimSector(kStart);
  const auto map_before = env.map.bytes();
  ScratchFolder out(row.name);
  row.carve(env.ctx, kStart * 512, out.folder());
  EXPECT_EQ(env.map.bytes(), map_before);
  EXPECT_TRUE(out.Files().empty());
  EXPECT_EQ(env.device->reads(), 0u);
}

TEST_P(ArchiveWalk, OutputThatCannotBeCreatedClaimsOnlyTheStartClusterTail) {
  const ArchiveRow& row = GetParam();
  // Start sector 6 on a 4-sector grid with offset 1: the tail claim from S takes 6..8.
  WalkEnv env(DiskWith(ReadArchiveFixture(row.file), 6, 2), 512, 4, 1);
  row.carve(env.ctx, 6 * 512, "/nonexistent/quorvex/folder/");
  EXPECT_EQ(env.Taken(), (std::vector<int64_t>{6, 7, 8}));
  EXPECT_EQ(env.device->reads(), 0u);
  EXPECT_EQ(env.ctx.rescued_count, 0u);
}

TEST_P(ArchiveWalk, UnreadableSectorInsideTheArchiveGivesUpAndRemovesTheFile) {
  const ArchiveRow& row = GetParam();
  const auto archive = ReadArchiveFixture(row.file);
  const int64_t sectors = SectorCount(static_cast<int64_t>(archive.size()));
  if (sectors < 2) GTEST_SKIP() << "needs a second sector";
  auto memory = std::make_shared<MemoryDevice>(DiskWith(archive, kStart, 2));
  auto faulty = std::make_shared<FaultyDevice>(memory, std::set<int64_t>{kStart + sectors - 1},
                                               /*short_reads=*/true);
  WalkEnv env(faulty, 512, 1, 0);
  const auto map_before = env.map.bytes();
  ScratchFolder out(row.name);
  row.carve(env.ctx, kStart * 512, out.folder());
  EXPECT_GE(faulty->reads(), 2u);  // the start was read; the walk failed further on
  EXPECT_TRUE(out.Files().empty());
  EXPECT_EQ(env.map.bytes(), map_before);
  EXPECT_EQ(env.ctx.rescued_count, 0u);

  // Claim-only never reads that sector, so the same walk is accepted.
  row.carve(env.ctx, kStart * 512, "");
  EXPECT_EQ(env.Taken(), RunWithTail(kStart, sectors));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ArchiveWalk, ::testing::ValuesIn(kArchives), testing::RowName());

TEST(ArchiveWalk4096, SavedWithLargeSectorsAndNamedByTheByteOffset) {
  // Sector 256 of 4,096 bytes starts at byte 1,048,576: TEST_AAAAADAU.
  for (const ArchiveRow& row : {kArchives[2], kArchives[7]}) {
    SCOPED_TRACE(row.name);
    const auto archive = ReadArchiveFixture(row.file);
    WalkEnv env(DiskWith(archive, 256, 1, 4096), 4096, 1, 0);
    ScratchFolder out(row.name);
    row.carve(env.ctx, 256 * 4096, out.folder());
    ASSERT_EQ(out.Files(), std::vector<fs::path>{out.path() / ("TEST_AAAAADAU" + row.extension)});
    EXPECT_EQ(testing::ReadFileBytes(out.Files()[0]), archive);
    EXPECT_EQ(env.Taken(), RunWithTail(256, SectorCount(static_cast<int64_t>(archive.size()), 4096)));
  }
}

// --- damaged archives -------------------------------------------------------------------

constexpr size_t k7zNextOffset = 12, k7zNextSize = 20, k7zMinor = 7, k7zMajor = 6, kCabSize = 8;
constexpr uint64_t kAllOnes = ~uint64_t{0};

struct DamageRow {
  std::string name;
  std::string file;
  CarverFn carve;
  /// Changes the archive's bytes before it is put on the disk.
  std::function<void(std::vector<uint8_t>&)> damage;
  bool classic = false;
  /// Size of the saved file, or -1 when the walk gives up (nothing saved, map unchanged).
  int64_t saved_size = -1;
};
void PrintTo(const DamageRow& row, std::ostream* os) { *os << row.name; }

const std::vector<DamageRow> kDamaged = {
    {"sevenz_next_offset_all_ones", "store_mid.7z", Carve7z,
     [](auto& b) { testing::PutLe64(b, k7zNextOffset, kAllOnes); }},
    {"sevenz_next_size_all_ones", "store_mid.7z", Carve7z,
     [](auto& b) { testing::PutLe64(b, k7zNextSize, kAllOnes); }},
    // 2^63 + 2^63 + 32 wraps to 32: a one-sector archive to a careless sum.
    {"sevenz_sum_wraps_to_32", "store_mid.7z", Carve7z,
     [](auto& b) {
       testing::PutLe64(b, k7zNextOffset, uint64_t{1} << 63);
       testing::PutLe64(b, k7zNextSize, uint64_t{1} << 63);
     }},
    {"sevenz_sum_wraps_past_the_header", "store_mid.7z", Carve7z,
     [](auto& b) {
       testing::PutLe64(b, k7zNextOffset, kAllOnes - 31);
       testing::PutLe64(b, k7zNextSize, 700);
     }},
    {"sevenz_just_above_20_gib", "store_mid.7z", Carve7z,
     [](auto& b) {
       testing::PutLe64(b, k7zNextOffset, 21474836480ull - 32);
       testing::PutLe64(b, k7zNextSize, 1);
     }},
    {"sevenz_truncated_before_its_header", "store_mid.7z", Carve7z, [](auto& b) { b.resize(6000); }},
    {"sevenz_major_version_1", "store_mid.7z", Carve7z, [](auto& b) { b[k7zMajor] = 1; }},
    {"sevenz_minor_version_5", "store_mid.7z", Carve7z, [](auto& b) { b[k7zMinor] = 5; }},
    {"sevenz_minor_version_1", "store_mid.7z", Carve7z, [](auto& b) { b[k7zMinor] = 1; }},
    {"sevenz_minor_version_2", "store_mid.7z", Carve7z, [](auto& b) { b[k7zMinor] = 2; }, false, 9122},
    {"sevenz_signature_broken", "store_mid.7z", Carve7z, [](auto& b) { b[5] = 0; }},
    {"sevenz_classic_refuses_0_4", "store_mid.7z", Carve7z, [](auto&) {}, true},
    {"sevenz_classic_refuses_0_2", "store_mid.7z", Carve7z, [](auto& b) { b[k7zMinor] = 2; }, true},
    {"sevenz_classic_takes_0_3", "store_mid_v03.7z", Carve7z, [](auto&) {}, true, 9122},
    {"cab_size_zero_is_an_empty_file", "tiny.cab", CarveCab, [](auto& b) { testing::PutLe32(b, kCabSize, 0); },
     false, 0},
    {"cab_size_past_the_source", "multi.cab", CarveCab,
     [](auto& b) { testing::PutLe32(b, kCabSize, static_cast<uint32_t>(b.size() + 100000)); }},
    {"cab_size_all_ones", "multi.cab", CarveCab, [](auto& b) { testing::PutLe32(b, kCabSize, 0xFFFFFFFFu); }},
    {"cab_signature_broken", "multi.cab", CarveCab, [](auto& b) { b[0] = 'N'; }},
    // The version is the identifier's test; the walk reads only the signature and the size.
    {"cab_version_not_read_by_the_walk", "plain.cab", CarveCab, [](auto& b) { b[24] = 2; }, true, 1514},
};

class DamagedArchive : public ::testing::TestWithParam<DamageRow> {};

TEST_P(DamagedArchive, EndsAsExpectedWithoutReadingOn) {
  const DamageRow& row = GetParam();
  auto archive = ReadArchiveFixture(row.file);
  row.damage(archive);
  // The damaged archive ends the source: nothing after it can make up for a missing part.
  const auto disk = DiskWith(archive, kStart, 0);
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "saved" : "claim-only");
    WalkEnv env(disk, 512, 1, 0);
    env.ctx.classic = row.classic;
    const auto map_before = env.map.bytes();
    ScratchFolder out(row.name);
    row.carve(env.ctx, kStart * 512, save ? out.folder() : "");
    if (row.saved_size < 0) {
      EXPECT_EQ(env.map.bytes(), map_before);
      EXPECT_TRUE(out.Files().empty());
      EXPECT_EQ(env.ctx.rescued_count, 0u);
      EXPECT_EQ(env.device->reads(), 1u);  // the start sector's window, nothing more
      continue;
    }
    const int64_t kept = std::max<int64_t>(1, SectorCount(row.saved_size));
    EXPECT_EQ(env.Taken(), RunWithTail(kStart, kept));
    if (save) {
      ASSERT_EQ(out.Files().size(), 1u);
      const auto saved = testing::ReadFileBytes(out.Files()[0]);
      EXPECT_EQ(saved, std::vector<uint8_t>(archive.begin(), archive.begin() + row.saved_size));
      EXPECT_EQ(env.ctx.rescued_count, 1u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedArchive, ::testing::ValuesIn(kDamaged), testing::RowName());

TEST(SevenZipWalk, ClaimOnlyOfALargeDeclaredLengthReadsOnlyTheStart) {
  // A signature header declaring 8 MiB over 8 MiB of other bytes: claimed, not read.
  auto header = ReadArchiveFixture("store_tiny.7z");
  header.resize(32);
  testing::PutLe64(header, k7zNextOffset, (8u << 20) - 32 - 100);
  testing::PutLe64(header, k7zNextSize, 100);
  std::vector<uint8_t> disk((8u << 20) + 4096, 0x5A);
  std::copy(header.begin(), header.end(), disk.begin());
  WalkEnv env(disk, 512, 1, 0);
  Carve7z(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, (8 << 20) / 512));
  EXPECT_EQ(env.device->reads(), 1u);
  EXPECT_LE(env.device->bytes_read(), static_cast<uint64_t>(SectorReader::kWindowSize));
}

}  // namespace
}  // namespace quorvex
