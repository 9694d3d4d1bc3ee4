#pragma once
// File-system detection from a source's first 4,096 bytes, and the three scan-option
// boxes (cause of loss, previous file system, cluster size) as computations on the
// working geometry. The window only shows what these functions return.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {

/// Bytes of the source that detection looks at.
inline constexpr size_t kDetectProbeBytes = 4096;

/// Examines the boot record (FAT12/16/32, NTFS, exFAT) or the volume header (HFS, HFS+,
/// HFSX) in first_bytes (the source's first bytes; fewer than 4,096 are treated as if the
/// rest were zeros). When a file system is recognised, sets detected.bytes_per_sector,
/// sectors_per_cluster, cluster_offset and fs_kind and returns true; otherwise returns
/// false and leaves detected unchanged. A record that matches two file systems at once is
/// not recognised.
bool DetectFileSystem(std::span<const uint8_t> first_bytes, Geometry& detected);

/// Reads the first 4,096 bytes of the reader's device with one device read (past the read
/// window) and runs the detection above. False when the read fails.
bool DetectFileSystem(SectorReader& reader, Geometry& detected);

// ---- The scan-option boxes -------------------------------------------------------------

/// Items of the cause-of-loss box ComboBox3.
inline constexpr int kCauseDeleted = 0;
inline constexpr int kCauseFormatted = 1;
inline constexpr int kCauseRepartitioned = 2;

/// Items of the file-system box ComboBox2.
inline constexpr int kFsItemFat = 0;
inline constexpr int kFsItemFat32 = 1;
inline constexpr int kFsItemNtfs = 2;
inline constexpr int kFsItemExFat = 3;
inline constexpr int kFsItemHfs = 4;
inline constexpr int kFsItemHfsPlus = 5;
inline constexpr int kFsItemOther = 6;
inline constexpr int kFsItemCount = 7;

/// Items of the cluster-size box ComboBox1: "0.5K" (512 bytes) to "128K" (131,072 bytes).
inline constexpr int kClusterItemCount = 9;

/// Text slot of "Unknown file system, not support this option!".
inline constexpr int kSlotUnknownFileSystem = 70;

/// The ComboBox2 item that stands for a file-system kind.
int FsItemForKind(FsKind kind);

/// Cluster bytes of a ComboBox1 item (512 << item); 0 for an item outside 0..8.
uint32_t ClusterItemBytes(int item);

/// The ComboBox1 item a cluster of sectors_per_cluster sectors of bytes_per_sector bytes
/// selects: item k for 2^k 512-byte units (k = 0..8), item 0 for any other size.
int ClusterItemFor(uint32_t sectors_per_cluster, uint32_t bytes_per_sector);

/// The default cluster size in bytes of a file-system item for a volume whose last
/// sector times bytes per sector is volume_bytes; nullopt when the item has no table
/// (HFS, HFS+/HFSX, OTHER) or the volume is beyond the table's last limit.
std::optional<uint32_t> DefaultClusterBytes(int fs_item, int64_t volume_bytes);

/// ComboBox1Click: the cluster size of item cluster_item was chosen. Working sectors per
/// cluster = item bytes / working bytes per sector (0 when the cluster is smaller than a
/// sector). A choice by the user (by_user) also forgets the cluster offset (-1); the scan
/// driver's own call keeps it.
void ClusterSizeChosen(Geometry& working, int cluster_item, bool by_user);

/// ComboBox2Click: the file system of item fs_item was chosen. Forgets the cluster offset,
/// sets the default sectors per cluster for that file system and the volume's size, and
/// returns the ComboBox1 item to select. The working file-system kind is not changed.
int FileSystemChosen(Geometry& working, int fs_item);

/// What the three boxes show after a choice of cause of loss.
struct CauseOfLossView {
  int message_slot = 0;          ///< 70 (show it, caption slot 17) or 0
  int cause_item = kCauseDeleted;
  bool boxes_enabled = false;    ///< ComboBox2 and ComboBox1
  int fs_item = kFsItemOther;
  int cluster_item = 0;
};

/// ComboBox3Click: the cause of loss cause_item was chosen. "Deleted or Disappeared" on a
/// source without a recognised file system gives slot 70 and falls back to "Formatted".
CauseOfLossView CauseOfLossChosen(const Geometry& detected, Geometry& working, int cause_item);

}  // namespace quorvex
