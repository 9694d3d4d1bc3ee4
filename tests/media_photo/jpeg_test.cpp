#include <gtest/gtest.h>

#include "carvers/carver.h"
#include "engine/thumbs.h"
#include "photo_disk.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

using testing::LayFile;
using testing::PhotoDisk;
using testing::Range;
using testing::ReadPhotoFixture;
using testing::Union;
using testing::WalkEnv;

constexpr int64_t kStart = 8;
constexpr int64_t kDiskSectors = 128;

/// A segment (marker type, payload) inserted right after the start-of-image marker.
std::vector<uint8_t> WithSegment(const std::vector<uint8_t>& jpeg, uint8_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  const size_t length = payload.size() + 2;
  for (uint8_t b : {uint8_t{0xFF}, type, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)})
    out.push_back(b);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

struct AcceptCase {
  std::string name;
  std::vector<uint8_t> file;
  std::set<int64_t> pre_taken;  ///< sectors an earlier walk holds inside the picture
};

std::vector<AcceptCase> AcceptCases() {
  const auto baseline = ReadPhotoFixture("baseline.jpg");
  // A comment segment sized so that the end marker's FF ends one sector and D9 opens the next.
  const size_t pad = (512 - (baseline.size() + 4 - 1) % 512) % 512 + 512;
  auto split = WithSegment(baseline, 0xFE, std::vector<uint8_t>(pad, 'c'));
  EXPECT_EQ((split.size() - 1) % 512, 0u);
  // An Exif segment holding a whole thumbnail JPEG (with its own FF D9) before the scan.
  std::vector<uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0};
  const auto thumb = ReadPhotoFixture("thumb_160x120.jpg");
  exif.insert(exif.end(), thumb.begin(), thumb.end());
  return {
      {"baseline", baseline, {}},
      {"progressive", ReadPhotoFixture("progressive.jpg"), {}},
      {"no_app0_first_marker", ReadPhotoFixture("noapp0.jpg"), {}},
      {"end_marker_split_across_sectors", split, {}},
      {"exif_thumbnail_before_scan", WithSegment(baseline, 0xE1, exif), {}},
      {"interleaved_with_taken_sectors", baseline, {kStart + 3, kStart + 4, kStart + 20}},
  };
}

class JpegAccepts : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(JpegAccepts, ClaimsExactlyThePicture) {
  const AcceptCase& c = GetParam();
  PhotoDisk disk = LayFile(c.file, kStart, kDiskSectors, c.pre_taken);
  WalkEnv env(disk.bytes);
  for (int64_t s : c.pre_taken) env.map.ClaimSector(s);
  CarveJpeg(env.ctx, kStart * 512, "");
  EXPECT_EQ(env.Taken(), Union(disk.file_sectors, {c.pre_taken.begin(), c.pre_taken.end()}));
}

INSTANTIATE_TEST_SUITE_P(Pictures, JpegAccepts, ::testing::ValuesIn(AcceptCases()), testing::RowName());

struct DropCase {
  std::string name;
  std::vector<uint8_t> file;
  int64_t range_end = kDiskSectors - 1;
};

std::vector<DropCase> DropCases() {
  const auto baseline = ReadPhotoFixture("baseline.jpg");
  std::vector<DropCase> cases;
  for (int length : {0, 1, 2}) {
    auto bad = baseline;
    bad[4] = 0;
    bad[5] = static_cast<uint8_t>(length);  // the APP0 segment's length
    cases.push_back({"segment_length_" + std::to_string(length), bad});
  }
  auto bad_prefix = baseline;
  bad_prefix[2] = 0xFE;  // FF D8 FE: not a JPEG
  cases.push_back({"bad_signature", bad_prefix});
  auto bad_marker = baseline;
  bad_marker[20] = 0x00;  // the segment after APP0 (JFIF is 16 + 2 bytes long) loses its FF
  cases.push_back({"marker_prefix_not_ff", bad_marker});
  // Cut in the entropy-coded data: no end marker before the scan range ends.
  cases.push_back({"truncated_no_end_marker", {baseline.begin(), baseline.begin() + 9000}});
  cases.push_back({"scan_range_ends_inside", baseline, kStart + 10});
  return cases;
}

class JpegDrops : public ::testing::TestWithParam<DropCase> {};

TEST_P(JpegDrops, LeavesTheMapAsBefore) {
  const DropCase& c = GetParam();
  PhotoDisk disk = LayFile(c.file, kStart, kDiskSectors);
  WalkEnv env(disk.bytes, 512, 4);
  env.SetRangeEnd(c.range_end);
  env.map.ClaimSector(2);  // a claim of an earlier walk stays
  const auto before = env.map.bytes();
  CarveJpeg(env.ctx, kStart * 512, "");
  EXPECT_EQ(env.map.bytes(), before);
}

INSTANTIATE_TEST_SUITE_P(Malformed, JpegDrops, ::testing::ValuesIn(DropCases()), testing::RowName());

