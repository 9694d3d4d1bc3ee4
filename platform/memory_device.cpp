#include "platform/memory_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvex {

int64_t MemoryDevice::ReadAt(int64_t byte_offset, void* dest, size_t count) {
  ++reads_;
  if (byte_offset < 0) {
    last_error_ = EINVAL;
    return -1;
  }
  lowest_ = std::min(lowest_, byte_offset);
  highest_end_ = std::max(highest_end_, byte_offset + static_cast<int64_t>(count));
  const auto size = static_cast<int64_t>(bytes_.size());
  if (byte_offset >= size) return 0;
  const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size - byte_offset));
  std::memcpy(dest, bytes_.data() + byte_offset, n);
  bytes_read_ += n;
  return static_cast<int64_t>(n);
}

int64_t FaultyDevice::ReadAt(int64_t byte_offset, void* dest, size_t count) {
  ++reads_;
  if (count == 0) return 0;
  const int64_t ssz = inner_->SectorSize();
  const int64_t first = byte_offset / ssz;
  const int64_t last = (byte_offset + static_cast<int64_t>(count) - 1) / ssz;
  auto it = bad_.lower_bound(first);
  if (it != bad_.end() && *it <= last) {
    last_error_ = EIO;
    const int64_t good = *it * ssz - byte_offset;
    if (!short_reads_ || good <= 0) return -1;
    return inner_->ReadAt(byte_offset, dest, static_cast<size_t>(good));
  }
  return inner_->ReadAt(byte_offset, dest, count);
}

}  // namespace quorvex
