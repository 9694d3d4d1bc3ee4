#include <gtest/gtest.h>

#include "carvers/carver.h"
#include "photo_disk.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

using testing::Get32;
using testing::LayFile;
using testing::PhotoDisk;
using testing::Put16;
using testing::Put32;
using testing::Range;
using testing::ReadPhotoFixture;
using testing::Union;
using testing::WalkEnv;

constexpr int64_t kStart = 8;

// --- hand-made TIFF pieces ----------------------------------------------------------------
struct TiffEntry {
  uint16_t tag, type;
  uint32_t count, value;
};

/// A TIFF of `size` bytes with the IFDs given at their offsets (entries, next-IFD offset).
struct TiffBuilder {
  bool big = false;
  std::vector<uint8_t> bytes;
  TiffBuilder(size_t size, bool big_endian, uint32_t first_ifd) : big(big_endian), bytes(size, 0) {
    const uint8_t le[] = {0x49, 0x49, 0x2A, 0x00}, be[] = {0x4D, 0x4D, 0x00, 0x2A};
    std::copy(big ? be : le, (big ? be : le) + 4, bytes.begin());
    Put32(bytes, 4, first_ifd, big);
  }
  TiffBuilder& Ifd(size_t at, const std::vector<TiffEntry>& entries, uint32_t next) {
    Put16(bytes, at, static_cast<uint16_t>(entries.size()), big);
    size_t p = at + 2;
    for (const TiffEntry& e : entries) {
      Put16(bytes, p, e.tag, big);
      Put16(bytes, p + 2, e.type, big);
      Put32(bytes, p + 4, e.count, big);
      if (e.type == 3 && e.count <= 2) {  // SHORT values sit in the first bytes of the field
        Put16(bytes, p + 8, static_cast<uint16_t>(e.value >> 16), big);
        Put16(bytes, p + 10, static_cast<uint16_t>(e.value), big);
      } else {
        Put32(bytes, p + 8, e.value, big);
      }
      p += 12;
    }
    Put32(bytes, p, next, big);
    return *this;
  }
  TiffBuilder& Text(size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return *this;
  }
  TiffBuilder& Long(size_t at, uint32_t v) {
    Put32(bytes, at, v, big);
    return *this;
  }
};

/// pages_le.tif with its Orientation entry turned into a pointer (tag 34665, the given field
/// type) to an Exif IFD appended at the end, whose one out-of-line value ends 600 bytes later.
std::vector<uint8_t> TiffWithExifIfd(uint16_t pointer_type, size_t* original_size) {
  auto file = ReadPhotoFixture("pages_le.tif");
  *original_size = file.size();
  const uint32_t ifd0 = Get32(file, 4, false);
  const uint16_t entries = static_cast<uint16_t>(file[ifd0] | (file[ifd0 + 1] << 8));
  const auto exif_at = static_cast<uint32_t>(file.size());
  for (size_t i = 0; i < entries; ++i) {
    const size_t p = ifd0 + 2 + 12 * i;
    if ((file[p] | (file[p + 1] << 8)) != 274) continue;
    Put16(file, p, 34665, false);
    Put16(file, p + 2, pointer_type, false);
    Put32(file, p + 4, 1, false);
    Put32(file, p + 8, exif_at, false);
  }
  file.resize(exif_at + 18 + 600 + 8, 0);
  Put16(file, exif_at, 1, false);
  Put16(file, exif_at + 2, 33434, false);  // ExposureTime, one RATIONAL out of line
  Put16(file, exif_at + 4, 5, false);
  Put32(file, exif_at + 6, 1, false);
  Put32(file, exif_at + 10, exif_at + 18 + 600, false);
  Put32(file, exif_at + 14, 0, false);
  return file;
}

struct RawCase {
  std::string name;
  CarverFn carver;
  std::vector<uint8_t> file;
  /// Number of the file's sectors expected taken; nullopt = all; 0 = none.
  std::optional<int64_t> sectors = std::nullopt;
  std::set<int64_t> pre_taken = {};
  int64_t range_end = -1;
};

