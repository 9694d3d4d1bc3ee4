// RIFF drawing files (form type "CDR..."; claim-only). The file's length is the size in
// the RIFF header plus nothing else: every sector up to that length is claimed and read
// (its bytes are not needed). A length inside the first sector, the scan-range end or a
// failed read gives the file up.

#include <cstring>

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {
constexpr int64_t kRiffSizeField = 4;
constexpr uint32_t kRiffHeadBytes = 8;  // "RIFF" and the size field, not counted by the size
}  // namespace

void CarveRiffCdr(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* magic = walk.View(0, 4);
  const auto size = walk.Le32(kRiffSizeField);
  if (magic == nullptr || std::memcmp(magic, "RIFF", 4) != 0 || !size) return;
  const uint32_t file_length = *size + kRiffHeadBytes;  // computed in 32 bits, as stored
  if (walk.buffered() >= file_length) return;
  // One sector at a time, dropping each once read, so a long file costs no memory.
  while (walk.buffered() < file_length) {
    if (!walk.ReadAhead(walk.buffered() + walk.sector_size())) return;
    walk.DiscardBefore(walk.buffered());
  }
  walk.Accept();
}

}  // namespace quorvex
