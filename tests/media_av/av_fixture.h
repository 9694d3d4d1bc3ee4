#pragma once
// Helpers of the media and document walk tests: the committed fixtures, disks in memory
// built around them, and the sector runs a walk is expected to leave taken.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvex::testing {

inline std::vector<uint8_t> ReadFixture(const std::string& name) {
  std::ifstream in(std::string(QUORVEX_TEST_DATA) + "/media_av/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline int64_t SectorsFor(int64_t bytes, uint32_t bps = 512) { return (bytes + bps - 1) / bps; }

/// A disk of `before` zero sectors, the file (padded with zeros to a whole sector) and
/// `after` zero sectors.
inline std::vector<uint8_t> DiskAround(const std::vector<uint8_t>& file, int64_t before, int64_t after,
                                       uint32_t bps = 512) {
  std::vector<uint8_t> disk(static_cast<size_t>((before + SectorsFor(static_cast<int64_t>(file.size()), bps) + after) * bps), 0);
  std::memcpy(disk.data() + before * bps, file.data(), file.size());
  return disk;
}

/// Sectors first .. first + count - 1, then on to the next boundary of a cluster grid of
/// `cluster` sectors with offset `offset` (the cluster-tail claim).
inline std::vector<int64_t> RunWithTail(int64_t first, int64_t count, int64_t cluster = 1, int64_t offset = 0) {
  int64_t end = first + count;
  while (cluster > 1 && (end - offset) % cluster > 0) ++end;
  std::vector<int64_t> out;
  for (int64_t s = first; s < end; ++s) out.push_back(s);
  return out;
}

/// Finds bytes in a file (-1 when absent).
inline int64_t Find(const std::vector<uint8_t>& file, const std::vector<uint8_t>& needle, int64_t from = 0) {
  if (needle.empty() || file.size() < needle.size()) return -1;
  for (size_t i = static_cast<size_t>(from); i + needle.size() <= file.size(); ++i)
    if (std::memcmp(file.data() + i, needle.data(), needle.size()) == 0) return static_cast<int64_t>(i);
  return -1;
}

inline void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline void PutLe64(std::vector<uint8_t>& bytes, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
inline std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

}  // namespace quorvex::testing
