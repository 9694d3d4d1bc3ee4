// BMP: the file header states the file size; that many bytes' worth of sectors are claimed
// unread after the first. A header without "BM" and zero reserved fields gives the sector
// back; a size outside 58 .. 100 MiB keeps only the first sector (and its cluster's rest);
// the scan-range end keeps what was claimed.

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {
constexpr int64_t kFileSizeOffset = 2;
constexpr int64_t kReservedOffset = 6;
constexpr uint32_t kMinFileSize = 58;
constexpr uint32_t kMaxFileSize = 104857600;
}  // namespace

void CarveBmp(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const auto b = walk.U8(0);
  const auto m = walk.U8(1);
  const auto reserved = walk.Le32(kReservedOffset);
  const auto file_size = walk.Le32(kFileSizeOffset);
  if (!b || !m || !reserved || !file_size || *b != 'B' || *m != 'M' || *reserved != 0) return;
  if (*file_size >= kMinFileSize && *file_size <= kMaxFileSize) {
    int64_t covered = walk.buffered();
    while (covered < static_cast<int64_t>(*file_size)) {
      if (!walk.SkipClaim()) break;  // the scan range ended: what is claimed stays
      covered += walk.sector_size();
      walk.Progress();
    }
  }
  walk.Accept();
}

}  // namespace quorvex
