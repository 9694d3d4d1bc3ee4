#pragma once
// Steps shared by the two RAR walks: passing over one block (or header plus data area) and
// keeping the claim-only working copy small.

#include <cstdint>
#include <optional>

#include "engine/walk.h"

namespace quorvex::rar_walk {

/// The claim-only working copy is cut back once the position passes this many sectors.
inline constexpr int64_t kCompactAfterSectors = 60;
inline constexpr int kProgressLabel = 3;     // Label3 of the recovery window
inline constexpr int kSectorTextSlot = 41;   // "Sector: "

/// Makes the working copy reach the end of the block of length bytes at block. With an
/// output file every sector is gathered; claim-only, the sectors wholly inside the block are
/// claimed unread. Returns the block's length in the working copy (shorter by the skipped
/// sectors), or nothing when the walk must give up.
std::optional<int64_t> PassBlock(Walk& walk, int64_t block, int64_t length);

/// Claim-only: once block lies more than 60 sectors into the kept bytes, forgets the whole
/// sectors before it and refreshes the progress line at once.
void Compact(Walk& walk, int64_t block);

}  // namespace quorvex::rar_walk
