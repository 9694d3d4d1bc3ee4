#pragma once
// All positioned reads of the open source go through here: one 64 KiB read window that
// turns forward sector-by-sector requests into 64 KiB device reads, bounded by the end of
// the running operation's range, and a direct one-sector read that bypasses the window.
//
// Views: the window buffer and sector_buffer() stay valid until the next call of any
// operation of this reader, or until the window is emptied.

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/sector_device.h"
#include "source/geometry.h"

namespace quorvex {

class SectorReader {
 public:
  static constexpr int32_t kWindowSize = 65536;

  /// The device read from; null means no source (every read fails).
  void SetDevice(SectorDevice* device) { device_ = device; position_ = 0; Empty(); }
  SectorDevice* device() const { return device_; }

  /// Sector size used for the bound and for ReadSectorDirect (working bytes per sector).
  void SetBytesPerSector(uint32_t bytes_per_sector) { bytes_per_sector_ = bytes_per_sector; }
  uint32_t bytes_per_sector() const { return bytes_per_sector_; }
  /// Last sector of the range the running operation covers; fills stop at its end.
  void SetRangeLastSector(int64_t last_sector) { range_last_sector_ = last_sector; }
  int64_t range_last_sector() const { return range_last_sector_; }

  /// Positions at distance from origin (0 start, 1 current, 2 end). Returns the new
  /// position, or -1 on failure.
  int64_t SeekSource(int64_t distance, int origin);

  /// Copies count bytes from byte offset into dest. Returns the number of bytes NOT
  /// delivered (0 = success). Bytes after the first undelivered one are left as they were.
  int32_t ReadSource(void* dest, int32_t count, int64_t byte_offset) {
    // The common case of a forward walk: the window holds the whole request.
    if (window_filled_ && count > 0 && byte_offset >= window_start_ &&
        byte_offset + count <= window_start_ + window_length_) {
      std::memcpy(dest, window_.data() + (byte_offset - window_start_), static_cast<size_t>(count));
      return 0;
    }
    return ReadSourceFilling(dest, count, byte_offset);
  }

  /// The same bytes ReadSource would deliver, seen in place in the window: null when they
  /// cannot all be had (count at most kWindowSize). The view is valid until the next call.
  const uint8_t* View(int64_t byte_offset, int32_t count);

  /// Reads one sector into sector_buffer() with a single device read, past the window.
  bool ReadSectorDirect(int64_t sector);
  uint8_t* sector_buffer() { return sector_buffer_.data(); }
  const uint8_t* sector_buffer() const { return sector_buffer_.data(); }

  /// Forgets the window; called whenever a source is opened or closed.
  void Empty() { window_filled_ = false; }

  /// Device reads made through this reader (window fills and direct reads).
  uint64_t device_reads() const { return device_reads_; }

 private:
  int32_t ReadSourceFilling(void* dest, int32_t count, int64_t byte_offset);
  int64_t Bound() const { return (range_last_sector_ + 1) * static_cast<int64_t>(bytes_per_sector_); }
  /// Fills the window for a request at byte_offset (< bound); false when the fill failed.
  bool Fill(int64_t byte_offset, int64_t bound);

  SectorDevice* device_ = nullptr;
  int64_t position_ = 0;
  uint32_t bytes_per_sector_ = 512;
  int64_t range_last_sector_ = -1;

  alignas(64) std::array<uint8_t, kWindowSize> window_{};
  int64_t window_start_ = 0;
  int32_t window_length_ = 0;
  bool window_filled_ = false;
  alignas(64) std::array<uint8_t, kMaxSectorSize> sector_buffer_{};
  uint64_t device_reads_ = 0;
};

}  // namespace quorvex
