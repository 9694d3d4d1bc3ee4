// MPEG-1 program streams (claim-only). From a pack whose clock is 0 the walk steps over
// pack headers (12 bytes) and every other unit (6 + its 16-bit length) while the start codes
// hold. At each cluster boundary of the stream the pack there must move the clock forward
// by at most 800,000 ticks, else the stream ends before it. A pack of another MPEG version
// gives the whole stream up; a break in the framing or the scan-range end ends the stream,
// and the sectors read ahead past its end are given back.

#include <cstring>

#include "carvers/carver.h"
#include "carvers/media/av_walk.h"
#include "engine/identify.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kPackHeaderSize = 12;
constexpr int64_t kUnitReach = 12;  // bytes gathered before a start code is read
constexpr int64_t kUnitLengthOffset = 4;
constexpr int64_t kUnitHeadBytes = 6;  // start code, stream byte, 16-bit length
constexpr uint8_t kPackCode = 0xBA;
constexpr uint8_t kVersionMask = 0xE0;
constexpr uint8_t kMpeg1Bits = 0x20;
constexpr int64_t kScrJumpLimit = 800000;

bool HasStartPrefix(const uint8_t* bytes) { return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1; }

}  // namespace

void CarveMpegPs(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const int64_t cluster = static_cast<int64_t>(ctx.sectors_per_cluster > 0 ? ctx.sectors_per_cluster : 1) *
                          walk.sector_size();

  av::Cursor at;
  int64_t last_scr = -1;
  bool pack_next = true;  // the walk starts on a pack header
  for (;;) {
    if (pack_next) {
      const uint8_t* pack = walk.View(at.position, kPackHeaderSize);
      if (pack == nullptr) return;
      if (!HasStartPrefix(pack) || pack[3] != kPackCode || (pack[4] & kVersionMask) != kMpeg1Bits)
        return;  // not an MPEG-1 pack: the whole stream is given up
      const int64_t scr = Mpeg1PackScr(pack);
      // A pack with a cleared marker bit carries no clock to test or keep: the stream
      // is taken to end before it, as where the framing breaks.
      if (scr < 0) break;
      if (at.length % cluster == 0 && (scr <= last_scr || scr - last_scr > kScrJumpLimit)) break;
      last_scr = scr;
      at.position += kPackHeaderSize;
      at.length += kPackHeaderSize;
      pack_next = false;
    }
    if (at.position + kUnitReach > walk.buffered() && !walk.ReadAhead(at.position + kUnitReach)) break;
    const uint8_t* unit = walk.View(at.position, kUnitReach);
    if (unit == nullptr || !HasStartPrefix(unit)) break;
    if (unit[3] == kPackCode) {
      pack_next = true;
      continue;
    }
    const int64_t unit_size = kUnitHeadBytes + *walk.Be16(at.position + kUnitLengthOffset);
    // The program end code counts like any unit; a unit cut by the range end or a failed
    // read ends the stream, keeping the sectors of it claimed unread.
    if (av::StepOver(walk, at, unit_size) != av::StepResult::kDone) break;
    av::CompactBefore(walk, at.position);
  }
  // A stream that ended before its first pack has no bytes to claim.
  if (at.length == 0) return;
  av::TrimToLength(walk, at.length);
  walk.Accept();
}

}  // namespace quorvex
