// Cabinet files. The header's cbCabinet (u32 at 8) is the whole file's length, so no inner
// structure is followed: the walk gathers that many bytes of available sectors in order,
// stepping over taken ones. It gives up when the start sector is unreadable or lacks
// "MSCF", when a sector cannot be read or written, and when the declared length cannot
// fit before the scan-range end (the rest of such a cabinet is not on the source).
// Without an output file only the start sector is read; the rest is claimed unread.

#include <cstring>

#include "carvers/archive/declared_length.h"
#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr char kCabSignature[4] = {'M', 'S', 'C', 'F'};
constexpr int64_t kCabinetSizeOffset = 8;  // cbCabinet, u32

}  // namespace

void CarveCab(ScanContext& ctx, int64_t start_offset, std::string_view folder) {
  Walk walk(ctx, start_offset);
  if (!walk.BeginArchive(folder, ".CAB")) return;

  char signature[sizeof(kCabSignature)];
  if (!walk.Fetch(0, signature, sizeof(signature)) ||
      std::memcmp(signature, kCabSignature, sizeof(kCabSignature)) != 0)
    return;
  const auto cabinet_size = walk.Le32(kCabinetSizeOffset);
  if (!cabinet_size) return;
  // A cbCabinet below one sector keeps only the start sector; 0 is saved as an empty file.
  GatherDeclaredLength(walk, static_cast<int64_t>(*cabinet_size));
}

}  // namespace quorvex
