// The drive list on Linux, from sysfs: every block device is a directory
// SYSFS/block/NAME with its size (in 512-byte units), device number, removable flag and,
// for a disk, one subdirectory per partition. File-system types and labels come from
// libblkid when the device can be read, else from the udev links under /dev/disk.
#include "platform/drive_list.h"

#include <algorithm>
#include <array>
#include <blkid/blkid.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/sysmacros.h>

namespace quorvex {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kSysfsSectorBytes = 512;
constexpr size_t kMaxSysfsText = 4096;
constexpr int64_t kMibHundredths = 1048576;   // bytes per MiB, dividing bytes × 100
constexpr int64_t kGibStep = 1024;            // MiB hundredths per GiB hundredths
constexpr int64_t kMbLimitHundredths = 1024;  // below 10.24 MiB the unit is "MB"

std::optional<std::string> ReadSysfsText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxSysfsText, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

int64_t ReadSysfsNumber(const fs::path& file, int64_t fallback) {
  const std::optional<std::string> text = ReadSysfsText(file);
  if (!text || text->empty()) return fallback;
  char* end = nullptr;
  const long long value = std::strtoll(text->c_str(), &end, 10);
  if (end == text->c_str()) return fallback;
  return static_cast<int64_t>(value);
}

dev_t ReadSysfsDev(const fs::path& file) {
  const std::optional<std::string> text = ReadSysfsText(file);
  if (!text) return 0;
  unsigned int major_number = 0;
  unsigned int minor_number = 0;
  if (std::sscanf(text->c_str(), "%u:%u", &major_number, &minor_number) != 2) return 0;
  return makedev(major_number, minor_number);
}

int64_t SizeBytes(const fs::path& dir) {
  const int64_t sectors = ReadSysfsNumber(dir / "size", 0);
  if (sectors <= 0 || sectors > INT64_MAX / kSysfsSectorBytes) return 0;
  return sectors * kSysfsSectorBytes;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

/// "nvme0c0n1" (a hidden multipath path) has a 'c' between the controller and namespace.
bool IsNvmePath(std::string_view name) {
  if (!StartsWith(name, "nvme")) return false;
  size_t i = 4;
  while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
  return i < name.size() && name[i] == 'c';
}

bool IsPhysicalDiskName(std::string_view name) {
  static constexpr std::array<std::string_view, 6> kPrefixes = {"sd", "nvme", "vd", "mmcblk", "hd", "xvd"};
  const bool known = std::any_of(kPrefixes.begin(), kPrefixes.end(), [&](std::string_view p) { return StartsWith(name, p); });
  if (!known) return false;
  if (IsNvmePath(name)) return false;
  // eMMC boot and replay-protected areas are separate block devices of the same chip.
  if (StartsWith(name, "mmcblk") &&
      (name.find("boot") != std::string_view::npos || name.find("rpmb") != std::string_view::npos)) {
    return false;
  }
  return true;
}

DrivePicture PictureFor(std::string_view disk_name, const fs::path& disk_dir) {
  if (StartsWith(disk_name, "sr")) return DrivePicture::kCdRom;
  if (StartsWith(disk_name, "ram") || StartsWith(disk_name, "zram")) return DrivePicture::kRam;
  if (ReadSysfsNumber(disk_dir / "removable", 0) != 0) return DrivePicture::kRemovable;
  return DrivePicture::kFixed;
}

/// The disks of SYSFS/block in name order.
std::vector<std::string> BlockNames(const DriveListOptions& options) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(options.sysfs_root) / "block", ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// udev link names under /dev/disk/by-*/ decode bytes as \xNN.
std::string DecodeUdevName(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) && std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

/// Block name -> link name for every symlink in dev_root/disk/<kind>.
struct UdevLinks {
  bool present = false;                   ///< the by-uuid or by-label folder exists
  std::map<std::string, std::string> label_of;
  std::map<std::string, bool> has_fs;
};

UdevLinks ReadUdevLinks(const DriveListOptions& options) {
  UdevLinks links;
  for (const char* kind : {"by-uuid", "by-label"}) {
    std::error_code ec;
    const fs::path dir = fs::path(options.dev_root) / "disk" / kind;
    if (!fs::is_directory(dir, ec)) continue;
    links.present = true;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      std::error_code link_ec;
      const fs::path target = fs::read_symlink(entry.path(), link_ec);
      if (link_ec) continue;
      const std::string name = target.filename().string();
      links.has_fs[name] = true;
      if (std::string_view(kind) == "by-label") links.label_of[name] = DecodeUdevName(entry.path().filename().string());
    }
  }
  return links;
}

struct Probed {
  bool readable = false;   ///< libblkid could examine the device
  bool has_fs = false;
  std::string label;
};

Probed ProbeWithBlkid(const std::string& device_path) {
  Probed out;
  blkid_probe probe = blkid_new_probe_from_filename(device_path.c_str());
  if (probe == nullptr) return out;
  out.readable = true;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_USAGE);
  // Safe probing reports nothing when two file systems claim the device.
  if (blkid_do_safeprobe(probe) == 0) {
    const char* value = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(probe, "USAGE", &value, &length) == 0 && value != nullptr &&
        std::string_view(value) == "filesystem") {
      out.has_fs = true;
      if (blkid_probe_lookup_value(probe, "LABEL", &value, &length) == 0 && value != nullptr) out.label = value;
    }
  }
  blkid_free_probe(probe);
  return out;
}

