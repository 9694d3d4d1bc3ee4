#pragma once
// Helpers of the ZIP walk tests: fixtures, hand-made records, images, temp folders, and a
// device that synthesises a huge archive without holding it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/sector_device.h"

namespace quorvex::testing {

namespace fs = std::filesystem;

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Fixture(std::string_view name) {
  std::vector<uint8_t> bytes = ReadBytes(fs::path(QUORVEX_TEST_DATA) / "archive_zip" / std::string(name));
  EXPECT_FALSE(bytes.empty()) << "missing fixture " << name;
  return bytes;
}

/// Runs a command line through the shell, its output discarded; the exit status.
inline int Shell(const std::string& command) {
  const int raw = std::system((command + " >/dev/null 2>&1 </dev/null").c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

inline int64_t SectorsFor(int64_t bytes, int64_t bps) { return (bytes + bps - 1) / bps; }

/// Little-endian record bytes, written field by field.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& U16(uint32_t x) { return Put(x, 2); }
  Bytes& U32(uint64_t x) { return Put(x, 4); }
  Bytes& U64(uint64_t x) { return Put(x, 8); }
  Bytes& Text(std::string_view s) {
    v.insert(v.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& Fill(size_t n, uint8_t byte) {
    v.insert(v.end(), n, byte);
    return *this;
  }
  Bytes& Add(const std::vector<uint8_t>& more) {
    v.insert(v.end(), more.begin(), more.end());
    return *this;
  }
  Bytes& Put(uint64_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    return *this;
  }
};

/// A local file header (stored, no CRC) with the given flags and sizes; the data is not added.
inline std::vector<uint8_t> LocalHeader(std::string_view name, uint32_t compressed, uint16_t flags = 0,
                                        const std::vector<uint8_t>& extra = {}, uint32_t uncompressed = 0) {
  Bytes b;
  b.U32(0x04034B50).U16(20).U16(flags).U16(0).U16(0).U16(0).U32(0).U32(compressed).U32(uncompressed);
  b.U16(static_cast<uint32_t>(name.size())).U16(static_cast<uint32_t>(extra.size())).Text(name).Add(extra);
  return b.v;
}

inline std::vector<uint8_t> CentralHeader(std::string_view name, uint32_t compressed, uint32_t local_offset) {
  Bytes b;
  b.U32(0x02014B50).U16(20).U16(20).U16(0).U16(0).U16(0).U16(0).U32(0).U32(compressed).U32(compressed);
  b.U16(static_cast<uint32_t>(name.size())).U16(0).U16(0).U16(0).U16(0).U32(0).U32(local_offset).Text(name);
  return b.v;
}

inline std::vector<uint8_t> EndRecord(uint16_t entries, uint32_t central_size, uint32_t central_offset,
                                      std::string_view comment = {}) {
  Bytes b;
  b.U32(0x06054B50).U16(0).U16(0).U16(entries).U16(entries).U32(central_size).U32(central_offset);
  b.U16(static_cast<uint32_t>(comment.size())).Text(comment);
  return b.v;
}

/// A source of `sectors` sectors filled with `fill`, with bytes placed at byte offsets.
inline std::vector<uint8_t> Image(int64_t sectors, uint32_t bps, uint8_t fill = 0) {
  return std::vector<uint8_t>(static_cast<size_t>(sectors * bps), fill);
}
inline void Place(std::vector<uint8_t>& image, int64_t offset, const std::vector<uint8_t>& bytes) {
  ASSERT_LE(offset + static_cast<int64_t>(bytes.size()), static_cast<int64_t>(image.size()));
  std::copy(bytes.begin(), bytes.end(), image.begin() + offset);
}

/// A fresh, empty folder ending with '/', removed again at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("quorvex_zip_") + std::to_string(::getpid()) + "_" +
                       (test ? std::string(test->test_suite_name()) + "_" + test->name() : std::string("x"));
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string text() const { return path_.string() + "/"; }
  const fs::path& path() const { return path_; }
  std::vector<fs::path> Files() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

/// A device of any length that holds a few pieces of bytes and reads zeros everywhere else,
/// counting the reads it serves: a multi-GiB archive without the memory.
class SparseDevice : public SectorDevice {
 public:
  explicit SparseDevice(int64_t length) : length_(length) {}
  void Put(int64_t offset, std::vector<uint8_t> bytes) { pieces_.push_back({offset, std::move(bytes)}); }
  int64_t ReadAt(int64_t byte_offset, void* dest, size_t count) override {
    ++reads_;
    if (byte_offset < 0) return -1;
    if (byte_offset >= length_) return 0;
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(count), length_ - byte_offset);
    auto* out = static_cast<uint8_t*>(dest);
    std::memset(out, 0, static_cast<size_t>(n));
    for (const Piece& piece : pieces_) {
      const int64_t begin = std::max(byte_offset, piece.offset);
      const int64_t end = std::min(byte_offset + n, piece.offset + static_cast<int64_t>(piece.bytes.size()));
      if (begin < end)
        std::memcpy(out + (begin - byte_offset), piece.bytes.data() + (begin - piece.offset),
                    static_cast<size_t>(end - begin));
    }
    bytes_read_ += static_cast<uint64_t>(n);
    return n;
  }
  int64_t Length() const override { return length_; }
  uint32_t SectorSize() const override { return 512; }
  uint64_t reads() const { return reads_; }
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  struct Piece {
    int64_t offset;
    std::vector<uint8_t> bytes;
  };
  int64_t length_;
  std::vector<Piece> pieces_;
  uint64_t reads_ = 0;
  uint64_t bytes_read_ = 0;
};

}  // namespace quorvex::testing
