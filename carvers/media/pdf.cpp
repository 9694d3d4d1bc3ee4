// PDF documents (claim-only). From byte 20 the text is scanned for an end-of-file trailer:
// at a line start "startxref", line ends, a non-zero offset in digits, line ends, "%%EOF"
// and line ends. What follows decides: "xref" (an incremental update) goes on to a later
// trailer, anything else ends the document there. Past 300 MiB without an end, at the
// scan-range end or on a failed read the document is given up.

#include <cstring>
#include <string_view>

#include "carvers/carver.h"
#include "carvers/media/av_walk.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kScanStart = 20;
constexpr int64_t kCopyLimit = 314572800;  // 300 MiB
constexpr std::string_view kMagic = "%PDF-";
constexpr std::string_view kStartXref = "startxref";
constexpr std::string_view kEof = "%%EOF";
constexpr std::string_view kXref = "xref";

enum class State { kText, kLineStart, kAfterKeyword, kBeforeOffset, kInOffset, kAfterOffset, kAfterEof };

bool IsLineEnd(uint8_t b) { return b == '\r' || b == '\n'; }
bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

}  // namespace

void CarvePdf(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset, Walk::Width::k32);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* magic = walk.View(0, kMagic.size());
  if (magic == nullptr || std::memcmp(magic, kMagic.data(), kMagic.size()) != 0) return;

  // Gathers up to position + n and tells whether the n bytes there are the keyword.
  bool gathered = true;
  auto keyword_at = [&walk, &gathered](int64_t position, std::string_view keyword) {
    const auto n = static_cast<int64_t>(keyword.size());
    if (position + n > walk.buffered() && !walk.ReadAhead(position + n)) {
      gathered = false;
      return false;
    }
    return std::memcmp(walk.View(position, keyword.size()), keyword.data(), keyword.size()) == 0;
  };

  int64_t position = kScanStart;
  State state = State::kText;
  // Only whether the offset is exactly "0" matters, so only that is kept of it.
  bool offset_is_zero = false;
  for (;;) {
    if (walk.buffered() > kCopyLimit) return;
    if (position + 1 > walk.buffered() && !walk.ReadAhead(position + 1)) return;
    const uint8_t b = *walk.View(position, 1);
    switch (state) {
      case State::kText:
        state = IsLineEnd(b) ? State::kLineStart : State::kText;
        ++position;
        break;
      case State::kLineStart:
        if (IsLineEnd(b)) {
          ++position;
        } else if (keyword_at(position, kStartXref)) {
          position += static_cast<int64_t>(kStartXref.size());
          state = State::kAfterKeyword;
        } else {
          if (!gathered) return;
          ++position;
          state = State::kText;
        }
        break;
      case State::kAfterKeyword:
        if (IsLineEnd(b)) {
          ++position;
          state = State::kBeforeOffset;
        } else {
          state = State::kText;  // the byte is looked at again in the text state
        }
        break;
      case State::kBeforeOffset:
        ++position;
        if (IsLineEnd(b)) break;
        if (IsDigit(b)) {
          offset_is_zero = b == '0';
          state = State::kInOffset;
        } else {
          state = State::kText;
        }
        break;
      case State::kInOffset:
        ++position;
        if (IsLineEnd(b)) {
          state = State::kAfterOffset;
        } else if (IsDigit(b)) {
          offset_is_zero = false;
        } else {
          state = State::kText;
        }
        break;
      case State::kAfterOffset:
        if (IsLineEnd(b)) {
          ++position;
        } else if (!offset_is_zero && keyword_at(position, kEof)) {
          position += static_cast<int64_t>(kEof.size());
          state = State::kAfterEof;
        } else {
          if (!gathered) return;
          ++position;
          state = State::kText;
        }
        break;
      case State::kAfterEof:
        if (IsLineEnd(b)) {
          ++position;
        } else if (keyword_at(position, kXref)) {
          position += static_cast<int64_t>(kXref.size());
          state = State::kText;
        } else {
          if (!gathered) return;
          av::TrimToLength(walk, position);  // the document ends before this byte
          walk.Accept();
          return;
        }
        break;
    }
  }
}

}  // namespace quorvex
