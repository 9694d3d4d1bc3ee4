#pragma once
// One bit per sector of the source: 1 taken, 0 available. Sector s is bit (s mod 8) of
// byte (s div 8). Every sector given to an operation lies in 0..last sector.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace quorvex {

class AvailMap {
 public:
  AvailMap() = default;
  /// Allocates (last_sector + 8) / 8 zero bytes; throws std::bad_alloc when memory is short.
  /// The bytes come zeroed from the system, so a huge map costs memory only where it is set.
  explicit AvailMap(int64_t last_sector)
      : last_sector_(last_sector), size_(static_cast<size_t>(last_sector < 0 ? 0 : (last_sector + 8) / 8)) {
    bits_.reset(static_cast<uint8_t*>(std::calloc(size_ == 0 ? 1 : size_, 1)));
    if (!bits_) throw std::bad_alloc();
  }

  int64_t last_sector() const { return last_sector_; }
  bool IsTaken(int64_t s) const { return (bits_[static_cast<size_t>(s >> 3)] >> (s & 7)) & 1u; }
  void ClaimSector(int64_t s) { bits_[static_cast<size_t>(s >> 3)] |= static_cast<uint8_t>(1u << (s & 7)); }
  void ReleaseSector(int64_t s) { bits_[static_cast<size_t>(s >> 3)] &= static_cast<uint8_t>(~(1u << (s & 7))); }
  /// Claims s .. s + n - 1, whole bytes for the aligned middle; n <= 0 claims nothing.
  void ClaimRun(int64_t s, int64_t n) {
    while ((s & 7) != 0 && n > 0) { ClaimSector(s++); --n; }
    while (n >= 8) { bits_[static_cast<size_t>(s >> 3)] = 0xFF; s += 8; n -= 8; }
    while (n > 0) { ClaimSector(s++); --n; }
  }
  const uint8_t* data() const { return bits_.get(); }
  size_t size_bytes() const { return size_; }
  /// A copy of the map's bytes (for comparing a map before and after).
  std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(bits_.get(), bits_.get() + size_); }

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  int64_t last_sector_ = -1;
  size_t size_ = 0;
  std::unique_ptr<uint8_t[], Free> bits_;
};

/// The sectors one walk has claimed, in claim order.
using ExtentList = std::vector<int64_t>;

}  // namespace quorvex
