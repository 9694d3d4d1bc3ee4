// The OLE2 and PDF walks on malformed variations: compound files built here with a
// broken FAT, DIFAT or directory chain (the well-formed ones come from msibuild), and PDF
// trailers that do or do not end the document.

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
using testing::ReadFixture;
using testing::RunWithTail;
using testing::SectorsFor;
using testing::WalkEnv;

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFatMark = 0xFFFFFFFD;
constexpr uint32_t kDifatMark = 0xFFFFFFFC;

/// A compound file of `sectors` 512-byte sectors after the header: sector 0 is the FAT,
/// listed in the header's DIFAT; the directory starts at `first_directory`.
struct Compound {
  explicit Compound(int sectors, uint32_t first_directory = 1)
      : bytes(static_cast<size_t>(sectors + 1) * 512, 0x00) {
    const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(bytes.data(), signature, 8);
    PutLe32(bytes, 28, 0x0009FFFE);
    PutLe32(bytes, 48, first_directory);
    PutLe32(bytes, 68, kEnd);  // no DIFAT sectors
    for (int i = 0; i < 109; ++i) PutLe32(bytes, 76 + 4 * static_cast<size_t>(i), kFree);
    PutLe32(bytes, 76, 0);
    for (int i = 0; i < 128; ++i) Fat(i, kFree);
    Fat(0, kFatMark);
  }
  void Fat(int entry, uint32_t value) { PutLe32(bytes, 512 + 4 * static_cast<size_t>(entry), value); }
  /// Entry `entry` of compound-file sector `sector` read as a table of u32.
  void Put(int sector, int entry, uint32_t value) {
    PutLe32(bytes, static_cast<size_t>(sector + 1) * 512 + 4 * static_cast<size_t>(entry), value);
  }
  std::vector<uint8_t> bytes;
};

/// Eight used sectors: FAT, directory 1 -> 2, a stream 3..7; sectors 8..10 are free.
Compound EightUsed() {
  Compound file(11);
  file.Fat(1, 2);
  file.Fat(2, kEnd);
  for (int s = 3; s < 7; ++s) file.Fat(s, static_cast<uint32_t>(s + 1));
  file.Fat(7, kEnd);
  return file;
}

TEST(CarveOle2, ExtentEndsAtTheLastUsedFatEntry) {
  Compound file = EightUsed();
  // The data after the last used sector is not part of the file: (7 + 2) x 512 = 4,608 bytes.
  WalkEnv env(DiskAround(file.bytes, 4, 8), 512, 4, 0);
  CarveOle2(env.ctx, 4 * 512, "");
  EXPECT_EQ(env.Taken(), RunWithTail(4, SectorsFor(4608), 4));
}

TEST(CarveOle2, FatSectorFromTheDifatChainIsRead) {
  Compound file = EightUsed();
  // The FAT sector is listed by a DIFAT sector (sector 8) instead of the header.
  PutLe32(file.bytes, 76, kFree);
  PutLe32(file.bytes, 68, 8);
  for (int i = 0; i < 128; ++i) file.Put(8, i, kFree);
  file.Put(8, 0, 0);
  file.Put(8, 127, kEnd);
  file.Fat(8, kDifatMark);
  WalkEnv env(DiskAround(file.bytes, 0, 4));
  CarveOle2(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor((8 + 2) * 512)));
}

struct BrokenRow {
  std::string name;
  void (*change)(Compound&);
};

class BrokenCompound : public ::testing::TestWithParam<BrokenRow> {};

