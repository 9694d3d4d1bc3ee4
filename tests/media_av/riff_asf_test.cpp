// RIFF and ASF walks on the cases real tools do not write: later RIFF parts, odd chunk
// sizes, sizes past the end, drawing files, the ASF size limit and foreign objects.

#include <gtest/gtest.h>

#include "carvers/carver.h"
#include "media_av/av_fixture.h"
#include "support/param_name.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::Bytes;
using testing::DiskAround;
using testing::PutLe32;
using testing::PutLe64;
using testing::ReadFixture;
using testing::RunWithTail;
using testing::SectorsFor;
using testing::WalkEnv;

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }
void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

TEST(CarveRiff, AviWithALaterRiffPartClaimsBothParts) {
  std::vector<uint8_t> file = ReadFixture("clip.avi");
  // The second part of a long AVI: its own RIFF header (form AVIX) and a "LIST" movi chunk.
  const uint32_t movi_data = 3000;
  Append(file, Bytes("RIFF"));
  AppendLe32(file, 4 + 8 + movi_data);
  Append(file, Bytes("AVIXLIST"));
  AppendLe32(file, movi_data);
  Append(file, Bytes("movi"));
  file.resize(file.size() + movi_data - 4, 0x5A);
  WalkEnv env(DiskAround(file, 2, 8));
  CarveRiff(env.ctx, 2 * 512, "");
  EXPECT_EQ(env.Taken(), RunWithTail(2, SectorsFor(static_cast<int64_t>(file.size()))));
}

TEST(CarveRiff, OddChunkWithPadByteEndsTheWalkAfterIt) {
  // "fmt " of 16 bytes, then "LIST" of 5 bytes and its pad byte, then "data": the header
  // after the odd chunk is read one byte early and is not a walked identifier.
  std::vector<uint8_t> file = Bytes("RIFF");
  AppendLe32(file, 4000);
  Append(file, Bytes("WAVEfmt "));
  AppendLe32(file, 16);
  file.resize(file.size() + 16, 1);
  Append(file, Bytes("LIST"));
  AppendLe32(file, 5);
  Append(file, Bytes("INFOx"));
  file.push_back(0);  // pad
  Append(file, Bytes("data"));
  AppendLe32(file, 2000);
  file.resize(file.size() + 2000, 7);
  WalkEnv env(DiskAround(file, 0, 4), 512, 2, 0);
  CarveRiff(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, 1, 2));  // 49 bytes: one sector and its cluster's rest
}

TEST(CarveRiff, HeaderAcrossASectorBoundaryBeforeALongChunk) {
  // A "data" header straddles the end of sector 0 (at 510); its chunk of 1,024 bytes ends
  // at 1,534, inside sector 2, where a "LIST" chunk follows. Only sectors wholly inside the
  // chunk may be claimed unread, or that next header would be lost.
  std::vector<uint8_t> file = Bytes("RIFF");
  AppendLe32(file, 2000);
  Append(file, Bytes("WAVEJUNK"));
  AppendLe32(file, 490);
  file.resize(510, 0x11);
  Append(file, Bytes("data"));
  AppendLe32(file, 1016);
  file.resize(1534, 0x22);
  Append(file, Bytes("LIST"));
  AppendLe32(file, 100);
  file.resize(1642, 0x33);
  Append(file, Bytes("wxyz"));  // not a walked chunk: the file ends before it
  AppendLe32(file, 8);
  WalkEnv env(DiskAround(file, 0, 4));
  CarveRiff(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(1642)));
}

TEST(CarveRiff, ChunkSizeRunningPastTheEndGivesUp) {
  std::vector<uint8_t> file = ReadFixture("plain.wav");
  const int64_t data = testing::Find(file, Bytes("data"));
  ASSERT_GT(data, 0);
  PutLe32(file, static_cast<size_t>(data + 4), 0x7FFFFFF0);
  WalkEnv env(DiskAround(file, 0, 6));
  const auto before = env.map.bytes();
  CarveRiff(env.ctx, 0, "");
  EXPECT_EQ(env.map.bytes(), before);
}