std::vector<RawCase> Cases() {
  size_t original = 0;
  const auto exif = TiffWithExifIfd(4, &original);
  const auto ifd_typed = TiffWithExifIfd(13, &original);
  const auto original_sectors = static_cast<int64_t>((original + 511) / 512);
  std::vector<TiffEntry> many;
  for (uint16_t i = 0; i < 198; ++i) many.push_back({static_cast<uint16_t>(1000 + i), 3, 1, 7u << 16});
  many.push_back({273, 3, 2, (300u << 16) | 700u});  // SHORT offsets above 255
  many.push_back({279, 3, 2, (10u << 16) | 5000u});  // strip 2 ends at 5,700
  return {
      {"tiff_three_ifds_le", CarveTiffRaw, ReadPhotoFixture("pages_le.tif")},
      {"tiff_two_ifds_be", CarveTiffRaw, ReadPhotoFixture("pages_be.tif")},
      {"tiff_interleaved", CarveTiffRaw, ReadPhotoFixture("pages_le.tif"), std::nullopt, {kStart + 5, kStart + 90}},
      {"tiff_exif_ifd_gathered", CarveTiffRaw, exif},
      {"tiff_pointer_of_type_ifd_skipped", CarveTiffRaw, ifd_typed, original_sectors},
      {"tiff_be_200_entries_short_offsets", CarveTiffRaw, TiffBuilder(6000, true, 8).Ifd(8, many, 0).bytes, 12},
      {"tiff_chain_points_back", CarveTiffRaw,
       TiffBuilder(1200, false, 8).Ifd(8, {{256, 3, 1, 5}}, 600).Ifd(600, {{330, 4, 1, 8}}, 8).bytes, 2},
      {"tiff_ifd_points_to_itself", CarveTiffRaw, TiffBuilder(512, false, 8).Ifd(8, {{256, 3, 1, 5}}, 8).bytes, 1},
      // SubIFDs as three SHORTs ending exactly at a sector end: 6 bytes gathered, and only
      // those are read (one 32-bit offset, leading back to IFD0).
      {"tiff_pointer_with_short_values", CarveTiffRaw,
       TiffBuilder(1536, false, 8).Ifd(8, {{330, 3, 3, 1530}}, 0).Long(1530, 8).bytes, 3},
      {"tiff_field_type_0", CarveTiffRaw, TiffBuilder(512, false, 8).Ifd(8, {{256, 0, 1, 5}}, 0).bytes, 0},
      {"tiff_field_type_21", CarveTiffRaw, TiffBuilder(512, false, 8).Ifd(8, {{256, 21, 1, 5}}, 0).bytes, 0},
      {"tiff_field_type_16_skipped", CarveTiffRaw,
       TiffBuilder(512, false, 8).Ifd(8, {{273, 16, 1, 90000000}}, 0).bytes, 1},
      {"tiff_no_entries", CarveTiffRaw, TiffBuilder(512, false, 8).Ifd(8, {}, 0).bytes, 0},
      {"tiff_strip_past_200MiB", CarveTiffRaw,
       TiffBuilder(512, false, 8).Ifd(8, {{273, 4, 1, 209715000}, {279, 4, 1, 300}}, 0).bytes, 0},
      {"tiff_strip_offset_wraps_32_bits", CarveTiffRaw,
       TiffBuilder(512, false, 8).Ifd(8, {{273, 4, 1, 0xFFFFFF00}, {279, 4, 1, 0x200}}, 0).bytes, 0},
      {"tiff_raw_offset_tag_280", CarveTiffRaw,
       TiffBuilder(6000, false, 8).Ifd(8, {{273, 4, 1, 0xFFFFFFFF}, {279, 4, 1, 100}, {280, 4, 1, 5000}}, 0).bytes,
       10},
      {"tiff_maker_note_stmn", CarveTiffRaw,
       TiffBuilder(4096, false, 8).Ifd(8, {{37500, 7, 16, 100}}, 0).Text(100, "STMN0100").Long(108, 3000).Long(112, 1000)
           .bytes,
       8},
      {"tiff_maker_note_stmx_ignored", CarveTiffRaw,
       TiffBuilder(4096, false, 8).Ifd(8, {{37500, 7, 16, 100}}, 0).Text(100, "STMX0100").Long(108, 3000).Long(112, 1000)
           .bytes,
       1},
      {"tiff_range_ends_inside", CarveTiffRaw, ReadPhotoFixture("pages_le.tif"), 0, {}, kStart + 40},
  };
}

std::vector<uint8_t> X3f(size_t directory_at, uint32_t entries, size_t size) {
  std::vector<uint8_t> b(size, 0);
  std::copy_n("FOVb", 4, b.begin());
  std::copy_n("SECd", 4, b.begin() + static_cast<std::ptrdiff_t>(directory_at));
  Put32(b, directory_at + 8, entries, false);
  Put32(b, directory_at + 12 + 12 * entries, static_cast<uint32_t>(directory_at), false);
  return b;
}

