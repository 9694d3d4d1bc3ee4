// Opening and closing sources: image files, and drive entries pointed at files (a real
// block device is never needed).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ui_text.h"
#include "source/fs_detect.h"
#include "source/source_open.h"
#include "temp_dir.h"

namespace quorvex {
namespace {

using testing::TempDir;
const std::string kDataDir = std::string(QUORVEX_TEST_DATA) + "/source/";

TEST(OpenImage, WithoutAFileSystemDropsThePartialLastSector) {
  TempDir dir;
  const auto image = dir.WriteBytes("blank.img", std::vector<uint8_t>(1000000, 0));
  SourceState source;
  SectorReader reader;
  const OpenView view = OpenImage(source, reader, image.string());
  ASSERT_TRUE(view.opened);
  EXPECT_EQ(view.message_slot, 0);
  EXPECT_FALSE(view.recognised);
  EXPECT_EQ(source.detected.last_sector, 1952);
  EXPECT_EQ(source.detected.fs_kind, FsKind::kNone);
  EXPECT_EQ(source.detected.bytes_per_sector, 512u);
  EXPECT_EQ(source.detected.sectors_per_cluster, 1u);
  EXPECT_EQ(source.detected.cluster_offset, -1);
  EXPECT_EQ(source.kind, SourceKind::kImageFile);
  EXPECT_EQ(source.name, image.string());
  EXPECT_EQ(view.cause_item, kCauseRepartitioned);
  EXPECT_TRUE(view.boxes_enabled);
  EXPECT_EQ(view.fs_item, kFsItemOther);
  EXPECT_EQ(view.cluster_item, 0);
  EXPECT_FALSE(view.free_space_enabled);
  EXPECT_EQ(view.first_sector_text, "0");
  EXPECT_EQ(view.last_sector_text, "1952");
  EXPECT_FALSE(view.set_sector_size_panel);  // an image leaves panel 0 as it was
  EXPECT_EQ(view.total_sectors_panel, UiText(18) + "1953");
  EXPECT_EQ(view.opened_label, UiText(84) + "blank.img");
  EXPECT_EQ(reader.device(), source.device.get());
}

TEST(OpenImage, RecognisedFileSystemLocksTheBoxes) {
  SourceState source;
  SectorReader reader;
  const OpenView view = OpenImage(source, reader, kDataDir + "fat32_s8_r7.boot");
  ASSERT_TRUE(view.opened);
  EXPECT_TRUE(view.recognised);
  EXPECT_EQ(view.cause_item, kCauseDeleted);
  EXPECT_FALSE(view.boxes_enabled);
  EXPECT_EQ(view.fs_item, kFsItemFat32);
  EXPECT_EQ(view.cluster_item, 3);
  EXPECT_TRUE(view.free_space_enabled);
  EXPECT_EQ(source.working.cluster_offset, 7);
  EXPECT_EQ(source.working.last_sector, 7);  // 4,096 bytes of 512-byte sectors
}

TEST(OpenImage, MissingFileGivesSlot48AndTheReason) {
  SourceState source;
  SectorReader reader;
  const OpenView view = OpenImage(source, reader, "/nonexistent/quorvex/none.img");
  EXPECT_FALSE(view.opened);
  EXPECT_EQ(view.message_slot, kSlotFailedOpenFile);
  EXPECT_EQ(view.error_number, ENOENT);
  EXPECT_FALSE(source.is_open());
  EXPECT_EQ(source.kind, SourceKind::kNone);
  EXPECT_EQ(reader.device(), nullptr);
}

TEST(OpenImage, AFolderIsNotAnImage) {
  TempDir dir;
  SourceState source;
  SectorReader reader;
  const OpenView view = OpenImage(source, reader, dir.path().string());
  EXPECT_EQ(view.message_slot, kSlotFailedOpenFile);
  EXPECT_EQ(view.error_number, EISDIR);
}

TEST(OpenImage, SeekToTheEndGivesTheLength) {
  TempDir dir;
  const auto image = dir.WriteBytes("a.img", std::vector<uint8_t>(123456, 1));
  SourceState source;
  SectorReader reader;
  ASSERT_TRUE(OpenImage(source, reader, image.string()).opened);
  EXPECT_EQ(reader.SeekSource(0, 2), 123456);
}

TEST(CloseSource, NothingOpenOnlyResets) {
  SourceState source;
  SectorReader reader;
  EXPECT_FALSE(CloseSource(source, reader));
  EXPECT_FALSE(source.is_open());
  EXPECT_EQ(reader.device(), nullptr);
}

TEST(CloseSource, KeepsTheGeometryAndForgetsTheDevice) {
  TempDir dir;
  const auto image = dir.WriteBytes("a.img", std::vector<uint8_t>(5120, 1));
  SourceState source;
  SectorReader reader;
  ASSERT_TRUE(OpenImage(source, reader, image.string()).opened);
  EXPECT_TRUE(CloseSource(source, reader));
  EXPECT_FALSE(source.is_open());
  EXPECT_EQ(source.kind, SourceKind::kNone);
  EXPECT_EQ(source.working.last_sector, 9);
  uint8_t byte = 0;
  EXPECT_EQ(reader.ReadSource(&byte, 1, 0), 1);  // nothing to read from
}

TEST(CloseSource, TheNextSourceIsReadNotTheOldWindow) {
  TempDir dir;
  const auto first = dir.WriteBytes("first.img", std::vector<uint8_t>(200 * 512, 0x11));
  const auto second = dir.WriteBytes("second.img", std::vector<uint8_t>(200 * 512, 0x22));
  SourceState source;
  SectorReader reader;
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(OpenImage(source, reader, first.string()).opened);
  ASSERT_EQ(reader.ReadSource(sector.data(), 512, 4096), 0);
  EXPECT_EQ(sector[0], 0x11);
  CloseSource(source, reader);
  ASSERT_TRUE(OpenImage(source, reader, second.string()).opened);
  ASSERT_EQ(reader.ReadSource(sector.data(), 512, 4096), 0);
  EXPECT_EQ(sector[0], 0x22);
}

DriveEntry EntryFor(SourceKind kind, const std::string& path) {
  DriveEntry entry;
  entry.kind = kind;
  entry.device_path = path;
  entry.text = kind == SourceKind::kVolume ? "SDX1: [DATA]" : "HD3 ATA DISK (1.00GB)";
  entry.drive_number = kind == SourceKind::kVolume ? -1 : 3;
  return entry;
}

TEST(OpenDrive, AVolumeIsExaminedForAFileSystem) {
  SourceState source;
  SectorReader reader;
  const OpenView view = OpenDrive(source, reader, EntryFor(SourceKind::kVolume, kDataDir + "ntfs_4k.boot"));
  ASSERT_TRUE(view.opened);
  EXPECT_TRUE(view.recognised);
  EXPECT_EQ(source.kind, SourceKind::kVolume);
  EXPECT_EQ(source.working.fs_kind, FsKind::kNtfs);
  EXPECT_EQ(view.cause_item, kCauseDeleted);
  EXPECT_TRUE(view.set_sector_size_panel);
  EXPECT_EQ(view.sector_size_panel, UiText(86) + "512");
  EXPECT_EQ(view.opened_label, UiText(84) + "SDX1: [DATA]");
  EXPECT_EQ(view.source_name, "SDX1: [DATA]");
}

TEST(OpenDrive, APhysicalDriveIsNeverExamined) {
  SourceState source;
  SectorReader reader;
  const OpenView view = OpenDrive(source, reader, EntryFor(SourceKind::kPhysicalDrive, kDataDir + "ntfs_4k.boot"));
  ASSERT_TRUE(view.opened);
  EXPECT_FALSE(view.recognised);
  EXPECT_EQ(source.kind, SourceKind::kPhysicalDrive);
  EXPECT_EQ(source.working.fs_kind, FsKind::kNone);
  EXPECT_EQ(source.working.sectors_per_cluster, 1u);
  EXPECT_EQ(source.working.cluster_offset, -1);
  EXPECT_EQ(view.cause_item, kCauseRepartitioned);
  EXPECT_TRUE(view.boxes_enabled);
  EXPECT_FALSE(view.free_space_enabled);
}

TEST(OpenDrive, FailuresGiveSlot16) {
  SourceState source;
  SectorReader reader;
  OpenView view = OpenDrive(source, reader, EntryFor(SourceKind::kVolume, "/nonexistent/quorvex/sdz9"));
  EXPECT_EQ(view.message_slot, kSlotFailedOpenDrive);
  EXPECT_EQ(view.error_number, ENOENT);
  EXPECT_FALSE(source.is_open());
  view = OpenDrive(source, reader, DriveEntry{});
  EXPECT_EQ(view.message_slot, kSlotFailedOpenDrive);
}

TEST(OpenDrive, AFailedOpeningLeavesNothingOpen) {
  SourceState source;
  SectorReader reader;
  ASSERT_TRUE(OpenImage(source, reader, kDataDir + "fat12_s1.boot").opened);
  const OpenView view = OpenDrive(source, reader, EntryFor(SourceKind::kVolume, "/nonexistent/quorvex/sdz9"));
  EXPECT_FALSE(view.opened);
  EXPECT_FALSE(source.is_open());
  EXPECT_EQ(source.kind, SourceKind::kNone);
  EXPECT_EQ(reader.device(), nullptr);
}

// The whole image made by mkfs.fat (dosfstools), at test time.
TEST(OpenImage, Fat32MadeByMkfsFat) {
  if (std::system("command -v mkfs.fat > /dev/null 2>&1") != 0) GTEST_SKIP() << "mkfs.fat (dosfstools) not installed";
  TempDir dir;
  const std::string image = (dir.path() / "fat32.img").string();
  ASSERT_EQ(std::system(("mkfs.fat -F 32 -s 8 -C '" + image + "' 65536 > /dev/null 2>&1").c_str()), 0);
  const std::vector<uint8_t> bytes = testing::ReadAll(image);
  ASSERT_EQ(bytes.size(), 64u << 20);
  // The boot record's own layout: reserved + FATs × FAT size, modulo the cluster.
  const uint32_t reserved = bytes[14] | (bytes[15] << 8);
  const uint32_t fat_size = bytes[36] | (bytes[37] << 8) | (bytes[38] << 16) | (static_cast<uint32_t>(bytes[39]) << 24);
  const auto first_data = static_cast<int32_t>(reserved + bytes[16] * fat_size);

  SourceState source;
  SectorReader reader;
  const OpenView view = OpenImage(source, reader, image);
  ASSERT_TRUE(view.opened);
  EXPECT_TRUE(view.recognised);
  EXPECT_EQ(source.working.fs_kind, FsKind::kFat32);
  EXPECT_EQ(source.working.bytes_per_sector, 512u);
  EXPECT_EQ(source.working.sectors_per_cluster, 8u);
  EXPECT_EQ(source.working.cluster_offset, first_data % 8);
  EXPECT_EQ(source.working.last_sector, (64 << 20) / 512 - 1);
  EXPECT_EQ(view.cluster_item, 3);
}

}  // namespace
}  // namespace quorvex

