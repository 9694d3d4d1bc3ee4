#include "platform/device_identity.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Device stacks are shallow (partition, crypt, LVM); the bound only guards against loops.
constexpr int kMaxStackDepth = 8;
constexpr size_t kMaxDevices = 4096;

bool ReadDevNumber(const fs::path& dev_file, dev_t* out) {
  std::ifstream in(dev_file);
  unsigned int major_number = 0;
  unsigned int minor_number = 0;
  char colon = 0;
  if (!(in >> major_number >> colon >> minor_number) || colon != ':') return false;
  *out = makedev(major_number, minor_number);
  return true;
}

fs::path SysfsDir(dev_t device, const std::string& sysfs_root) {
  return fs::path(sysfs_root) / "dev" / "block" /
         (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
}

void Collect(const fs::path& dir, int depth, std::vector<dev_t>& out) {
  if (depth > kMaxStackDepth || out.size() >= kMaxDevices) return;
  std::error_code ec;
  // Partitions: subdirectories with a "partition" file.
  for (const auto& child : fs::directory_iterator(dir, ec)) {
    std::error_code child_ec;
    if (!fs::exists(child.path() / "partition", child_ec)) continue;
    dev_t number = 0;
    if (!ReadDevNumber(child.path() / "dev", &number)) continue;
    if (std::find(out.begin(), out.end(), number) != out.end()) continue;
    out.push_back(number);
    Collect(child.path(), depth + 1, out);
  }
  // Holders: devices built on this one (dm-crypt, LVM, md).
  for (const auto& holder : fs::directory_iterator(dir / "holders", ec)) {
    dev_t number = 0;
    if (!ReadDevNumber(holder.path() / "dev", &number)) continue;
    if (std::find(out.begin(), out.end(), number) != out.end()) continue;
    out.push_back(number);
    Collect(holder.path(), depth + 1, out);
  }
}

}  // namespace

std::vector<dev_t> DevicesOnSource(dev_t device, const std::string& sysfs_root) {
  std::vector<dev_t> out{device};
  Collect(SysfsDir(device, sysfs_root), 0, out);
  return out;
}

bool DeviceOnSource(dev_t folder_device, const DeviceIdentity& source, const std::string& sysfs_root) {
  if (!source.is_block_device) return false;
  if (folder_device == source.rdev) return true;
  const std::vector<dev_t> on_source = DevicesOnSource(source.rdev, sysfs_root);
  return std::find(on_source.begin(), on_source.end(), folder_device) != on_source.end();
}

bool SameDeviceAsSource(const std::string& folder, const DeviceIdentity& source, const std::string& sysfs_root) {
  if (!source.is_block_device) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  return DeviceOnSource(st.st_dev, source, sysfs_root);
}

}  // namespace quorvex