std::vector<uint8_t> Raf(uint32_t jpeg_offset, uint32_t raw_offset, uint32_t raw_length, uint32_t second_offset,
                         uint32_t second_length) {
  std::vector<uint8_t> b(512, 0);
  std::copy_n("FUJIFILMCCD-RAW ", 16, b.begin());
  Put32(b, 84, jpeg_offset, true);
  Put32(b, 100, raw_offset, true);
  Put32(b, 104, raw_length, true);
  Put32(b, 128, second_offset, true);
  Put32(b, 132, second_length, true);
  return b;
}

std::vector<RawCase> OtherCases() {
  return {
      {"x3f_three_entries", CarveX3f, X3f(2000, 3, 2052), 5},
      {"x3f_pointer_in_first_sector_not_seen", CarveX3f, X3f(100, 3, 152), 0},
      {"x3f_bad_signature", CarveX3f, [] { auto b = X3f(2000, 3, 2052); b[0] = 'G'; return b; }(), 0},
      {"x3f_interleaved", CarveX3f, X3f(3000, 1, 3028), 6, {kStart + 2}},
      {"raf_second_block_ends_later", CarveRaf, Raf(148, 2000, 3000, 6000, 1000), 14},
      {"raf_second_block_ignored_without_148", CarveRaf, Raf(150, 2000, 3000, 6000, 1000), 10},
      {"raf_past_range_end_keeps_claims", CarveRaf, Raf(148, 2000, 3000, 6000, 1000), 4, {}, kStart + 3},
      {"raf_past_200MiB", CarveRaf, Raf(0, 209715000, 1000, 0, 0), 0},
      {"raf_end_wraps_32_bits", CarveRaf, Raf(0, 0xFFFFF000, 0x2000, 0, 0), 0},
  };
}

class Raw : public ::testing::TestWithParam<RawCase> {};

TEST_P(Raw, ClaimsExactlyTheFile) {
  const RawCase& c = GetParam();
  PhotoDisk disk = LayFile(c.file, kStart, 400, c.pre_taken, 0x5A);
  WalkEnv env(disk.bytes);
  if (c.range_end >= 0) env.SetRangeEnd(c.range_end);
  for (int64_t s : c.pre_taken) env.map.ClaimSector(s);
  c.carver(env.ctx, kStart * 512, "");
  std::vector<int64_t> expected = disk.file_sectors;
  if (c.sectors) {
    // A header-only file (RAF) claims sectors beyond its own bytes: they follow on.
    while (expected.size() < static_cast<size_t>(*c.sectors)) expected.push_back(expected.back() + 1);
    expected.resize(static_cast<size_t>(*c.sectors));
  }
  EXPECT_EQ(env.Taken(), Union(expected, {c.pre_taken.begin(), c.pre_taken.end()}));
}

INSTANTIATE_TEST_SUITE_P(Tiff, Raw, ::testing::ValuesIn(Cases()), testing::RowName());
INSTANTIATE_TEST_SUITE_P(X3fRaf, Raw, ::testing::ValuesIn(OtherCases()), testing::RowName());

TEST(Raw, TakenStartSectorDoesNothing) {
  for (CarverFn carver : {CarveTiffRaw, CarveX3f, CarveRaf}) {
    PhotoDisk disk = LayFile(carver == CarveTiffRaw ? ReadPhotoFixture("pages_le.tif")
                             : carver == CarveX3f   ? X3f(2000, 3, 2052)
                                                    : Raf(148, 2000, 3000, 6000, 1000),
                             kStart, 400);
    WalkEnv env(disk.bytes, 512, 4);
    env.map.ClaimSector(kStart);
    carver(env.ctx, kStart * 512, "");
    EXPECT_EQ(env.Taken(), std::vector<int64_t>{kStart});
  }
}

TEST(Raw, AcceptedFileTakesItsClusterTail) {
  PhotoDisk disk = LayFile(X3f(2000, 3, 2052), kStart, 400);
  WalkEnv env(disk.bytes, 512, 8);
  CarveX3f(env.ctx, kStart * 512, "");
  EXPECT_EQ(env.Taken(), Range(kStart, kStart + 7));
}

}  // namespace
}  // namespace quorvex
