#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive_zip/zip_test_support.h"
#include "carvers/carver.h"
#include "engine/walk.h"
#include "support/param_name.h"
#include "support/walk_env.h"

namespace quorvex {
namespace {

using testing::Bytes;
using testing::CentralHeader;
using testing::EndRecord;
using testing::Fixture;
using testing::Image;
using testing::LocalHeader;
using testing::Place;
using testing::ReadBytes;
using testing::SectorsFor;
using testing::SparseDevice;
using testing::TempFolder;
using testing::WalkEnv;

std::vector<int64_t> SectorRun(int64_t first, int64_t count) {
  std::vector<int64_t> out;
  for (int64_t s = first; s < first + count; ++s) out.push_back(s);
  return out;
}

struct ClaimWalker {
  const char* name;
  CarverFn carve;
};
constexpr ClaimWalker kClaimWalkers[] = {
    {"CarveZip", CarveZip}, {"CarveOfficeZip", CarveOfficeZip}, {"CarveCdrZip", CarveCdrZip}};

// --- real archives ---------------------------------------------------------------------------

struct FixtureRow {
  std::string name;
  const char* file;
  int64_t classic_length;  ///< what the classic walk saves: 0 the whole archive, -1 nothing
};

class ZipFixture : public ::testing::TestWithParam<FixtureRow> {};

const FixtureRow kFixtures[] = {
    {"SeveralEntriesAndComment", "plain.zip", 0},
    // Sizes 0 in the local header: the classic walk lands in the data at byte 71.
    {"DataDescriptors", "descriptor.zip", -1},
    // 0xFFFFFFFF sizes wrap the classic 32-bit sum to 58.
    {"ForcedZip64", "zip64.zip", -1},
    // Known sizes and a descriptor behind each entry: the classic walk cuts at the first one.
    {"StoredStreamed", "stored.zip", 19961},
    {"StreamedFromStdin", "stream.zip", -1},
    {"StreamedZip64", "stream64.zip", -1},
    {"OfficePackage", "office.zip", 0},
};

TEST_P(ZipFixture, SavedByteIdenticalAndOnlyItsSectorsClaimed) {
  const std::vector<uint8_t> archive = Fixture(GetParam().file);
  for (uint32_t bps : {512u, 4096u}) {
    SCOPED_TRACE(bps);
    const int64_t start = 3;
    std::vector<uint8_t> image = Image(start + SectorsFor(static_cast<int64_t>(archive.size()), bps) + 8, bps, 0xA5);
    Place(image, start * bps, archive);
    const std::vector<int64_t> sectors = SectorRun(start, SectorsFor(static_cast<int64_t>(archive.size()), bps));

    WalkEnv env(image, bps);
    TempFolder folder;
    CarveZip(env.ctx, start * bps, folder.text());
    EXPECT_EQ(env.ctx.rescued_count, 1u);
    EXPECT_EQ(env.Taken(), sectors);
    const auto saved = ReadBytes(OutputPath(folder.text(), start * bps, ".ZIP"));
    EXPECT_EQ(saved, archive);
    EXPECT_EQ(folder.Files().size(), 1u);

    for (const ClaimWalker& walker : kClaimWalkers) {
      SCOPED_TRACE(walker.name);
      WalkEnv claim(image, bps);
      TempFolder unused;
      walker.carve(claim.ctx, start * bps, walker.carve == CarveZip ? "" : unused.text());
      EXPECT_EQ(claim.Taken(), sectors);
      EXPECT_EQ(claim.ctx.rescued_count, 0u);
      EXPECT_TRUE(unused.Files().empty());
    }
  }
}

TEST_P(ZipFixture, ClassicWalkFollowsOnlyTheOriginalRecords) {
  const std::vector<uint8_t> archive = Fixture(GetParam().file);
  std::vector<uint8_t> image = Image(SectorsFor(static_cast<int64_t>(archive.size()), 512) + 8, 512, 0xA5);
  Place(image, 0, archive);
  WalkEnv env(image);
  env.ctx.classic = true;
  const std::vector<uint8_t> before = env.map.bytes();
  TempFolder folder;
  CarveZip(env.ctx, 0, folder.text());
  const int64_t expected = GetParam().classic_length;
  if (expected < 0) {
    EXPECT_EQ(env.ctx.rescued_count, 0u);
    EXPECT_TRUE(folder.Files().empty());
    EXPECT_EQ(env.map.bytes(), before);
    return;
  }
  const size_t length = expected == 0 ? archive.size() : static_cast<size_t>(expected);
  EXPECT_EQ(env.ctx.rescued_count, 1u);
  const auto saved = ReadBytes(OutputPath(folder.text(), 0, ".ZIP"));
  EXPECT_EQ(saved, std::vector<uint8_t>(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length)));
}

TEST_P(ZipFixture, ArchiveCutByTheScanRangeEndIsNotSavedAndFreesItsSectors) {
  const std::vector<uint8_t> archive = Fixture(GetParam().file);
  const int64_t start = 2;
  const int64_t sectors = SectorsFor(static_cast<int64_t>(archive.size()), 512);
  std::vector<uint8_t> image = Image(start + sectors + 8, 512, 0xA5);
  Place(image, start * 512, archive);
  for (bool save : {true, false}) {
    WalkEnv env(image);
    env.SetRangeEnd(start + sectors - 2);  // the archive's last sector lies beyond the range
    env.map.ClaimSector(0);                // something an earlier walk took stays taken
    const std::vector<uint8_t> before = env.map.bytes();
    TempFolder folder;
    CarveZip(env.ctx, start * 512, save ? folder.text() : "");
    EXPECT_EQ(env.map.bytes(), before) << "save " << save;
    EXPECT_EQ(env.ctx.rescued_count, 0u);
    EXPECT_TRUE(folder.Files().empty());
  }
}

TEST_P(ZipFixture, ClusterTakenByAnEarlierFileIsSteppedOver) {
  const std::vector<uint8_t> archive = Fixture(GetParam().file);
  constexpr int64_t kSplit = 1024;  // the first cluster of two sectors
  if (static_cast<int64_t>(archive.size()) <= kSplit) GTEST_SKIP() << "fits in one cluster";
  const int64_t start = 8;
  const int64_t rest = SectorsFor(static_cast<int64_t>(archive.size()) - kSplit, 512);
  std::vector<uint8_t> image = Image(start + 4 + rest + 8, 512, 0xA5);
  Place(image, start * 512, std::vector<uint8_t>(archive.begin(), archive.begin() + kSplit));
  // Sectors 10 and 11 belong to another file; the archive goes on at sector 12.
  Place(image, (start + 4) * 512, std::vector<uint8_t>(archive.begin() + kSplit, archive.end()));
  std::vector<int64_t> expected = {8, 9, 10, 11};
  for (int64_t s : SectorRun(start + 4, rest + rest % 2)) expected.push_back(s);  // + the cluster tail

  for (bool save : {true, false}) {
    SCOPED_TRACE(save);
    WalkEnv env(image, 512, 2, 0);
    env.map.ClaimSector(10);
    env.map.ClaimSector(11);
    TempFolder folder;
    CarveZip(env.ctx, start * 512, save ? folder.text() : "");
    EXPECT_EQ(env.Taken(), expected);
    if (save) {
      EXPECT_EQ(ReadBytes(OutputPath(folder.text(), start * 512, ".ZIP")), archive);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, ZipFixture, ::testing::ValuesIn(kFixtures), testing::RowName());

// --- the start ---------------------------------------------------------------------------------

TEST(ZipStart, TakenStartSectorChangesNothing) {
  const std::vector<uint8_t> archive = Fixture("plain.zip");
  std::vector<uint8_t> image = Image(40, 512);
  Place(image, 512, archive);
  WalkEnv env(image);
  env.map.ClaimSector(1);
  const std::vector<uint8_t> before = env.map.bytes();
  TempFolder folder;
  CarveZip(env.ctx, 512, folder.text());
  EXPECT_EQ(env.map.bytes(), before);
  EXPECT_TRUE(folder.Files().empty());
  EXPECT_EQ(env.device->reads(), 0u);
}

TEST(ZipStart, OutputThatCannotBeCreatedClaimsNothing) {
  const std::vector<uint8_t> archive = Fixture("plain.zip");
  std::vector<uint8_t> image = Image(40, 512);
  Place(image, 512, archive);
  WalkEnv env(image);
  CarveZip(env.ctx, 512, "/nonexistent/quorvex/folder/");
  EXPECT_TRUE(env.Taken().empty());
  EXPECT_EQ(env.ctx.rescued_count, 0u);
  EXPECT_EQ(env.device->reads(), 0u);
}

TEST(ZipStart, OutputNameFollowsTheStartOffset) {
  // An archive at byte 1,048,576 is TEST_AAAAADAU.ZIP.
  const std::vector<uint8_t> archive = Fixture("office.zip");
  std::vector<uint8_t> image = Image(2060, 512);
  Place(image, 1048576, archive);
  WalkEnv env(image);
  TempFolder folder;
  CarveZip(env.ctx, 1048576, folder.text());
  ASSERT_EQ(folder.Files().size(), 1u);
  EXPECT_EQ(folder.Files()[0].filename(), "TEST_AAAAADAU.ZIP");
}

// --- hand-made records: malformed tables ---------------------------------------------------

constexpr int64_t kImageSectors = 16;

struct MalformedRow {
  std::string name;
  std::vector<uint8_t> (*build)();
  int64_t zip_length;       ///< what CarveZip saves: -1 nothing
  bool containers_accept;   ///< whether the office and drawing walkers accept
  bool cut_only_classic = false;  ///< the full walk saves nothing where the classic one cuts
};

std::vector<uint8_t> WithArchive(const std::vector<uint8_t>& bytes, uint8_t fill = 0xA5) {
  std::vector<uint8_t> image = Image(kImageSectors, 512, fill);
  std::copy(bytes.begin(), bytes.end(), image.begin());
  return image;
}

// One stored entry of `data` bytes (filled with 0x11), then the records that follow it.
Bytes Entry(uint32_t data) {
  Bytes b;
  b.Add(LocalHeader("a", data)).Fill(data, 0x11);
  return b;
}

std::vector<uint8_t> Minimal() {
  Bytes b = Entry(20);
  const auto central_at = static_cast<uint32_t>(b.v.size());
  b.Add(CentralHeader("a", 20, 0));
  b.Add(EndRecord(1, static_cast<uint32_t>(b.v.size()) - central_at, central_at));
  return WithArchive(b.v);
}
std::vector<uint8_t> LongerThanSource() { return WithArchive(LocalHeader("a", 1000000)); }
std::vector<uint8_t> UnknownAt(uint32_t data) { return WithArchive(Entry(data).Text("JUNK").v); }
std::vector<uint8_t> UnknownAt41() { return UnknownAt(10); }
std::vector<uint8_t> UnknownAt100() { return UnknownAt(69); }
std::vector<uint8_t> UnknownAt101() { return UnknownAt(70); }
std::vector<uint8_t> DescriptorNeverMatches() {
  // A streamed entry whose data runs to the end of the source, with headers inside it that
  // no descriptor precedes.
  Bytes b;
  b.Add(LocalHeader("a", 0, 0x0008)).Fill(3000, 0x11).Add(CentralHeader("a", 0, 0)).Fill(1000, 0x22);
  b.Add(EndRecord(1, 46, 0));
  return WithArchive(b.v, 0x33);
}
std::vector<uint8_t> DescriptorOffByOne() {
  Bytes b;
  b.Add(LocalHeader("a", 0, 0x0008)).Fill(100, 0x11).U32(0x08074B50).U32(0).U32(99).U32(99);
  b.Add(CentralHeader("a", 100, 0)).Add(EndRecord(1, 47, 132));
  return WithArchive(b.v, 0x33);
}
std::vector<uint8_t> CentralCutByEnd() {
  // The central header begins 20 bytes before the end of the source.
  const auto data = static_cast<uint32_t>(kImageSectors * 512 - 20 - 31);
  Bytes b = Entry(data);
  b.Add(CentralHeader("a", data, 0));
  std::vector<uint8_t> image = WithArchive({});
  std::copy(b.v.begin(), b.v.begin() + kImageSectors * 512, image.begin());
  return image;
}
std::vector<uint8_t> EndRecordCommentPastEnd() {
  Bytes b = Entry(20);
  b.Add(CentralHeader("a", 20, 0)).Add(EndRecord(1, 46, 51));
  b.v[b.v.size() - 1] = 0x60;  // a comment of 24,576 bytes, three times the source
  return WithArchive(b.v);
}
std::vector<uint8_t> Zip64EndHugeSize() {
  Bytes b = Entry(20);
  b.Add(CentralHeader("a", 20, 0)).U32(0x06064B50).U64(0x8000000000000000ull).Fill(44, 0);
  return WithArchive(b.v);
}
std::vector<uint8_t> Zip64FieldOutsideExtra() {
  // The ZIP64 field claims 16 data bytes but the extra block holds only 4 of them: the 32-bit
  // size 0xFFFFFFFF stands, far beyond the source.
  Bytes extra;
  extra.U16(0x0001).U16(16).U32(20);
  return WithArchive(LocalHeader("a", 0xFFFFFFFF, 0, extra.v, 20));
}
std::vector<uint8_t> NoLocalHeaderFirst() { return WithArchive(EndRecord(0, 0, 0)); }
std::vector<uint8_t> TruncatedLocalHeader() {
  // A local header whose fixed part runs past the source's last byte.
  std::vector<uint8_t> image = Minimal();
  const std::vector<uint8_t> header = LocalHeader("a", 20);
  std::copy(header.begin(), header.begin() + 10, image.end() - 10);
  std::vector<uint8_t> start = Entry(static_cast<uint32_t>(image.size()) - 10 - 31).v;
  std::copy(start.begin(), start.begin() + 31, image.begin());
  return image;
}

const MalformedRow kMalformed[] = {
    {"MinimalArchiveInOneSector", Minimal, 20 + 31 + 47 + 22, true},
    {"RecordLongerThanTheSource", LongerThanSource, -1, false},
    {"UnknownRecordAtByte41", UnknownAt41, -1, false},
    {"UnknownRecordAtByte100", UnknownAt100, -1, false},
    {"UnknownRecordAtByte101", UnknownAt101, 101, false, true},
    {"DescriptorNeverMatches", DescriptorNeverMatches, -1, false},
    {"DescriptorSizeOffByOne", DescriptorOffByOne, -1, false},
    {"CentralHeaderCutBySourceEnd", CentralCutByEnd, -1, false},
    {"LocalHeaderCutBySourceEnd", TruncatedLocalHeader, -1, false},
    {"EndRecordCommentPastTheEnd", EndRecordCommentPastEnd, -1, false},
    {"Zip64EndRecordOfHugeSize", Zip64EndHugeSize, -1, false},
    {"Zip64FieldOutsideTheExtraField", Zip64FieldOutsideExtra, -1, false},
    {"NoLocalHeaderFirst", NoLocalHeaderFirst, -1, false},
};

class ZipMalformed : public ::testing::TestWithParam<MalformedRow> {};

TEST_P(ZipMalformed, GivesUpCleanlyOrSavesTheDescribedCut) {
  const std::vector<uint8_t> image = GetParam().build();
  ASSERT_EQ(image.size(), static_cast<size_t>(kImageSectors * 512));
  for (bool classic : {false, true}) {
    SCOPED_TRACE(classic);
    const int64_t zip_length = GetParam().cut_only_classic && !classic ? -1 : GetParam().zip_length;
    WalkEnv env(image);
    env.ctx.classic = classic;
    TempFolder folder;
    CarveZip(env.ctx, 0, folder.text());
    if (zip_length < 0) {
      EXPECT_TRUE(env.Taken().empty());
      EXPECT_TRUE(folder.Files().empty());
    } else {
      ASSERT_EQ(folder.Files().size(), 1u);
      EXPECT_EQ(ReadBytes(folder.Files()[0]), std::vector<uint8_t>(image.begin(), image.begin() + zip_length));
      EXPECT_EQ(env.Taken(), SectorRun(0, SectorsFor(zip_length + 4, 512)));
    }

    for (const ClaimWalker& walker : kClaimWalkers) {
      SCOPED_TRACE(walker.name);
      WalkEnv claim(image);
      claim.ctx.classic = classic;
      walker.carve(claim.ctx, 0, "");
      const bool accepts = walker.carve == CarveZip ? zip_length >= 0 : GetParam().containers_accept;
      EXPECT_EQ(claim.Taken().empty(), !accepts);
      EXPECT_EQ(claim.ctx.rescued_count, 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Records, ZipMalformed, ::testing::ValuesIn(kMalformed), testing::RowName());

// A local header that straddles a sector boundary, before an entry long enough to be claimed
// unread: the unread sectors are counted from what is gathered, not from the header, so the
// walk still lands exactly on the next header.
TEST(ZipSkip, HeaderAcrossASectorBoundaryBeforeALongEntry) {
  Bytes b = Entry(469);                      // the second header begins at byte 500
  b.Add(LocalHeader("b", 2022)).Fill(2022, 0x22);  // 31 + 2,022 = 4 sectors + 5 bytes
  const auto central_at = static_cast<uint32_t>(b.v.size());
  b.Add(CentralHeader("a", 469, 0)).Add(CentralHeader("b", 2022, 500));
  b.Add(EndRecord(2, static_cast<uint32_t>(b.v.size()) - central_at, central_at));
  const std::vector<uint8_t> image = WithArchive(b.v);
  for (bool classic : {false, true}) {
    SCOPED_TRACE(classic);
    for (const ClaimWalker& walker : kClaimWalkers) {
      SCOPED_TRACE(walker.name);
      WalkEnv env(image);
      env.ctx.classic = classic;
      walker.carve(env.ctx, 0, "");
      EXPECT_EQ(env.Taken(), SectorRun(0, SectorsFor(static_cast<int64_t>(b.v.size()), 512)));
    }
  }
}

// --- claim-only over a multi-GiB archive ---------------------------------------------------

constexpr int64_t kGiB = 1073741824;

struct HugeRow {
  std::string name;
  CarverFn carve;
  int64_t entry_bytes;
  bool zip64;        ///< sizes in a ZIP64 extra field
  bool streamed;     ///< sizes in a data descriptor behind the data (only for small entries)
  bool classic;
  bool accepted;
};

const HugeRow kHuge[] = {
    {"ZipThreeGiB", CarveZip, 3 * kGiB, false, false, false, true},
    {"ZipThreeGiBClassic", CarveZip, 3 * kGiB, false, false, true, true},
    {"DrawingThreeGiB", CarveCdrZip, 3 * kGiB, false, false, false, true},
    // An entry over 200 MiB is no office document.
    {"OfficeThreeGiB", CarveOfficeZip, 3 * kGiB, false, false, false, false},
    {"ZipZip64FiveGiB", CarveZip, 5 * kGiB, true, false, false, true},
    // The classic walk knows no ZIP64: its sum wraps and lands at byte 56.
    {"ZipZip64FiveGiBClassic", CarveZip, 5 * kGiB, true, false, true, false},
    {"ZipStreamedEightMiB", CarveZip, 8 << 20, false, true, false, true},
    {"OfficeStreamedEightMiB", CarveOfficeZip, 8 << 20, false, true, false, true},
};

class ZipHuge : public ::testing::TestWithParam<HugeRow> {};

int64_t CountTaken(const AvailMap& map) {
  int64_t n = 0;
  for (uint8_t byte : map.bytes()) n += std::popcount(byte);
  return n;
}

TEST_P(ZipHuge, ClaimOnlyWalkReadsOnlyHeaders) {
  const HugeRow& row = GetParam();
  const int64_t start = 4 * 512;
  std::vector<uint8_t> header;
  if (row.zip64) {
    Bytes extra;
    extra.U16(0x0001).U16(16).U64(static_cast<uint64_t>(row.entry_bytes)).U64(static_cast<uint64_t>(row.entry_bytes));
    header = LocalHeader("big.bin", 0xFFFFFFFF, 0, extra.v, 0xFFFFFFFF);
  } else if (row.streamed) {
    header = LocalHeader("big.bin", 0, 0x0008);
  } else {
    header = LocalHeader("big.bin", static_cast<uint32_t>(row.entry_bytes), 0, {},
                         static_cast<uint32_t>(row.entry_bytes));
  }
  const int64_t data_end = start + static_cast<int64_t>(header.size()) + row.entry_bytes;
  Bytes tail;
  if (row.streamed)
    tail.U32(0x08074B50).U32(0).U32(static_cast<uint64_t>(row.entry_bytes)).U32(static_cast<uint64_t>(row.entry_bytes));
  tail.Add(CentralHeader("big.bin", 0xFFFFFFFF, 0)).Add(EndRecord(1, 53, 0xFFFFFFFF));
  const int64_t end = data_end + static_cast<int64_t>(tail.v.size());
  auto device = std::make_shared<SparseDevice>(end + 1048576);
  device->Put(start, header);
  device->Put(data_end, tail.v);

  WalkEnv env(device, 512, 1, 0);
  env.ctx.classic = row.classic;
  row.carve(env.ctx, start, "");
  if (!row.accepted) {
    EXPECT_EQ(CountTaken(env.map), 0);
    return;
  }
  const int64_t last = (end - 1) / 512;
  EXPECT_EQ(CountTaken(env.map), last - start / 512 + 1);
  EXPECT_TRUE(env.map.IsTaken(start / 512));
  EXPECT_TRUE(env.map.IsTaken(last));
  EXPECT_FALSE(env.map.IsTaken(last + 1));
  if (!row.streamed) {
    // The first read window and the one around the central directory.
    EXPECT_LE(env.reader.device_reads(), 4u);
    EXPECT_LE(device->bytes_read(), 4u * 65536u);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ZipHuge, ::testing::ValuesIn(kHuge), testing::RowName());

}  // namespace
}  // namespace quorvex
