#include "engine/free_space.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "app/ui_text.h"

namespace quorvex {
namespace {

constexpr int kSlotPercent = 51;

/// A FAT media byte: F0, or F8 to FF.
bool IsMediaByte(uint8_t b) { return b == 0xF0 || b >= 0xF8; }

// FAT boot record (all file systems with a boot record keep their fields here).
constexpr size_t kBootSectorsPerCluster = 13;
constexpr size_t kBootReserved = 14;
constexpr size_t kBootFatCount = 16;
constexpr size_t kBootRootEntries = 17;
constexpr size_t kBootFatSize16 = 22;
constexpr size_t kBootFatSize32 = 36;
constexpr uint32_t kFatDirEntryBytes = 32;
constexpr uint32_t kFat32EntryMask = 0x0FFFFFFF;     // the top 4 bits of a FAT32 entry are reserved
constexpr uint32_t kFat32Entry0 = 0x0FFFFFF8;        // media byte F8
constexpr uint32_t kFat32Entry1 = 0x0FFFFFFF;        // clean shutdown, no disk error

// NTFS boot record and file records.
constexpr size_t kNtfsMftCluster = 48;
constexpr size_t kNtfsRecordSize = 64;
constexpr int64_t kNtfsBitmapRecord = 6;
constexpr size_t kNtfsFirstAttribute = 20;
constexpr size_t kNtfsDefaultFirstAttribute = 56;
constexpr uint32_t kNtfsAttrData = 0x80;
constexpr uint32_t kNtfsAttrEnd = 0xFFFFFFFF;
constexpr size_t kNtfsAttrNonResident = 8;
constexpr size_t kNtfsAttrRunList = 32;
constexpr int64_t kNtfsMaxRecord = 65536;
constexpr size_t kNtfsFixupOffset = 4;
constexpr size_t kNtfsFixupCount = 6;
constexpr size_t kNtfsFixupStride = 512;

// exFAT boot record and directory entries.
constexpr size_t kExFatHeapOffset = 88;
constexpr size_t kExFatRootCluster = 96;
constexpr size_t kExFatClusterShift = 109;
constexpr size_t kExFatBitmapEntry = 32;             // the root directory's second entry
constexpr uint8_t kExFatBitmapType = 0x81;
constexpr size_t kExFatEntryFirstCluster = 20;
constexpr size_t kExFatEntryLength = 24;
constexpr uint32_t kExFatFirstCluster = 2;

// HFS master directory block and HFS+ volume header (both at byte 1024, big-endian).
constexpr int32_t kHfsHeaderBytes = 4096;
constexpr size_t kHfsBitmapStart = 1038;
constexpr size_t kHfsBlockCount = 1042;
constexpr size_t kHfsBlockSize = 1044;
constexpr size_t kHfsFirstBlock = 1052;
constexpr size_t kHfsPlusBlockSize = 1064;
constexpr size_t kHfsPlusTotalBlocks = 1068;
constexpr size_t kHfsPlusAllocExtent = 1024 + 0x70 + 16;   // first extent of the allocation file fork
constexpr int64_t kHfsPlusDefaultBitmap = 4096;
constexpr uint32_t kHfsUnit = 512;

enum class BitOrder { kLowFirst, kHighFirst };

/// Bounds-checked little/big-endian reads of a byte vector; zero beyond its end.
class Bytes {
 public:
  explicit Bytes(const std::vector<uint8_t>& v) : v_(v) {}
  bool Has(size_t pos, size_t n) const { return pos <= v_.size() && n <= v_.size() - pos; }
  uint8_t U8(size_t pos) const { return Has(pos, 1) ? v_[pos] : 0; }
  uint64_t Le(size_t pos, size_t n) const {
    if (!Has(pos, n)) return 0;
    uint64_t r = 0;
    for (size_t i = n; i-- > 0;) r = (r << 8) | v_[pos + i];
    return r;
  }
  uint64_t Be(size_t pos, size_t n) const {
    if (!Has(pos, n)) return 0;
    uint64_t r = 0;
    for (size_t i = 0; i < n; ++i) r = (r << 8) | v_[pos + i];
    return r;
  }
  uint32_t Le16(size_t pos) const { return static_cast<uint32_t>(Le(pos, 2)); }
  uint32_t Le32(size_t pos) const { return static_cast<uint32_t>(Le(pos, 4)); }
  uint32_t Be16(size_t pos) const { return static_cast<uint32_t>(Be(pos, 2)); }
  uint32_t Be32(size_t pos) const { return static_cast<uint32_t>(Be(pos, 4)); }

