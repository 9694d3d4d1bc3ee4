#pragma once
// What the user chose for a rescue, as the scan driver takes it.

#include <charconv>
#include <cstdint>
#include <string>

namespace quorvex {

/// TypeMask bit TypeCode + 4 set: archives of that type are saved.
inline constexpr int kMaskBitRar = 19;
inline constexpr int kMaskBitZip = 20;
inline constexpr int kMaskBitCab = 21;
inline constexpr int kMaskBit7z = 22;
inline constexpr uint32_t kDefaultTypeMask = (1u << kMaskBitRar) | (1u << kMaskBitZip) | (1u << kMaskBit7z);

/// A sector number typed into a range box: decimal, or -1 for anything that is not one.
inline int64_t ParseSectorText(const std::string& text) {
  int64_t v = -1;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || text.empty()) return -1;
  return v;
}

struct ScanSettings {
  std::string output_folder;          ///< always ends with '/'
  int64_t first_sector = 0;
  int64_t last_sector = -1;           ///< the scan-range end, inclusive
  uint32_t type_mask = kDefaultTypeMask;
  bool free_space_only = false;
  uint32_t sectors_per_cluster = 1;   ///< C, at least 1
  int32_t cluster_offset = -1;        ///< -1 when unknown
  bool classic = false;               ///< only the original formats and versions
};

}  // namespace quorvex