TEST(Jpeg, TakenStartSectorDoesNothing) {
  PhotoDisk disk = LayFile(ReadPhotoFixture("baseline.jpg"), kStart, kDiskSectors);
  WalkEnv env(disk.bytes);
  env.map.ClaimSector(kStart);
  CarveJpeg(env.ctx, kStart * 512, "");
  EXPECT_EQ(env.Taken(), std::vector<int64_t>{kStart});
  EXPECT_EQ(env.device->reads(), 0u);
}

TEST(Jpeg, UndecodablePictureKeepsItsSectorsAndClusterTail) {
  auto bad = ReadPhotoFixture("baseline.jpg");
  // The frame header's sample precision becomes 9 bits: the structure is complete, the decoder
  // refuses it with a fatal error.
  size_t sof = 2;
  while (!(bad[sof] == 0xFF && bad[sof + 1] == 0xC0)) sof += 2 + ((bad[sof + 2] << 8) | bad[sof + 3]);
  bad[sof + 4] = 9;
  PhotoDisk disk = LayFile(bad, kStart, kDiskSectors);
  WalkEnv env(disk.bytes, 512, 8);
  CarveJpeg(env.ctx, kStart * 512, "");
  const int64_t last = disk.file_sectors.back();
  EXPECT_EQ(env.Taken(), Range(kStart, (last / 8) * 8 + 7));
}

TEST(Jpeg, ClusterTailAfterTheThirdSectorOfTheLastCluster) {
  const auto thumb = ReadPhotoFixture("thumb_161x120.jpg");  // 4,067 bytes: 8 sectors
  std::vector<uint8_t> file = WithSegment(thumb, 0xFE, std::vector<uint8_t>(1024 + 100, 'c'));
  ASSERT_EQ((file.size() + 511) / 512, 11u);  // one full cluster and 3 sectors of the next
  PhotoDisk disk = LayFile(file, kStart, kDiskSectors);
  WalkEnv env(disk.bytes, 512, 8);
  CarveJpeg(env.ctx, kStart * 512, "");
  EXPECT_EQ(env.Taken(), Range(kStart, kStart + 15));
}

struct ThumbCase {
  std::string name;
  std::string fixture;
  ThumbSettings settings;
  bool kept;
};

class JpegThumbs : public ::testing::TestWithParam<ThumbCase> {};

TEST_P(JpegThumbs, ThumbnailsAreGivenBack) {
  const ThumbCase& c = GetParam();
  PhotoDisk disk = LayFile(ReadPhotoFixture(c.fixture), kStart, kDiskSectors);
  WalkEnv env(disk.bytes, 512, 4);
  env.ctx.thumbs = &c.settings;
  CarveJpeg(env.ctx, kStart * 512, "");
  if (c.kept) {
    EXPECT_EQ(env.Taken(), Range(kStart, (disk.file_sectors.back() / 4) * 4 + 3));
  } else {
    EXPECT_TRUE(env.Taken().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, JpegThumbs,
    ::testing::Values(ThumbCase{"limit_releases_160x120", "thumb_160x120.jpg", {19200, std::nullopt}, false},
                      ThumbCase{"limit_keeps_161x120", "thumb_161x120.jpg", {19200, std::nullopt}, true},
                      ThumbCase{"list_releases_above_limit", "thumb_160x120.jpg", {100, std::vector<int32_t>{19200}},
                                false},
                      ThumbCase{"list_without_match_keeps", "thumb_161x120.jpg", {100, std::vector<int32_t>{19200}},
                                true},
                      ThumbCase{"empty_list_keeps", "thumb_160x120.jpg", {-1, std::vector<int32_t>{}}, true},
                      ThumbCase{"no_settings_keeps", "thumb_160x120.jpg", {}, true}),
    testing::RowName());

// A structure of a start-of-image marker, a scan header and zeros whose end marker sits at a
// chosen distance: found within the first 33,554,944 bytes (with 512-byte sectors), not beyond.
TEST(Jpeg, EndMarkerSearchStopsAt32MiB) {
  for (const auto& [end, found] : {std::pair<size_t, bool>{33554944, true}, {33554944 + 512, false}}) {
    std::vector<uint8_t> file(end, 0);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08};
    std::copy(std::begin(head), std::end(head), file.begin());
    file[end - 2] = 0xFF;
    file[end - 1] = 0xD9;
    const auto sectors = static_cast<int64_t>(end / 512);
    PhotoDisk disk = LayFile(file, 0, sectors + 4);
    WalkEnv env(disk.bytes);
    CarveJpeg(env.ctx, 0, "");
    // The decoder rejects this picture (no frame header): a found end keeps the sectors.
    EXPECT_EQ(env.Taken().size(), found ? static_cast<size_t>(sectors) : 0u) << end;
  }
}

}  // namespace
}  // namespace quorvex
