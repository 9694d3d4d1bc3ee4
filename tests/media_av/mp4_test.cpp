// The MP4/QuickTime walk on hand-made variations of a real ffmpeg file: boxes outside the
// walked list, the first-box limit, sizes of 0 and 1, sizes past the end, the trim of the
// header read after the last box, and compaction of a long walk.

#include <gtest/gtest.h>

#include "app/ui_text.h"
#include "carvers/carver.h"
#include "media_av/av_fixture.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::Bytes;
using testing::DiskAround;
using testing::PutBe32;
using testing::ReadFixture;
using testing::RunWithTail;
using testing::SectorsFor;
using testing::WalkEnv;

std::vector<uint8_t> Box(const char* type, uint32_t size, uint8_t fill = 0) {
  std::vector<uint8_t> box(size < 8 ? 8 : size, fill);
  PutBe32(box, 0, size);
  std::memcpy(box.data() + 4, type, 4);
  return box;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) { out.insert(out.end(), more.begin(), more.end()); }

int64_t BoxAt(const std::vector<uint8_t>& file, const char* type) { return testing::Find(file, Bytes(type)) - 4; }

TEST(CarveMp4, BoxOutsideTheListEndsTheFileBeforeIt) {
  // ftyp free mdat, then a "meta" box, then moov: only the boxes before "meta" are claimed.
  std::vector<uint8_t> file = ReadFixture("plain.mp4");
  const int64_t moov = BoxAt(file, "moov");
  ASSERT_GT(moov, 0);
  const auto meta = Box("meta", 600, 0x4D);
  file.insert(file.begin() + moov, meta.begin(), meta.end());
  WalkEnv env(DiskAround(file, 0, 4));
  CarveMp4(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(moov)));
}

TEST(CarveMp4, FirstBoxOf256BytesClaimsNothing) {
  std::vector<uint8_t> file = Box("ftyp", 256);
  std::memcpy(file.data() + 8, "isom", 4);
  Append(file, Box("mdat", 3000, 1));
  WalkEnv env(DiskAround(file, 0, 4));
  CarveMp4(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

TEST(CarveMp4, FirstBoxOfSizeZeroClaimsNothing) {
  // A first box "to the end of the file" leaves no walked bytes: nothing to claim.
  std::vector<uint8_t> file = Box("ftyp", 0);
  file.resize(2048, 0);
  WalkEnv env(DiskAround(file, 0, 4), 512, 4, 0);
  CarveMp4(env.ctx, 512, "");  // not on the cluster grid: not even a cluster tail is claimed
  CarveMp4(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

TEST(CarveMp4, LoneFtypFollowedByZerosIsOneSectorAndItsCluster) {
  std::vector<uint8_t> file = ReadFixture("plain.mp4");
  file.resize(28);  // the "ftyp" box alone
  WalkEnv env(DiskAround(file, 4, 12), 512, 8, 0);
  CarveMp4(env.ctx, 4 * 512, "");
  EXPECT_EQ(env.Taken(), RunWithTail(4, 1, 8));
}

TEST(CarveMp4, BoxSizeOneIsTakenAsOneByte) {
  std::vector<uint8_t> file = ReadFixture("plain.mp4");
  file.resize(28);  // the "ftyp" box alone
  Append(file, Box("mdat", 1));  // a 64-bit size would follow; it is not read as one
  file.resize(3000, 0x42);
  WalkEnv env(DiskAround(file, 0, 4));
  CarveMp4(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, 1));  // 29 bytes
}

TEST(CarveMp4, BoxSizePastTheEndGivesUp) {
  std::vector<uint8_t> file = ReadFixture("plain.mp4");
  const int64_t mdat = BoxAt(file, "mdat");
  PutBe32(file, static_cast<size_t>(mdat), 0xFFFFFF00u);
  WalkEnv env(DiskAround(file, 0, 8));
  const auto before = env.map.bytes();
  CarveMp4(env.ctx, 0, "");
  EXPECT_EQ(env.map.bytes(), before);
}

TEST(CarveMp4, HeaderReadPastTheLastBoxIsGivenBack) {
  // The file ends on a sector boundary; the next sector holds something else, read only
  // for the header after "moov" and released again.
  std::vector<uint8_t> file = ReadFixture("plain.mp4");
  const auto pad = static_cast<uint32_t>(512 - file.size() % 512);
  Append(file, Box("free", pad < 8 ? pad + 512 : pad));
  ASSERT_EQ(file.size() % 512, 0u);
  std::vector<uint8_t> disk = DiskAround(file, 0, 4);
  std::memcpy(disk.data() + file.size(), "\x00\x00\x00\x10junk", 8);
  WalkEnv env(disk);
  CarveMp4(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(static_cast<int64_t>(file.size()))));
}

TEST(CarveMp4, LongWalkIsCompactedAndRefreshesTheProgressLine) {
  std::vector<uint8_t> file = ReadFixture("fast.mp4");
  for (int i = 0; i < 150; ++i) Append(file, Box("skip", 300, static_cast<uint8_t>(i)));  // 90 sectors of boxes
  WalkEnv env(DiskAround(file, 0, 4));
  CarveMp4(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(static_cast<int64_t>(file.size()))));
  // The tick never moved, so only the compaction refreshed the line.
  EXPECT_GT(env.run.label_sets, 0);
  EXPECT_EQ(env.run.Label(ProgressWindow::kRecovery, 3).rfind(UiText(41) + "0, ", 0), 0u);
}

TEST(CarveMp4, NotIsoMediaClaimsNothing) {
  std::vector<uint8_t> file = ReadFixture("plain.mp4");
  file[4] = 'F';
  WalkEnv env(DiskAround(file, 0, 4));
  CarveMp4(env.ctx, 0, "");
  EXPECT_TRUE(env.Taken().empty());
}

}  // namespace
}  // namespace quorvex