std::string CaseOf(std::string_view text, bool upper_case) {
  std::string out(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) c = static_cast<char>(upper_case ? std::toupper(u) : std::tolower(u));
  }
  return out;
}

struct VolumeCandidate {
  std::string name;
  fs::path dir;
  DrivePicture picture;
  bool whole_disk;
};

}  // namespace

std::string SizeText(int64_t bytes) {
  // 128-bit so that bytes × 100 cannot overflow on any size a device reports.
  __int128 d = (static_cast<__int128>(bytes) * 100 + kMibHundredths / 2) / kMibHundredths;
  const char* unit = "MB";
  if (d >= kMbLimitHundredths) {
    d = (d + kGibStep / 2) / kGibStep;
    unit = "GB";
  }
  std::string digits = std::to_string(static_cast<long long>(d));
  // Hundredths always show two digits after the point: 5 hundredths is ".05", not ".5".
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
  digits.insert(digits.size() - 2, ".");
  return digits + unit;
}

std::string TrimDeviceText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string PhysicalDriveText(int number, bool removable, const std::string* vendor, const std::string* product,
                              int64_t size_bytes) {
  std::string description;
  if (vendor != nullptr) description = " " + TrimDeviceText(*vendor);
  if (product != nullptr) description += " " + TrimDeviceText(*product);
  else description.clear();
  return std::string(removable ? "RM" : "HD") + std::to_string(number) + description + " (" + SizeText(size_bytes) + ")";
}

std::string VolumeText(std::string_view name, DrivePicture picture, std::string_view label, bool upper_case) {
  const std::string shown = CaseOf(name, upper_case);
  if (picture == DrivePicture::kRemovable) return shown + ":";
  return shown + ": [" + CaseOf(label, upper_case) + "]";
}

