#pragma once
// The shape of an opened source: sector count, sector size, cluster grid, file system.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sector_device.h"

namespace quorvex {

/// File-system kind codes found in a source's first sectors.
enum class FsKind : uint8_t { kFat12 = 0, kFat16 = 1, kFat32 = 2, kNtfs = 3, kExFat = 4, kHfs = 5, kHfsPlus = 6, kNone = 7 };

struct Geometry {
  int64_t last_sector = -1;          ///< the source has last_sector + 1 sectors
  uint32_t bytes_per_sector = 512;   ///< at most kMaxSectorSize
  uint32_t sectors_per_cluster = 1;
  int32_t cluster_offset = -1;       ///< -1 when the alignment is unknown
  FsKind fs_kind = FsKind::kNone;
};

inline constexpr uint32_t kMaxSectorSize = 4096;

/// What kind of source is open (the drive letter of the window: a letter, "#", or 0).
enum class SourceKind : uint8_t { kNone, kVolume, kPhysicalDrive, kImageFile };

/// The open source: one per program (or per test).
struct SourceState {
  std::unique_ptr<SectorDevice> device;   ///< null when no source is open
  SourceKind kind = SourceKind::kNone;
  std::string path;                        ///< device path or image path
  std::string name;                        ///< drive-list entry text, or the image's full path
  Geometry detected;
  Geometry working;

  bool is_open() const { return device != nullptr; }
};

}  // namespace quorvex
