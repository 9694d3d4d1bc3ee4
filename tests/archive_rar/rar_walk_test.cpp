// The RAR walks over sources in memory: real archives saved byte-identical and claimed exactly,
// around sectors other files took, and malformed archives that must leave nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "app/ui_text.h"
#include "carvers/carver.h"
#include "engine/walk.h"
#include "platform/memory_device.h"
#include "support/param_name.h"
#include "support/walk_env.h"
#include "archive_rar/rar_test_util.h"

namespace quorvex {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::TestData;
using testing::WalkEnv;

constexpr uint32_t kBps = 512;
constexpr uint8_t kLeadFill = 0xA5;     // bytes before the archive
constexpr uint8_t kTailFill = 0xCC;     // the rest of the archive's last sector, and after it
constexpr uint8_t kForeignFill = 0x5A;  // sectors of another file inside the archive

/// A source: lead sectors, the archive (with foreign sectors spliced in after the archive's
/// sector insert_at), then trail sectors.
struct Layout {
  std::vector<uint8_t> bytes;
  std::vector<int64_t> archive_sectors;
  std::vector<int64_t> foreign_sectors;
  int64_t start_sector = 0;
};

Layout MakeLayout(const std::vector<uint8_t>& archive, int64_t lead, int64_t trail, int64_t insert_at = -1,
                  int64_t foreign = 0) {
  Layout out;
  out.bytes.assign(static_cast<size_t>(lead) * kBps, kLeadFill);
  out.start_sector = lead;
  const int64_t sectors = (static_cast<int64_t>(archive.size()) + kBps - 1) / kBps;
  for (int64_t i = 0; i < sectors; ++i) {
    out.archive_sectors.push_back(static_cast<int64_t>(out.bytes.size() / kBps));
    std::vector<uint8_t> sector(kBps, kTailFill);
    const size_t from = static_cast<size_t>(i) * kBps;
    std::copy(archive.begin() + static_cast<std::ptrdiff_t>(from),
              archive.begin() + static_cast<std::ptrdiff_t>(std::min(archive.size(), from + kBps)), sector.begin());
    out.bytes.insert(out.bytes.end(), sector.begin(), sector.end());
    if (i == insert_at) {
      for (int64_t k = 0; k < foreign; ++k) {
        out.foreign_sectors.push_back(static_cast<int64_t>(out.bytes.size() / kBps));
        out.bytes.insert(out.bytes.end(), kBps, kForeignFill);
      }
    }
  }
  out.bytes.insert(out.bytes.end(), static_cast<size_t>(trail) * kBps, kTailFill);
  return out;
}

std::vector<int64_t> Sorted(std::vector<int64_t> a, const std::vector<int64_t>& b = {}) {
  a.insert(a.end(), b.begin(), b.end());
  std::sort(a.begin(), a.end());
  return a;
}

struct RealArchive {
  std::string name;
  std::string file;  // under the test data folder
  CarverFn carver;
};

const RealArchive kRealArchives[] = {
    {"Rar4Stored", "rar/test_read_format_rar.rar", CarveRar},
    {"Rar4Unicode", "rar/test_read_format_rar_unicode.rar", CarveRar},
    {"Rar4Windows", "rar/test_read_format_rar_windows.rar", CarveRar},
    {"Rar4CompressBest", "rar/test_read_format_rar_compress_best.rar", CarveRar},
    {"Rar4CompressNormal", "rar/test_read_format_rar_compress_normal.rar", CarveRar},
    {"Rar4MultiLzssBlocks", "rar/test_read_format_rar_multi_lzss_blocks.rar", CarveRar},
    {"Rar4Filter", "rar/test_read_format_rar_filter.rar", CarveRar},
    {"Rar4PpmdLzss", "rar/test_read_format_rar_ppmd_lzss_conversion.rar", CarveRar},
    {"Rar4BinaryData", "rar/test_read_format_rar_binary_data.rar", CarveRar},
    {"Rar4Subblock", "rar/test_read_format_rar_subblock.rar", CarveRar},
    {"Rar5Unicode", "rar5/test_read_format_rar5_unicode.rar", CarveRar5},
    {"Rar5StoredZipAndText", "rar5/test_read_format_rar5_zip_in_rar.rar", CarveRar5},
    {"Rar5Symlink", "rar5/test_read_format_rar5_redir_varint_2byte.rar", CarveRar5},
};

class RealArchiveTest : public ::testing::TestWithParam<RealArchive> {
 protected:
  void SetUp() override {
    archive_ = ReadBytes(TestData(GetParam().file));
    if (archive_.empty()) GTEST_SKIP() << GetParam().file << " is not there";
  }
  std::vector<uint8_t> archive_;
};

TEST_P(RealArchiveTest, SavedByteIdenticalAndClaimedExactly) {
  const Layout layout = MakeLayout(archive_, 3, 4);
  WalkEnv env(layout.bytes);
  TempDir dir;
  GetParam().carver(env.ctx, layout.start_sector * kBps, dir.folder());
  EXPECT_EQ(env.ctx.rescued_count, 1u);
  const std::string path = OutputPath(dir.folder(), layout.start_sector * kBps, ".RAR");
  EXPECT_EQ(ReadBytes(path), archive_);
  EXPECT_EQ(dir.Files().size(), 1u);
  EXPECT_EQ(env.Taken(), layout.archive_sectors);
}

TEST_P(RealArchiveTest, ClaimOnlyClaimsExactlyItsSectors) {
  const Layout layout = MakeLayout(archive_, 3, 4);
  WalkEnv env(layout.bytes);
  GetParam().carver(env.ctx, layout.start_sector * kBps, "");
  EXPECT_EQ(env.ctx.rescued_count, 0u);
  EXPECT_EQ(env.Taken(), layout.archive_sectors);
}

TEST_P(RealArchiveTest, StepsOverSectorsAnotherFileTook) {
  if (archive_.size() <= kBps) GTEST_SKIP() << "one sector: nothing can lie inside";
  // Another file's cluster right after the archive's first sector, or deep inside a long one.
  const int64_t sectors = static_cast<int64_t>((archive_.size() + kBps - 1) / kBps);
  for (const int64_t insert_at : std::set<int64_t>{0, sectors / 2}) {
    if (insert_at >= sectors - 1) continue;
    SCOPED_TRACE(insert_at);
    const Layout layout = MakeLayout(archive_, 2, 3, insert_at, 4);
    for (const bool saving : {true, false}) {
      WalkEnv env(layout.bytes);
      for (const int64_t s : layout.foreign_sectors) env.map.ClaimSector(s);
      TempDir dir;
      GetParam().carver(env.ctx, layout.start_sector * kBps, saving ? dir.folder() : "");
      EXPECT_EQ(env.Taken(), Sorted(layout.archive_sectors, layout.foreign_sectors));
      if (saving) {
        EXPECT_EQ(ReadBytes(OutputPath(dir.folder(), layout.start_sector * kBps, ".RAR")), archive_);
      } else {
        EXPECT_TRUE(dir.Files().empty());
      }
    }
  }
}

TEST_P(RealArchiveTest, StartSectorTakenDoesNothing) {
  const Layout layout = MakeLayout(archive_, 1, 1);
  WalkEnv env(layout.bytes);
  env.map.ClaimSector(layout.start_sector);
  const std::vector<uint8_t> before = env.map.bytes();
  TempDir dir;
  GetParam().carver(env.ctx, layout.start_sector * kBps, dir.folder());
  EXPECT_EQ(env.map.bytes(), before);
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_EQ(env.device->reads(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealArchiveTest, ::testing::ValuesIn(kRealArchives), testing::RowName());

// --- claim-only specifics --------------------------------------------------------------

TEST(RarClaimOnly, DataSectorsAreClaimedUnread) {
  // An unreadable sector deep inside a file block's packed data: claim-only never reads it,
  // saving must and gives up.
  const std::vector<uint8_t> archive = ReadBytes(TestData("rar/test_read_format_rar_binary_data.rar"));
  ASSERT_FALSE(archive.empty());
  const Layout layout = MakeLayout(archive, 2, 2);
  const int64_t bad = layout.archive_sectors[layout.archive_sectors.size() / 4];
  for (const bool saving : {false, true}) {
    auto faulty = std::make_shared<FaultyDevice>(std::make_shared<MemoryDevice>(layout.bytes, kBps),
                                                 std::set<int64_t>{bad});
    WalkEnv env(faulty, kBps, 1, 0);
    TempDir dir;
    CarveRar(env.ctx, layout.start_sector * kBps, saving ? dir.folder() : "");
    if (saving) {
      EXPECT_TRUE(env.Taken().empty());
      EXPECT_TRUE(dir.Files().empty());
      EXPECT_EQ(env.ctx.rescued_count, 0u);
    } else {
      EXPECT_EQ(env.Taken(), layout.archive_sectors);
    }
  }
}

std::vector<uint8_t> Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

/// A RAR 4 block header: CRC (not checked), type, flags, header size [, additional size].
std::vector<uint8_t> Rar4Block(uint8_t type, uint16_t flags, uint16_t header_size, uint32_t add_size = 0) {
  std::vector<uint8_t> b = {0, 0, type};
  for (uint8_t x : Le16(flags)) b.push_back(x);
  for (uint8_t x : Le16(header_size)) b.push_back(x);
  if (flags & 0x8000) {
    for (uint8_t x : Le32(add_size)) b.push_back(x);
  }
  b.resize(header_size, 0);
  return b;
}

TEST(RarClaimOnly, ManyBlocksRefreshProgressWithoutATick) {
  // 100 blocks of 500 bytes: past 60 sectors of headers the claim-only copy is cut back and the
  // progress line shows where the walk is, although the 200 ms tick never moved.
  std::vector<uint8_t> archive = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  const std::vector<uint8_t> archive_header = Rar4Block(0x73, 0, 13);
  archive.insert(archive.end(), archive_header.begin(), archive_header.end());
  for (int i = 0; i < 100; ++i) {
    const std::vector<uint8_t> comment = Rar4Block(0x75, 0, 500);
    archive.insert(archive.end(), comment.begin(), comment.end());
  }
  const std::vector<uint8_t> end = Rar4Block(0x7B, 0, 7);
  archive.insert(archive.end(), end.begin(), end.end());
  const Layout layout = MakeLayout(archive, 5, 1);
  WalkEnv env(layout.bytes);
  CarveRar(env.ctx, layout.start_sector * kBps, "");
  EXPECT_EQ(env.Taken(), layout.archive_sectors);
  const std::string label = env.run.Label(ProgressWindow::kRecovery, 3);
  EXPECT_EQ(label.rfind(UiText(41) + "5, ", 0), 0u) << label;
  EXPECT_GT(env.run.pumps, 0);
}

TEST(RarClaimOnly, HeaderAcrossASectorBoundaryBeforeLongData) {
  // A file block whose 11-byte header starts 4 bytes before a sector's end and whose length is
  // exactly two sectors: the next header then lies in the second sector after the boundary,
  // which must be read, not claimed unread.
  std::vector<uint8_t> archive = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  const std::vector<uint8_t> archive_header = Rar4Block(0x73, 0, 501);  // next block at 508
  archive.insert(archive.end(), archive_header.begin(), archive_header.end());
  std::vector<uint8_t> file = Rar4Block(0x74, 0x8000, 32, 1024 - 32);
  file.resize(1024, 0x11);
  archive.insert(archive.end(), file.begin(), file.end());
  const std::vector<uint8_t> end = Rar4Block(0x7B, 0, 7);
  archive.insert(archive.end(), end.begin(), end.end());
  ASSERT_EQ(archive.size(), 1539u);

  const Layout layout = MakeLayout(archive, 1, 2);
  for (const bool saving : {false, true}) {
    WalkEnv env(layout.bytes);
    TempDir dir;
    CarveRar(env.ctx, layout.start_sector * kBps, saving ? dir.folder() : "");
    EXPECT_EQ(env.Taken(), layout.archive_sectors) << saving;
    if (saving) {
      EXPECT_EQ(ReadBytes(OutputPath(dir.folder(), kBps, ".RAR")), archive);
    }
  }
}

TEST(RarWalk, ClusterTailIsClaimedAfterTheArchive) {
  const std::vector<uint8_t> archive = ReadBytes(TestData("rar/test_read_format_rar_windows.rar"));  // 2 sectors
  ASSERT_EQ((archive.size() + kBps - 1) / kBps, 2u);
  const Layout layout = MakeLayout(archive, 8, 16);
  WalkEnv env(layout.bytes, kBps, 8, 0);
  CarveRar(env.ctx, layout.start_sector * kBps, "");
  std::vector<int64_t> cluster(8);
  std::iota(cluster.begin(), cluster.end(), int64_t{8});
  EXPECT_EQ(env.Taken(), cluster);
}

TEST(RarWalk, OutputThatCannotBeCreatedClaimsNothing) {
  const std::vector<uint8_t> archive = ReadBytes(TestData("rar/test_read_format_rar.rar"));
  const Layout layout = MakeLayout(archive, 2, 2);
  for (const CarverFn carver : {CarveRar, CarveRar5}) {
    WalkEnv env(layout.bytes);
    carver(env.ctx, layout.start_sector * kBps, "/nonexistent-quorvex-folder/");
    EXPECT_TRUE(env.Taken().empty());
    EXPECT_EQ(env.ctx.rescued_count, 0u);
  }
}

// --- malformed archives -------------------------------------------------------------------

uint32_t Crc32(const uint8_t* data, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

/// A RAR 5 header with a correct CRC: fields is everything after the size vint (< 128 bytes).
std::vector<uint8_t> Rar5Header(const std::vector<uint8_t>& fields) {
  std::vector<uint8_t> sized = {static_cast<uint8_t>(fields.size())};
  sized.insert(sized.end(), fields.begin(), fields.end());
  std::vector<uint8_t> out = Le32(Crc32(sized.data(), sized.size()));
  out.insert(out.end(), sized.begin(), sized.end());
  return out;
}

const std::vector<uint8_t> kRar5Marker = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};

struct Malformed {
  std::string name;
  CarverFn carver;
  std::vector<uint8_t> archive;   // placed at sector 2
  int64_t trail_sectors = 4;      // sectors after the archive
  int64_t range_end_back = -1;    // >= 0: scan-range end this many sectors before the archive's last
};

std::vector<uint8_t> Fixture(const std::string& file) { return ReadBytes(TestData(file)); }

std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, size_t at, const std::vector<uint8_t>& with) {
  if (bytes.size() < at + with.size()) return {};
  std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return bytes;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t n) {
  bytes.resize(std::min(bytes.size(), n));
  return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// test_read_format_rar.rar: archive header at 7, first file block at 20 (flags 0x9020,
// header size 50, additional size 20), end block at 329.
// test_read_format_rar5_zip_in_rar.rar: main header at 8, end-of-archive header at 348.
std::vector<Malformed> MalformedRows() {
  const std::string rar4 = "rar/test_read_format_rar.rar";
  const std::string rar5 = "rar5/test_read_format_rar5_zip_in_rar.rar";
  std::vector<Malformed> rows = {
      {"Rar4BlockOfLengthZero", CarveRar, Patched(Fixture(rar4), 23, {0x20, 0x10, 0x00, 0x00})},
      {"Rar4MarkerTypeAfterStart", CarveRar, Patched(Fixture(rar4), 22, {0x72})},
      {"Rar4TypeAboveEnd", CarveRar, Patched(Fixture(rar4), 22, {0x7C})},
      {"Rar4BlockPastTheSource", CarveRar, Patched(Fixture(rar4), 27, Le32(0x00100000))},
      {"Rar4BlockPastTheScanRangeEnd", CarveRar, Fixture("rar/test_read_format_rar_filter.rar"), 40, 10},
      {"Rar4NoEndBlock", CarveRar, Cut(Fixture(rar4), 329)},
      {"Rar4NoEndBlockAtTheSourceEnd", CarveRar, Cut(Fixture(rar4), 329), 0},
      {"Rar4WithoutMarker", CarveRar, Patched(Fixture(rar4), 6, {0x01})},
      {"Rar5BadHeaderCrc", CarveRar5, Patched(Fixture(rar5), 8, {0x00})},
      {"Rar5BadCrcInTheLastHeader", CarveRar5, Patched(Fixture(rar5), 355, {0xFF})},
      {"Rar5SizeVintOf11Bytes", CarveRar5,
       Concat(Concat(kRar5Marker, {0, 0, 0, 0}), {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01})},
      {"Rar5TruncatedWithoutEndHeader", CarveRar5, Cut(Fixture(rar5), 348)},
      {"Rar5TruncatedAtTheSourceEnd", CarveRar5, Cut(Fixture(rar5), 348), 0},
      {"Rar5EncryptionHeader", CarveRar5,
       Concat(Concat(Concat(kRar5Marker, Rar5Header({1, 0, 0})), Rar5Header({4, 0, 0, 0, 15})),
              Rar5Header({5, 0, 0}))},
      {"Rar5FirstHeaderNotMain", CarveRar5, Concat(Concat(kRar5Marker, Rar5Header({2, 0})), Rar5Header({5, 0, 0}))},
      {"Rar5SecondMainHeader", CarveRar5,
       Concat(Concat(Concat(kRar5Marker, Rar5Header({1, 0, 0})), Rar5Header({1, 0, 0})), Rar5Header({5, 0, 0}))},
      {"Rar5UnknownHeaderType", CarveRar5,
       Concat(Concat(Concat(kRar5Marker, Rar5Header({1, 0, 0})), Rar5Header({6, 0})), Rar5Header({5, 0, 0}))},
      {"Rar5FieldRunsPastItsHeader", CarveRar5,
       Concat(Concat(kRar5Marker, Rar5Header({1, 0x02})), Rar5Header({5, 0, 0}))},
      {"Rar5DataAreaPastTheSource", CarveRar5,
       Concat(Concat(kRar5Marker, Rar5Header({1, 0, 0})), Rar5Header({2, 0x02, 0xFF, 0xFF, 0x7F}))},
      {"Rar5DataSizeBeyond64Bits", CarveRar5,
       Concat(Concat(kRar5Marker, Rar5Header({1, 0, 0})),
              Rar5Header({2, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}))},
      {"Rar5WithRar4Marker", CarveRar5, Fixture(rar4)},
  };
  return rows;
}

TEST(Rar5Walk, DataAreaAroundTakenSectorsAndUnreadWhenClaimOnly) {
  // A file header with a 3,000-byte data area (data size vint B8 17): saving gathers it around
  // another file's sectors, claim-only claims its inner sectors without reading them.
  std::vector<uint8_t> archive = Concat(Concat(kRar5Marker, Rar5Header({1, 0, 0})), Rar5Header({2, 0x02, 0xB8, 0x17, 0, 0}));
  archive.resize(archive.size() + 3000, 0x3C);
  archive = Concat(archive, Rar5Header({5, 0, 0}));
  // Enough sectors after it that the reader's 64 KiB window need not slide back over the bad one.
  const Layout layout = MakeLayout(archive, 2, 200, 1, 4);
  const int64_t bad = layout.archive_sectors[3];
  for (const bool saving : {true, false}) {
    SCOPED_TRACE(saving ? "saving" : "claim-only");
    WalkEnv env(layout.bytes);
    for (const int64_t s : layout.foreign_sectors) env.map.ClaimSector(s);
    TempDir dir;
    CarveRar5(env.ctx, layout.start_sector * kBps, saving ? dir.folder() : "");
    EXPECT_EQ(env.Taken(), Sorted(layout.archive_sectors, layout.foreign_sectors));
    if (saving) {
      EXPECT_EQ(ReadBytes(OutputPath(dir.folder(), layout.start_sector * kBps, ".RAR")), archive);
    }

    auto faulty = std::make_shared<FaultyDevice>(std::make_shared<MemoryDevice>(layout.bytes, kBps),
                                                 std::set<int64_t>{bad}, /*short_reads=*/true);
    WalkEnv faulty_env(faulty, kBps, 1, 0);
    for (const int64_t s : layout.foreign_sectors) faulty_env.map.ClaimSector(s);
    TempDir faulty_dir;
    CarveRar5(faulty_env.ctx, layout.start_sector * kBps, saving ? faulty_dir.folder() : "");
    EXPECT_EQ(faulty_env.Taken(), saving ? layout.foreign_sectors : Sorted(layout.archive_sectors, layout.foreign_sectors));
  }
}

class MalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedTest, GivesUpLeavingTheMapAsItWas) {
  const Malformed& row = GetParam();
  ASSERT_FALSE(row.archive.empty());
  const Layout layout = MakeLayout(row.archive, 2, row.trail_sectors);
  for (const bool saving : {true, false}) {
    SCOPED_TRACE(saving ? "saving" : "claim-only");
    WalkEnv env(layout.bytes);
    if (row.range_end_back >= 0) env.SetRangeEnd(layout.archive_sectors.back() - row.range_end_back);
    env.map.ClaimSector(0);  // something an earlier walk left
    const std::vector<uint8_t> before = env.map.bytes();
    TempDir dir;
    row.carver(env.ctx, layout.start_sector * kBps, saving ? dir.folder() : "");
    EXPECT_EQ(env.map.bytes(), before);
    EXPECT_TRUE(dir.Files().empty());
    EXPECT_EQ(env.ctx.rescued_count, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, MalformedTest, ::testing::ValuesIn(MalformedRows()), testing::RowName());

}  // namespace
}  // namespace quorvex
