#include <gtest/gtest.h>

#include "carvers/carver.h"
#include "photo_disk.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

using testing::LayFile;
using testing::PhotoDisk;
using testing::Put32;
using testing::Range;
using testing::ReadPhotoFixture;
using testing::Union;
using testing::WalkEnv;

constexpr int64_t kStart = 8;

struct RasterCase {
  std::string name;
  CarverFn carver;
  std::vector<uint8_t> file;
  int64_t disk_sectors = 512;
  std::set<int64_t> pre_taken = {};
  int64_t range_end = -1;                  ///< -1: the disk's last sector
  uint32_t sectors_per_cluster = 1;
  /// Expected taken sectors besides the pre-taken ones; empty = the file's own sectors.
  std::optional<std::vector<int64_t>> expected = std::nullopt;
};

std::vector<uint8_t> BmpHeader(uint32_t size_field) {
  std::vector<uint8_t> b(512, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, size_field, false);
  return b;
}

/// A PNG of the given chunks (type, data length), data zero; the CRC is never checked.
std::vector<uint8_t> MakePng(const std::vector<std::pair<std::string, uint32_t>>& chunks) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const auto& [type, length] : chunks) {
    const size_t at = b.size();
    b.resize(at + 12 + length, 0);
    Put32(b, at, length, true);
    std::copy(type.begin(), type.end(), b.begin() + static_cast<std::ptrdiff_t>(at) + 4);
  }
  return b;
}

std::vector<RasterCase> Cases() {
  const auto png = ReadPhotoFixture("plain.png");
  return {
      {"bmp_from_imagemagick", CarveBmp, ReadPhotoFixture("picture.bmp")},
      {"bmp_interleaved", CarveBmp, ReadPhotoFixture("picture.bmp"), 512, {kStart + 2, kStart + 30}},
      {"bmp_1000054_bytes", CarveBmp, BmpHeader(1000054), 2100, {}, -1, 1, Range(kStart, kStart + 1953)},
      {"bmp_size_57_first_sector_and_cluster", CarveBmp, BmpHeader(57), 64, {}, -1, 4, Range(kStart, kStart + 3)},
      {"bmp_size_over_100MiB_first_sector", CarveBmp, BmpHeader(104857601), 64, {}, -1, 1,
       std::vector<int64_t>{kStart}},
      {"bmp_past_range_end_keeps_claims", CarveBmp, BmpHeader(1000054), 2100, {}, kStart + 99, 1,
       Range(kStart, kStart + 99)},
      {"bmp_reserved_not_zero", CarveBmp, [] { auto b = BmpHeader(5000); b[7] = 1; return b; }(), 64, {}, -1, 1,
       std::vector<int64_t>{}},
      {"png_from_imagemagick", CarvePng, png},
      {"png_interleaved", CarvePng, png, 512, {kStart + 1, kStart + 70, kStart + 71, kStart + 200}},
      {"png_with_cluster_tail", CarvePng, png, 512, {}, -1, 8,
       Range(kStart, ((kStart + static_cast<int64_t>((png.size() + 511) / 512) - 1) / 8) * 8 + 7)},
      {"png_chunks_of_8192", CarvePng, MakePng({{"IHDR", 13}, {"PLTE", 8192}, {"IDAT", 8192}, {"IEND", 0}})},
      {"png_idat_999996", CarvePng, MakePng({{"IHDR", 13}, {"IDAT", 999996}, {"IEND", 0}}), 2100},
      {"png_idat_999997", CarvePng, MakePng({{"IHDR", 13}, {"IDAT", 999997}, {"IEND", 0}}), 2100, {}, -1, 1,
       std::vector<int64_t>{}},
      {"png_length_near_4GiB", CarvePng, [] { auto b = MakePng({{"IHDR", 13}, {"IEND", 0}}); Put32(b, 8, 0xFFFFFFFE, true); return b; }(),
       64, {}, -1, 1, std::vector<int64_t>{}},
      {"png_text_chunks", CarvePng, ReadPhotoFixture("with_text.png"), 512, {}, -1, 1, std::vector<int64_t>{}},
      {"png_phys_chunk", CarvePng, MakePng({{"IHDR", 13}, {"pHYs", 9}, {"IDAT", 100}, {"IEND", 0}}), 64, {}, -1, 1,
       std::vector<int64_t>{}},
      {"png_bad_signature", CarvePng, [] { auto b = MakePng({{"IHDR", 13}, {"IEND", 0}}); b[1] = 'Q'; return b; }(),
       64, {}, -1, 1, std::vector<int64_t>{}},
      // The IEND chunk reaches past the scan-range end: the picture stays claimed.
      {"png_iend_past_range_end", CarvePng, MakePng({{"IHDR", 13}, {"IDAT", 1000 - 33 - 12}, {"IEND", 600}}), 64, {},
       kStart + 1, 1, Range(kStart, kStart + 1)},
      // The range ends inside an IDAT chunk: given back.
      {"png_range_ends_in_idat", CarvePng, png, 512, {}, kStart + 100, 1, std::vector<int64_t>{}},
  };
}

class Raster : public ::testing::TestWithParam<RasterCase> {};

TEST_P(Raster, ClaimsExactlyThePicture) {
  const RasterCase& c = GetParam();
  PhotoDisk disk = LayFile(c.file, kStart, c.disk_sectors, c.pre_taken);
  WalkEnv env(disk.bytes, 512, c.sectors_per_cluster);
  if (c.range_end >= 0) env.SetRangeEnd(c.range_end);
  for (int64_t s : c.pre_taken) env.map.ClaimSector(s);
  c.carver(env.ctx, kStart * 512, "");
  const std::vector<int64_t> pre(c.pre_taken.begin(), c.pre_taken.end());
  EXPECT_EQ(env.Taken(), Union(c.expected.value_or(disk.file_sectors), pre));
}

INSTANTIATE_TEST_SUITE_P(Pictures, Raster, ::testing::ValuesIn(Cases()), testing::RowName());

TEST(Raster, TakenStartSectorDoesNothing) {
  for (CarverFn carver : {CarveBmp, CarvePng}) {
    PhotoDisk disk = LayFile(carver == CarveBmp ? ReadPhotoFixture("picture.bmp") : ReadPhotoFixture("plain.png"),
                             kStart, 512);
    WalkEnv env(disk.bytes);
    env.map.ClaimSector(kStart);
    carver(env.ctx, kStart * 512, "");
    EXPECT_EQ(env.Taken(), std::vector<int64_t>{kStart});
  }
}

}  // namespace
}  // namespace quorvex
