// 7z archives. The 32-byte signature header gives the offset and size of the next header,
// which ends the archive: length T = 32 + offset + size. No inner structure is followed:
// the walk gathers T bytes of available sectors in order, stepping over taken ones. It
// gives up on an unreadable start, a wrong signature or version, a T that overflows or
// exceeds 20 GiB, a T that cannot fit before the scan-range end, and a failed read or write.
// Without an output file only the start sector is read; the rest is claimed unread.

#include <cstring>
#include <optional>

#include "carvers/archive/declared_length.h"
#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr uint8_t k7zSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr int64_t kMajorVersionOffset = 6;
constexpr int64_t kMinorVersionOffset = 7;
constexpr int64_t kNextHeaderOffsetOffset = 12;  // u64
constexpr int64_t kNextHeaderSizeOffset = 20;    // u64
constexpr uint64_t kSignatureHeaderSize = 32;
constexpr uint64_t kMaxArchiveLength = 21474836480ull;  // 5 * 2^32 bytes (20 GiB)
constexpr uint8_t kClassicMinor = 3;
// Versions 0.2 to 0.4 share the signature header layout; today's 7-Zip writes 0.4.
constexpr uint8_t kLowestMinor = 2;
constexpr uint8_t kHighestMinor = 4;

bool VersionAccepted(uint8_t major, uint8_t minor, bool classic) {
  if (major != 0) return false;
  if (classic) return minor == kClassicMinor;
  return minor >= kLowestMinor && minor <= kHighestMinor;
}

/// T = 32 + offset + size, or nullopt when the sum overflows or exceeds 20 GiB.
std::optional<int64_t> DeclaredLength(uint64_t next_offset, uint64_t next_size) {
  if (next_offset > kMaxArchiveLength || next_size > kMaxArchiveLength) return std::nullopt;
  const uint64_t total = kSignatureHeaderSize + next_offset + next_size;  // cannot wrap now
  if (total > kMaxArchiveLength) return std::nullopt;
  return static_cast<int64_t>(total);
}

}  // namespace

void Carve7z(ScanContext& ctx, int64_t start_offset, std::string_view folder) {
  Walk walk(ctx, start_offset);
  if (!walk.BeginArchive(folder, ".7Z")) return;

  uint8_t signature[sizeof(k7zSignature)];
  if (!walk.Fetch(0, signature, sizeof(signature)) ||
      std::memcmp(signature, k7zSignature, sizeof(k7zSignature)) != 0)
    return;
  const auto major = walk.U8(kMajorVersionOffset);
  const auto minor = walk.U8(kMinorVersionOffset);
  if (!major || !minor || !VersionAccepted(*major, *minor, ctx.classic)) return;
  const auto next_offset = walk.Le64(kNextHeaderOffsetOffset);
  const auto next_size = walk.Le64(kNextHeaderSizeOffset);
  if (!next_offset || !next_size) return;
  const auto declared = DeclaredLength(*next_offset, *next_size);
  if (!declared) return;

  GatherDeclaredLength(walk, *declared);
}

}  // namespace quorvex