std::vector<DriveEntry> ListVolumes(const DriveListOptions& options) {
  std::vector<VolumeCandidate> candidates;
  for (const std::string& disk : BlockNames(options)) {
    const fs::path disk_dir = fs::path(options.sysfs_root) / "block" / disk;
    const DrivePicture picture = PictureFor(disk, disk_dir);
    // Partitions in partition-number order (sda2 before sda10).
    std::vector<std::pair<int64_t, std::string>> parts;
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(disk_dir, ec)) {
      std::error_code child_ec;
      if (!fs::exists(child.path() / "partition", child_ec)) continue;
      parts.emplace_back(ReadSysfsNumber(child.path() / "partition", 0), child.path().filename().string());
    }
    std::sort(parts.begin(), parts.end());
    if (parts.empty()) {
      // A CD-ROM drive is listed even without a disc, as its drive letter would be.
      if (picture == DrivePicture::kCdRom || SizeBytes(disk_dir) > 0) {
        candidates.push_back({disk, disk_dir, picture, true});
      }
    } else {
      for (const auto& [number, part] : parts) {
        if (SizeBytes(disk_dir / part) > 0) candidates.push_back({part, disk_dir / part, picture, false});
      }
    }
  }

  const UdevLinks links = ReadUdevLinks(options);
  std::vector<DriveEntry> out;
  for (const VolumeCandidate& c : candidates) {
    DriveEntry entry;
    entry.kind = SourceKind::kVolume;
    entry.block_name = c.name;
    entry.device_path = (fs::path(options.dev_root) / c.name).string();
    entry.picture = c.picture;
    entry.rdev = ReadSysfsDev(c.dir / "dev");
    std::string label;
    bool listed = false;
    if (c.picture == DrivePicture::kRemovable) {
      // Removable media are not probed: the entry is the name and ":".
      listed = true;
    } else {
      Probed probed;
      if (options.use_blkid && SizeBytes(c.dir) > 0) probed = ProbeWithBlkid(entry.device_path);
      const auto linked_label = links.label_of.find(c.name);
      if (probed.readable) {
        listed = probed.has_fs;
        label = probed.label;
      } else {
        // Without access to the device: udev's links tell which devices hold a file
        // system; without udev every partition is offered, whole disks are not.
        listed = links.present ? links.has_fs.count(c.name) > 0 : !c.whole_disk;
        if (linked_label != links.label_of.end()) label = linked_label->second;
      }
      if (c.picture == DrivePicture::kCdRom) listed = true;
    }
    if (!listed) continue;
    entry.text = VolumeText(c.name, c.picture, label, options.upper_case);
    out.push_back(std::move(entry));
  }
  return out;
}

std::vector<DriveEntry> ListPhysicalDrives(const DriveListOptions& options) {
  std::vector<DriveEntry> out;
  int number = 0;
  for (const std::string& disk : BlockNames(options)) {
    if (!IsPhysicalDiskName(disk)) continue;
    const int n = number++;
    if (n >= kMaxPhysicalDrives) break;
    const fs::path dir = fs::path(options.sysfs_root) / "block" / disk;
    const int64_t size = SizeBytes(dir);
    // A drive without a medium reports no size and is not listed; its number stays taken.
    if (size <= 0) continue;
    const bool removable = ReadSysfsNumber(dir / "removable", 0) != 0;
    const std::optional<std::string> vendor = ReadSysfsText(dir / "device" / "vendor");
    std::optional<std::string> product = ReadSysfsText(dir / "device" / "model");
    if (!product) product = ReadSysfsText(dir / "device" / "name");
    DriveEntry entry;
    entry.kind = SourceKind::kPhysicalDrive;
    entry.block_name = disk;
    entry.device_path = (fs::path(options.dev_root) / disk).string();
    entry.drive_number = n;
    entry.picture = removable ? DrivePicture::kRemovable : DrivePicture::kFixed;
    entry.rdev = ReadSysfsDev(dir / "dev");
    entry.text = PhysicalDriveText(n, removable, vendor ? &*vendor : nullptr, product ? &*product : nullptr, size);
    out.push_back(std::move(entry));
  }
  return out;
}

std::vector<DriveEntry> ListDrives(const DriveListOptions& options) {
  std::vector<DriveEntry> out = ListVolumes(options);
  std::vector<DriveEntry> drives = ListPhysicalDrives(options);
  out.insert(out.end(), std::make_move_iterator(drives.begin()), std::make_move_iterator(drives.end()));
  return out;
}

DriveEntry FindPhysicalDrive(int number, const DriveListOptions& options) {
  for (DriveEntry& entry : ListPhysicalDrives(options)) {
    if (entry.drive_number == number) return entry;
  }
  return {};
}

}  // namespace quorvex
