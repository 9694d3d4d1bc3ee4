// Sector identification: real file headers written by real tools (tests/data/identify,
// made by make.sh there), then hand-made sectors for the formats without a cheap tool
// and for the boundaries between a match and no match.

#include "engine/identify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/param_name.h"

namespace quorvex {
namespace {

namespace tc = type_code;

constexpr size_t kBufferBytes = 4096;
using Sector = std::array<uint8_t, kBufferBytes>;

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The first 512 bytes of a file (fewer when it is shorter) at the start of a zeroed
/// 4096-byte buffer.
Sector SectorFromFile(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  EXPECT_FALSE(bytes.empty()) << path;
  Sector sector{};
  std::memcpy(sector.data(), bytes.data(), std::min<size_t>(bytes.size(), 512));
  return sector;
}

// ---------------------------------------------------------------- real headers

struct FileRow {
  std::string name;
  std::string path;  // below the test data folder
  uint8_t expected;
  uint8_t expected_classic;
};

class IdentifyRealHeader : public ::testing::TestWithParam<FileRow> {};

TEST_P(IdentifyRealHeader, GivesItsCode) {
  const FileRow& row = GetParam();
  const Sector sector = SectorFromFile(std::string(QUORVEX_TEST_DATA) + "/" + row.path);
  EXPECT_EQ(IdentifySector(sector.data(), 512, false), row.expected);
  EXPECT_EQ(IdentifySector(sector.data(), 512, true), row.expected_classic);
  // The same bytes in a 4096-byte sector whose remainder is zero.
  EXPECT_EQ(IdentifySector(sector.data(), 4096, false), row.expected);
}

const FileRow kFileRows[] = {
    {"Jpeg_Jfif", "identify/jpeg.bin", tc::kJpegApp, tc::kJpegApp},
    {"Gif89a", "identify/gif.bin", tc::kGif, tc::kGif},
    {"Bmp", "identify/bmp.bin", tc::kBmp, tc::kBmp},
    {"RiffAvi", "identify/avi.bin", tc::kRiffAvi, tc::kRiffAvi},
    {"Mp3WithId3", "identify/mp3_id3.bin", tc::kId3, tc::kId3},
    {"Png", "identify/png.bin", tc::kPng, tc::kPng},
    {"RiffWave", "identify/wav.bin", tc::kRiffWave, tc::kRiffWave},
    {"AsfFilePropertiesFirst", "identify/asf.bin", tc::kAsf, tc::kAsf},
    {"TiffLittleEndian", "identify/tiff_le.bin", tc::kTiffRaw, tc::kTiffRaw},
    {"TiffBigEndian", "identify/tiff_be.bin", tc::kTiffRaw, tc::kTiffRaw},
    {"Rar4", "rar/test_read_format_rar.rar", tc::kRar, tc::kRar},
    {"Zip", "identify/zip.bin", tc::kZip, tc::kZip},
    {"Cab13", "identify/cab.bin", tc::kCab, tc::kCab},
    // 7-Zip of today writes format 0.4: an archive of the later kind.
    {"SevenZip04", "identify/7z.bin", tc::k7z, tc::kNone},
    {"Mp4BrandMp42", "identify/mp4.bin", tc::kMp4, tc::kMp4},
    {"OfficeOpenXml", "identify/office_zip.bin", tc::kOfficeZip, tc::kOfficeZip},
    {"ThreeGp", "identify/3gp.bin", tc::k3gp, tc::k3gp},
    {"QuickTimeBrand", "identify/mov.bin", tc::kIsoOther, tc::kIsoOther},
    {"DrawingInZip", "identify/cdr_zip.bin", tc::kCdrZip, tc::kCdrZip},
    {"Mpeg2PackClockZero", "identify/mpeg2_ps.bin", tc::kMpeg2Pack, tc::kMpeg2Pack},
    {"Mpeg1PackClockZero", "identify/mpeg1_ps.bin", tc::kMpegPs, tc::kMpegPs},
    {"Ts192FirstStampNotZero", "identify/ts192.bin", tc::kTsPacket34, tc::kTsPacket34},
    {"Ts188", "identify/ts188.bin", tc::kTsPacket35, tc::kTsPacket35},
    {"FatRootDirectory", "identify/fat_dir.bin", tc::kMetadata, tc::kMetadata},
    // The MFT's first record: update sequence at 48, 3 words, first attribute at 56.
    {"NtfsFileRecord", "identify/ntfs_file.bin", tc::kMetadata, tc::kMetadata},
    {"NtfsIndexRecord", "identify/ntfs_indx.bin", tc::kMetadata, tc::kMetadata},
};

INSTANTIATE_TEST_SUITE_P(Tools, IdentifyRealHeader, ::testing::ValuesIn(kFileRows), testing::RowName());

// ---------------------------------------------------------------- hand-made sectors

void Put(Sector& s, size_t offset, std::initializer_list<uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), s.begin() + static_cast<std::ptrdiff_t>(offset));
}
void PutText(Sector& s, size_t offset, const char* text) {
  std::memcpy(s.data() + offset, text, std::strlen(text));
}
void PutLe16(Sector& s, size_t offset, uint32_t v) {
  Put(s, offset, {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
}
void PutLe32(Sector& s, size_t offset, uint32_t v) {
  Put(s, offset, {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)});
}
void PutBe32(Sector& s, size_t offset, uint32_t v) {
  Put(s, offset, {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v)});
}

