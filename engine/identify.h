#pragma once
// What begins in a sector: a pure function of the sector's bytes and the sector size.
// It reads nothing else, changes nothing, never fails and allocates nothing.

#include <cstdint>

namespace quorvex {

/// Format codes. Numbers up to 35 and 100 are the classic ones; 36 and up are later
/// additions (formats today's tools write), turned off by ScanOptions::classic.
namespace type_code {
inline constexpr uint8_t kNone = 0;
inline constexpr uint8_t kJpegApp = 1;
inline constexpr uint8_t kJpegOther = 2;
inline constexpr uint8_t kGif = 3;
inline constexpr uint8_t kBmp = 4;
inline constexpr uint8_t kOle2 = 5;
inline constexpr uint8_t kJet = 6;
inline constexpr uint8_t kRiffAvi = 7;
inline constexpr uint8_t kId3 = 8;
inline constexpr uint8_t kPng = 9;
inline constexpr uint8_t kRiffWave = 10;
inline constexpr uint8_t kRiffAcon = 11;
inline constexpr uint8_t kRiffCdxa = 12;
inline constexpr uint8_t kAsf = 13;
inline constexpr uint8_t kTiffRaw = 14;
inline constexpr uint8_t kRar = 15;
inline constexpr uint8_t kZip = 16;
inline constexpr uint8_t kCab = 17;
inline constexpr uint8_t k7z = 18;
inline constexpr uint8_t kMp4 = 19;
inline constexpr uint8_t kAsfOther = 20;
inline constexpr uint8_t kOfficeZip = 21;
inline constexpr uint8_t kPdf = 22;
inline constexpr uint8_t k3gp = 23;
inline constexpr uint8_t kIsoOther = 24;
inline constexpr uint8_t kX3f = 25;
inline constexpr uint8_t kRaf = 26;
inline constexpr uint8_t kRiffCdr = 27;
inline constexpr uint8_t kCdrZip = 28;
inline constexpr uint8_t kMpeg2Pack = 29;
inline constexpr uint8_t kPack30 = 30;
inline constexpr uint8_t kMpegPs = 31;
inline constexpr uint8_t kPack32 = 32;
inline constexpr uint8_t kMpegTs = 33;
inline constexpr uint8_t kTsPacket34 = 34;
inline constexpr uint8_t kTsPacket35 = 35;
inline constexpr uint8_t kRar5 = 36;
inline constexpr uint8_t kMetadata = 100;
inline constexpr int kCount = 101;  ///< table size for arrays indexed by code
}  // namespace type_code

/// Classifies one sector. buffer holds at least max(512, bytes_per_sector) bytes.
/// With classic set only the original formats and versions are recognised (no RAR 5,
/// 7z format 0.3 only).
uint8_t IdentifySector(const uint8_t* buffer, uint32_t bytes_per_sector, bool classic = false);

/// Clock of an MPEG-2 pack header at buffer (14 bytes readable).
int64_t Mpeg2PackScr(const uint8_t* buffer);
/// Clock of an MPEG-1 pack header at buffer (12 bytes readable).
int64_t Mpeg1PackScr(const uint8_t* buffer);
/// Characters allowed in a FAT short name.
bool IsFatNameChar(uint8_t c);

}  // namespace quorvex
