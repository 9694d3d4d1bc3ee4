// End to end: RAR archives put into a FAT image by mkfs.fat and mtools (packages dosfstools,
// mtools), rescued by the whole two-pass rescue, and compared with the originals. The images
// are made at test time in a temporary folder.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/scan_driver.h"
#include "platform/sector_device.h"
#include "source/geometry.h"
#include "source/sector_reader.h"
#include "support/fake_run.h"
#include "archive_rar/rar_test_util.h"

namespace quorvex {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::TestData;
using testing::WriteBytes;

namespace fs = std::filesystem;

// FAT boot record fields.
constexpr size_t kBytesPerSectorAt = 11;
constexpr size_t kSectorsPerClusterAt = 13;
constexpr size_t kReservedSectorsAt = 14;
constexpr size_t kFatCountAt = 16;
constexpr size_t kRootEntriesAt = 17;
constexpr size_t kSectorsPerFatAt = 22;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool HaveTools() { return Shell("command -v mkfs.fat") && Shell("command -v mcopy") && Shell("command -v mdel"); }

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

struct Rescue {
  RescueOutcome outcome;
  std::vector<std::vector<uint8_t>> files;  // every rescued file's bytes
};

/// Opens the image as the rescue would and runs it with RAR saving into out.
Rescue RescueImage(const fs::path& image, const TempDir& out) {
  Rescue result;
  int err = 0;
  SourceState source;
  source.device = OpenPosixDevice(image.string(), &err);
  EXPECT_NE(source.device, nullptr) << err;
  if (!source.device) return result;
  source.kind = SourceKind::kImageFile;
  source.path = source.name = image.string();

  const std::vector<uint8_t> boot = ReadBytes(image);
  const auto u16 = [&](size_t at) { return static_cast<uint32_t>(boot[at] | (boot[at + 1] << 8)); };
  const uint32_t bps = u16(kBytesPerSectorAt);
  EXPECT_EQ(bps, 512u);
  const uint32_t cluster = boot[kSectorsPerClusterAt];
  const uint32_t first_data = u16(kReservedSectorsAt) + boot[kFatCountAt] * u16(kSectorsPerFatAt) +
                              (u16(kRootEntriesAt) * 32 + bps - 1) / bps;
  Geometry& g = source.working;
  g.last_sector = source.device->Length() / 512 - 1;
  g.bytes_per_sector = 512;
  g.sectors_per_cluster = cluster;
  g.cluster_offset = static_cast<int32_t>(first_data % cluster);
  g.fs_kind = FsKind::kFat12;
  source.detected = g;

  SectorReader reader;
  reader.SetDevice(source.device.get());
  ScanSettings settings;
  settings.output_folder = out.folder();
  settings.first_sector = 0;
  settings.last_sector = g.last_sector;
  settings.sectors_per_cluster = g.sectors_per_cluster;
  settings.cluster_offset = g.cluster_offset;
  testing::FakeRun run;
  result.outcome = RunRescue(source, reader, settings, run);
  for (const fs::path& p : out.Files()) result.files.push_back(ReadBytes(p));
  return result;
}

/// How many rescued files equal each original.
std::map<std::string, int> Matches(const Rescue& rescue, const std::map<std::string, std::vector<uint8_t>>& originals,
                                   int* unmatched) {
  std::map<std::string, int> counts;
  *unmatched = 0;
  for (const auto& file : rescue.files) {
    bool found = false;
    for (const auto& [name, bytes] : originals) {
      if (file == bytes) {
        ++counts[name];
        found = true;
        break;
      }
    }
    if (!found) ++*unmatched;
  }
  return counts;
}

class RarRescueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "needs mkfs.fat (dosfstools) and mcopy/mdel (mtools)";
    image_ = work_.path() / "fat.img";
    // 4 MiB FAT12, 4 sectors a cluster; its data area starts at sector 45 (offset 1).
    ASSERT_TRUE(Shell("mkfs.fat -C -s 4 " + Quoted(image_) + " 4096"));
  }
  TempDir work_;
  TempDir out_;
  fs::path image_;
};