/// An MPEG-2 pack header carrying the clock reference base scr (marker bits set).
void PutMpeg2Pack(Sector& s, uint64_t scr) {
  Put(s, 0, {0x00, 0x00, 0x01, 0xBA});
  s[4] = static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03));
  s[5] = static_cast<uint8_t>(scr >> 20);
  s[6] = static_cast<uint8_t>(0x04 | ((scr >> 12) & 0xF8) | ((scr >> 13) & 0x03));
  s[7] = static_cast<uint8_t>(scr >> 5);
  s[8] = static_cast<uint8_t>(0x04 | ((scr << 3) & 0xF8));
  s[9] = 0x01;
}

/// An MPEG-1 pack header carrying the clock reference scr (marker bits set).
void PutMpeg1Pack(Sector& s, uint64_t scr) {
  Put(s, 0, {0x00, 0x00, 0x01, 0xBA});
  s[4] = static_cast<uint8_t>(0x21 | ((scr >> 29) & 0x0E));
  s[5] = static_cast<uint8_t>(scr >> 22);
  s[6] = static_cast<uint8_t>(0x01 | ((scr >> 14) & 0xFE));
  s[7] = static_cast<uint8_t>(scr >> 7);
  s[8] = static_cast<uint8_t>(0x01 | ((scr << 1) & 0xFE));
}

/// Three 192-byte packets with the given 4-byte time stamp fields.
void PutTs192(Sector& s, uint32_t t0, uint32_t t1, uint32_t t2) {
  PutBe32(s, 0, t0);
  PutBe32(s, 192, t1);
  PutBe32(s, 384, t2);
  s[4] = s[196] = s[388] = 0x47;
}

/// A FAT short-name entry at offset with a valid 2001-02-03 write date.
void PutFatEntry(Sector& s, size_t offset, const char* name11, uint8_t attribute = 0x20,
                 uint32_t date = (21u << 9) | (2u << 5) | 3u) {
  std::memcpy(s.data() + offset, name11, 11);
  s[offset + 11] = attribute;
  PutLe16(s, offset + 24, date);
}

/// An NTFS file record header that passes every header condition, first attribute at 56.
void PutFileRecord(Sector& s, uint32_t attribute_type, uint32_t attribute_length) {
  PutText(s, 0, "FILE");
  PutLe16(s, 4, 48);   // update sequence offset
  PutLe16(s, 6, 3);    // update sequence count
  PutLe16(s, 20, 56);  // first attribute
  PutLe32(s, 24, 416);
  PutLe32(s, 28, 1024);
  PutLe32(s, 56, attribute_type);
  PutLe32(s, 60, attribute_length);
}

void PutIndexRecord(Sector& s, uint32_t allocated) {
  PutText(s, 0, "INDX");
  PutLe16(s, 4, 40);
  PutLe16(s, 6, 9);
  PutLe32(s, 28, 1232);
  PutLe32(s, 32, allocated);
}

struct HandRow {
  std::string name;
  std::function<void(Sector&)> fill;
  uint8_t expected;
  uint8_t expected_classic;
  uint32_t bytes_per_sector = 512;
};

