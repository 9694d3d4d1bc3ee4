#pragma once
// Disks in memory for the photo walk tests: a file's bytes laid into sectors from a start
// sector, stepping over sectors that an earlier walk has taken, with the filler elsewhere.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/walk_env.h"

namespace quorvex::testing {

inline std::vector<uint8_t> ReadPhotoFixture(const std::string& name) {
  std::ifstream in(std::string(QUORVEX_TEST_DATA) + "/media_photo/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return {std::istreambuf_iterator<char>(in), {}};
}

struct PhotoDisk {
  std::vector<uint8_t> bytes;
  std::vector<int64_t> file_sectors;  ///< the sectors that hold the file, in order
};

/// total_sectors sectors of filler; the file from start_sector on, skipping the skip set.
inline PhotoDisk LayFile(const std::vector<uint8_t>& file, int64_t start_sector, int64_t total_sectors,
                         const std::set<int64_t>& skip = {}, uint8_t filler = 0) {
  PhotoDisk disk;
  disk.bytes.assign(static_cast<size_t>(total_sectors) * 512, filler);
  size_t done = 0;
  for (int64_t s = start_sector; done < file.size(); ++s) {
    if (skip.count(s)) continue;
    const size_t n = std::min<size_t>(512, file.size() - done);
    std::copy(file.begin() + static_cast<std::ptrdiff_t>(done), file.begin() + static_cast<std::ptrdiff_t>(done + n),
              disk.bytes.begin() + s * 512);
    disk.file_sectors.push_back(s);
    done += n;
  }
  return disk;
}

/// Sorted union of two sector lists.
inline std::vector<int64_t> Union(std::vector<int64_t> a, const std::vector<int64_t>& b) {
  std::set<int64_t> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  return {all.begin(), all.end()};
}

inline std::vector<int64_t> Range(int64_t first, int64_t last) {
  std::vector<int64_t> out;
  for (int64_t s = first; s <= last; ++s) out.push_back(s);
  return out;
}

inline void Put32(std::vector<uint8_t>& b, size_t pos, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i)
    b[pos + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
}
inline void Put16(std::vector<uint8_t>& b, size_t pos, uint16_t v, bool big) {
  b[pos] = static_cast<uint8_t>(big ? v >> 8 : v);
  b[pos + 1] = static_cast<uint8_t>(big ? v : v >> 8);
}
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t pos, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t byte = b[pos + static_cast<size_t>(big ? i : 3 - i)];
    v = (v << 8) | byte;
  }
  return v;
}

}  // namespace quorvex::testing
