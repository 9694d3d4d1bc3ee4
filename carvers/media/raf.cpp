// RAF: the fixed big-endian header gives the offsets and lengths of the raw data block and,
// when the embedded JPEG sits at 148, of a second block; the file ends with the later of them.
// The sectors up to that end are claimed unread; an end past 200 MiB gives the file back, the
// scan-range end keeps what was claimed.

#include <algorithm>
#include <cstring>

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {
constexpr char kSignature[] = "FUJIFILMCCD-RAW ";  // 16 bytes with the final blank
constexpr size_t kSignatureSize = 16;
constexpr int64_t kJpegOffsetField = 84;
constexpr int64_t kRawOffsetField = 100;
constexpr int64_t kRawLengthField = 104;
constexpr int64_t kSecondOffsetField = 128;
constexpr int64_t kSecondLengthField = 132;
constexpr uint32_t kJpegOffsetWithSecondBlock = 148;
constexpr int64_t kSizeLimit = 209715200;
}  // namespace

void CarveRaf(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* head = walk.View(0, kSignatureSize);
  if (head == nullptr || std::memcmp(head, kSignature, kSignatureSize) != 0) return;
  const auto jpeg_offset = walk.Be32(kJpegOffsetField);
  const auto raw_offset = walk.Be32(kRawOffsetField);
  const auto raw_length = walk.Be32(kRawLengthField);
  if (!jpeg_offset || !raw_offset || !raw_length) return;
  // Ends in 64 bits: a sum past 4 GiB is an end past the limit, not a small one.
  int64_t end = static_cast<int64_t>(*raw_offset) + *raw_length;
  if (*jpeg_offset == kJpegOffsetWithSecondBlock) {
    const auto second_offset = walk.Be32(kSecondOffsetField);
    const auto second_length = walk.Be32(kSecondLengthField);
    if (!second_offset || !second_length) return;
    end = std::max(end, static_cast<int64_t>(*second_offset) + *second_length);
  }
  if (end > kSizeLimit) return;
  int64_t covered = walk.buffered();
  while (covered < end) {
    if (!walk.SkipClaim()) break;  // the scan range ended: what is claimed stays
    covered += walk.sector_size();
    walk.Progress();
  }
  walk.Accept();
}

}  // namespace quorvex