TEST_F(RarRescueTest, ContiguousArchivesComeBackByteIdentical) {
  const std::vector<std::string> names = {
      "rar/test_read_format_rar.rar",                   "rar/test_read_format_rar_unicode.rar",
      "rar/test_read_format_rar_windows.rar",           "rar/test_read_format_rar_compress_best.rar",
      "rar/test_read_format_rar_compress_normal.rar",   "rar/test_read_format_rar_multi_lzss_blocks.rar",
      "rar/test_read_format_rar_filter.rar",            "rar/test_read_format_rar_ppmd_lzss_conversion.rar",
      "rar/test_read_format_rar_binary_data.rar",       "rar/test_read_format_rar_subblock.rar",
      "rar5/test_read_format_rar5_unicode.rar",         "rar5/test_read_format_rar5_zip_in_rar.rar",
      "rar5/test_read_format_rar5_redir_varint_2byte.rar"};
  std::map<std::string, std::vector<uint8_t>> originals;
  std::string command = "mcopy -i " + Quoted(image_);
  for (const std::string& name : names) {
    originals[name] = ReadBytes(TestData(name));
    ASSERT_FALSE(originals[name].empty()) << name;
    command += " " + Quoted(TestData(name));
  }
  ASSERT_TRUE(Shell(command + " ::/"));

  const Rescue rescue = RescueImage(image_, out_);
  EXPECT_EQ(rescue.outcome.rescued_count, names.size());
  int unmatched = 0;
  const std::map<std::string, int> counts = Matches(rescue, originals, &unmatched);
  EXPECT_EQ(unmatched, 0);
  for (const std::string& name : names) EXPECT_EQ(counts.count(name) ? counts.at(name) : 0, 1) << name;
}

TEST_F(RarRescueTest, FragmentedArchiveAroundOtherArchivesComesBackByteIdentical) {
  // 120 small archives of 6 clusters each, every other one deleted: the large archive written
  // next fills the 60 holes between the 60 that stay, then runs on after them. The small ones
  // are walked first (pass 2 goes from the last candidate back) and the large one's walk steps
  // over their clusters.
  const fs::path small = TestData("rar/test_read_format_rar_compress_best.rar");
  const fs::path large = TestData("rar/test_read_format_rar_binary_data.rar");
  const std::vector<uint8_t> small_bytes = ReadBytes(small);
  const std::vector<uint8_t> large_bytes = ReadBytes(large);
  ASSERT_FALSE(small_bytes.empty());
  ASSERT_FALSE(large_bytes.empty());
  constexpr int kSmallCount = 120;
  std::string copy = "mcopy -i " + Quoted(image_);
  std::string del = "mdel -i " + Quoted(image_);
  for (int i = 1; i <= kSmallCount; ++i) {
    const fs::path name = work_.path() / ("S" + std::to_string(i) + ".RAR");
    WriteBytes(name, small_bytes);
    copy += " " + Quoted(name);
    if (i % 2 == 1) del += " ::/S" + std::to_string(i) + ".RAR";
  }
  ASSERT_TRUE(Shell(copy + " ::/"));
  ASSERT_TRUE(Shell(del));
  ASSERT_TRUE(Shell("mcopy -i " + Quoted(image_) + " " + Quoted(large) + " ::/BIG.RAR"));

  const Rescue rescue = RescueImage(image_, out_);
  int unmatched = 0;
  const std::map<std::string, int> counts = Matches(rescue, {{"small", small_bytes}, {"large", large_bytes}},
                                                    &unmatched);
  EXPECT_EQ(unmatched, 0);
  EXPECT_EQ(counts.count("large") ? counts.at("large") : 0, 1);
  EXPECT_EQ(counts.count("small") ? counts.at("small") : 0, kSmallCount / 2);
  EXPECT_EQ(rescue.outcome.rescued_count, static_cast<uint32_t>(kSmallCount / 2 + 1));
}

}  // namespace
}  // namespace quorvex
