#pragma once
// The common end of the walks of archives that state their own total length in their
// first sector (cabinet, 7z): gather that many bytes of available sectors in order, stepping
// over taken ones, then accept. With an output file every sector is read once and appended;
// without one the sectors are claimed unread.

#include <cstdint>

#include "engine/walk.h"

namespace quorvex {

/// Gathers length bytes (the start sector is already gathered) and ends the walk: accepted
/// when they were all gathered, given up otherwise. A length that cannot fit between the
/// start sector and the scan-range end gives up at once, before anything more is claimed or
/// read: the rest of such an archive is not on the source, and a lengthened file would
/// hold bytes that were never the archive's.
inline void GatherDeclaredLength(Walk& walk, int64_t length) {
  const ScanContext& ctx = walk.context();
  const int64_t bps = walk.sector_size();
  const int64_t room_sectors = ctx.range_end - walk.start_offset() / bps + 1;
  if (length < 0 || room_sectors <= 0 || (length + bps - 1) / bps > room_sectors) {
    walk.GiveUp();
    return;
  }
  if (walk.has_output()) {
    if (walk.ReadAhead(length)) {
      walk.AcceptSaved(length);
    } else {
      walk.GiveUp();
    }
    return;
  }
  for (int64_t gathered = walk.buffered(); gathered < length; gathered += bps) {
    if (!walk.SkipClaim()) {
      walk.GiveUp();
      return;
    }
    walk.Progress();
  }
  walk.Accept();
}

}  // namespace quorvex
