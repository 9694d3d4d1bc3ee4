// RIFF files of form "AVI ", "WAVE", "ACON" and "CDXA" (claim-only). After the 12-byte
// RIFF header the walk steps from chunk to chunk by the chunk sizes while the identifiers
// are ones these forms use; a further "RIFF" header (the later parts of a large AVI) is
// stepped into. An unknown identifier or a zero size ends the file; running out of range
// or a failed read while gathering gives the whole file up.

#include <array>
#include <cstring>

#include "carvers/carver.h"
#include "carvers/media/av_walk.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kRiffHeaderSize = 12;  // "RIFF", size, form type
constexpr int64_t kChunkHeaderSize = 8;  // identifier, size
constexpr int64_t kHeaderReach = 12;     // bytes gathered before a chunk header is read
constexpr int64_t kChunkSizeField = 4;
constexpr std::array<const char*, 6> kWalkedChunks = {"LIST", "JUNK", "idx1", "fmt ", "data", "anih"};

bool IsWalkedChunk(const uint8_t* id) {
  for (const char* known : kWalkedChunks)
    if (std::memcmp(id, known, 4) == 0) return true;
  return false;
}

}  // namespace

void CarveRiff(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* magic = walk.View(0, 4);
  if (magic == nullptr || std::memcmp(magic, "RIFF", 4) != 0) return;

  av::Cursor at{kRiffHeaderSize, kRiffHeaderSize};  // the header's size field is not used
  for (;;) {
    if (at.position + kHeaderReach > walk.buffered() && !walk.ReadAhead(at.position + kHeaderReach)) return;
    const uint8_t* id = walk.View(at.position, kChunkHeaderSize);
    const auto size = walk.Le32(at.position + kChunkSizeField);
    if (id == nullptr || !size) return;
    if (std::memcmp(id, "RIFF", 4) == 0) {  // a further RIFF part: walk the chunks inside it
      at.position += kRiffHeaderSize;
      at.length += kRiffHeaderSize;
      continue;
    }
    if (!IsWalkedChunk(id)) break;
    // Sizes are used as they stand (no pad byte after an odd size); the sum wraps in 32 bits.
    const uint32_t chunk = *size + static_cast<uint32_t>(kChunkHeaderSize);
    if (chunk == 0) break;
    if (av::StepOver(walk, at, chunk) != av::StepResult::kDone) return;
    av::CompactBefore(walk, at.position);
  }
  av::TrimToLength(walk, at.length);
  walk.Accept();
}

}  // namespace quorvex
