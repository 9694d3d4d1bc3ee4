#pragma once
// Steps shared by the claim-only walks of media and document files: stepping over a
// chunk, box, object or unit that reaches past the gathered bytes (middle sectors claimed
// unread), dropping the walked front of the working copy, and giving back the sectors that
// were read ahead past the file's end.

#include <cstdint>

#include "engine/walk.h"

namespace quorvex::av {

/// Where a walk stands in its file: the position of the next unit in the working copy (P)
/// and the file's bytes walked so far from the start, sectors claimed unread included (T).
struct Cursor {
  int64_t position = 0;
  int64_t length = 0;
};

enum class StepResult {
  kDone,      ///< the unit lies in the working copy; the cursor is past it
  kRangeEnd,  ///< the scan-range end came while claiming middle sectors unread
  kReadFail   ///< gathering the unit's last sectors failed (range end or read error)
};

/// Steps over a unit of `size` bytes that begins at the cursor. When it reaches past the
/// gathered bytes, whole sectors of its middle are claimed unread while at least two
/// sectors of it remain (each adds one sector to the cursor's length), then its last
/// sectors are gathered. A sector is claimed unread only when it lies wholly inside the
/// unit, so a header that straddled a sector boundary does not shift the next one.
/// On kRangeEnd and kReadFail the cursor keeps the unread sectors already counted.
StepResult StepOver(Walk& walk, Cursor& at, int64_t size);

/// Drops the whole sectors before `position` from the working copy once the position is
/// more than 60 sectors into it, and refreshes the progress line at once.
void CompactBefore(Walk& walk, int64_t position);

/// Keeps the first ceil(length / sector) claimed sectors and gives back the rest (the
/// read-ahead past the file's end); N then points at the first sector given back.
void TrimToLength(Walk& walk, int64_t length);

/// The progress line without waiting for the tick.
void RefreshNow(Walk& walk);

}  // namespace quorvex::av