 private:
  const std::vector<uint8_t>& v_;
};

/// Undoes a file record's update sequence: the last two bytes of every 512-byte stride
/// were replaced by the sequence number on writing. False when a stride does not carry
/// it (a torn or damaged record).
bool ApplyNtfsFixups(std::vector<uint8_t>& record) {
  const Bytes r(record);
  const size_t offset = r.Le16(kNtfsFixupOffset);
  const size_t count = r.Le16(kNtfsFixupCount);
  if (count == 0) return true;  // no update sequence
  if (count - 1 > record.size() / kNtfsFixupStride || !r.Has(offset, 2 * count)) return false;
  const uint32_t usn = r.Le16(offset);
  for (size_t i = 1; i < count; ++i) {
    const size_t end = i * kNtfsFixupStride - 2;
    if (r.Le16(end) != usn) return false;
    record[end] = record[offset + 2 * i];
    record[end + 1] = record[offset + 2 * i + 1];
  }
  return true;
}

class Collector {
 public:
  Collector(SectorReader& reader, const Geometry& g, AvailMap& map, RunControl& run)
      : reader_(reader), map_(map), run_(run), b_(g.bytes_per_sector), last_(std::min(g.last_sector, map.last_sector())) {
    source_bytes_ = (last_ + 1) * b_;
  }

  FreeSpaceResult Run(FsKind kind) {
    if (b_ == 0 || b_ > kMaxSectorSize || b_ % 512 != 0 || last_ < 0) return {};
    switch (kind) {
      case FsKind::kFat12:
      case FsKind::kFat16: return Fat1216(kind == FsKind::kFat12);
      case FsKind::kFat32: return Fat32();
      case FsKind::kNtfs: return Ntfs();
      case FsKind::kExFat: return ExFat();
      case FsKind::kHfs: return Hfs();
      case FsKind::kHfsPlus: return HfsPlus();
      case FsKind::kNone: break;
    }
    return {};
  }

 private:
  /// True when pos .. pos + count - 1 lies inside the source.
  bool Inside(int64_t pos, int64_t count) const {
    return pos >= 0 && count >= 0 && pos <= source_bytes_ && count <= source_bytes_ - pos;
  }

  /// Reads count bytes at pos. Through the window first; when the window cannot be
  /// filled around them (a bad sector nearby), sector by sector with direct reads, so
  /// only an unreadable sector of the structure itself fails the read.
  bool ReadAt(int64_t pos, uint8_t* dest, int64_t count) {
    if (!Inside(pos, count)) return false;
    while (count > 0) {
      const auto piece = static_cast<int32_t>(std::min<int64_t>(count, 1 << 20));
      if (reader_.ReadSource(dest, piece, pos) != 0) {
        int64_t done = 0;
        while (done < piece) {
          const int64_t at = pos + done;
          const int64_t sector = at / b_;
          const int64_t in_sector = at - sector * b_;
          if (!reader_.ReadSectorDirect(sector)) return false;
          const int64_t n = std::min<int64_t>(b_ - in_sector, piece - done);
          std::memcpy(dest + done, reader_.sector_buffer() + in_sector, static_cast<size_t>(n));
          done += n;
        }
      }
      pos += piece;
      dest += piece;
      count -= piece;
    }
    return true;
  }

  bool Read(int64_t pos, int64_t count, std::vector<uint8_t>* out) {
    if (!Inside(pos, count)) return false;
    out->assign(static_cast<size_t>(count), 0);
    return ReadAt(pos, out->data(), count);
  }

  /// Claims sectors 0 .. n - 1 (the system area before the allocation units).
  void ClaimFirst(int64_t n) { map_.ClaimRun(0, std::min<int64_t>(n, last_ + 1)); }

  /// Claims the c sectors of the cluster at sector x, none beyond the last sector.
  void ClaimCluster(int64_t x) {
    if (x < 0 || x > last_) return;
    map_.ClaimRun(x, std::min<int64_t>(c_, last_ + 1 - x));
  }

