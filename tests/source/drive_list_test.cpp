// Entry texts, and the drive list over a fake sysfs tree (no real device is touched:
// libblkid is off and the device folder is a scratch folder).
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sys/sysmacros.h>
#include <string>
#include <vector>

#include "platform/drive_list.h"
#include "support/param_name.h"
#include "temp_dir.h"

namespace quorvex {
namespace {

using testing::TempDir;

struct SizeRow {
  std::string name;
  int64_t bytes;
  std::string text;
};

const SizeRow kSizeRows[] = {
    {"disk_500g", 500107862016LL, "465.76GB"},
    {"stick_8g", 8004304896LL, "7.45GB"},
    {"floppy", 1474560, "1.41MB"},
    {"ten_mib", 10485760, "10.00MB"},
    {"disk_2t", 2000398934016LL, "1863.02GB"},
    {"stick_128m", 134217728, ".13GB"},
    {"just_below_10_24_mib", 10737418 - 5243, "10.23MB"},
    {"switch_to_gb_at_10_24_mib", 10737418, ".01GB"},
    {"one_hundredth_mib", 10486, ".01MB"},
    {"zero", 0, ".00MB"},
    {"half_rounds_up", 524288 / 100 + 1, ".01MB"},
    {"no_overflow_at_the_top", INT64_MAX, "8589934592.00GB"},
};

class SizeTextTable : public ::testing::TestWithParam<SizeRow> {};
TEST_P(SizeTextTable, Formats) { EXPECT_EQ(SizeText(GetParam().bytes), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Rows, SizeTextTable, ::testing::ValuesIn(kSizeRows), testing::RowName());

struct DriveTextRow {
  std::string name;
  int number;
  bool removable;
  std::optional<std::string> vendor;
  std::optional<std::string> product;
  int64_t size;
  std::string text;
};

const DriveTextRow kDriveTextRows[] = {
    {"fixed_disk", 0, false, "WDC", "WD5000AAKS", 500107862016LL, "HD0 WDC WD5000AAKS (465.76GB)"},
    {"removable_stick", 12, true, "Kingston", "DataTraveler", 8004304896LL, "RM12 Kingston DataTraveler (7.45GB)"},
    {"vendor_without_product", 1, false, "ATA", std::nullopt, 8004304896LL, "HD1 (7.45GB)"},
    {"product_without_vendor", 2, false, std::nullopt, "Samsung SSD 970", 8004304896LL, "HD2 Samsung SSD 970 (7.45GB)"},
    {"nothing_reported", 3, false, std::nullopt, std::nullopt, 1474560, "HD3 (1.41MB)"},
    {"padded_and_control_characters", 4, false, "ATA     ", "\tST2000DM001-1CH1 \n", 2000398934016LL,
     "HD4 ATA ST2000DM001-1CH1 (1863.02GB)"},
};

class DriveTextTable : public ::testing::TestWithParam<DriveTextRow> {};
TEST_P(DriveTextTable, Builds) {
  const DriveTextRow& row = GetParam();
  EXPECT_EQ(PhysicalDriveText(row.number, row.removable, row.vendor ? &*row.vendor : nullptr,
                              row.product ? &*row.product : nullptr, row.size),
            row.text);
}
INSTANTIATE_TEST_SUITE_P(Rows, DriveTextTable, ::testing::ValuesIn(kDriveTextRows), testing::RowName());

TEST(VolumeText, FollowsTheDriveKindAndTextCase) {
  EXPECT_EQ(VolumeText("sda1", DrivePicture::kFixed, "System", true), "SDA1: [SYSTEM]");
  EXPECT_EQ(VolumeText("sda1", DrivePicture::kFixed, "System", false), "sda1: [system]");
  EXPECT_EQ(VolumeText("sda2", DrivePicture::kFixed, "", true), "SDA2: []");
  EXPECT_EQ(VolumeText("sdb1", DrivePicture::kRemovable, "Stick", true), "SDB1:");
  EXPECT_EQ(VolumeText("sr0", DrivePicture::kCdRom, "Disc", true), "SR0: [DISC]");
  EXPECT_EQ(VolumeText("zram0", DrivePicture::kRam, "", true), "ZRAM0: []");
}

/// A fake sysfs and /dev. Sizes are in 512-byte units as the kernel gives them.
class FakeSystem {
 public:
  void Disk(const std::string& name, int64_t sectors, const std::string& dev, bool removable = false) {
    dir_.Write("sys/block/" + name + "/size", std::to_string(sectors) + "\n");
    dir_.Write("sys/block/" + name + "/dev", dev + "\n");
    dir_.Write("sys/block/" + name + "/removable", removable ? "1\n" : "0\n");
  }
  void Partition(const std::string& disk, const std::string& name, int number, int64_t sectors, const std::string& dev) {
    const std::string base = "sys/block/" + disk + "/" + name + "/";
    dir_.Write(base + "partition", std::to_string(number) + "\n");
    dir_.Write(base + "size", std::to_string(sectors) + "\n");
    dir_.Write(base + "dev", dev + "\n");
  }
  void DeviceFile(const std::string& disk, const std::string& file, const std::string& text) {
    dir_.Write("sys/block/" + disk + "/device/" + file, text);
  }
  void Link(const std::string& kind, const std::string& link, const std::string& name) {
    const auto folder = dir_.path() / "dev" / "disk" / kind;
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("../../" + name, folder / link);
  }
  DriveListOptions Options() const {
    DriveListOptions options;
    options.sysfs_root = (dir_.path() / "sys").string();
    options.dev_root = (dir_.path() / "dev").string();
    options.use_blkid = false;
    return options;
  }
  std::string Dev(const std::string& name) const { return (dir_.path() / "dev" / name).string(); }

 private:
  TempDir dir_;
};

std::vector<std::string> Texts(const std::vector<DriveEntry>& entries) {
  std::vector<std::string> texts;
  for (const DriveEntry& e : entries) texts.push_back(e.text);
  return texts;
}

void BuildMachine(FakeSystem& sys) {
  sys.Disk("sda", 976773168, "8:0");
  sys.DeviceFile("sda", "vendor", "ATA     \n");
  sys.DeviceFile("sda", "model", "WDC WD5000AAKS  \n");
  sys.Partition("sda", "sda1", 1, 1024000, "8:1");
  sys.Partition("sda", "sda2", 2, 2048000, "8:2");
  sys.Partition("sda", "sda10", 10, 2048, "8:10");
  sys.Partition("sda", "sda3", 3, 4096, "8:3");
  sys.Disk("sdb", 15633408, "8:16", true);
  sys.DeviceFile("sdb", "vendor", "Kingston");
  sys.DeviceFile("sdb", "model", "DataTraveler 3.0");
  sys.Partition("sdb", "sdb1", 1, 15631360, "8:17");
  sys.Disk("sdc", 0, "8:32", true);  // an empty card-reader slot
  sys.Disk("sr0", 0, "11:0", true);
  sys.Disk("loop0", 0, "7:0");
  sys.Disk("loop1", 131072, "7:1");
  sys.Disk("zram0", 8388608, "252:0");
  sys.Disk("dm-0", 2048000, "253:0");
  sys.Disk("nvme0n1", 1953525168, "259:0");
  sys.DeviceFile("nvme0n1", "model", "Samsung SSD 970 EVO 1TB                 \n");
  sys.Disk("nvme0c0n1", 1953525168, "259:9");  // a hidden multipath path
  sys.Disk("mmcblk0", 62333952, "179:0");
  sys.DeviceFile("mmcblk0", "name", "SE32G\n");
  sys.Disk("mmcblk0boot0", 8192, "179:8");
  sys.Link("by-uuid", "1234-ABCD", "sda1");
  sys.Link("by-uuid", "5678-EF01", "sda2");
  sys.Link("by-label", "My\\x20Disk", "sda2");
  sys.Link("by-uuid", "0000-1111", "loop1");
  sys.Link("by-uuid", "2222-3333", "dm-0");
}

TEST(ListVolumes, PartitionsAndWholeDiskFileSystems) {
  FakeSystem sys;
  BuildMachine(sys);
  const std::vector<DriveEntry> volumes = ListVolumes(sys.Options());
  // dm-0, loop1 and sda1/sda2 hold file systems (udev links); sda3 and sda10 do not;
  // the removable stick's partition is listed without a label; the CD-ROM drive always.
  EXPECT_EQ(Texts(volumes), (std::vector<std::string>{"DM-0: []", "LOOP1: []", "SDA1: []", "SDA2: [MY DISK]",
                                                      "SDB1:", "SR0: []"}));
  for (const DriveEntry& e : volumes) {
    EXPECT_EQ(e.kind, SourceKind::kVolume);
    EXPECT_EQ(e.device_path, sys.Dev(e.block_name));
    EXPECT_EQ(e.drive_number, -1);
  }
  EXPECT_EQ(volumes[2].rdev, makedev(8, 1));
  EXPECT_EQ(volumes[4].picture, DrivePicture::kRemovable);
  EXPECT_EQ(volumes[5].picture, DrivePicture::kCdRom);
  EXPECT_EQ(volumes[2].picture, DrivePicture::kFixed);
}

TEST(ListVolumes, WithoutUdevEveryPartitionIsOffered) {
  FakeSystem sys;
  sys.Disk("sda", 976773168, "8:0");
  sys.Partition("sda", "sda2", 2, 2048000, "8:2");
  sys.Partition("sda", "sda10", 10, 2048, "8:10");
  sys.Disk("vda", 2048000, "254:0");
  sys.Disk("zram0", 8388608, "252:0");
  DriveListOptions options = sys.Options();
  options.upper_case = false;
  EXPECT_EQ(Texts(ListVolumes(options)), (std::vector<std::string>{"sda2: []", "sda10: []"}));
}

TEST(ListPhysicalDrives, NthWholeDiskInNameOrder) {
  FakeSystem sys;
  BuildMachine(sys);
  const std::vector<DriveEntry> drives = ListPhysicalDrives(sys.Options());
  // mmcblk0 0, nvme0n1 1, sda 2, sdb 3, sdc 4 (no medium: not listed).
  EXPECT_EQ(Texts(drives), (std::vector<std::string>{"HD0 SE32G (29.72GB)", "HD1 Samsung SSD 970 EVO 1TB (931.51GB)",
                                                     "HD2 ATA WDC WD5000AAKS (465.76GB)",
                                                     "RM3 Kingston DataTraveler 3.0 (7.45GB)"}));
  ASSERT_EQ(drives.size(), 4u);
  EXPECT_EQ(drives[2].device_path, sys.Dev("sda"));
  EXPECT_EQ(drives[2].drive_number, 2);
  EXPECT_EQ(drives[2].kind, SourceKind::kPhysicalDrive);
  EXPECT_EQ(drives[3].picture, DrivePicture::kRemovable);
  EXPECT_EQ(drives[1].picture, DrivePicture::kFixed);
  EXPECT_EQ(FindPhysicalDrive(3, sys.Options()).block_name, "sdb");
  EXPECT_EQ(FindPhysicalDrive(4, sys.Options()).kind, SourceKind::kNone);
}

TEST(ListPhysicalDrives, NeverAboveNineteen) {
  FakeSystem sys;
  for (int i = 0; i < 25; ++i) sys.Disk(std::string("vd") + static_cast<char>('a' + i), 2048, "254:" + std::to_string(i));
  const std::vector<DriveEntry> drives = ListPhysicalDrives(sys.Options());
  ASSERT_EQ(drives.size(), 20u);
  EXPECT_EQ(drives.back().drive_number, 19);
  EXPECT_EQ(drives.back().block_name, "vdt");
  EXPECT_EQ(drives.back().text, "HD19 (1.00MB)");
}

TEST(ListDrives, VolumesThenPhysicalDrives) {
  FakeSystem sys;
  BuildMachine(sys);
  const std::vector<DriveEntry> all = ListDrives(sys.Options());
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[5].kind, SourceKind::kVolume);
  EXPECT_EQ(all[6].kind, SourceKind::kPhysicalDrive);
}

TEST(ListDrives, MissingSysfsGivesAnEmptyList) {
  DriveListOptions options;
  options.sysfs_root = "/nonexistent/quorvex/sys";
  options.dev_root = "/nonexistent/quorvex/dev";
  options.use_blkid = false;
  EXPECT_TRUE(ListDrives(options).empty());
}

}  // namespace
}  // namespace quorvex
