#pragma once
// The drive list: volumes (block devices that hold a file system) and physical drives
// 0..19 (the whole disks in sysfs, sorted by name), each with its display text, its
// picture and the device path to open. Entries say what they are; their texts are never
// parsed to find out.

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "source/geometry.h"

namespace quorvex {

/// The small picture drawn before an entry.
enum class DrivePicture : uint8_t { kRemovable, kFixed, kNetwork, kCdRom, kRam };

struct DriveEntry {
  SourceKind kind = SourceKind::kNone;   ///< kVolume or kPhysicalDrive
  std::string text;                       ///< the text shown in the list
  std::string device_path;                ///< what OpenPosixDevice opens, e.g. /dev/sda1
  std::string block_name;                 ///< the sysfs name, e.g. sda1
  int drive_number = -1;                  ///< N of a physical drive; -1 for a volume
  DrivePicture picture = DrivePicture::kFixed;
  dev_t rdev = 0;                         ///< device number from sysfs (0 when unknown)
};

struct DriveListOptions {
  std::string sysfs_root = "/sys";   ///< holds block/NAME/...
  std::string dev_root = "/dev";     ///< device nodes; disk/by-label and disk/by-uuid beneath
  bool use_blkid = true;             ///< ask libblkid for labels and file-system types
  bool upper_case = true;            ///< TextCase: names and labels upper-cased (the main window)
};

inline constexpr int kMaxPhysicalDrives = 20;

/// Size in hundredths of a MiB below 10.24 MiB ("1.41MB"), else in hundredths of a GiB
/// ("465.76GB"), rounded half up; the point stands before the last two digits, with no
/// leading zero (".13GB") and never fewer than two digits after it (".01GB").
std::string SizeText(int64_t bytes);

/// "HD"/"RM" + N + description + " (" + SizeText(size) + ")". The description is empty
/// without a product name; otherwise a blank and the vendor (when there is one), then a
/// blank and the product, each trimmed of blanks and control characters at both ends.
/// A null vendor/product means the drive does not report one.
std::string PhysicalDriveText(int number, bool removable, const std::string* vendor, const std::string* product,
                              int64_t size_bytes);

/// The text of a volume entry: the name, ":" and, except for removable drives (which are
/// never probed for a label), a blank and "[" + label + "]", in the case TextCase asks for.
std::string VolumeText(std::string_view name, DrivePicture picture, std::string_view label, bool upper_case);

/// Removes blanks and control characters at both ends.
std::string TrimDeviceText(std::string_view text);

/// Volumes: partitions of every disk and whole disks holding a file system (always CD-ROM
/// drives), in disk-name then partition order; unbound loop devices and empty media skipped.
std::vector<DriveEntry> ListVolumes(const DriveListOptions& options = {});

/// Physical drives: the N-th whole disk (sd*, nvme*, vd*, mmcblk*, hd*, xvd*) in name
/// order is drive N; drives 0..19 that report a size are listed, in increasing N.
std::vector<DriveEntry> ListPhysicalDrives(const DriveListOptions& options = {});

/// The main window's list: volumes, then physical drives.
std::vector<DriveEntry> ListDrives(const DriveListOptions& options = {});

/// Physical drive number (for "hd:N"); kind kNone when there is no such drive.
DriveEntry FindPhysicalDrive(int number, const DriveListOptions& options = {});

}  // namespace quorvex