  /// One byte of a one-bit-per-cluster bitmap describing the 8 clusters from x on.
  void BitmapByte(uint8_t byte, BitOrder order) {
    const int64_t eight = 8 * c_;
    if (byte == 0x00) {
      x_ += eight;
    } else if (byte == 0xFF && x_ + eight <= last_ + 1) {
      map_.ClaimRun(x_, eight);
      x_ += eight;
    } else {
      for (int bit = 0; bit < 8; ++bit) {
        const int shift = order == BitOrder::kLowFirst ? bit : 7 - bit;
        if ((byte >> shift) & 1) ClaimCluster(x_);
        x_ += c_;
      }
    }
  }

  /// Reads the structure sector by sector from pos, giving the first min(b, remaining)
  /// bytes of each to process (which returns false when the structure fails its check).
  FreeSpaceResult BitmapLoop(int64_t pos, int64_t remaining,
                             const std::function<bool(const uint8_t*, int64_t)>& process) {
    FreeSpaceResult result;
    const int64_t total = remaining;
    // A structure that runs past the end of the source cannot be processed completely.
    if (remaining < 0 || !Inside(pos, remaining)) return result;
    std::vector<uint8_t> buffer(static_cast<size_t>(b_));
    while (remaining > 0) {
      if (run_.search_cancel.load()) {
        result.cancelled = true;
        return result;
      }
      if (!ReadAt(pos, buffer.data(), b_)) return result;
      if (!process(buffer.data(), std::min<int64_t>(b_, remaining))) return result;
      pos += b_;
      remaining -= b_;
      if (run_.RefreshDue()) {
        run_.SetLabel(ProgressWindow::kSearch, 2, UiText(kSlotPercent) + PercentText(total - remaining, total));
        run_.Pump();
      }
    }
    result.completed = true;
    return result;
  }

  FreeSpaceResult Bitmap(int64_t pos, int64_t remaining, BitOrder order) {
    return BitmapLoop(pos, remaining, [this, order](const uint8_t* p, int64_t n) {
      for (int64_t i = 0; i < n; ++i) BitmapByte(p[i], order);
      return true;
    });
  }

  bool ReadBoot(std::vector<uint8_t>* boot) { return Read(0, b_, boot); }

  /// Sectors per cluster of a boot record: 1 .. 128.
  bool SetClusterFromBoot(const Bytes& boot) {
    c_ = boot.U8(kBootSectorsPerCluster);
    return c_ >= 1 && c_ <= 128;
  }

  FreeSpaceResult Fat1216(bool fat12) {
    std::vector<uint8_t> boot_bytes;
    if (!ReadBoot(&boot_bytes)) return {};
    const Bytes boot(boot_bytes);
    if (!SetClusterFromBoot(boot)) return {};
    const int64_t fat_sectors = boot.Le16(kBootFatSize16);
    const int64_t reserved = boot.Le16(kBootReserved);
    const int64_t root_bytes = static_cast<int64_t>(boot.Le16(kBootRootEntries)) * kFatDirEntryBytes;
    const int64_t data_start = fat_sectors * boot.U8(kBootFatCount) + reserved + (root_bytes + b_ - 1) / b_;
    ClaimFirst(data_start);

    std::vector<uint8_t> fat;
    if (!Read(reserved * b_, fat_sectors * b_, &fat)) return {};
    // The first entry is the media byte with the rest of its bits set, the second all ones:
    // F0 for removable media, F8 for fixed disks (what mkfs.fat writes on images and
    // partitions, FAT12 ones included); F9 to FF are the older media bytes.
    const size_t expect_len = fat12 ? 3 : 4;
    if (fat.size() < expect_len || !IsMediaByte(fat[0])) return {};
    for (size_t i = 1; i < expect_len; ++i)
      if (fat[i] != 0xFF) return {};

    x_ = data_start;
    const size_t entries = fat12 ? fat.size() * 2 / 3 : fat.size() / 2;
    for (size_t i = 2; i < entries; ++i) {
      uint32_t entry;
      if (fat12) {
        const size_t o = i * 3 / 2;
        const uint32_t pair = fat[o] | static_cast<uint32_t>(fat[o + 1]) << 8;
        entry = (i & 1) ? pair >> 4 : pair & 0xFFF;
      } else {
        entry = fat[2 * i] | static_cast<uint32_t>(fat[2 * i + 1]) << 8;
      }
      if (entry != 0) ClaimCluster(x_);
      x_ += c_;
      if (x_ > last_) break;  // the rest of the table describes nothing on this source
    }
    return {true, false};
  }