TEST_P(BrokenCompound, ClaimsNothing) {
  Compound file = EightUsed();
  GetParam().change(file);
  WalkEnv env(DiskAround(file.bytes, 0, 8), 512, 4, 0);
  const auto before = env.map.bytes();
  CarveOle2(env.ctx, 0, "");
  EXPECT_EQ(env.map.bytes(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, BrokenCompound,
    ::testing::Values(
        BrokenRow{"SectorShift12", [](Compound& f) { PutLe32(f.bytes, 28, 0x000CFFFE); }},
        BrokenRow{"DirectoryChainGoesBack", [](Compound& f) {  // 3 -> 1
                    PutLe32(f.bytes, 48, 3);
                    f.Fat(3, 1);
                    f.Fat(1, kEnd);
                  }},
        BrokenRow{"DirectoryChainLoop", [](Compound& f) { f.Fat(2, 1); }},  // 1 -> 2 -> 1 ...
        BrokenRow{"DirectoryOutsideTheReadData", [](Compound& f) { PutLe32(f.bytes, 48, 9); }},
        BrokenRow{"DirectoryWithoutFatEntry", [](Compound& f) { PutLe32(f.bytes, 48, 200); }},
        BrokenRow{"DifatPointsOutOfRange", [](Compound& f) { PutLe32(f.bytes, 68, 409599); }},
        BrokenRow{"FatSectorOutOfRange", [](Compound& f) { PutLe32(f.bytes, 80, 409599); }},
        BrokenRow{"HeaderDifatNotRising", [](Compound& f) {
                    PutLe32(f.bytes, 76, 3);
                    PutLe32(f.bytes, 80, 2);
                  }},
        BrokenRow{"DifatChainLoop", [](Compound& f) {  // 8 -> 8
                    PutLe32(f.bytes, 68, 8);
                    for (int i = 0; i < 127; ++i) f.Put(8, i, kFree);
                    f.Put(8, 127, 8);
                  }},
        BrokenRow{"FatSectorListedTwice", [](Compound& f) {  // header and DIFAT both list 0
                    PutLe32(f.bytes, 68, 8);
                    for (int i = 0; i < 127; ++i) f.Put(8, i, kFree);
                    f.Put(8, 0, 0);
                    f.Put(8, 127, kEnd);
                  }},
        BrokenRow{"ExtentPastTheDisk", [](Compound& f) { f.Fat(100, kEnd); }}),
    testing::RowName());

TEST(CarveOle2, DirectoryOfTwentySectorsIsTheMost) {
  for (int length : {20, 21}) {
    Compound file(24, 1);
    for (int s = 1; s < length; ++s) file.Fat(s, static_cast<uint32_t>(s + 1));
    file.Fat(length, kEnd);
    WalkEnv env(DiskAround(file.bytes, 0, 4));
    CarveOle2(env.ctx, 0, "");
    if (length == 20)
      EXPECT_EQ(env.Taken(), RunWithTail(0, length + 2)) << length;
    else
      EXPECT_TRUE(env.Taken().empty()) << length;
  }
}

TEST(CarveOle2, RealCompoundFileInterruptedByAnotherFile) {
  const auto file = ReadFixture("doc.msi");
  std::vector<uint8_t> disk = DiskAround(file, 0, 4);
  disk.insert(disk.begin() + 4 * 512, 512, 0xEE);
  WalkEnv env(disk);
  env.map.ClaimSector(4);
  CarveOle2(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(static_cast<int64_t>(file.size())) + 1));
}

// --- PDF --------------------------------------------------------------------------------

std::vector<uint8_t> Pdf(const std::string& tail) {
  std::string text = "%PDF-1.4\n%fixture\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
  text.append(700, ' ');
  text += '\n';
  text += tail;
  return std::vector<uint8_t>(text.begin(), text.end());
}

struct PdfRow {
  std::string name;
  std::string tail;
  std::string ends_after;  // the document ends after the last occurrence of this text; "" = refused
};

class PdfTrailer : public ::testing::TestWithParam<PdfRow> {};

TEST_P(PdfTrailer, EndsWhereTheTrailerSays) {
  const PdfRow& row = GetParam();
  const auto file = Pdf(row.tail);
  WalkEnv env(DiskAround(file, 0, 2));
  const auto before = env.map.bytes();
  CarvePdf(env.ctx, 0, "");
  if (row.ends_after.empty()) {
    EXPECT_EQ(env.map.bytes(), before);
    return;
  }
  const std::string text(file.begin(), file.end());
  const int64_t end = static_cast<int64_t>(text.rfind(row.ends_after) + row.ends_after.size());
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(end)));
}

INSTANTIATE_TEST_SUITE_P(
    Trailers, PdfTrailer,
    ::testing::Values(
        PdfRow{"CrLfTrailer", "startxref\r\n1234\r\n%%EOF\r\n", "%%EOF\r\n"},
        PdfRow{"BlankBeforeOffsetIsNoTrailer", "startxref 1234\n%%EOF\n", ""},
        PdfRow{"BlankNotRecognisedLaterOneIs",
               "startxref 1234\n%%EOF\n" + std::string(600, 'x') + "\nstartxref\n99\n%%EOF\n", "99\n%%EOF\n"},
        PdfRow{"OffsetZeroIsNoEnd", "startxref\n0\n%%EOF\n" + std::string(600, 'y') + "\nstartxref\n812\n%%EOF\n",
               "812\n%%EOF\n"},
        PdfRow{"XrefAfterEofGoesOn",
               "startxref\n50\n%%EOF\nxref\n0 1\n" + std::string(700, 'z') + "\nstartxref\n1500\n%%EOF\n",
               "1500\n%%EOF\n"},
        PdfRow{"NoTrailer", std::string(900, 'q'), ""}),
    testing::RowName());

TEST(CarvePdf, DocumentInterruptedByAnotherFile) {
  const auto file = ReadFixture("doc.pdf");
  std::vector<uint8_t> disk = DiskAround(file, 0, 4);
  disk.insert(disk.begin() + 2 * 512, 3 * 512, 0xEE);
  WalkEnv env(disk);
  env.map.ClaimRun(2, 3);
  CarvePdf(env.ctx, 0, "");
  EXPECT_EQ(env.Taken(), RunWithTail(0, SectorsFor(static_cast<int64_t>(file.size())) + 3));
}

}  // namespace
}  // namespace quorvex
