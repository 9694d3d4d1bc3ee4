// End to end through the engine: a FAT12 image (made by mkfs.fat and mtools, see
// tests/data/media_photo/make.sh) in which the deleted AROUND.ZIP lies on both sides of the
// deleted PHOTO.JPG. Pass 2 walks the JPEG first (the later candidate) and claims its
// clusters, so the ZIP walk steps over them and the ZIP comes back byte-identical. With the
// JPEG's signature wiped, nothing claims those clusters and the ZIP cannot be reassembled.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/scan_driver.h"
#include "engine/scan_options.h"
#include "photo_disk.h"
#include "platform/sector_device.h"
#include "source/geometry.h"
#include "source/sector_reader.h"
#include "support/fake_run.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadPhotoFixture;

constexpr size_t kSectorsPerClusterAt = 13;
constexpr size_t kReservedSectorsAt = 14;
constexpr size_t kFatCountAt = 16;
constexpr size_t kRootEntriesAt = 17;
constexpr size_t kFatSectorsAt = 22;

uint32_t Le16At(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }

struct Row {
  std::string name;
  bool wipe_jpeg_signature;
  bool zip_back;
};

class PhotoEndToEnd : public ::testing::TestWithParam<Row> {};

TEST_P(PhotoEndToEnd, ZipAroundJpegIsRescuedThanksToTheJpegWalk) {
  const Row& row = GetParam();
  const fs::path scratch = fs::temp_directory_path() / ("quorvex_photo_" + row.name + "_" + std::to_string(::getpid()));
  fs::remove_all(scratch);
  fs::create_directories(scratch / "out");
  auto image = ReadPhotoFixture("fat_e2e.img");
  ASSERT_GE(image.size(), 512u);
  const auto jpeg = ReadPhotoFixture("baseline.jpg");
  const auto zip = ReadPhotoFixture("around.zip");
  if (row.wipe_jpeg_signature) {
    const auto at = std::search(image.begin(), image.end(), jpeg.begin(), jpeg.begin() + 512);
    ASSERT_NE(at, image.end());
    at[0] = 0;  // no longer FF D8 FF: the sector is not a JPEG candidate
  }
  const fs::path image_path = scratch / "fat.img";
  std::ofstream(image_path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                     static_cast<std::streamsize>(image.size()));

  SourceState source;
  SectorReader reader;
  int err = 0;
  source.device = OpenPosixDevice(image_path.string(), &err);
  ASSERT_TRUE(source.device) << err;
  const uint32_t spc = image[kSectorsPerClusterAt];
  const uint32_t root_sectors = (Le16At(image, kRootEntriesAt) * 32 + 511) / 512;
  const uint32_t data_start =
      Le16At(image, kReservedSectorsAt) + image[kFatCountAt] * Le16At(image, kFatSectorsAt) + root_sectors;
  source.kind = SourceKind::kImageFile;
  source.path = source.name = image_path.string();
  source.working.last_sector = source.device->Length() / 512 - 1;
  source.working.bytes_per_sector = 512;
  source.working.sectors_per_cluster = spc;
  source.working.cluster_offset = static_cast<int32_t>(data_start % spc);
  source.working.fs_kind = FsKind::kFat12;
  source.detected = source.working;
  reader.SetDevice(source.device.get());
  reader.SetBytesPerSector(512);
  reader.SetRangeLastSector(source.working.last_sector);

  ScanSettings settings;
  settings.output_folder = (scratch / "out").string() + "/";
  settings.first_sector = 0;
  settings.last_sector = source.working.last_sector;
  settings.type_mask = 1u << kMaskBitZip;
  settings.sectors_per_cluster = spc;
  settings.cluster_offset = source.working.cluster_offset;
  testing::FakeRun run;
  const RescueOutcome outcome = RunRescue(source, reader, settings, run);
  EXPECT_EQ(outcome.message_slot, 0);

  bool identical = false;
  for (const auto& entry : fs::directory_iterator(scratch / "out")) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> saved{std::istreambuf_iterator<char>(in), {}};
    identical = identical || saved == zip;
  }
  EXPECT_EQ(identical, row.zip_back);
  if (row.zip_back) {
    EXPECT_EQ(outcome.rescued_count, 1u);
  }
  reader.SetDevice(nullptr);
  fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(Image, PhotoEndToEnd,
                         ::testing::Values(Row{"jpeg_walked_first", false, true},
                                           Row{"jpeg_not_recognised", true, false}),
                         testing::RowName());

}  // namespace
}  // namespace quorvex
