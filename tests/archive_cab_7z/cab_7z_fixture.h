#pragma once
// Helpers of the cabinet and 7z tests: the committed archives (made by gcab and 7zz, see
// tests/data/archive_cab_7z/make.sh), disks in memory built around them, a scratch folder,
// and the sector runs a walk is expected to leave taken.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvex::testing {

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> ReadArchiveFixture(const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(QUORVEX_TEST_DATA) / "archive_cab_7z" / name;
  EXPECT_TRUE(std::filesystem::exists(path)) << name;
  return ReadFileBytes(path);
}

inline int64_t SectorCount(int64_t bytes, int64_t bps = 512) { return (bytes + bps - 1) / bps; }

/// `before` zero sectors, the file padded with zeros to whole sectors, `after` zero sectors.
inline std::vector<uint8_t> DiskWith(const std::vector<uint8_t>& file, int64_t before, int64_t after,
                                     int64_t bps = 512) {
  const int64_t sectors = before + SectorCount(static_cast<int64_t>(file.size()), bps) + after;
  std::vector<uint8_t> disk(static_cast<size_t>(sectors * bps), 0);
  std::memcpy(disk.data() + before * bps, file.data(), file.size());
  return disk;
}

/// Sectors first .. first + count - 1, then on to the next boundary of a grid of `cluster`
/// sectors with offset `offset` (the cluster-tail claim).
inline std::vector<int64_t> RunWithTail(int64_t first, int64_t count, int64_t cluster = 1, int64_t offset = 0) {
  int64_t end = first + count;
  while (cluster > 1 && (end - offset) % cluster > 0) ++end;
  std::vector<int64_t> out;
  for (int64_t s = first; s < end; ++s) out.push_back(s);
  return out;
}

inline void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(std::vector<uint8_t>& bytes, size_t at, uint64_t v) {
  for (size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

/// A fresh folder under the temporary directory, removed again at the end of the test.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag)
      : path_(std::filesystem::temp_directory_path() /
              ("quorvex_cab7z_" + tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  /// The folder as carvers take it: ending with '/'.
  std::string folder() const { return path_.string() + "/"; }
  std::vector<std::filesystem::path> Files() const {
    std::vector<std::filesystem::path> out;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvex::testing
