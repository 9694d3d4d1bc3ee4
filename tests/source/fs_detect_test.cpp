// File-system detection on boot records made by mkfs.fat, mkntfs and mkfs.exfat (first
// 4 KiB of each, see tests/data/source/make.sh), and on hand-made volume headers and
// damaged records.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "source/fs_detect.h"
#include "support/param_name.h"
#include "temp_dir.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;
const std::string kDataDir = std::string(QUORVEX_TEST_DATA) + "/source/";

Bytes Boot(const std::string& name) { return testing::ReadAll(kDataDir + name + ".boot"); }

FsKind KindNamed(const std::string& text) {
  if (text == "FAT12") return FsKind::kFat12;
  if (text == "FAT16") return FsKind::kFat16;
  if (text == "FAT32") return FsKind::kFat32;
  if (text == "NTFS") return FsKind::kNtfs;
  if (text == "exFAT") return FsKind::kExFat;
  return FsKind::kNone;
}

struct ToolRow {
  std::string name;
  FsKind kind;
  uint32_t bytes_per_sector;
  uint32_t sectors_per_cluster;
  int32_t cluster_offset;
};

/// expected.tsv: what make.sh read back from each image with od.
std::vector<ToolRow> LoadToolRows() {
  std::vector<ToolRow> rows;
  std::ifstream in(kDataDir + "expected.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ToolRow row;
    std::string kind;
    if (fields >> row.name >> kind >> row.bytes_per_sector >> row.sectors_per_cluster >> row.cluster_offset) {
      row.kind = KindNamed(kind);
      rows.push_back(row);
    }
  }
  return rows;
}

class ToolMadeRecords : public ::testing::TestWithParam<ToolRow> {};

TEST_P(ToolMadeRecords, AreRecognisedWithTheirGeometry) {
  const ToolRow& row = GetParam();
  const Bytes boot = Boot(row.name);
  ASSERT_EQ(boot.size(), kDetectProbeBytes);
  Geometry g;
  g.last_sector = 12345;
  ASSERT_TRUE(DetectFileSystem(boot, g));
  EXPECT_EQ(g.fs_kind, row.kind);
  EXPECT_EQ(g.bytes_per_sector, row.bytes_per_sector);
  EXPECT_EQ(g.sectors_per_cluster, row.sectors_per_cluster);
  EXPECT_EQ(g.cluster_offset, row.cluster_offset);
  EXPECT_EQ(g.last_sector, 12345);  // not detection's business
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ToolMadeRecords, ::testing::ValuesIn(LoadToolRows()), testing::RowName());

TEST(ToolMadeRecords, AllFixturesAreListed) { EXPECT_EQ(LoadToolRows().size(), 16u); }

// ---- hand-made and damaged records ------------------------------------------------------

