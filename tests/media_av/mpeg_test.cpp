// The MPEG program-stream and 192-byte transport-stream walks on variations of real ffmpeg
// streams: the clock test at cluster boundaries, a pack of another MPEG version, the
// program end code, a pack with a cleared marker bit, and lost sync.

#include <gtest/gtest.h>

#include "carvers/carver.h"
#include "media_av/av_fixture.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::DiskAround;
using testing::PutBe32;
using testing::ReadFixture;
using testing::RunWithTail;
using testing::SectorsFor;
using testing::WalkEnv;

// ffmpeg writes a pack header every 4,096 bytes of this stream (two 2,048-byte packets).
constexpr size_t kPackSpacing = 4096;

TEST(CarveMpegPs, ClusterFromAnotherVideoWithClockRunningBackEndsTheStream) {
  const std::vector<uint8_t> stream = ReadFixture("clip.mpg");
  ASSERT_GE(stream.size(), 3 * kPackSpacing);
  ASSERT_EQ(stream[kPackSpacing + 3], 0xBA);
  // Two clusters of this stream, then a cluster of another stream starting again at clock 0.
  std::vector<uint8_t> disk(stream.begin(), stream.begin() + 2 * kPackSpacing);
  disk.insert(disk.end(), stream.begin(), stream.end());
  disk.resize(disk.size() + 4096, 0);
  WalkEnv env(disk, 512, 8, 0);
  CarveMpegPs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, 16));
}

TEST(CarveMpegPs, ClockTestedOnlyAtClusterBoundaries) {
  // The same kind of splice with 16-sector clusters: the foreign pack lies inside a
  // cluster of the stream, so its clock is not tested and the walk goes on through it.
  const std::vector<uint8_t> stream = ReadFixture("clip.mpg");
  std::vector<uint8_t> disk(stream.begin(), stream.begin() + kPackSpacing);
  disk.insert(disk.end(), stream.begin(), stream.end());
  const auto length = static_cast<int64_t>(disk.size());
  disk.resize(disk.size() + 8192, 0);
  WalkEnv env(disk, 512, 16, 0);
  CarveMpegPs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(length), 16));
}

TEST(CarveMpegPs, SecondPackOfMpeg2ReleasesEverything) {
  std::vector<uint8_t> stream = ReadFixture("clip.mpg");
  stream[kPackSpacing + 4] = 0x44;  // '01' top bits: an MPEG-2 pack header
  WalkEnv env(DiskAround(stream, 0, 4), 512, 8, 0);
  const auto before = env.map.bytes();
  CarveMpegPs(env.ctx, 0, "");
  EXPECT_EQ(env.map.bytes(), before);
}

TEST(CarveMpegPs, ProgramEndCodeCountsAsAUnit) {
  const std::vector<uint8_t> stream = ReadFixture("clip.mpg");
  std::vector<uint8_t> file(stream.begin(), stream.begin() + 2 * kPackSpacing);
  const uint8_t end_code[] = {0x00, 0x00, 0x01, 0xB9};
  file.insert(file.end(), end_code, end_code + 4);
  // Zeros follow: the end code counts with length 6, then no start code is found.
  WalkEnv env(DiskAround(file, 0, 4));
  CarveMpegPs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(2 * kPackSpacing + 6)));
}

TEST(CarveMpegPs, PackWithClearedMarkerBitEndsTheStreamBeforeIt) {
  std::vector<uint8_t> stream = ReadFixture("clip.mpg");
  stream[2 * kPackSpacing + 6] &= 0xFE;  // a marker bit of the third pack's clock
  WalkEnv env(DiskAround(stream, 0, 4), 512, 1, 0);
  CarveMpegPs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, 2 * kPackSpacing / 512));
}

TEST(CarveMpegPs, FirstPackWithoutClockClaimsNothing) {
  std::vector<uint8_t> stream = ReadFixture("clip.mpg");
  stream[4] &= 0xFE;
  WalkEnv env(DiskAround(stream, 0, 4), 512, 4, 0);
  CarveMpegPs(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

constexpr size_t kPacket = 192;

TEST(CarveMpegTs, TimeStampJumpAtAClusterBoundaryEndsTheStream) {
  std::vector<uint8_t> stream = ReadFixture("clip.m2ts");
  // With 2,048-byte clusters the stream crosses a boundary at a packet start every 6,144
  // bytes; the packet there jumps 4,000,000 ticks ahead.
  constexpr size_t kBoundary = 6144;
  ASSERT_GT(stream.size(), kBoundary + kPacket);
  const uint32_t before_jump = static_cast<uint32_t>(stream[kBoundary - kPacket] << 24 |
                                                     stream[kBoundary - kPacket + 1] << 16 |
                                                     stream[kBoundary - kPacket + 2] << 8 |
                                                     stream[kBoundary - kPacket + 3]);
  PutBe32(stream, kBoundary, before_jump + 4000000);
  WalkEnv env(DiskAround(stream, 0, 4), 512, 4, 0);
  CarveMpegTs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, kBoundary / 512, 4));
}

TEST(CarveMpegTs, SameJumpInsideAClusterIsNotTested) {
  std::vector<uint8_t> stream = ReadFixture("clip.m2ts");
  constexpr size_t kInside = 6144 + kPacket;
  const uint32_t old = static_cast<uint32_t>(stream[kInside] << 24 | stream[kInside + 1] << 16 |
                                             stream[kInside + 2] << 8 | stream[kInside + 3]);
  PutBe32(stream, kInside, old + 4000000);
  WalkEnv env(DiskAround(stream, 0, 4), 512, 4, 0);
  CarveMpegTs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(static_cast<int64_t>(stream.size())), 4));
}

TEST(CarveMpegTs, LostSyncEndsAfterTheLastWholePacket) {
  std::vector<uint8_t> stream = ReadFixture("clip.m2ts");
  // 16 packets end on a sector boundary; the 17th is cut before its sync byte and zeros
  // follow. The sector read for it holds no whole packet and is given back.
  constexpr size_t kWhole = 16 * kPacket;
  stream.resize(kWhole + 3);
  WalkEnv env(DiskAround(stream, 0, 6));
  CarveMpegTs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, kWhole / 512));
}

TEST(CarveMpegTs, LongStreamKeepsItsWorkingCopySmall) {
  // The real packets repeated to 33 MiB with steadily rising time stamps: the working copy
  // is cut back on the way (past 32 MiB), and the whole stream is still claimed.
  const std::vector<uint8_t> packets = ReadFixture("clip.m2ts");
  constexpr size_t kLength = 33u << 20;
  std::vector<uint8_t> disk(kLength + 4096, 0);
  const size_t count = packets.size() / kPacket;
  for (size_t i = 0; i * kPacket < kLength; ++i) {
    std::memcpy(disk.data() + i * kPacket, packets.data() + (i % count) * kPacket, kPacket);
    PutBe32(disk, i * kPacket, static_cast<uint32_t>(i * 1000));
  }
  WalkEnv env(disk, 512, 8, 0);
  CarveMpegTs(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, static_cast<int64_t>(kLength / 512), 8));
  EXPECT_EQ(env.run.label_sets, 1);  // the tick never moved: only the cut-back refreshed it
}

TEST(CarveMpegTs, NoSyncInTheFirstPacketsClaimsNothing) {
  std::vector<uint8_t> stream = ReadFixture("clip.m2ts");
  stream[2 * kPacket + 4] = 0x48;
  WalkEnv env(DiskAround(stream, 0, 4));
  CarveMpegTs(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

}  // namespace
}  // namespace quorvex
