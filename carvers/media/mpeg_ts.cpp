// Transport streams in 192-byte packets (claim-only): a 4-byte arrival time stamp then a
// 188-byte packet starting with the sync byte 0x47. The walk takes packets while the sync
// byte holds; at each cluster boundary of the stream the time stamp may move forward by at
// most 3,200,000 ticks (modulo 2^30), else the stream ends before that packet. The sectors
// read ahead past the last whole packet are given back.

#include "carvers/carver.h"
#include "carvers/media/av_walk.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kPacketSize = 192;
constexpr int64_t kSyncOffset = 4;
constexpr uint8_t kSyncByte = 0x47;
constexpr int kCheckedPackets = 3;  // the identifier has seen the first three
constexpr uint32_t kTimeMask = 0x3FFFFFFF;
constexpr uint32_t kTimeJumpLimit = 3200000;
// The working copy is cut back by this much whenever the walk gets past twice as far
// into it, so it stays near 32 MiB however long the stream is.
constexpr int64_t kCompactionStep = 16785408;
constexpr int64_t kCompactionThreshold = 33570816;

}  // namespace

void CarveMpegTs(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  for (int i = 0; i < kCheckedPackets; ++i) {
    const auto sync = walk.U8(i * kPacketSize + kSyncOffset);
    if (!sync || *sync != kSyncByte) return;
  }
  const int64_t cluster = static_cast<int64_t>(ctx.sectors_per_cluster > 0 ? ctx.sectors_per_cluster : 1) *
                          walk.sector_size();
  uint32_t last_time = *walk.Be32((kCheckedPackets - 1) * kPacketSize);
  av::Cursor at{kCheckedPackets * kPacketSize, kCheckedPackets * kPacketSize};
  for (;;) {
    if (at.position + kPacketSize > walk.buffered() && !walk.ReadAhead(at.position + kPacketSize)) break;
    const auto time = walk.Be32(at.position);
    const auto sync = walk.U8(at.position + kSyncOffset);
    if (!time || !sync || *sync != kSyncByte) break;
    if (at.length % cluster == 0 && ((*time - last_time) & kTimeMask) > kTimeJumpLimit) break;
    last_time = *time;
    at.position += kPacketSize;
    at.length += kPacketSize;
    if (at.position - walk.kept_from() > kCompactionThreshold) {
      walk.DiscardBefore(walk.kept_from() + kCompactionStep);
      av::RefreshNow(walk);
    }
  }
  av::TrimToLength(walk, at.length);
  walk.Accept();
}

}  // namespace quorvex