void PutBe16(Bytes& b, size_t off, uint32_t v) {
  b[off] = static_cast<uint8_t>(v >> 8);
  b[off + 1] = static_cast<uint8_t>(v);
}
void PutBe32(Bytes& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutLe16(Bytes& b, size_t off, uint32_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
void PutText(Bytes& b, size_t off, std::string_view text) { std::copy(text.begin(), text.end(), b.begin() + static_cast<long>(off)); }

Bytes HfsHeader(std::string_view signature, size_t block_size_offset, uint32_t block_size) {
  Bytes b(kDetectProbeBytes, 0);
  PutText(b, 1024, signature);
  PutBe32(b, block_size_offset, block_size);
  return b;
}
Bytes Hfs(uint32_t block_size, uint32_t first_block) {
  Bytes b = HfsHeader("BD", 1044, block_size);
  PutBe16(b, 1052, first_block);
  return b;
}
Bytes HfsPlus(uint32_t block_size) { return HfsHeader(std::string_view("H+\0\4", 4), 1064, block_size); }

struct HandRow {
  std::string name;
  std::function<Bytes()> make;
  bool recognised;
  FsKind kind = FsKind::kNone;
  uint32_t bytes_per_sector = 0;
  uint32_t sectors_per_cluster = 0;
  int32_t cluster_offset = 0;
};

Bytes Edited(const std::string& fixture, const std::function<void(Bytes&)>& edit) {
  Bytes b = Boot(fixture);
  edit(b);
  return b;
}

/// A FAT16 record with 512-byte sectors, 4 sectors per cluster, 2 FATs of 200 sectors and
/// 512 root entries: first data sector reserved + 400 + 32.
Bytes Fat16Layout(uint32_t reserved) {
  return Edited("fat16_s4", [&](Bytes& b) {
    b[13] = 4;
    PutLe16(b, 14, reserved);
    b[16] = 2;
    PutLe16(b, 17, 512);
    PutLe16(b, 22, 200);
  });
}

/// Moves the boot signature from byte 510 to byte 4094 and sets the sector size field.
Bytes SignatureOnlyAtEnd(uint32_t bytes_per_sector) {
  return Edited("fat16_s4", [&](Bytes& b) {
    PutLe16(b, 510, 0);
    PutLe16(b, 4094, 0xAA55);
    PutLe16(b, 11, bytes_per_sector);
  });
}

const HandRow kHandRows[] = {
    {"hfs_4k_blocks", [] { return Hfs(4096, 37); }, true, FsKind::kHfs, 512, 8, 37},
    {"hfs_first_block_kept_as_stored", [] { return Hfs(1536, 1000); }, true, FsKind::kHfs, 512, 3, 1000},
    {"hfs_block_zero", [] { return Hfs(0, 5); }, false},
    {"hfs_block_not_multiple_of_512", [] { return Hfs(1000, 5); }, false},
    {"hfsplus_4k_blocks", [] { return HfsPlus(4096); }, true, FsKind::kHfsPlus, 512, 8, 0},
    {"hfsx_version_5", [] { return HfsHeader(std::string_view("HX\0\5", 4), 1064, 65536); }, true, FsKind::kHfsPlus, 512, 128, 0},
    {"hfsplus_wrong_version", [] { return HfsHeader(std::string_view("H+\0\5", 4), 1064, 4096); }, false},
    {"hfsplus_128k_blocks", [] { return HfsPlus(131072); }, false},
    {"hfsplus_block_zero", [] { return HfsPlus(0); }, false},
    {"hfs_header_under_boot_signature", [] { Bytes b = HfsPlus(4096); PutLe16(b, 510, 0xAA55); return b; }, false},
    {"fat16_layout_reserved_4", [] { return Fat16Layout(4); }, true, FsKind::kFat16, 512, 4, 0},
    {"fat16_layout_reserved_1", [] { return Fat16Layout(1); }, true, FsKind::kFat16, 512, 4, 1},
    {"fat32_128_sectors_per_cluster", [] { return Edited("fat32_s8", [](Bytes& b) { b[13] = 128; }); }, false},
    {"fat32_0_sectors_per_cluster", [] { return Edited("fat32_s8", [](Bytes& b) { b[13] = 0; }); }, false},
    {"fat16_129_sectors_per_cluster", [] { return Edited("fat16_s128", [](Bytes& b) { b[13] = 129; }); }, false},
    {"signature_at_4094_sector_512", [] { return SignatureOnlyAtEnd(512); }, false},
    {"signature_at_4094_sector_4096", [] { return SignatureOnlyAtEnd(4096); }, true, FsKind::kFat16, 4096, 4, 0},
    {"fat_sector_size_1000", [] { return Edited("fat16_s4", [](Bytes& b) { PutLe16(b, 11, 1000); }); }, false},
    {"fat_sector_size_0", [] { return Edited("fat16_s4", [](Bytes& b) { PutLe16(b, 11, 0); }); }, false},
    {"fat_sector_size_8192", [] { return Edited("fat16_s4", [](Bytes& b) { PutLe16(b, 11, 8192); }); }, false},
    {"fat_type_lower_case", [] { return Edited("fat16_s4", [](Bytes& b) { PutText(b, 54, "fat16   "); }); }, false},
    {"no_boot_signature", [] { return Edited("fat32_s8", [](Bytes& b) { PutLe16(b, 510, 0); }); }, false},
    {"ntfs_negative_cluster_exponent", [] { return Edited("ntfs_64k", [](Bytes& b) { b[13] = 0xF4; }); }, false},
    {"exfat_4096_byte_sectors", [] { return Edited("exfat_32k", [](Bytes& b) { b[108] = 12; b[109] = 3; }); },
     true, FsKind::kExFat, 4096, 8, 0},
    {"exfat_heap_offset_off_grid", [] { return Edited("exfat_32k", [](Bytes& b) { PutLe16(b, 88, 2053); PutLe16(b, 90, 0); }); },
     true, FsKind::kExFat, 512, 64, 2053 % 64},
    {"exfat_sector_shift_13", [] { return Edited("exfat_32k", [](Bytes& b) { b[108] = 13; }); }, false},
    {"exfat_sector_shift_255", [] { return Edited("exfat_32k", [](Bytes& b) { b[108] = 255; }); }, false},
    {"exfat_cluster_shift_9", [] { return Edited("exfat_32k", [](Bytes& b) { b[109] = 9; }); }, false},
    {"fat_record_also_named_ntfs", [] { return Edited("fat16_s4", [](Bytes& b) { PutText(b, 3, "NTFS    "); }); }, false},
    {"fat16_record_also_named_fat32", [] { return Edited("fat16_s4", [](Bytes& b) { PutText(b, 82, "FAT32   "); }); }, false},
    {"fat_record_over_hfsplus_header", [] {
       return Edited("fat32_s8", [](Bytes& b) { PutText(b, 1024, std::string_view("H+\0\4", 4)); PutBe32(b, 1064, 4096); });
     }, false},
    {"fat_record_over_implausible_hfs_header", [] {
       return Edited("fat32_s8", [](Bytes& b) { PutText(b, 1024, "BD"); PutBe32(b, 1044, 0); });
     }, true, FsKind::kFat32, 512, 8, 0},
    {"zeros", [] { return Bytes(kDetectProbeBytes, 0); }, false},
    {"empty_source", [] { return Bytes(); }, false},
    {"source_of_600_bytes", [] { Bytes b = Boot("fat16_s4"); b.resize(600); return b; }, true, FsKind::kFat16, 512, 4, 0},
};

class HandMadeRecords : public ::testing::TestWithParam<HandRow> {};

TEST_P(HandMadeRecords, DetectOrRefuse) {
  const HandRow& row = GetParam();
  const Bytes bytes = row.make();
  Geometry g;
  g.bytes_per_sector = 777;
  g.sectors_per_cluster = 55;
  g.cluster_offset = -1;
  g.fs_kind = FsKind::kNone;
  const bool found = DetectFileSystem(bytes, g);
  ASSERT_EQ(found, row.recognised);
  if (!found) {
    // A refused record leaves the geometry as it was.
    EXPECT_EQ(g.bytes_per_sector, 777u);
    EXPECT_EQ(g.fs_kind, FsKind::kNone);
    return;
  }
  EXPECT_EQ(g.fs_kind, row.kind);
  EXPECT_EQ(g.bytes_per_sector, row.bytes_per_sector);
  EXPECT_EQ(g.sectors_per_cluster, row.sectors_per_cluster);
  EXPECT_EQ(g.cluster_offset, row.cluster_offset);
}

INSTANTIATE_TEST_SUITE_P(Rows, HandMadeRecords, ::testing::ValuesIn(kHandRows), testing::RowName());

}  // namespace
}  // namespace quorvex
