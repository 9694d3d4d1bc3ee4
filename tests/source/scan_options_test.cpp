// The cause-of-loss, file-system and cluster-size boxes as computations on the working
// geometry.
#include <gtest/gtest.h>

#include <optional>

#include "source/fs_detect.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

struct TableRow {
  std::string name;
  int fs_item;
  int64_t volume_bytes;
  std::optional<uint32_t> cluster_bytes;
};

// Each limit is in 512-byte sectors; the row applies while limit × 512 exceeds V.
const TableRow kTableRows[] = {
    {"fat_first_row_below_limit", kFsItemFat, 65535LL * 512 - 1, 512},
    {"fat_first_row_at_limit", kFsItemFat, 65535LL * 512, 1024},
    {"fat_last_row_below_limit", kFsItemFat, 8388607LL * 512 - 1, 65536},
    {"fat_beyond_last_row", kFsItemFat, 8388607LL * 512, std::nullopt},
    {"fat32_first_row", kFsItemFat32, 0, 512},
    {"fat32_4k_up_to_8gib", kFsItemFat32, 16777215LL * 512 - 1, 4096},
    {"fat32_last_row_below_limit", kFsItemFat32, 4294967295LL * 512 - 1, 32768},
    {"fat32_beyond_last_row", kFsItemFat32, 4294967295LL * 512, std::nullopt},
    {"ntfs_first_row", kFsItemNtfs, 34359738367LL * 512 - 1, 4096},
    {"ntfs_second_row", kFsItemNtfs, 34359738367LL * 512, 8192},
    {"ntfs_last_row_below_limit", kFsItemNtfs, 549755813887LL * 512 - 1, 65536},
    {"ntfs_beyond_last_row", kFsItemNtfs, 549755813887LL * 512, std::nullopt},
    {"exfat_first_row", kFsItemExFat, 524287LL * 512 - 1, 4096},
    {"exfat_second_row", kFsItemExFat, 524287LL * 512, 32768},
    {"exfat_last_row_below_limit", kFsItemExFat, 549755813887LL * 512 - 1, 131072},
    {"exfat_beyond_last_row", kFsItemExFat, 549755813887LL * 512, std::nullopt},
    {"hfs_has_no_table", kFsItemHfs, 0, std::nullopt},
    {"other_has_no_table", kFsItemOther, 0, std::nullopt},
};

class DefaultClusterTables : public ::testing::TestWithParam<TableRow> {};
TEST_P(DefaultClusterTables, FirstRowWhoseLimitExceedsTheVolume) {
  EXPECT_EQ(DefaultClusterBytes(GetParam().fs_item, GetParam().volume_bytes), GetParam().cluster_bytes);
}
INSTANTIATE_TEST_SUITE_P(Rows, DefaultClusterTables, ::testing::ValuesIn(kTableRows), testing::RowName());

struct ItemRow {
  std::string name;
  uint32_t sectors_per_cluster;
  uint32_t bytes_per_sector;
  int item;
};

const ItemRow kItemRows[] = {
    {"half_k", 1, 512, 0},          {"four_k", 8, 512, 3},          {"one_28k", 256, 512, 8},
    {"four_k_sector", 1, 4096, 3},  {"two_k_sector_x4", 4, 2048, 4}, {"three_sectors", 3, 512, 0},
    {"zero", 0, 4096, 0},           {"above_128k", 512, 512, 0},
    // The 64-bit product divided by 512 is taken as 32 bits: 2^34 becomes 0.
    {"product_wraps", 0x80000000u, 4096, 0},
};

class ClusterItemRule : public ::testing::TestWithParam<ItemRow> {};
TEST_P(ClusterItemRule, SelectsTheItemOfTheClusterBytes) {
  EXPECT_EQ(ClusterItemFor(GetParam().sectors_per_cluster, GetParam().bytes_per_sector), GetParam().item);
}
INSTANTIATE_TEST_SUITE_P(Rows, ClusterItemRule, ::testing::ValuesIn(kItemRows), testing::RowName());

Geometry Working(int64_t last_sector, uint32_t bytes_per_sector, uint32_t spc = 3, int32_t offset = 2,
                 FsKind kind = FsKind::kFat32) {
  Geometry g;
  g.last_sector = last_sector;
  g.bytes_per_sector = bytes_per_sector;
  g.sectors_per_cluster = spc;
  g.cluster_offset = offset;
  g.fs_kind = kind;
  return g;
}

struct ChoiceRow {
  std::string name;
  Geometry working;
  int fs_item;
  uint32_t sectors_per_cluster;
  int cluster_item;
};

const ChoiceRow kChoiceRows[] = {
    // V = 20,971,519 × 512 = 10,737,417,728 bytes: "8K".
    {"fat32_10gib", Working(20971519, 512), kFsItemFat32, 16, 4},
    {"ntfs_1tb", Working(1000000000000LL / 512 - 1, 512), kFsItemNtfs, 8, 3},
    {"ntfs_4096_sectors", Working(1000000000000LL / 4096 - 1, 4096), kFsItemNtfs, 1, 3},
    {"fat_small_volume", Working(2879, 512), kFsItemFat, 1, 0},
    {"exfat_32g", Working(62521343, 512), kFsItemExFat, 64, 6},
    {"fat_beyond_table_keeps_cluster", Working(8388607, 512, 3), kFsItemFat, 3, 0},
    {"hfs_one_per_65536_sectors", Working(1000000, 512), kFsItemHfs, 16, 4},
    {"hfsplus_512_sectors", Working(1000000, 512), kFsItemHfsPlus, 8, 3},
    {"hfsplus_4096_sectors", Working(1000000, 4096), kFsItemHfsPlus, 1, 3},
    {"other", Working(1000000, 512, 64), kFsItemOther, 1, 0},
};

