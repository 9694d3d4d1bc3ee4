// ASF files (claim-only), two ways.
// CarveAsf: the first object inside the Header Object is the File Properties Object, whose
// File Size field gives the length; the sectors up to it are claimed unread (the scan-range
// end just stops the claim). A size above 5 x 2^32 gives the file up.
// CarveAsfObjects: steps over the top-level objects by their sizes until the one after the
// Data Object; an object of another family, a size out of bounds, the scan-range end or a
// failed read gives the file up.

#include <array>
#include <cstring>

#include "carvers/carver.h"
#include "carvers/media/av_walk.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr size_t kGuidSize = 16;
constexpr int64_t kObjectHeaderSize = 24;  // GUID and 64-bit size
constexpr int64_t kFilePropertiesOffset = 30;
constexpr int64_t kFileSizeOffset = 70;
constexpr int64_t kAsfSizeLimit = 21474836480;  // 5 x 2^32
constexpr uint8_t kDataObjectFirstByte = 0x36;

constexpr std::array<uint8_t, kGuidSize> kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::array<uint8_t, kGuidSize> kFilePropertiesObject = {
    0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// Bytes 1 to 15 of the GUIDs accepted as top-level objects after the first.
constexpr std::array<uint8_t, kGuidSize - 1> kHeaderFamilyTail = {0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6,
                                                                  0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::array<uint8_t, kGuidSize - 1> kOtherFamilyTail = {0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97,
                                                                 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

bool Matches(const uint8_t* bytes, const uint8_t* expected, size_t n) {
  return bytes != nullptr && std::memcmp(bytes, expected, n) == 0;
}

}  // namespace

void CarveAsf(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  if (!Matches(walk.View(kFilePropertiesOffset, kGuidSize), kFilePropertiesObject.data(), kGuidSize)) return;
  const auto size_field = walk.Le64(kFileSizeOffset);
  if (!size_field) return;
  const auto file_size = static_cast<int64_t>(*size_field);
  if (file_size > kAsfSizeLimit) return;
  int64_t walked = walk.buffered();
  while (walked < file_size) {
    if (!walk.SkipClaim()) break;  // the scan range ended first: what was claimed stays
    walked += walk.sector_size();
    walk.Progress();
  }
  walk.Accept();
}

void CarveAsfObjects(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  if (!Matches(walk.View(0, kGuidSize), kHeaderObject.data(), kGuidSize)) return;
  av::Cursor at;
  for (;;) {
    if (!walk.ReadAhead(at.position + kObjectHeaderSize)) return;
    const uint8_t* guid = walk.View(at.position, kGuidSize);
    const auto size_field = walk.Le64(at.position + static_cast<int64_t>(kGuidSize));
    if (guid == nullptr || !size_field) return;
    if (at.position > 0 && !Matches(guid + 1, kHeaderFamilyTail.data(), kGuidSize - 1) &&
        !Matches(guid + 1, kOtherFamilyTail.data(), kGuidSize - 1))
      return;
    const uint8_t first_byte = guid[0];
    const auto size = static_cast<int64_t>(*size_field);
    if (size > kAsfSizeLimit || size <= kObjectHeaderSize) return;
    if (av::StepOver(walk, at, size) != av::StepResult::kDone) return;
    av::CompactBefore(walk, at.position);
    if (first_byte == kDataObjectFirstByte) break;
  }
  walk.Accept();
}

}  // namespace quorvex