class IdentifyHandMade : public ::testing::TestWithParam<HandRow> {};

TEST_P(IdentifyHandMade, GivesItsCode) {
  const HandRow& row = GetParam();
  Sector sector{};
  row.fill(sector);
  EXPECT_EQ(IdentifySector(sector.data(), row.bytes_per_sector, false), row.expected);
  EXPECT_EQ(IdentifySector(sector.data(), row.bytes_per_sector, true), row.expected_classic);
}

const uint8_t kAsfHeader[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

void PutAsfHeader(Sector& s) { std::memcpy(s.data(), kAsfHeader, sizeof kAsfHeader); }

const HandRow kHandRows[] = {
    // One row per code without a real header above.
    {"Zeros", [](Sector&) {}, tc::kNone, tc::kNone},
    {"JpegApp1", [](Sector& s) { Put(s, 0, {0xFF, 0xD8, 0xFF, 0xE1}); }, tc::kJpegApp, tc::kJpegApp},
    {"JpegOtherMarker", [](Sector& s) { Put(s, 0, {0xFF, 0xD8, 0xFF, 0xDB}); }, tc::kJpegOther, tc::kJpegOther},
    {"Ole2", [](Sector& s) { Put(s, 0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}); }, tc::kOle2, tc::kOle2},
    {"JetDatabase", [](Sector& s) { Put(s, 0, {0x00, 0x01, 0x00, 0x00}); PutText(s, 4, "Standard Jet DB"); },
     tc::kJet, tc::kJet},
    {"RiffAcon", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 8, "ACON"); }, tc::kRiffAcon, tc::kRiffAcon},
    {"RiffCdxa", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 8, "CDXA"); }, tc::kRiffCdxa, tc::kRiffCdxa},
    {"AsfOtherFirstObject", [](Sector& s) { PutAsfHeader(s); }, tc::kAsfOther, tc::kAsfOther},
    {"TiffRawIIRO", [](Sector& s) { PutText(s, 0, "IIRO"); }, tc::kTiffRaw, tc::kTiffRaw},
    {"TiffRawMMOR", [](Sector& s) { PutText(s, 0, "MMOR"); }, tc::kTiffRaw, tc::kTiffRaw},
    {"TiffRawIIU", [](Sector& s) { Put(s, 0, {0x49, 0x49, 0x55, 0x00}); }, tc::kTiffRaw, tc::kTiffRaw},
    {"TiffRawMMU", [](Sector& s) { Put(s, 0, {0x4D, 0x4D, 0x00, 0x55}); }, tc::kTiffRaw, tc::kTiffRaw},
    {"Pdf", [](Sector& s) { PutText(s, 0, "%PDF-1.7\n"); }, tc::kPdf, tc::kPdf},
    {"X3f", [](Sector& s) { PutText(s, 0, "FOVb"); }, tc::kX3f, tc::kX3f},
    {"Raf", [](Sector& s) { PutText(s, 0, "FUJIFILMCCD-RAW 0201FF383501"); }, tc::kRaf, tc::kRaf},
    {"RiffDrawing", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 8, "CDR9"); }, tc::kRiffCdr, tc::kRiffCdr},
    {"Mpeg2PackClock319999", [](Sector& s) { PutMpeg2Pack(s, 319'999); }, tc::kPack30, tc::kPack30},
    {"Mpeg1PackClockNotZero", [](Sector& s) { PutMpeg1Pack(s, 90'000); }, tc::kPack32, tc::kPack32},
    {"Ts192FirstStampZero", [](Sector& s) { PutTs192(s, 0, 3'200'000, 6'400'000); }, tc::kMpegTs, tc::kMpegTs},
    {"Rar5Marker", [](Sector& s) { Put(s, 0, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00}); },
     tc::kRar5, tc::kNone},

    // Boundaries.
    {"BmpReservedNotZero",
     [](Sector& s) {
       PutText(s, 0, "BM");
       s[8] = 1;
       // What follows would pass the FAT test; the BMP test ends first.
       PutFatEntry(s, 32, "PAYLOAD TXT");
     },
     tc::kNone, tc::kNone},
    {"RiffUnlistedForm", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 8, "RMID"); }, tc::kNone, tc::kNone},
    {"RiffLowerCaseCdr", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 8, "cdr6"); }, tc::kRiffCdr,
     tc::kRiffCdr},
    {"RiffMixedCaseCdr", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 8, "CdRX"); }, tc::kRiffCdr,
     tc::kRiffCdr},
    {"JetNameBeforeRiff", [](Sector& s) { PutText(s, 0, "RIFF"); PutText(s, 4, "Standard Jet DB"); }, tc::kJet,
     tc::kJet},
    {"Gif87a", [](Sector& s) { PutText(s, 0, "GIF87a"); }, tc::kNone, tc::kNone},
    {"RarMarkerUnknownVersion", [](Sector& s) { Put(s, 0, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x02, 0x00}); },
     tc::kNone, tc::kNone},
    {"CabVersion104", [](Sector& s) { PutText(s, 0, "MSCF"); PutLe16(s, 24, 0x0104); }, tc::kNone, tc::kNone},
    {"SevenZip03", [](Sector& s) { Put(s, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x03}); }, tc::k7z,
     tc::k7z},
    {"SevenZip02", [](Sector& s) { Put(s, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x02}); }, tc::k7z,
     tc::kNone},
    {"SevenZip05", [](Sector& s) { Put(s, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x05}); }, tc::kNone,
     tc::kNone},
    {"SevenZip13", [](Sector& s) { Put(s, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x01, 0x03}); }, tc::kNone,
     tc::kNone},
    {"IsoFirstBoxOf64KiB", [](Sector& s) { Put(s, 0, {0x00, 0x01, 0x00, 0x00}); PutText(s, 4, "ftypmp42"); },
     tc::kNone, tc::kNone},
    {"Mpeg2PackClock320000", [](Sector& s) { PutMpeg2Pack(s, 320'000); }, tc::kNone, tc::kNone},
    {"Mpeg2PackMarkerCleared", [](Sector& s) { PutMpeg2Pack(s, 0); s[6] &= 0xFB; }, tc::kNone, tc::kNone},
    {"Mpeg1PackMarkerCleared", [](Sector& s) { PutMpeg1Pack(s, 0); s[8] &= 0xFE; }, tc::kNone, tc::kNone},
    {"Ts192Step3200000", [](Sector& s) { PutTs192(s, 1000, 3'201'000, 6'401'000); }, tc::kTsPacket34,
     tc::kTsPacket34},
    {"Ts192Step3200001", [](Sector& s) { PutTs192(s, 0, 3'200'001, 6'400'002); }, tc::kNone, tc::kNone},
    {"Ts192SecondStep3200001", [](Sector& s) { PutTs192(s, 0, 100, 3'200'101); }, tc::kNone, tc::kNone},
    {"Ts192EqualStamps", [](Sector& s) { PutTs192(s, 5000, 5000, 9000); }, tc::kNone, tc::kNone},
    {"Ts192CopyBitsIgnored", [](Sector& s) { PutTs192(s, 0xC0000000u, 0xC0001000u, 0xC0002000u); },
     tc::kTsPacket34, tc::kTsPacket34},
    {"Ts192StampWraps", [](Sector& s) { PutTs192(s, 0x3FFFFF00u, 0x00000100u, 0x00000200u); },
     tc::kTsPacket34, tc::kTsPacket34},
    {"PackHeaderThatIsAlsoTs192",
     [](Sector& s) {
       PutTs192(s, 0x000001BAu, 0x000011BAu, 0x000021BAu);  // the pack's byte 4 is the sync byte 47
     },
     tc::kTsPacket34, tc::kTsPacket34},
    {"Ts188SyncAlsoAtByte1", [](Sector& s) { s[0] = s[188] = s[376] = 0x47; s[189] = 0x47; }, tc::kNone,
     tc::kNone},

    // FAT directory sectors.
    {"FatOneEntryThenZeros", [](Sector& s) { PutFatEntry(s, 0, "README  TXT"); }, tc::kMetadata, tc::kMetadata},
    {"FatDeletedOnly", [](Sector& s) { PutFatEntry(s, 0, "\xE5" "EADME  TXT"); }, tc::kNone, tc::kNone},
    {"FatTwoDeleted",
     [](Sector& s) {
       PutFatEntry(s, 0, "\xE5" "EADME  TXT");
       PutFatEntry(s, 32, "\xE5" "OTES   TXT");
     },
     tc::kMetadata, tc::kMetadata},
    {"FatLongNameAlone", [](Sector& s) { PutFatEntry(s, 0, "Ar\0e\0a\0d\0m\0", 0x0F); }, tc::kNone, tc::kNone},
    {"FatDate1984", [](Sector& s) { PutFatEntry(s, 0, "README  TXT", 0x20, (4u << 9) | (1u << 5) | 1u); },
     tc::kNone, tc::kNone},
    {"FatDate1985", [](Sector& s) { PutFatEntry(s, 0, "README  TXT", 0x20, (5u << 9) | (1u << 5) | 1u); },
     tc::kMetadata, tc::kMetadata},
    {"FatMonth13", [](Sector& s) { PutFatEntry(s, 0, "README  TXT", 0x20, (21u << 9) | (13u << 5) | 1u); },
     tc::kNone, tc::kNone},
    {"FatOneBadDateSpoilsSector",
     [](Sector& s) {
       PutFatEntry(s, 0, "README  TXT");
       PutFatEntry(s, 32, "OLD     TXT", 0x20, (4u << 9) | (1u << 5) | 1u);
     },
     tc::kNone, tc::kNone},
    {"FatZeroEntryThenData",
     [](Sector& s) {
       PutFatEntry(s, 0, "README  TXT");
       s[480] = 0x41;
     },
     tc::kNone, tc::kNone},
    {"FatBytesAfterSectorIgnored",
     [](Sector& s) {
       PutFatEntry(s, 0, "README  TXT");
       s[512] = 0x41;
     },
     tc::kMetadata, tc::kMetadata},
    {"FatDirectoryWithSize",
     [](Sector& s) {
       PutFatEntry(s, 0, "SUBDIR     ", 0x10);
       PutLe32(s, 28, 4096);
     },
     tc::kNone, tc::kNone},
    {"FatHighAttributeBits", [](Sector& s) { PutFatEntry(s, 0, "README  TXT", 0x40); }, tc::kNone, tc::kNone},
    {"FatBadNameChar", [](Sector& s) { PutFatEntry(s, 0, "READ*E  TXT"); }, tc::kNone, tc::kNone},
    {"FatFirstByteBlank", [](Sector& s) { PutFatEntry(s, 0, " EADME  TXT"); }, tc::kNone, tc::kNone},

    // 4096-byte sectors: the walk covers all 128 entries.
    {"Fat4096ZeroEntryThenDataPastByte512",
     [](Sector& s) {
       PutFatEntry(s, 0, "README  TXT");
       s[4064] = 0x41;
     },
     tc::kNone, tc::kNone, 4096},
    {"Fat4096EntriesToTheEnd",
     [](Sector& s) {
       for (size_t offset = 0; offset < 4096; offset += 32) PutFatEntry(s, offset, "README  TXT");
     },
     tc::kMetadata, tc::kMetadata, 4096},
    {"Fat4096BadEntryAtTheEnd",
     [](Sector& s) {
       for (size_t offset = 0; offset < 4064; offset += 32) PutFatEntry(s, offset, "README  TXT");
       PutFatEntry(s, 4064, "READ?E  TXT");
     },
     tc::kNone, tc::kNone, 4096},
    {"Fat512BadEntryPastTheSector",
     [](Sector& s) {
       for (size_t offset = 0; offset < 4064; offset += 32) PutFatEntry(s, offset, "README  TXT");
       PutFatEntry(s, 4064, "READ?E  TXT");
     },
     tc::kMetadata, tc::kMetadata, 512},

    // NTFS records.
    {"NtfsFileEndMarker", [](Sector& s) { PutFileRecord(s, 0xFFFFFFFFu, 0); }, tc::kMetadata, tc::kMetadata},
    {"NtfsFileAttributeTypeZero", [](Sector& s) { PutFileRecord(s, 0, 0x60); }, tc::kNone, tc::kNone},
    {"NtfsFileAttributeTooLong", [](Sector& s) { PutFileRecord(s, 0x10, 4097); }, tc::kNone, tc::kNone},
    {"NtfsFileUpdateSequenceOverlapsAttribute",
     [](Sector& s) {
       PutFileRecord(s, 0x10, 0x60);
       PutLe16(s, 6, 9);  // 48 + 9 > 56
     },
     tc::kNone, tc::kNone},
    {"NtfsFileAllocatedNotMultipleOf512",
     [](Sector& s) {
       PutFileRecord(s, 0x10, 0x60);
       PutLe32(s, 28, 1000);
     },
     tc::kNone, tc::kNone},
    {"NtfsFileInUseAboveAllocated",
     [](Sector& s) {
       PutFileRecord(s, 0x10, 0x60);
       PutLe32(s, 24, 1025);
     },
     tc::kNone, tc::kNone},
    {"NtfsIndex4096", [](Sector& s) { PutIndexRecord(s, 4072); }, tc::kMetadata, tc::kMetadata},
    {"NtfsIndexAllocatedOff", [](Sector& s) { PutIndexRecord(s, 4096); }, tc::kNone, tc::kNone},
};

INSTANTIATE_TEST_SUITE_P(Sectors, IdentifyHandMade, ::testing::ValuesIn(kHandRows), testing::RowName());

TEST(IdentifyTables, CoverEveryCode) {
  std::set<int> seen;
  for (const FileRow& row : kFileRows) seen.insert({row.expected, row.expected_classic});
  for (const HandRow& row : kHandRows) seen.insert({row.expected, row.expected_classic});
  for (int code = 0; code <= tc::kRar5; ++code) EXPECT_TRUE(seen.count(code)) << "code " << code;
  EXPECT_TRUE(seen.count(tc::kMetadata));
}

// ---------------------------------------------------------------- helpers

TEST(IsFatNameChar, RejectsControlsFfAndTheNineReservedBytes) {
  const std::vector<uint8_t> reserved = {0x22, 0x2A, 0x2F, 0x3A, 0x3C, 0x3E, 0x3F, 0x5C, 0x7C};
  for (int c = 0; c < 256; ++c) {
    const auto byte = static_cast<uint8_t>(c);
    const bool expected =
        c >= 0x20 && c != 0xFF && std::find(reserved.begin(), reserved.end(), byte) == reserved.end();
    EXPECT_EQ(IsFatNameChar(byte), expected) << "byte " << c;
  }
}

TEST(PackClock, ReadsEveryBitOfTheClock) {
  for (const uint64_t scr : {0ull, 1ull, 319'999ull, 0x1FFFFFFFFull, 0x155555555ull, 0x0AAAAAAAAull}) {
    Sector mpeg2{};
    PutMpeg2Pack(mpeg2, scr);
    EXPECT_EQ(Mpeg2PackScr(mpeg2.data()), static_cast<int64_t>(scr));
    Sector mpeg1{};
    PutMpeg1Pack(mpeg1, scr);
    EXPECT_EQ(Mpeg1PackScr(mpeg1.data()), static_cast<int64_t>(scr));
  }
}

TEST(PackClock, AnyClearedMarkerIsInvalid) {
  for (const size_t marker_byte : {4u, 6u, 8u}) {
    Sector mpeg2{};
    PutMpeg2Pack(mpeg2, 1234);
    mpeg2[marker_byte] &= 0xFB;
    EXPECT_LT(Mpeg2PackScr(mpeg2.data()), 0) << marker_byte;
    Sector mpeg1{};
    PutMpeg1Pack(mpeg1, 1234);
    mpeg1[marker_byte] &= 0xFE;
    EXPECT_LT(Mpeg1PackScr(mpeg1.data()), 0) << marker_byte;
  }
}

TEST(IdentifySector, ReadsOnlyTheSectorItIsGiven) {
  // A sector placed at the very end of an allocation: sanitizer builds catch any read
  // past it, for every first byte value and both sector sizes the loop uses.
  for (const uint32_t bps : {512u, 4096u}) {
    for (int first = 0; first < 256; ++first) {
      std::vector<uint8_t> sector(bps, 0x20);
      sector[0] = static_cast<uint8_t>(first);
      (void)IdentifySector(sector.data(), bps, false);
      (void)IdentifySector(sector.data(), bps, true);
    }
  }
}

}  // namespace
}  // namespace quorvex