class FileSystemChoice : public ::testing::TestWithParam<ChoiceRow> {};
TEST_P(FileSystemChoice, SetsTheDefaultClusterAndForgetsTheOffset) {
  Geometry g = GetParam().working;
  const FsKind kind = g.fs_kind;
  EXPECT_EQ(FileSystemChosen(g, GetParam().fs_item), GetParam().cluster_item);
  EXPECT_EQ(g.sectors_per_cluster, GetParam().sectors_per_cluster);
  EXPECT_EQ(g.cluster_offset, -1);
  EXPECT_EQ(g.fs_kind, kind);  // the box changes only the cluster size
}
INSTANTIATE_TEST_SUITE_P(Rows, FileSystemChoice, ::testing::ValuesIn(kChoiceRows), testing::RowName());

TEST(ClusterSizeChoice, SmallerThanASectorGivesZeroSectors) {
  for (int item = 0; item < kClusterItemCount; ++item) {
    Geometry g = Working(1000, 4096);
    ClusterSizeChosen(g, item, true);
    EXPECT_EQ(g.sectors_per_cluster, item < 3 ? 0u : (512u << item) / 4096) << "item " << item;
    EXPECT_EQ(g.cluster_offset, -1);
  }
}

TEST(ClusterSizeChoice, TheScanDriversOwnCallKeepsTheOffset) {
  Geometry g = Working(1000, 512, 8, 5);
  ClusterSizeChosen(g, 6, false);
  EXPECT_EQ(g.sectors_per_cluster, 64u);
  EXPECT_EQ(g.cluster_offset, 5);
}

TEST(CauseOfLoss, DeletedWithoutAFileSystemFallsBackToFormatted) {
  const Geometry detected = Working(99999, 512, 1, -1, FsKind::kNone);
  Geometry working = detected;
  const CauseOfLossView view = CauseOfLossChosen(detected, working, kCauseDeleted);
  EXPECT_EQ(view.message_slot, kSlotUnknownFileSystem);
  EXPECT_EQ(view.cause_item, kCauseFormatted);
  EXPECT_TRUE(view.boxes_enabled);
  EXPECT_EQ(view.fs_item, kFsItemOther);
  EXPECT_EQ(working.sectors_per_cluster, 1u);
}

TEST(CauseOfLoss, DeletedCopiesTheDetectedGeometryThenTakesTheDefaultCluster) {
  const Geometry detected = Working(20971519, 512, 64, 7, FsKind::kFat32);
  Geometry working = Working(20971519, 512, 2, 1, FsKind::kFat32);
  const CauseOfLossView view = CauseOfLossChosen(detected, working, kCauseDeleted);
  EXPECT_EQ(view.message_slot, 0);
  EXPECT_EQ(view.cause_item, kCauseDeleted);
  EXPECT_FALSE(view.boxes_enabled);
  EXPECT_EQ(view.fs_item, kFsItemFat32);
  // As the boxes work: the file-system rule runs after the copy.
  EXPECT_EQ(working.sectors_per_cluster, 16u);
  EXPECT_EQ(working.cluster_offset, -1);
  EXPECT_EQ(view.cluster_item, 4);
}

TEST(CauseOfLoss, FormattedAndRepartitionedEnableTheBoxes) {
  for (int cause : {kCauseFormatted, kCauseRepartitioned}) {
    const Geometry detected = Working(20971519, 512, 64, 7, FsKind::kNtfs);
    Geometry working = detected;
    const CauseOfLossView view = CauseOfLossChosen(detected, working, cause);
    EXPECT_EQ(view.message_slot, 0);
    EXPECT_EQ(view.cause_item, cause);
    EXPECT_TRUE(view.boxes_enabled);
    EXPECT_EQ(view.fs_item, kFsItemNtfs);
    EXPECT_EQ(working.sectors_per_cluster, 8u);
  }
}

TEST(FsItems, EveryKindHasItsBoxItem) {
  EXPECT_EQ(FsItemForKind(FsKind::kFat12), kFsItemFat);
  EXPECT_EQ(FsItemForKind(FsKind::kFat16), kFsItemFat);
  EXPECT_EQ(FsItemForKind(FsKind::kFat32), kFsItemFat32);
  EXPECT_EQ(FsItemForKind(FsKind::kNtfs), kFsItemNtfs);
  EXPECT_EQ(FsItemForKind(FsKind::kExFat), kFsItemExFat);
  EXPECT_EQ(FsItemForKind(FsKind::kHfs), kFsItemHfs);
  EXPECT_EQ(FsItemForKind(FsKind::kHfsPlus), kFsItemHfsPlus);
  EXPECT_EQ(FsItemForKind(FsKind::kNone), kFsItemOther);
}

}  // namespace
}  // namespace quorvex
