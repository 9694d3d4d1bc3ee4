// What begins in a sector. The signatures are tested in a fixed order and the first
// match wins; to keep the common case (a sector of file data that matches nothing)
// cheap, the tests are grouped by the sector's first byte, and the only tests that do
// not depend on that byte (the Jet name at 4, the 192-byte transport stream and the
// FAT directory walk) sit between the groups exactly where the order puts them.

#include "engine/identify.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

namespace quorvex {
namespace {

// Fixed offsets read by the signature tests; the furthest is the third 192-byte
// transport packet's sync byte (391 with its time stamp), always inside 512 bytes.
constexpr size_t kJetNameOffset = 4;
constexpr size_t kRiffFormOffset = 8;
constexpr size_t kAsfFilePropertiesOffset = 30;
constexpr size_t kFtypOffset = 4;
constexpr size_t kFtypBrandOffset = 8;
constexpr size_t kBmpReservedOffset = 6;
constexpr size_t kZipFirstNameOffset = 30;
constexpr size_t kCabVersionOffset = 24;
constexpr uint16_t kCabVersion13 = 0x0103;

constexpr size_t kTsPacket192 = 192;
constexpr size_t kTsPacket188 = 188;
constexpr size_t kTs192SyncOffset = 4;
constexpr uint8_t kTsSync = 0x47;
constexpr uint32_t kTsStampMask = 0x3FFFFFFF;
constexpr uint32_t kTsMaxStampStep = 3'200'000;

constexpr int64_t kMpeg2MaxScr = 320'000;  // exclusive
constexpr int64_t kInvalidScr = -1;

constexpr size_t kNtfsUsaOffset = 4;
constexpr size_t kNtfsUsaCount = 6;
constexpr size_t kFileFirstAttribute = 20;
constexpr size_t kFileBytesInUse = 24;
constexpr size_t kFileBytesAllocated = 28;
constexpr size_t kIndxBytesInUse = 28;
constexpr size_t kIndxBytesAllocated = 32;
constexpr uint32_t kIndxHeaderBias = 24;
constexpr uint32_t kNtfsRecordUnit = 512;
constexpr uint32_t kAttributeEnd = 0xFFFFFFFF;

constexpr uint32_t kFatEntrySize = 32;
constexpr size_t kFatAttribute = 11;
constexpr size_t kFatWriteDate = 24;
constexpr size_t kFatFileSize = 28;
constexpr uint8_t kFatDeleted = 0xE5;
constexpr uint8_t kFatDirectoryBit = 0x10;
constexpr uint8_t kFatLongName = 0x0F;
constexpr unsigned kFatMinYear = 5;  // 1985

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}
inline uint32_t Be32(const uint8_t* p) { return __builtin_bswap32(Le32(p)); }

/// The four bytes of a literal as the little-endian word they form in a buffer.
constexpr uint32_t Tag(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

/// Text (without its terminating zero) at offset.
template <size_t N>
inline bool TextAt(const uint8_t* buffer, size_t offset, const char (&text)[N]) {
  return std::memcmp(buffer + offset, text, N - 1) == 0;
}
/// Byte list at offset.
template <size_t N>
inline bool BytesAt(const uint8_t* buffer, size_t offset, const uint8_t (&bytes)[N]) {
  return std::memcmp(buffer + offset, bytes, N) == 0;
}

constexpr uint8_t kOle2Magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint8_t kAsfHeaderGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kAsfFilePropertiesGuid[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kPngMagic[] = {0x89, 0x50, 0x4E, 0x47};
constexpr uint8_t kRar4Marker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr uint8_t kRar5Marker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
constexpr uint8_t kZipLocalHeader[] = {0x50, 0x4B, 0x03, 0x04};
constexpr uint8_t k7zSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t k7zMajorOffset = 6;
constexpr size_t k7zMinorOffset = 7;
constexpr uint8_t k7zClassicMinor = 3;
constexpr uint8_t k7zMinMinor = 2;  // 7-Zip 4.x and later write 0.2 to 0.4
constexpr uint8_t k7zMaxMinor = 4;

/// Bytes allowed in a FAT short name: not below 20, not FF, and none of " * / : < > ? \\ |.
constexpr std::array<bool, 256> kFatNameChars = [] {
  std::array<bool, 256> allowed{};
  for (unsigned c = 0x20; c < 0xFF; ++c) allowed[c] = true;
  for (const unsigned reserved : {0x22u, 0x2Au, 0x2Fu, 0x3Au, 0x3Cu, 0x3Eu, 0x3Fu, 0x5Cu, 0x7Cu}) allowed[reserved] = false;
  return allowed;
}();

inline bool IsRiffCdr(const uint8_t* form) {
  return (form[0] | 0x20) == 'c' && (form[1] | 0x20) == 'd' && (form[2] | 0x20) == 'r';
}

uint8_t RiffForm(const uint8_t* buffer) {
  const uint32_t form = Le32(buffer + kRiffFormOffset);
  if (form == Tag("AVI ")) return type_code::kRiffAvi;
  if (form == Tag("CDXA")) return type_code::kRiffCdxa;
  if (form == Tag("WAVE")) return type_code::kRiffWave;
  if (form == Tag("ACON")) return type_code::kRiffAcon;
  if (IsRiffCdr(buffer + kRiffFormOffset)) return type_code::kRiffCdr;
  return type_code::kNone;
}

uint8_t PackHeaderResult(const uint8_t* buffer) {
  const uint8_t form = buffer[4];
  if ((form & 0xC0) == 0x40) {
    const int64_t scr = Mpeg2PackScr(buffer);
    if (scr >= 0 && scr < kMpeg2MaxScr) return scr == 0 ? type_code::kMpeg2Pack : type_code::kPack30;
  } else if ((form & 0xE0) == 0x20) {
    const int64_t scr = Mpeg1PackScr(buffer);
    if (scr >= 0) return scr == 0 ? type_code::kMpegPs : type_code::kPack32;
  }
  return type_code::kNone;
}

/// Three 192-byte packets whose 4-byte time stamps step forward by a plausible amount.
/// Returns 0 when the sector is not such a stream.
uint8_t Ts192Result(const uint8_t* buffer) {
  if (buffer[kTs192SyncOffset] != kTsSync || buffer[kTs192SyncOffset + kTsPacket192] != kTsSync ||
      buffer[kTs192SyncOffset + 2 * kTsPacket192] != kTsSync)
    return type_code::kNone;
  const uint32_t t0 = Be32(buffer);
  const uint32_t t1 = Be32(buffer + kTsPacket192);
  const uint32_t t2 = Be32(buffer + 2 * kTsPacket192);
  const uint32_t d1 = (t1 - t0) & kTsStampMask;
  const uint32_t d2 = (t2 - t1) & kTsStampMask;
  if (d1 == 0 || d1 > kTsMaxStampStep || d2 == 0 || d2 > kTsMaxStampStep) return type_code::kNone;
  return t0 == 0 ? type_code::kMpegTs : type_code::kTsPacket34;
}

bool NtfsUsaPlausible(const uint8_t* buffer) {
  const uint16_t usa_offset = Le16(buffer + kNtfsUsaOffset);
  const uint16_t usa_count = Le16(buffer + kNtfsUsaCount);
  return usa_offset >= 40 && usa_offset <= 96 && usa_count >= 1 && usa_count <= 96;
}

/// An NTFS file record. Returns false when the header does not hold (identification goes
/// on); otherwise *code is the result.
bool NtfsFileRecord(const uint8_t* buffer, uint8_t r, uint8_t* code) {
  if (!NtfsUsaPlausible(buffer)) return false;
  const uint16_t first_attribute = Le16(buffer + kFileFirstAttribute);
  if (first_attribute < 48 || first_attribute > 96) return false;
  const uint32_t in_use = Le32(buffer + kFileBytesInUse);
  const uint32_t allocated = Le32(buffer + kFileBytesAllocated);
  if (in_use > allocated || allocated == 0 || allocated % kNtfsRecordUnit != 0) return false;

  *code = r;
  // The update sequence must end before the first attribute (the count, not the byte
  // length, is compared, which is how the records were judged from the start).
  if (Le16(buffer + kNtfsUsaOffset) + Le16(buffer + kNtfsUsaCount) > first_attribute) return true;
  const uint32_t type = Le32(buffer + first_attribute);
  const uint32_t length = Le32(buffer + first_attribute + 4);
  if (type == kAttributeEnd || (type >= 16 && type <= 512 && length >= 8 && length <= 4096))
    *code = type_code::kMetadata;
  return true;
}

bool NtfsIndexRecord(const uint8_t* buffer) {
  if (!NtfsUsaPlausible(buffer)) return false;
  const uint32_t in_use = Le32(buffer + kIndxBytesInUse);
  const uint32_t allocated = Le32(buffer + kIndxBytesAllocated);
  return in_use <= allocated && allocated != 0 && (allocated + kIndxHeaderBias) % kNtfsRecordUnit == 0;
}

/// The FAT directory sector walk over the whole 32-byte entries of the sector.
uint8_t FatDirectoryResult(const uint8_t* buffer, uint32_t bytes_per_sector, uint8_t r) {
  unsigned score = 0;
  for (uint32_t offset = 0; offset + kFatEntrySize <= bytes_per_sector; offset += kFatEntrySize) {
    const uint8_t* entry = buffer + offset;
    const uint8_t first = entry[0];
    if (first == 0x00) {
      // The end of the directory: everything after it must be unused too.
      for (uint32_t later = offset + kFatEntrySize; later + kFatEntrySize <= bytes_per_sector;
           later += kFatEntrySize)
        if (buffer[later] != 0x00) return r;
      break;
    }
    if (first == kFatDeleted) {
      score += 1;
      continue;
    }
    const uint8_t attribute = entry[kFatAttribute];
    if ((attribute & 0xF0) > 0x30) return r;
    if ((attribute & kFatDirectoryBit) != 0 && Le32(entry + kFatFileSize) != 0) return r;
    if (attribute == kFatLongName) continue;
    if (first <= 0x20) return r;
    const unsigned date = Le16(entry + kFatWriteDate);
    const unsigned year = date >> 9;
    const unsigned month = (date >> 5) & 0x0F;
    const unsigned day = date & 0x1F;
    if (year < kFatMinYear || month < 1 || month > 12 || day < 1) return r;
    score += 2;
    for (size_t i = 1; i <= 10; ++i)
      if (!kFatNameChars[entry[i]]) return r;
  }
  return score >= 2 ? type_code::kMetadata : r;
}

}  // namespace

bool IsFatNameChar(uint8_t c) { return kFatNameChars[c]; }

int64_t Mpeg2PackScr(const uint8_t* buffer) {
  const uint8_t* p = buffer + 4;
  if ((p[0] & 0x04) == 0 || (p[2] & 0x04) == 0 || (p[4] & 0x04) == 0) return kInvalidScr;
  return (int64_t{(p[0] >> 3) & 0x07} << 30) | (int64_t{p[0] & 0x03} << 28) | (int64_t{p[1]} << 20) |
         (int64_t{(p[2] >> 3) & 0x1F} << 15) | (int64_t{p[2] & 0x03} << 13) | (int64_t{p[3]} << 5) |
         int64_t{(p[4] >> 3) & 0x1F};
}

int64_t Mpeg1PackScr(const uint8_t* buffer) {
  const uint8_t* p = buffer + 4;
  if ((p[0] & 0x01) == 0 || (p[2] & 0x01) == 0 || (p[4] & 0x01) == 0) return kInvalidScr;
  return (int64_t{(p[0] >> 1) & 0x07} << 30) | (int64_t{p[1]} << 22) | (int64_t{(p[2] >> 1) & 0x7F} << 15) |
         (int64_t{p[3]} << 7) | int64_t{(p[4] >> 1) & 0x7F};
}

uint8_t IdentifySector(const uint8_t* buffer, uint32_t bytes_per_sector, bool classic) {
  const uint32_t head = Le32(buffer);

  // Signatures tested before the Jet name.
  switch (buffer[0]) {
    case 0xFF:
      if (buffer[1] == 0xD8 && buffer[2] == 0xFF)
        return (buffer[3] & 0xFE) == 0xE0 ? type_code::kJpegApp : type_code::kJpegOther;
      break;
    case 'G':
      if (TextAt(buffer, 0, "GIF89a")) return type_code::kGif;
      break;
    case 'B':
      if (buffer[1] == 'M')
        return Le32(buffer + kBmpReservedOffset) == 0 ? type_code::kBmp : type_code::kNone;
      break;
    case 0xD0:
      if (BytesAt(buffer, 0, kOle2Magic)) return type_code::kOle2;
      break;
    default:
      break;
  }

  if (Le32(buffer + kJetNameOffset) == Tag("Stan") && TextAt(buffer, kJetNameOffset, "Standard Jet DB"))
    return type_code::kJet;

  // Signatures tested before the 192-byte transport stream; a pack header only sets
  // the provisional result.
  uint8_t r = type_code::kNone;
  switch (buffer[0]) {
    case 'R':
      if (head == Tag("RIFF")) return RiffForm(buffer);
      break;
    case 0x30:
      if (BytesAt(buffer, 0, kAsfHeaderGuid))
        return BytesAt(buffer, kAsfFilePropertiesOffset, kAsfFilePropertiesGuid) ? type_code::kAsf
                                                                                  : type_code::kAsfOther;
      break;
    case 0x00:
      if (buffer[1] == 0x00 && Le32(buffer + kFtypOffset) == Tag("ftyp")) {
        if (TextAt(buffer, kFtypBrandOffset, "3gp")) return type_code::k3gp;
        if (TextAt(buffer, kFtypBrandOffset, "mp4")) return type_code::kMp4;
        return type_code::kIsoOther;
      }
      if (head == 0xBA010000u) r = PackHeaderResult(buffer);
      break;
    default:
      break;
  }

  if (const uint8_t ts = Ts192Result(buffer); ts != type_code::kNone) return ts;

  switch (buffer[0]) {
    case 0x00:
      // No later signature begins with 00, and the FAT walk stops at a first entry of
      // 00 with a score of 0 whatever follows: the result is the provisional one.
      return r;
    case 0x47:
      if (buffer[kTsPacket188] == kTsSync && buffer[2 * kTsPacket188] == kTsSync && buffer[1] != kTsSync &&
          buffer[kTsPacket188 + 1] != kTsSync && buffer[2 * kTsPacket188 + 1] != kTsSync)
        return type_code::kTsPacket35;
      break;
    case 0x89:
      if (BytesAt(buffer, 0, kPngMagic)) return type_code::kPng;
      break;
    case 'I':
      if (TextAt(buffer, 0, "ID3")) return type_code::kId3;
      if (head == Tag("II*\0") || head == Tag("IIRO") || head == Tag("IIU\0")) return type_code::kTiffRaw;
      if (head == Tag("INDX") && NtfsIndexRecord(buffer)) return type_code::kMetadata;
      break;
    case 'M':
      if (head == Tag("MM\0*") || head == Tag("MMOR") || head == Tag("MM\0U")) return type_code::kTiffRaw;
      if (head == Tag("MSCF") && Le16(buffer + kCabVersionOffset) == kCabVersion13) return type_code::kCab;
      break;
    case 'F':
      if (head == Tag("FOVb")) return type_code::kX3f;
      if (TextAt(buffer, 0, "FUJIFILMCCD-RAW ")) return type_code::kRaf;
      if (head == Tag("FILE")) {
        uint8_t code = r;
        if (NtfsFileRecord(buffer, r, &code)) return code;
      }
      break;
    case 'R':
      if (BytesAt(buffer, 0, kRar4Marker)) return type_code::kRar;
      if (!classic && BytesAt(buffer, 0, kRar5Marker)) return type_code::kRar5;
      break;
    case 'P':
      if (BytesAt(buffer, 0, kZipLocalHeader)) {
        if (TextAt(buffer, kZipFirstNameOffset, "[Content_Types].xml")) return type_code::kOfficeZip;
        if (TextAt(buffer, kZipFirstNameOffset, "content/riffData.cdr")) return type_code::kCdrZip;
        return type_code::kZip;
      }
      break;
    case '7':
      if (BytesAt(buffer, 0, k7zSignature) && buffer[k7zMajorOffset] == 0) {
        const uint8_t minor = buffer[k7zMinorOffset];
        if (classic ? minor == k7zClassicMinor : (minor >= k7zMinMinor && minor <= k7zMaxMinor))
          return type_code::k7z;
      }
      break;
    case '%':
      if (TextAt(buffer, 0, "%PDF-")) return type_code::kPdf;
      break;
    default:
      break;
  }

  return FatDirectoryResult(buffer, bytes_per_sector, r);
}

}  // namespace quorvex
