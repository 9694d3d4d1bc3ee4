#pragma once
// Helpers of the robustness tests: a FAT16 image built at test time by mkfs.fat and mtools
// (packages dosfstools, mtools) from the committed ZIP, CAB, 7z and RAR fixtures, half of
// them deleted again, and a rescue of a source through the engine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/scan_driver.h"
#include "engine/scan_options.h"
#include "platform/sector_device.h"
#include "source/fs_detect.h"
#include "source/geometry.h"
#include "source/sector_reader.h"
#include "support/fake_run.h"

namespace quorvex::testing {

namespace fs = std::filesystem;

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
inline std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }
inline bool HaveFatTools() {
  return Shell("command -v mkfs.fat") && Shell("command -v mcopy") && Shell("command -v mdel");
}

/// A fresh folder under the temporary directory, removed at the end of the test.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag)
      : path_(fs::temp_directory_path() / ("quorvex_robust_" + tag + "_" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  std::string folder() const { return path_.string() + "/"; }
  std::vector<fs::path> Files() const {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(path_)) out.push_back(entry.path());
    return out;
  }

 private:
  fs::path path_;
};

struct ImageFile {
  std::string fixture;   ///< path under tests/data
  std::string name;      ///< 8.3 name on the image
  bool deleted;          ///< removed again with mdel
};

/// The archives on the image, in the order they are copied (so they lie one after the other).
inline const std::vector<ImageFile>& ImageFiles() {
  static const std::vector<ImageFile> files = {
      {"archive_zip/plain.zip", "PLAIN.ZIP", true},
      {"archive_zip/stored.zip", "STORED.ZIP", false},
      {"archive_zip/descriptor.zip", "DESCR.ZIP", true},
      {"archive_zip/zip64.zip", "ZIP64.ZIP", false},
      {"archive_cab_7z/multi.cab", "MULTI.CAB", true},
      {"archive_cab_7z/mszip.cab", "MSZIP.CAB", false},
      {"archive_cab_7z/lzma.7z", "LZMA.7Z", true},
      {"archive_cab_7z/solid_v03.7z", "SOLID.7Z", false},
      {"rar/test_read_format_rar_compress_best.rar", "BEST.RAR", true},
      {"rar/test_read_format_rar_multi_lzss_blocks.rar", "LZSS.RAR", false},
      {"rar/test_read_format_rar_filter.rar", "FILTER.RAR", true},
  };
  return files;
}

inline fs::path TestData(const std::string& name) { return fs::path(QUORVEX_TEST_DATA) / name; }

/// Builds the 8 MiB FAT16 image (2 sectors a cluster) at image.
inline bool BuildArchiveImage(const fs::path& image) {
  if (!Shell("mkfs.fat -C -F 16 -s 2 " + Quoted(image) + " 8192")) return false;
  std::string del = "mdel -i " + Quoted(image);
  for (const ImageFile& f : ImageFiles()) {
    if (!Shell("mcopy -i " + Quoted(image) + " " + Quoted(TestData(f.fixture)) + " ::/" + f.name)) return false;
    if (f.deleted) del += " ::/" + f.name;
  }
  return Shell(del);
}

/// The originals' bytes.
inline std::vector<std::vector<uint8_t>> Originals(bool deleted_only = false) {
  std::vector<std::vector<uint8_t>> out;
  for (const ImageFile& f : ImageFiles())
    if (f.deleted || !deleted_only) out.push_back(ReadBytes(TestData(f.fixture)));
  return out;
}

/// Makes source hold device with the geometry its boot record gives.
inline bool UseDevice(SourceState& source, std::unique_ptr<SectorDevice> device, const std::string& path) {
  std::vector<uint8_t> probe(kDetectProbeBytes, 0);
  if (device->ReadAt(0, probe.data(), probe.size()) <= 0) return false;
  Geometry g;
  if (!DetectFileSystem(std::span<const uint8_t>(probe), g)) return false;
  g.last_sector = device->Length() / g.bytes_per_sector - 1;
  source.device = std::move(device);
  source.kind = SourceKind::kImageFile;
  source.path = source.name = path;
  source.detected = source.working = g;
  return true;
}

struct RescueResult {
  RescueOutcome outcome;
  std::vector<std::vector<uint8_t>> files;  ///< every file left in the output folder
};

/// Runs the rescue of every archive type over the whole source into out.
inline RescueResult RescueInto(SourceState& source, const TempFolder& out, bool free_space_only = false) {
  SectorReader reader;
  reader.SetDevice(source.device.get());
  reader.SetBytesPerSector(source.working.bytes_per_sector);
  reader.SetRangeLastSector(source.working.last_sector);
  ScanSettings settings;
  settings.output_folder = out.folder();
  settings.first_sector = 0;
  settings.last_sector = source.working.last_sector;
  settings.type_mask = (1u << kMaskBitRar) | (1u << kMaskBitZip) | (1u << kMaskBitCab) | (1u << kMaskBit7z);
  settings.free_space_only = free_space_only;
  settings.sectors_per_cluster = source.working.sectors_per_cluster;
  settings.cluster_offset = source.working.cluster_offset;
  FakeRun run;
  RescueResult result;
  result.outcome = RunRescue(source, reader, settings, run);
  reader.SetDevice(nullptr);
  for (const fs::path& p : out.Files()) result.files.push_back(ReadBytes(p));
  return result;
}

}  // namespace quorvex::testing