  FreeSpaceResult Fat32() {
    std::vector<uint8_t> boot_bytes;
    if (!ReadBoot(&boot_bytes)) return {};
    const Bytes boot(boot_bytes);
    if (!SetClusterFromBoot(boot)) return {};
    const int64_t fat_sectors = boot.Le32(kBootFatSize32);
    const int64_t reserved = boot.Le16(kBootReserved);
    const int64_t data_start = fat_sectors * boot.U8(kBootFatCount) + reserved;
    ClaimFirst(data_start);
    x_ = data_start;
    bool first = true;
    return BitmapLoop(reserved * b_, fat_sectors * b_, [this, &first](const uint8_t* p, int64_t n) {
      int64_t i = 0;
      auto entry = [p](int64_t at) {
        return p[at] | static_cast<uint32_t>(p[at + 1]) << 8 | static_cast<uint32_t>(p[at + 2]) << 16 |
               static_cast<uint32_t>(p[at + 3]) << 24;
      };
      if (first) {
        first = false;
        if (n < 8 || (entry(0) & kFat32EntryMask) != kFat32Entry0 || (entry(4) & kFat32EntryMask) != kFat32Entry1)
          return false;
        i = 8;
      }
      for (; i + 4 <= n; i += 4) {
        if (entry(i) != 0) ClaimCluster(x_);
        x_ += c_;
      }
      return true;
    });
  }

  FreeSpaceResult Ntfs() {
    std::vector<uint8_t> boot_bytes;
    if (!ReadBoot(&boot_bytes)) return {};
    const Bytes boot(boot_bytes);
    if (!SetClusterFromBoot(boot)) return {};
    const int64_t cluster_bytes = c_ * b_;
    // File record size: positive = clusters per record, negative = 2^-v bytes.
    const auto size_code = static_cast<int8_t>(boot.U8(kNtfsRecordSize));
    int64_t record_bytes = 2 * b_;
    if (size_code > 0) record_bytes = size_code * cluster_bytes;
    else if (size_code < 0 && -size_code < 31) record_bytes = int64_t{1} << -size_code;
    if (record_bytes < 256 || record_bytes > kNtfsMaxRecord) return {};
    const int64_t mft = static_cast<int64_t>(boot.Le32(kNtfsMftCluster)) * cluster_bytes;
    std::vector<uint8_t> record_bytes_v;
    if (!Read(mft + kNtfsBitmapRecord * record_bytes, record_bytes, &record_bytes_v)) return {};
    // A record that is not a whole file record is not the cluster bitmap's.
    if (std::memcmp(record_bytes_v.data(), "FILE", 4) != 0 || !ApplyNtfsFixups(record_bytes_v)) return {};
    const Bytes record(record_bytes_v);
    size_t off = record.Le16(kNtfsFirstAttribute);
    if (off < 48 || off % 8 != 0 || off >= record_bytes_v.size()) off = kNtfsDefaultFirstAttribute;
    while (record.Has(off, 8)) {
      const uint32_t type = record.Le32(off);
      const uint32_t length = record.Le32(off + 4);
      if (type == kNtfsAttrEnd || length == 0 || !record.Has(off, length)) break;
      if (type == kNtfsAttrData) {
        if (record.U8(off + kNtfsAttrNonResident) == 0) return {};
        const size_t runs = off + record.Le16(off + kNtfsAttrRunList);
        const uint8_t header = record.U8(runs);
        const size_t len_bytes = header & 0x0F;
        const size_t lcn_bytes = header >> 4;
        const size_t attr_end = off + length;
        if (len_bytes == 0 || len_bytes > 8 || lcn_bytes > 8 || runs + 1 + len_bytes + lcn_bytes > attr_end) return {};
        const uint64_t run_length = record.Le(runs + 1, len_bytes);
        const uint64_t run_start = record.Le(runs + 1 + len_bytes, lcn_bytes);
        const auto max_clusters = static_cast<uint64_t>(source_bytes_ / cluster_bytes);
        if (run_length > max_clusters || run_start > max_clusters) return {};
        x_ = 0;
        return Bitmap(static_cast<int64_t>(run_start) * cluster_bytes, static_cast<int64_t>(run_length) * cluster_bytes,
                      BitOrder::kLowFirst);
      }
      off += length;
    }
    return {};
  }

