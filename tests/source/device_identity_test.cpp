// "Destination on the source": the source device, its partitions and what is built on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/device_identity.h"
#include "temp_dir.h"

namespace quorvex {
namespace {

using testing::TempDir;

/// sysfs/dev/block/8:0 with partitions sda1 (8:1, holding dm-0 = 253:0) and sda2 (8:2).
void BuildStack(const TempDir& dir) {
  dir.Write("sys/dev/block/8:0/dev", "8:0\n");
  dir.Write("sys/dev/block/8:0/sda1/partition", "1\n");
  dir.Write("sys/dev/block/8:0/sda1/dev", "8:1\n");
  dir.Write("sys/dev/block/8:0/sda1/holders/dm-0/dev", "253:0\n");
  dir.Write("sys/dev/block/8:0/sda2/partition", "2\n");
  dir.Write("sys/dev/block/8:0/sda2/dev", "8:2\n");
  dir.Write("sys/dev/block/8:0/queue/dev", "9:9\n");  // not a partition
}

DeviceIdentity Block(dev_t rdev) {
  DeviceIdentity id;
  id.is_block_device = true;
  id.rdev = rdev;
  return id;
}

TEST(DeviceOnSource, DiskPartitionsAndStackedDevices) {
  TempDir dir;
  BuildStack(dir);
  const std::string sys = (dir.path() / "sys").string();
  std::vector<dev_t> on = DevicesOnSource(makedev(8, 0), sys);
  std::sort(on.begin(), on.end());
  EXPECT_EQ(on, (std::vector<dev_t>{makedev(8, 0), makedev(8, 1), makedev(8, 2), makedev(253, 0)}));

  const DeviceIdentity disk = Block(makedev(8, 0));
  EXPECT_TRUE(DeviceOnSource(makedev(8, 0), disk, sys));
  EXPECT_TRUE(DeviceOnSource(makedev(8, 2), disk, sys));
  EXPECT_TRUE(DeviceOnSource(makedev(253, 0), disk, sys));
  EXPECT_FALSE(DeviceOnSource(makedev(8, 16), disk, sys));
  EXPECT_FALSE(DeviceOnSource(makedev(9, 9), disk, sys));
  // A volume source: only the volume itself (and what is built on it).
  EXPECT_FALSE(DeviceOnSource(makedev(8, 0), Block(makedev(8, 1)), sys));
  EXPECT_TRUE(DeviceOnSource(makedev(8, 1), Block(makedev(8, 1)), sys));
}

TEST(SameDeviceAsSource, ComparesTheFoldersFileSystem) {
  TempDir dir;
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const std::string no_sysfs = "/nonexistent/quorvex/sys";
  EXPECT_TRUE(SameDeviceAsSource(dir.path().string(), Block(st.st_dev), no_sysfs));
  EXPECT_FALSE(SameDeviceAsSource(dir.path().string(), Block(st.st_dev + 1), no_sysfs));
  DeviceIdentity image;
  image.containing = st.st_dev;
  EXPECT_FALSE(SameDeviceAsSource(dir.path().string(), image, no_sysfs));
  EXPECT_FALSE(SameDeviceAsSource((dir.path() / "missing").string(), Block(st.st_dev), no_sysfs));
}

}  // namespace
}  // namespace quorvex