namespace quorvex {
namespace {

/// A read-only loop device over a scratch image (root only; skipped where not allowed).
class LoopDevice {
 public:
  LoopDevice(const std::string& image, int sector_size) {
    const std::string command = "losetup -r -f --show --sector-size " + std::to_string(sector_size) + " '" + image +
                                "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return;
    char line[256] = {};
    if (std::fgets(line, sizeof line, pipe) != nullptr) path_ = line;
    ::pclose(pipe);
    while (!path_.empty() && (path_.back() == '\n' || path_.back() == ' ')) path_.pop_back();
  }
  ~LoopDevice() {
    if (!path_.empty()) (void)std::system(("losetup -d '" + path_ + "' 2>/dev/null").c_str());
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(OpenDrive, LoopDeviceWith4096ByteSectors) {
  TempDir dir;
  std::vector<uint8_t> bytes = testing::ReadAll(kDataDir + "fat32_4k_s1.boot");
  bytes.resize(8u << 20, 0);
  const auto image = dir.WriteBytes("loop.img", bytes);
  LoopDevice loop(image.string(), 4096);
  if (loop.path().empty()) GTEST_SKIP() << "no loop device (needs root and losetup)";

  SourceState source;
  SectorReader reader;
  DriveEntry entry;
  entry.kind = SourceKind::kVolume;
  entry.device_path = loop.path();
  entry.text = "LOOP: []";
  OpenView view = OpenDrive(source, reader, entry);
  ASSERT_TRUE(view.opened) << view.error_number;
  EXPECT_TRUE(view.recognised);
  EXPECT_EQ(source.working.fs_kind, FsKind::kFat32);
  EXPECT_EQ(source.working.bytes_per_sector, 4096u);
  EXPECT_EQ(source.working.last_sector, 2047);
  EXPECT_EQ(view.sector_size_panel, UiText(86) + "4096");
  EXPECT_TRUE(source.device->Identity().is_block_device);

  entry.kind = SourceKind::kPhysicalDrive;
  view = OpenDrive(source, reader, entry);
  ASSERT_TRUE(view.opened);
  EXPECT_FALSE(view.recognised);
  // The drive's logical sector size, from the device.
  EXPECT_EQ(source.working.bytes_per_sector, 4096u);
  EXPECT_EQ(source.working.last_sector, 2047);
  ASSERT_TRUE(reader.ReadSectorDirect(0));
  EXPECT_EQ(reader.sector_buffer()[510], 0x55);
  EXPECT_EQ(reader.sector_buffer()[511], 0xAA);
  CloseSource(source, reader);
}

}  // namespace
}  // namespace quorvex
