// Boot records (FAT12/16/32, NTFS, exFAT) carry a 55 AA signature at byte 510 (or at
// the end of a 4,096-byte sector) and say their sector and cluster size in a few fixed
// fields; HFS and HFS+/HFSX keep a big-endian volume header at byte 1024. Anything that
// fails a plausibility test, or looks like two file systems at once, is not recognised:
// a wrong cluster grid would make the rescue miss every archive.
#include "source/fs_detect.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace quorvex {
namespace {

using Probe = std::array<uint8_t, kDetectProbeBytes>;

// Boot-record fields.
constexpr size_t kOemNameOffset = 3;
constexpr size_t kBytesPerSectorOffset = 11;
constexpr size_t kSectorsPerClusterOffset = 13;
constexpr size_t kReservedSectorsOffset = 14;
constexpr size_t kFatCountOffset = 16;
constexpr size_t kRootEntriesOffset = 17;
constexpr size_t kFatSize16Offset = 22;
constexpr size_t kFatSize32Offset = 36;
constexpr size_t kFat16TypeOffset = 54;
constexpr size_t kFat32TypeOffset = 82;
constexpr size_t kExFatHeapOffset = 88;
constexpr size_t kExFatSectorShiftOffset = 108;
constexpr size_t kExFatClusterShiftOffset = 109;
constexpr size_t kBootSignatureOffset = 510;
constexpr size_t kBootSignature4kOffset = 4094;
constexpr uint16_t kBootSignature = 0xAA55;
constexpr uint32_t kRootEntryBytes = 32;

// Volume-header fields (HFS, HFS+, HFSX).
constexpr size_t kVolumeHeaderOffset = 1024;
constexpr size_t kHfsBlockSizeOffset = 1044;
constexpr size_t kHfsFirstBlockOffset = 1052;
constexpr size_t kHfsPlusBlockSizeOffset = 1064;

constexpr uint32_t kFatMaxSectorsPerCluster = 128;
constexpr uint32_t kFat32MaxSectorsPerCluster = 64;
constexpr uint32_t kNtfsMaxSectorsPerCluster = 128;
constexpr uint32_t kExFatMaxClusterShift = 8;
// 2^12 = 4,096, the largest sector the buffers hold; larger shifts fail the size check.
constexpr uint32_t kExFatMaxSectorShift = 12;
constexpr uint32_t kHfsPlusMaxSectorsPerCluster = 128;
constexpr uint32_t kHfsUnit = 512;

uint16_t Le16(const Probe& b, size_t off) {
  if (off + 2 > b.size()) return 0;
  return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
uint32_t Le32(const Probe& b, size_t off) {
  if (off + 4 > b.size()) return 0;
  return static_cast<uint32_t>(b[off]) | (static_cast<uint32_t>(b[off + 1]) << 8) |
         (static_cast<uint32_t>(b[off + 2]) << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}
uint16_t Be16(const Probe& b, size_t off) {
  if (off + 2 > b.size()) return 0;
  return static_cast<uint16_t>((b[off] << 8) | b[off + 1]);
}
uint32_t Be32(const Probe& b, size_t off) {
  if (off + 4 > b.size()) return 0;
  return (static_cast<uint32_t>(b[off]) << 24) | (static_cast<uint32_t>(b[off + 1]) << 16) |
         (static_cast<uint32_t>(b[off + 2]) << 8) | static_cast<uint32_t>(b[off + 3]);
}
bool TextAt(const Probe& b, size_t off, std::string_view text) {
  return off + text.size() <= b.size() && std::memcmp(b.data() + off, text.data(), text.size()) == 0;
}

bool SectorSizeOk(uint32_t bytes_per_sector) {
  return bytes_per_sector > 0 && bytes_per_sector <= kMaxSectorSize && bytes_per_sector % 512 == 0;
}

/// Step 2.7 of the boot-record rules: a plausible sector size and the signature at the
/// end of the first sector (or at byte 510).
bool BootRecordEnds(const Probe& b, uint32_t bytes_per_sector) {
  if (!SectorSizeOk(bytes_per_sector)) return false;
  return Le16(b, bytes_per_sector - 2) == kBootSignature || Le16(b, kBootSignatureOffset) == kBootSignature;
}

struct Found {
  uint32_t bytes_per_sector = 0;
  uint32_t sectors_per_cluster = 0;
  int32_t cluster_offset = 0;
  FsKind kind = FsKind::kNone;
};

std::optional<Found> FatRecord(const Probe& b, FsKind kind, uint32_t max_spc, uint32_t fat_size) {
  Found f;
  f.kind = kind;
  f.sectors_per_cluster = b[kSectorsPerClusterOffset];
  if (f.sectors_per_cluster == 0 || f.sectors_per_cluster > max_spc) return std::nullopt;
  f.bytes_per_sector = Le16(b, kBytesPerSectorOffset);
  if (!SectorSizeOk(f.bytes_per_sector)) return std::nullopt;
  // First data sector mod sectors per cluster, in unsigned 32-bit arithmetic.
  const uint32_t first_data = static_cast<uint32_t>(Le16(b, kReservedSectorsOffset)) +
                              static_cast<uint32_t>(b[kFatCountOffset]) * fat_size +
                              static_cast<uint32_t>(Le16(b, kRootEntriesOffset)) * kRootEntryBytes / f.bytes_per_sector;
  f.cluster_offset = static_cast<int32_t>(first_data % f.sectors_per_cluster);
  if (!BootRecordEnds(b, f.bytes_per_sector)) return std::nullopt;
  return f;
}

std::optional<Found> BootRecord(const Probe& b) {
  const bool fat12 = TextAt(b, kFat16TypeOffset, "FAT12   ");
  const bool fat16 = TextAt(b, kFat16TypeOffset, "FAT16   ");
  const bool fat32 = TextAt(b, kFat32TypeOffset, "FAT32   ");
  const bool ntfs = TextAt(b, kOemNameOffset, "NTFS    ");
  const bool exfat = TextAt(b, kOemNameOffset, "EXFAT   ");
  // A record naming two file systems is ambiguous.
  if (int{fat12 || fat16} + int{fat32} + int{ntfs} + int{exfat} > 1) return std::nullopt;

  if (fat12 || fat16) {
    return FatRecord(b, fat12 ? FsKind::kFat12 : FsKind::kFat16, kFatMaxSectorsPerCluster, Le16(b, kFatSize16Offset));
  }
  if (fat32) return FatRecord(b, FsKind::kFat32, kFat32MaxSectorsPerCluster, Le32(b, kFatSize32Offset));
  Found f;
  if (ntfs) {
    f.kind = FsKind::kNtfs;
    f.bytes_per_sector = Le16(b, kBytesPerSectorOffset);
    f.sectors_per_cluster = b[kSectorsPerClusterOffset];
    // Clusters above 128 sectors are stored as a negative exponent; those are not taken.
    if (f.sectors_per_cluster == 0 || f.sectors_per_cluster > kNtfsMaxSectorsPerCluster) return std::nullopt;
    f.cluster_offset = 0;
  } else if (exfat) {
    f.kind = FsKind::kExFat;
    const uint32_t sector_shift = b[kExFatSectorShiftOffset];
    const uint32_t cluster_shift = b[kExFatClusterShiftOffset];
    if (sector_shift > kExFatMaxSectorShift || cluster_shift > kExFatMaxClusterShift) return std::nullopt;
    f.bytes_per_sector = 1u << sector_shift;
    f.sectors_per_cluster = 1u << cluster_shift;
    f.cluster_offset = static_cast<int32_t>(Le32(b, kExFatHeapOffset) % f.sectors_per_cluster);
  } else {
    return std::nullopt;
  }
  if (!BootRecordEnds(b, f.bytes_per_sector)) return std::nullopt;
  return f;
}

std::optional<Found> VolumeHeader(const Probe& b) {
  Found f;
  f.bytes_per_sector = kHfsUnit;
  if (TextAt(b, kVolumeHeaderOffset, "BD")) {
    f.kind = FsKind::kHfs;
    const uint32_t block = Be32(b, kHfsBlockSizeOffset);
    if (block == 0 || block % kHfsUnit != 0) return std::nullopt;
    f.sectors_per_cluster = block / kHfsUnit;
    // Kept as stored: free-space collection takes it as the sector of allocation block 0.
    f.cluster_offset = Be16(b, kHfsFirstBlockOffset);
    return f;
  }
  if (TextAt(b, kVolumeHeaderOffset, std::string_view("H+\0\4", 4)) ||
      TextAt(b, kVolumeHeaderOffset, std::string_view("HX\0\5", 4))) {
    f.kind = FsKind::kHfsPlus;
    const uint32_t block = Be32(b, kHfsPlusBlockSizeOffset);
    if (block % kHfsUnit != 0) return std::nullopt;
    f.sectors_per_cluster = block / kHfsUnit;
    f.cluster_offset = 0;
    if (f.sectors_per_cluster < 1 || f.sectors_per_cluster > kHfsPlusMaxSectorsPerCluster) return std::nullopt;
    return f;
  }
  return std::nullopt;
}

// Default cluster sizes: the first row whose limit (in 512-byte sectors) times 512 exceeds
// the volume's bytes gives the cluster bytes.
struct ClusterRow {
  int64_t limit_sectors;
  uint32_t cluster_bytes;
};
constexpr std::array kFatTable = {
    ClusterRow{65535, 512},      ClusterRow{131071, 1024},    ClusterRow{262143, 2048},
    ClusterRow{524287, 4096},    ClusterRow{1048575, 8192},   ClusterRow{2097151, 16384},
    ClusterRow{4194303, 32768},  ClusterRow{8388607, 65536},
};
constexpr std::array kFat32Table = {
    ClusterRow{131071, 512},      ClusterRow{262143, 1024},     ClusterRow{524287, 2048},
    ClusterRow{16777215, 4096},   ClusterRow{33554431, 8192},   ClusterRow{67108863, 16384},
    ClusterRow{4294967295, 32768},
};
constexpr std::array kNtfsTable = {
    ClusterRow{34359738367, 4096},   ClusterRow{68719476735, 8192},   ClusterRow{137438953471, 16384},
    ClusterRow{274877906943, 32768}, ClusterRow{549755813887, 65536},
};
constexpr std::array kExFatTable = {
    ClusterRow{524287, 4096},
    ClusterRow{67108863, 32768},
    ClusterRow{549755813887, 131072},
};
constexpr int64_t kTableUnit = 512;

template <size_t N>
std::optional<uint32_t> SearchTable(const std::array<ClusterRow, N>& table, int64_t volume_bytes) {
  for (const ClusterRow& row : table) {
    if (row.limit_sectors * kTableUnit > volume_bytes) return row.cluster_bytes;
  }
  return std::nullopt;
}

constexpr int64_t kHfsBlocksDivisor = 65536;
constexpr uint32_t kHfsPlusDefaultBlock = 4096;

}  // namespace

bool DetectFileSystem(std::span<const uint8_t> first_bytes, Geometry& detected) {
  Probe b{};
  std::copy_n(first_bytes.begin(), std::min(first_bytes.size(), b.size()), b.begin());

  std::optional<Found> found;
  const bool signed_record = Le16(b, kBootSignatureOffset) == kBootSignature ||
                             Le16(b, kBootSignature4kOffset) == kBootSignature;
  if (signed_record) {
    found = BootRecord(b);
    // A valid boot record together with a valid volume header: two file systems claim
    // the source, so neither is trusted.
    if (found && VolumeHeader(b)) return false;
  } else {
    found = VolumeHeader(b);
  }
  if (!found) return false;
  detected.bytes_per_sector = found->bytes_per_sector;
  detected.sectors_per_cluster = found->sectors_per_cluster;
  detected.cluster_offset = found->cluster_offset;
  detected.fs_kind = found->kind;
  return true;
}

bool DetectFileSystem(SectorReader& reader, Geometry& detected) {
  SectorDevice* device = reader.device();
  if (device == nullptr || reader.SeekSource(0, 0) < 0) return false;
  Probe b{};
  const int64_t got = device->ReadAt(0, b.data(), b.size());
  if (got < 0) return false;
  return DetectFileSystem(std::span<const uint8_t>(b.data(), static_cast<size_t>(got)), detected);
}

int FsItemForKind(FsKind kind) {
  switch (kind) {
    case FsKind::kFat12:
    case FsKind::kFat16: return kFsItemFat;
    case FsKind::kFat32: return kFsItemFat32;
    case FsKind::kNtfs: return kFsItemNtfs;
    case FsKind::kExFat: return kFsItemExFat;
    case FsKind::kHfs: return kFsItemHfs;
    case FsKind::kHfsPlus: return kFsItemHfsPlus;
    case FsKind::kNone: break;
  }
  return kFsItemOther;
}

uint32_t ClusterItemBytes(int item) {
  if (item < 0 || item >= kClusterItemCount) return 0;
  return 512u << item;
}

int ClusterItemFor(uint32_t sectors_per_cluster, uint32_t bytes_per_sector) {
  const auto units = static_cast<uint32_t>(static_cast<uint64_t>(sectors_per_cluster) * bytes_per_sector / 512);
  for (int item = 0; item < kClusterItemCount; ++item) {
    if (units == (1u << item)) return item;
  }
  return 0;
}

std::optional<uint32_t> DefaultClusterBytes(int fs_item, int64_t volume_bytes) {
  switch (fs_item) {
    case kFsItemFat: return SearchTable(kFatTable, volume_bytes);
    case kFsItemFat32: return SearchTable(kFat32Table, volume_bytes);
    case kFsItemNtfs: return SearchTable(kNtfsTable, volume_bytes);
    case kFsItemExFat: return SearchTable(kExFatTable, volume_bytes);
    default: return std::nullopt;
  }
}

void ClusterSizeChosen(Geometry& working, int cluster_item, bool by_user) {
  if (by_user) working.cluster_offset = -1;
  if (working.bytes_per_sector == 0) return;
  working.sectors_per_cluster = ClusterItemBytes(cluster_item) / working.bytes_per_sector;
}

int FileSystemChosen(Geometry& working, int fs_item) {
  working.cluster_offset = -1;
  switch (fs_item) {
    case kFsItemFat:
    case kFsItemFat32:
    case kFsItemNtfs:
    case kFsItemExFat: {
      // V is the last sector's number times the sector size, not the sector count.
      const int64_t volume_bytes = working.last_sector * static_cast<int64_t>(working.bytes_per_sector);
      const std::optional<uint32_t> cluster = DefaultClusterBytes(fs_item, volume_bytes);
      if (cluster && working.bytes_per_sector != 0) working.sectors_per_cluster = *cluster / working.bytes_per_sector;
      break;
    }
    case kFsItemHfs:
      working.sectors_per_cluster = static_cast<uint32_t>((working.last_sector + kHfsBlocksDivisor - 1) / kHfsBlocksDivisor);
      break;
    case kFsItemHfsPlus:
      if (working.bytes_per_sector != 0) working.sectors_per_cluster = kHfsPlusDefaultBlock / working.bytes_per_sector;
      break;
    default:
      working.sectors_per_cluster = 1;
      break;
  }
  return ClusterItemFor(working.sectors_per_cluster, working.bytes_per_sector);
}

CauseOfLossView CauseOfLossChosen(const Geometry& detected, Geometry& working, int cause_item) {
  CauseOfLossView view;
  view.cause_item = cause_item;
  if (cause_item == kCauseDeleted) {
    if (detected.fs_kind == FsKind::kNone) {
      view.message_slot = kSlotUnknownFileSystem;
      view.cause_item = kCauseFormatted;
      view.boxes_enabled = true;
    } else {
      working = detected;
      view.boxes_enabled = false;
    }
  } else {
    view.boxes_enabled = true;
  }
  view.fs_item = FsItemForKind(working.fs_kind);
  view.cluster_item = FileSystemChosen(working, view.fs_item);
  return view;
}

}  // namespace quorvex