  FreeSpaceResult ExFat() {
    std::vector<uint8_t> boot_bytes;
    if (!ReadBoot(&boot_bytes)) return {};
    const Bytes boot(boot_bytes);
    const int64_t heap = boot.Le32(kExFatHeapOffset);
    const uint32_t shift = boot.U8(kExFatClusterShift);
    if (shift > 8) return {};
    c_ = int64_t{1} << shift;
    const int64_t root = boot.Le32(kExFatRootCluster);
    if (root < kExFatFirstCluster) return {};
    std::vector<uint8_t> dir_bytes;
    if (!Read(((root - kExFatFirstCluster) * c_ + heap) * b_, b_, &dir_bytes)) return {};
    const Bytes dir(dir_bytes);
    if (dir.U8(kExFatBitmapEntry) != kExFatBitmapType) return {};
    ClaimFirst(heap);
    const int64_t first_cluster = dir.Le32(kExFatBitmapEntry + kExFatEntryFirstCluster);
    const uint64_t length = dir.Le(kExFatBitmapEntry + kExFatEntryLength, 8);
    if (first_cluster < kExFatFirstCluster || length > static_cast<uint64_t>(source_bytes_)) return {};
    x_ = heap;
    return Bitmap(((first_cluster - kExFatFirstCluster) * c_ + heap) * b_, static_cast<int64_t>(length),
                  BitOrder::kLowFirst);
  }

  FreeSpaceResult Hfs() {
    if (b_ != kHfsUnit) return {};
    std::vector<uint8_t> header_bytes;
    if (!Read(0, kHfsHeaderBytes, &header_bytes)) return {};
    const Bytes header(header_bytes);
    const uint32_t block = header.Be32(kHfsBlockSize);
    if (block == 0 || block % kHfsUnit != 0) return {};
    c_ = block / kHfsUnit;
    x_ = header.Be16(kHfsFirstBlock);
    const int64_t bytes = (static_cast<int64_t>(header.Be16(kHfsBlockCount)) + 7) / 8;
    return Bitmap(static_cast<int64_t>(header.Be16(kHfsBitmapStart)) * b_, bytes, BitOrder::kHighFirst);
  }

  FreeSpaceResult HfsPlus() {
    if (b_ != kHfsUnit) return {};
    std::vector<uint8_t> header_bytes;
    if (!Read(0, kHfsHeaderBytes, &header_bytes)) return {};
    const Bytes header(header_bytes);
    const uint32_t block = header.Be32(kHfsPlusBlockSize);
    if (block == 0 || block % kHfsUnit != 0 || block / kHfsUnit > 128) return {};
    c_ = block / kHfsUnit;
    const int64_t bytes = (static_cast<int64_t>(header.Be32(kHfsPlusTotalBlocks)) + 7) / 8;
    // The allocation file's first extent when the header describes one; it must hold
    // the whole bitmap (a fragmented allocation file is not followed).
    int64_t pos = kHfsPlusDefaultBitmap;
    const int64_t extent_start = header.Be32(kHfsPlusAllocExtent);
    const int64_t extent_blocks = header.Be32(kHfsPlusAllocExtent + 4);
    if (extent_blocks != 0) {
      if (extent_blocks * block < bytes) return {};
      pos = extent_start * block;
    }
    x_ = 0;
    return Bitmap(pos, bytes, BitOrder::kHighFirst);
  }

  SectorReader& reader_;
  AvailMap& map_;
  RunControl& run_;
  int64_t b_;
  int64_t last_;
  int64_t source_bytes_ = 0;
  int64_t c_ = 1;   // sectors per allocation unit
  int64_t x_ = 0;   // first sector of the cluster the next allocation entry describes
};

}  // namespace

FreeSpaceResult CollectFreeSpace(SectorReader& reader, const Geometry& geometry, AvailMap& map, RunControl& run) {
  if (geometry.last_sector < 0 || map.last_sector() < 0) return {};
  reader.SetBytesPerSector(geometry.bytes_per_sector);
  reader.SetRangeLastSector(std::min(geometry.last_sector, map.last_sector()));
  Collector collector(reader, geometry, map, run);
  return collector.Run(geometry.fs_kind);
}

}  // namespace quorvex
