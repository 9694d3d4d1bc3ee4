// RAR archives of the block format (marker "Rar!" 1A 07 00): steps from block header to block
// header by each block's header size plus, when flag bit 15 is set, its additional size.
// The archive ends after the end-of-archive block (0x7B). A block of length 0, a block type
// outside 0x73..0x7B, a block running past the scan-range end or an unreadable sector gives up.
// Saving writes every gathered sector to the output file; claim-only claims the sectors wholly
// inside a block's data unread and keeps only the last few dozen sectors in memory.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/ui_text.h"
#include "carvers/carver.h"
#include "carvers/archive/rar_walk.h"
#include "engine/run_control.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr std::array<uint8_t, 7> kRarMarker = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

// Block header fields, from the block's first byte.
constexpr int64_t kTypeOffset = 2;
constexpr int64_t kFlagsOffset = 3;
constexpr int64_t kHeaderSizeOffset = 5;
constexpr int64_t kAddSizeOffset = 7;
constexpr int64_t kFixedHeader = 7;
constexpr int64_t kHeaderWithAddSize = 11;
constexpr uint16_t kFlagAddSize = 0x8000;

constexpr uint8_t kFirstBlockType = 0x73;  // archive header
constexpr uint8_t kEndBlockType = 0x7B;    // end of archive

}  // namespace

void CarveRar(ScanContext& ctx, int64_t start_offset, std::string_view folder) {
  Walk walk(ctx, start_offset);
  if (!walk.BeginArchive(folder, ".RAR")) return;
  for (size_t i = 0; i < kRarMarker.size(); ++i) {
    if (walk.U8(static_cast<int64_t>(i)) != kRarMarker[i]) return;
  }

  int64_t block = static_cast<int64_t>(kRarMarker.size());  // P: the block after the marker
  for (;;) {
    if (!walk.ReadAhead(block + kFixedHeader)) return;
    const std::optional<uint8_t> type = walk.U8(block + kTypeOffset);
    const std::optional<uint16_t> flags = walk.Le16(block + kFlagsOffset);
    const std::optional<uint16_t> header_size = walk.Le16(block + kHeaderSizeOffset);
    if (!type || !flags || !header_size) return;
    // The block length is an unsigned 32-bit sum, as the format's fields are.
    uint32_t length = *header_size;
    if (*flags & kFlagAddSize) {
      if (!walk.ReadAhead(block + kHeaderWithAddSize)) return;
      const std::optional<uint32_t> add_size = walk.Le32(block + kAddSizeOffset);
      if (!add_size) return;
      length += *add_size;
    }
    if (length == 0) return;
    if (*type < kFirstBlockType || *type > kEndBlockType) return;
    const std::optional<int64_t> gathered = rar_walk::PassBlock(walk, block, length);
    if (!gathered) return;
    block += *gathered;
    rar_walk::Compact(walk, block);
    if (*type == kEndBlockType) break;
  }

  if (walk.has_output()) {
    walk.AcceptSaved(block);
  } else {
    walk.Accept();
  }
}

namespace rar_walk {

std::optional<int64_t> PassBlock(Walk& walk, int64_t block, int64_t length) {
  const int64_t bps = walk.sector_size();
  if (walk.has_output() || block + length <= walk.buffered()) {
    if (!walk.ReadAhead(block + length)) return std::nullopt;
    return length;
  }
  // Claim the sectors wholly inside the block's data unread. A skipped sector never enters
  // the working copy, so the block's length in the copy shrinks by one sector each time. A
  // sector is skipped only while the block still runs a whole sector past what is gathered:
  // after a header that straddled a sector boundary the next sector may hold the next header.
  int64_t left = length;
  while (left >= 2 * bps && block + left - walk.buffered() >= bps) {
    if (!walk.SkipClaim()) return std::nullopt;
    walk.Progress();
    left -= bps;
  }
  if (!walk.ReadAhead(block + left)) return std::nullopt;
  return left;
}

void Compact(Walk& walk, int64_t block) {
  const int64_t bps = walk.sector_size();
  if (walk.has_output() || block - walk.kept_from() <= kCompactAfterSectors * bps) return;
  walk.DiscardBefore(block / bps * bps);
  // This refresh does not wait for the tick: it marks progress through a long archive.
  ScanContext& ctx = walk.context();
  RunControl& run = *ctx.run;
  run.last_refresh_tick = run.ui_tick.load(std::memory_order_relaxed);
  run.SetLabel(ProgressWindow::kRecovery, kProgressLabel,
               UiText(kSectorTextSlot) + std::to_string(walk.start_offset() / bps) + ", " +
                   std::to_string(walk.next_offset() / bps));
  run.Pump();
}

}  // namespace rar_walk

}  // namespace quorvex
