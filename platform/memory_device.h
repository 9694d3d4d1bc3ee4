#pragma once
// Devices for tests and fuzzing: bytes in memory, and a wrapper that fails chosen
// sectors or delivers short reads. Both count the reads they serve.

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "platform/sector_device.h"

namespace quorvex {

class MemoryDevice : public SectorDevice {
 public:
  explicit MemoryDevice(std::vector<uint8_t> bytes, uint32_t sector_size = 512)
      : bytes_(std::move(bytes)), sector_size_(sector_size) {}
  int64_t ReadAt(int64_t byte_offset, void* dest, size_t count) override;
  int64_t Length() const override { return static_cast<int64_t>(bytes_.size()); }
  uint32_t SectorSize() const override { return sector_size_; }

  std::vector<uint8_t>& bytes() { return bytes_; }
  uint64_t reads() const { return reads_; }
  uint64_t bytes_read() const { return bytes_read_; }
  /// Lowest and highest byte offsets any read asked for (for "no read left the device").
  int64_t lowest_offset() const { return lowest_; }
  int64_t highest_end() const { return highest_end_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t sector_size_;
  uint64_t reads_ = 0;
  uint64_t bytes_read_ = 0;
  int64_t lowest_ = INT64_MAX;
  int64_t highest_end_ = 0;
};

/// Wraps a device; a read touching a bad sector fails (EIO), and with short_reads set
/// every read that would cross a bad sector delivers only the bytes before it.
class FaultyDevice : public SectorDevice {
 public:
  FaultyDevice(std::shared_ptr<SectorDevice> inner, std::set<int64_t> bad_sectors, bool short_reads = false)
      : inner_(std::move(inner)), bad_(std::move(bad_sectors)), short_reads_(short_reads) {}
  int64_t ReadAt(int64_t byte_offset, void* dest, size_t count) override;
  int64_t Length() const override { return inner_->Length(); }
  uint32_t SectorSize() const override { return inner_->SectorSize(); }
  std::set<int64_t>& bad_sectors() { return bad_; }
  uint64_t reads() const { return reads_; }

 private:
  std::shared_ptr<SectorDevice> inner_;
  std::set<int64_t> bad_;
  bool short_reads_;
  uint64_t reads_ = 0;
};

}  // namespace quorvex
