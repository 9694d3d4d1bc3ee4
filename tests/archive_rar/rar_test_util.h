#pragma once
// Helpers for the RAR walk tests: fixture files, temporary folders, sources built around an
// archive.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvex::testing {

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::filesystem::path TestData(const std::string& relative) {
  return std::filesystem::path(QUORVEX_TEST_DATA) / relative;
}

/// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "quorvex_rar_XXXXXX").string();
    path_ = ::mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  /// The folder as carvers take it: ending with '/'.
  std::string folder() const { return path_.string() + "/"; }
  std::vector<std::filesystem::path> Files() const {
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path());
    return out;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvex::testing
