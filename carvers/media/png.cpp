// PNG: the chunks are walked from the signature to IEND by their length fields; the middle
// of a long chunk is claimed unread and only its last one or two sectors are read, so the
// next chunk header is in memory. Only the seven chunk types of a plain picture are walked:
// any other type, a chunk over 1,000,000 bytes, a file past 100 MiB, a read error or the
// scan-range end (except inside IEND) gives the whole picture back.

#include <array>
#include <cstring>

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {
constexpr uint8_t kSignature[4] = {0x89, 'P', 'N', 'G'};
constexpr int64_t kFirstChunk = 8;
constexpr int64_t kChunkHeaderSize = 8;       // 32-bit big-endian data length, 4-character type
constexpr int64_t kCrcSize = 4;
constexpr int64_t kMaxChunkRest = 1000000;    // data + CRC of one chunk
constexpr int64_t kMaxCopyEnd = 104857600;
constexpr std::array<const char*, 7> kWalkedTypes = {"IHDR", "sRGB", "gAMA", "cHRM", "PLTE", "IDAT", "IEND"};

bool IsWalkedType(const uint8_t* type) {
  for (const char* walked : kWalkedTypes)
    if (std::memcmp(type, walked, 4) == 0) return true;
  return false;
}
}  // namespace

void CarvePng(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* signature = walk.View(0, sizeof kSignature);
  if (signature == nullptr || std::memcmp(signature, kSignature, sizeof kSignature) != 0) return;
  const int64_t sector = walk.sector_size();
  int64_t pos = kFirstChunk;
  for (;;) {
    if (walk.buffered() < pos + kChunkHeaderSize && !walk.ReadAhead(walk.buffered() + sector)) return;
    const auto data_length = walk.Be32(pos);
    const uint8_t* type = walk.View(pos + 4, 4);
    if (!data_length || type == nullptr) return;
    pos += kChunkHeaderSize;
    if (!IsWalkedType(type)) return;
    const bool last = std::memcmp(type, "IEND", 4) == 0;
    // The rest of the chunk in 64 bits: a length near 2^32 is a bad chunk, not a short one.
    int64_t rest = static_cast<int64_t>(*data_length) + kCrcSize;
    if (rest > kMaxChunkRest) return;
    // The middle of the chunk is claimed unread; the working copy then continues with the
    // chunk's last bytes, so positions after this chunk stay consistent with the file.
    while (rest >= 2 * sector) {
      if (!walk.SkipClaim()) return;
      rest -= sector;
    }
    if (pos + rest > kMaxCopyEnd) return;
    while (walk.buffered() < pos + rest) {
      if (!walk.NextAvailable()) break;  // the scan range ended; fatal unless this is IEND
      if (!walk.ReadAhead(walk.buffered() + sector)) return;  // a failed read
    }
    pos += rest;
    if (last) break;
  }
  walk.Accept();
}

}  // namespace quorvex
