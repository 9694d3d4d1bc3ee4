// End to end through the engine: a FAT12 image (made by mkfs.fat and mtools, see
// tests/data/archive_cab_7z/make.sh) holding deleted cabinets and 7z archives. The file
// system laid MULTI.CAB around a 7z that begins after it; pass 2 walks that 7z first (the
// later candidate) and claims its clusters, so the cabinet walk steps over them. V04.7Z is
// of format 0.4, the one today's 7-Zip writes: rescued unless only the classic formats
// are asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_cab_7z/cab_7z_fixture.h"
#include "engine/identify.h"
#include "engine/scan_driver.h"
#include "engine/scan_options.h"
#include "platform/sector_device.h"
#include "source/geometry.h"
#include "source/sector_reader.h"
#include "support/fake_run.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadArchiveFixture;
using testing::ScratchFolder;

// FAT boot record fields for the cluster grid.
constexpr size_t kSectorsPerClusterAt = 13;
constexpr size_t kReservedSectorsAt = 14;  // u16
constexpr size_t kFatCountAt = 16;
constexpr size_t kRootEntriesAt = 17;      // u16
constexpr size_t kFatSectorsAt = 22;       // u16 (FAT12/16)

uint32_t Le16At(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }

/// The image opened as an image file: 512-byte sectors, the cluster grid of its boot record.
bool OpenFatImage(const fs::path& image, SourceState& source, SectorReader& reader) {
  int err = 0;
  source.device = OpenPosixDevice(image.string(), &err);
  if (!source.device) return false;
  const auto boot = testing::ReadFileBytes(image);
  if (boot.size() < 512) return false;
  const uint32_t spc = boot[kSectorsPerClusterAt];
  const uint32_t root_sectors = (Le16At(boot, kRootEntriesAt) * 32 + 511) / 512;
  const uint32_t data_start =
      Le16At(boot, kReservedSectorsAt) + boot[kFatCountAt] * Le16At(boot, kFatSectorsAt) + root_sectors;
  source.kind = SourceKind::kImageFile;
  source.path = image.string();
  source.name = image.string();
  source.working.last_sector = source.device->Length() / 512 - 1;
  source.working.bytes_per_sector = 512;
  source.working.sectors_per_cluster = spc;
  source.working.cluster_offset = static_cast<int32_t>(data_start % spc);
  source.working.fs_kind = FsKind::kFat12;
  source.detected = source.working;
  reader.SetDevice(source.device.get());
  reader.SetBytesPerSector(512);
  reader.SetRangeLastSector(source.working.last_sector);
  return true;
}

bool IdentifierKnowsCabAnd7z() {
  auto cab = ReadArchiveFixture("multi.cab");
  auto sevenz = ReadArchiveFixture("store_mid_v03.7z");
  return IdentifySector(cab.data(), 512) == type_code::kCab && IdentifySector(sevenz.data(), 512) == type_code::k7z;
}

struct EndToEndRow {
  const char* name;
  bool classic;
  std::vector<std::string> expected;  // fixtures expected back, in any order
};

class CabSevenZipEndToEnd : public ::testing::TestWithParam<EndToEndRow> {};

TEST_P(CabSevenZipEndToEnd, DeletedArchivesComeBackByteIdentical) {
  if (!IdentifierKnowsCabAnd7z()) GTEST_SKIP() << "the sector identifier does not know cabinets and 7z yet";
  const EndToEndRow& row = GetParam();
  SourceState source;
  SectorReader reader;
  ASSERT_TRUE(OpenFatImage(fs::path(QUORVEX_TEST_DATA) / "archive_cab_7z" / "fat_e2e.img", source, reader));
  ASSERT_EQ(source.working.sectors_per_cluster, 2u);  // the image's 1 KiB clusters

  ScratchFolder out(row.name);
  ScanSettings settings;
  settings.output_folder = out.folder();
  settings.first_sector = 0;
  settings.last_sector = source.working.last_sector;
  settings.type_mask = (1u << kMaskBitCab) | (1u << kMaskBit7z);
  settings.sectors_per_cluster = source.working.sectors_per_cluster;
  settings.cluster_offset = source.working.cluster_offset;
  settings.classic = row.classic;
  testing::FakeRun run;
  const RescueOutcome outcome = RunRescue(source, reader, settings, run);
  EXPECT_EQ(outcome.message_slot, 0);
  EXPECT_EQ(outcome.rescued_count, row.expected.size());

  std::vector<std::vector<uint8_t>> saved, expected;
  for (const fs::path& file : out.Files()) saved.push_back(testing::ReadFileBytes(file));
  for (const std::string& name : row.expected) expected.push_back(ReadArchiveFixture(name));
  std::sort(saved.begin(), saved.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(saved == expected) << out.Files().size() << " files saved";
  reader.SetDevice(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Image, CabSevenZipEndToEnd,
    ::testing::Values(
        EndToEndRow{"today", false, {"multi.cab", "store_mid_v03.7z", "lzma.7z", "mszip.cab", "solid_v03.7z"}},
        EndToEndRow{"classic", true, {"multi.cab", "store_mid_v03.7z", "mszip.cab", "solid_v03.7z"}}),
    [](const ::testing::TestParamInfo<EndToEndRow>& row_info) { return std::string(row_info.param.name); });

}  // namespace
}  // namespace quorvex
