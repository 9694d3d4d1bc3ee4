// ISO base media files: MP4, 3GP, QuickTime with an "ftyp" box (claim-only). The "ftyp"
// box (under 256 bytes) is passed by its size; then the top-level boxes are stepped over by
// their 32-bit sizes while their types are walked ones ("mdat" middles are claimed unread).
// A box of another type or of size 0 ends the file, and the sectors read ahead for that
// header are given back; running out of range or a failed read gives the whole file up.

#include <array>
#include <cstring>

#include "carvers/carver.h"
#include "carvers/media/av_walk.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kBoxHeaderSize = 8;  // 32-bit big-endian size, 4-character type
constexpr int64_t kBoxTypeOffset = 4;
constexpr uint32_t kFirstBoxLimit = 256;
constexpr std::array<const char*, 7> kWalkedBoxes = {"isom", "free", "uuid", "mdat", "moov", "wide", "skip"};

bool IsWalkedBox(const uint8_t* type) {
  for (const char* known : kWalkedBoxes)
    if (std::memcmp(type, known, 4) == 0) return true;
  return false;
}

}  // namespace

void CarveMp4(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const auto first_word = walk.Be16(0);
  const uint8_t* first_type = walk.View(kBoxTypeOffset, 4);
  if (!first_word || *first_word != 0 || first_type == nullptr || std::memcmp(first_type, "ftyp", 4) != 0) return;
  const uint32_t first_size = *walk.Be32(0);  // below 65,536: its top two bytes are 0
  if (first_size >= kFirstBoxLimit) return;
  // A first box of size 0 would leave a file of no bytes: nothing to claim.
  if (first_size == 0) return;

  av::Cursor at{first_size, first_size};  // the first box is passed over whatever it holds
  for (;;) {
    if (at.position + kBoxHeaderSize > walk.buffered() && !walk.ReadAhead(at.position + kBoxHeaderSize)) return;
    const auto size = walk.Be32(at.position);
    const uint8_t* type = walk.View(at.position + kBoxTypeOffset, 4);
    if (!size || type == nullptr) return;
    // No 64-bit size form: a size of 1 counts as one byte and the next header is misread.
    if (!IsWalkedBox(type) || *size == 0) break;
    if (av::StepOver(walk, at, *size) != av::StepResult::kDone) return;
    av::CompactBefore(walk, at.position);
  }
  av::TrimToLength(walk, at.length);
  walk.Accept();
}

}  // namespace quorvex
