#include "source/sector_reader.h"

#include <algorithm>
#include <cstring>

namespace quorvex {

int64_t SectorReader::SeekSource(int64_t distance, int origin) {
  if (device_ == nullptr) return -1;
  int64_t base = 0;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = position_; break;
    case 2: base = device_->Length(); break;
    default: return -1;
  }
  const int64_t target = base + distance;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

bool SectorReader::Fill(int64_t byte_offset, int64_t bound) {
  if (device_ == nullptr) return false;
  // The window starts at the requested offset, slid back so that it ends at the bound.
  int64_t start = byte_offset;
  if (start > bound - kWindowSize) start = bound - kWindowSize;
  if (start < 0) start = 0;
  if (SeekSource(start, 0) < 0) return false;
  ++device_reads_;
  const int64_t got = device_->ReadAt(start, window_.data(), kWindowSize);
  if (got < 0) {
    window_filled_ = false;
    return false;
  }
  window_start_ = start;
  window_length_ = static_cast<int32_t>(got);
  window_filled_ = true;
  position_ = start + got;
  return window_length_ > byte_offset - start;
}

int32_t SectorReader::ReadSourceFilling(void* dest, int32_t count, int64_t byte_offset) {
  auto* out = static_cast<uint8_t*>(dest);
  const int64_t bound = Bound();
  for (;;) {
    if (count <= 0) return 0;
    if (window_filled_ && byte_offset >= window_start_ && byte_offset < window_start_ + window_length_) {
      const int64_t avail = window_start_ + window_length_ - byte_offset;
      const auto n = static_cast<int32_t>(std::min<int64_t>(count, avail));
      std::memcpy(out, window_.data() + (byte_offset - window_start_), static_cast<size_t>(n));
      byte_offset += n;
      out += n;
      count -= n;
      if (count == 0) return 0;
    }
    if (byte_offset >= bound || !Fill(byte_offset, bound)) return count;
  }
}

const uint8_t* SectorReader::View(int64_t byte_offset, int32_t count) {
  if (count <= 0 || count > kWindowSize || byte_offset < 0) return nullptr;
  auto held = [&] {
    return window_filled_ && byte_offset >= window_start_ && byte_offset + count <= window_start_ + window_length_;
  };
  if (!held()) {
    const int64_t bound = Bound();
    // Bytes at or past the bound are only served from a window that already holds them.
    if (byte_offset + count > bound || !Fill(byte_offset, bound) || !held()) return nullptr;
  }
  return window_.data() + (byte_offset - window_start_);
}

bool SectorReader::ReadSectorDirect(int64_t sector) {
  if (device_ == nullptr || bytes_per_sector_ > kMaxSectorSize) return false;
  const int64_t offset = sector * static_cast<int64_t>(bytes_per_sector_);
  if (SeekSource(offset, 0) < 0) return false;
  ++device_reads_;
  const int64_t got = device_->ReadAt(offset, sector_buffer_.data(), bytes_per_sector_);
  // A read that delivers less than a whole sector is a failed read: the rest of the
  // buffer would be left over from an earlier sector.
  if (got != static_cast<int64_t>(bytes_per_sector_)) return false;
  position_ = offset + got;
  return true;
}

}  // namespace quorvex