TEST(CarveRiff, NotRiffClaimsNothing) {
  std::vector<uint8_t> file = ReadFixture("plain.wav");
  file[0] = 'X';
  WalkEnv env(DiskAround(file, 0, 2));
  CarveRiff(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

std::vector<uint8_t> Drawing(uint32_t length) {
  std::vector<uint8_t> file = Bytes("RIFF");
  AppendLe32(file, length - 8);
  Append(file, Bytes("CDR9vrsn"));
  file.resize(length, 0x33);
  return file;
}

TEST(CarveRiffCdr, EndInsideTheFirstSectorClaimsNothing) {
  WalkEnv env(DiskAround(Drawing(400), 0, 4));
  CarveRiffCdr(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

TEST(CarveRiffCdr, InterleavedSectorsAreSteppedOverUpToTheDeclaredLength) {
  const std::vector<uint8_t> file = Drawing(5000);  // 10 sectors
  std::vector<uint8_t> disk = DiskAround(file, 0, 8);
  disk.insert(disk.begin() + 3 * 512, 2 * 512, 0xEE);  // sectors 3-4 hold another file
  WalkEnv env(disk);
  env.map.ClaimRun(3, 2);
  CarveRiffCdr(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, 12));
}

TEST(CarveRiffCdr, ScanRangeEndGivesUp) {
  WalkEnv env(DiskAround(Drawing(5000), 0, 8));
  env.SetRangeEnd(6);
  const auto before = env.map.bytes();
  CarveRiffCdr(env.ctx, 0, "");
  EXPECT_EQ(env.map.bytes(), before);
}

constexpr int64_t kAsfLimit = 21474836480;  // 5 x 2^32
constexpr size_t kFileSizeField = 70;

struct AsfSizeRow {
  std::string name;
  int64_t file_size;
  bool claims_range;
};

class AsfFileSize : public ::testing::TestWithParam<AsfSizeRow> {};

TEST_P(AsfFileSize, LimitDecides) {
  std::vector<uint8_t> file = ReadFixture("clip.wmv");
  PutLe64(file, kFileSizeField, static_cast<uint64_t>(GetParam().file_size));
  WalkEnv env(DiskAround(file, 0, 10));
  CarveAsf(env.ctx, 0, "");
  if (GetParam().claims_range) {
    // The size runs past the disk: every sector up to the scan-range end stays claimed.
    EXPECT_EQ(env.Taken(), RunWithTail(0, env.map.last_sector() + 1));
  } else {
    EXPECT_TRUE(env.Taken().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Limit, AsfFileSize,
                         ::testing::Values(AsfSizeRow{"AtTheLimit", kAsfLimit, true},
                                           AsfSizeRow{"OneAbove", kAsfLimit + 1, false}),
                         testing::RowName());

TEST(CarveAsf, NegativeFileSizeClaimsTheFirstSectorOnly) {
  std::vector<uint8_t> file = ReadFixture("clip.wmv");
  PutLe64(file, kFileSizeField, ~uint64_t{0});
  WalkEnv env(DiskAround(file, 0, 4), 512, 4, 0);
  CarveAsf(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, 1, 4));
}

// The real file with one object inserted after the Header Object.
std::vector<uint8_t> WithObjectAfterHeader(const std::vector<uint8_t>& guid, uint64_t size) {
  std::vector<uint8_t> file = ReadFixture("clip.wmv");
  const auto header_size = static_cast<size_t>(file[16] | file[17] << 8 | file[18] << 16);
  std::vector<uint8_t> object = guid;
  object.resize(24 + 8, 0);
  PutLe64(object, 16, size);
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(header_size), object.begin(), object.end());
  return file;
}

TEST(CarveAsfObjects, UnlistedTopLevelObjectClaimsNothing) {
  const std::vector<uint8_t> foreign = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                        0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00};
  WalkEnv env(DiskAround(WithObjectAfterHeader(foreign, 32), 0, 4));
  CarveAsfObjects(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

TEST(CarveAsfObjects, ObjectOfTheOtherAcceptedFamilyIsSteppedOver) {
  const std::vector<uint8_t> other = {0x01, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                      0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
  const auto file = WithObjectAfterHeader(other, 32);
  const std::vector<uint8_t> simple_index = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11};
  const int64_t end = testing::Find(file, simple_index, 30);
  ASSERT_GT(end, 0);
  WalkEnv env(DiskAround(file, 0, 4));
  CarveAsfObjects(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(end)));
}

struct AsfObjectSizeRow {
  std::string name;
  uint64_t size;
};

class AsfObjectSize : public ::testing::TestWithParam<AsfObjectSizeRow> {};

TEST_P(AsfObjectSize, OutOfBoundsGivesUp) {
  const std::vector<uint8_t> family = {0x31, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  WalkEnv env(DiskAround(WithObjectAfterHeader(family, GetParam().size), 0, 4));
  CarveAsfObjects(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, AsfObjectSize,
                         ::testing::Values(AsfObjectSizeRow{"HeaderOnly", 24}, AsfObjectSizeRow{"Zero", 0},
                                           AsfObjectSizeRow{"AboveLimit", kAsfLimit + 1},
                                           AsfObjectSizeRow{"Negative", ~uint64_t{0}}),
                         testing::RowName());

}  // namespace
}  // namespace quorvex
