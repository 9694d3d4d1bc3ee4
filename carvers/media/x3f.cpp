// X3F: the file ends with a 32-bit pointer to its section directory ("SECd", a version, an
// entry count and 12-byte entries), so sectors are read one by one until a sector holds, at a
// 4-byte boundary, a value pointing 24 .. 228 bytes back (a multiple of 12) to "SECd"; the file
// ends after that pointer. No pointer within 200 MiB, a read error or the scan-range end gives
// the file back.

#include <cstring>

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {
constexpr uint8_t kSignature[4] = {'F', 'O', 'V', 'b'};
constexpr uint8_t kDirectoryMark[4] = {'S', 'E', 'C', 'd'};
constexpr int64_t kSizeLimit = 209715200;
constexpr uint32_t kDirectoryEntrySize = 12;
constexpr uint32_t kMinPointerDistance = 13;
constexpr uint32_t kMaxPointerDistance = 239;
constexpr int64_t kPointerSize = 4;

/// True when the 32-bit value at q points back to a section directory that ends at q.
bool IsDirectoryPointer(const Walk& walk, int64_t q) {
  const auto value = walk.Le32(q);
  if (!value) return false;
  const uint32_t distance = static_cast<uint32_t>(q) - *value;
  if (distance % kDirectoryEntrySize != 0 || distance < kMinPointerDistance || distance > kMaxPointerDistance)
    return false;
  const uint8_t* mark = walk.View(*value, sizeof kDirectoryMark);
  return mark != nullptr && std::memcmp(mark, kDirectoryMark, sizeof kDirectoryMark) == 0;
}
}  // namespace

void CarveX3f(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset, Walk::Width::k32);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* head = walk.View(0, sizeof kSignature);
  if (head == nullptr || std::memcmp(head, kSignature, sizeof kSignature) != 0) return;
  const int64_t sector = walk.sector_size();
  bool found = false;
  // The first sector is never searched: the pointer lies at least one sector in.
  while (!found && walk.buffered() < kSizeLimit) {
    const int64_t added = walk.buffered();
    if (!walk.ReadAhead(added + sector)) return;
    for (int64_t q = added; q + kPointerSize <= added + sector; q += kPointerSize) {
      if (IsDirectoryPointer(walk, q)) {
        found = true;
        break;
      }
    }
  }
  if (!found || walk.buffered() >= kSizeLimit) return;
  walk.Accept();
}

}  // namespace quorvex
