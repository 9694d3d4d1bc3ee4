// TIFF-structured camera raw and TIFF files: the IFD chain from the header, every chained IFD
// and every sub-IFD (SubIFDs, Exif, GPS, interoperability, global parameters, camera profiles)
// are walked; the file is gathered up to the furthest byte its entries point to (out-of-line
// values, strips, free blocks, tiles, the embedded JPEG, image and alpha data, an "STMN" maker
// note's block). A bad field type, an empty or oversized IFD, a bad pair unit, anything ending
// past 200 MiB, a read error or the scan-range end gives the file back. An IFD reached a second
// time (a chain that points back) is not walked again.

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kSizeLimit = 209715200;     // 200 MiB: no structure may end beyond
constexpr int64_t kFirstIfdOffset = 4;
constexpr int64_t kEntrySize = 12;
constexpr int64_t kEntryCountSize = 2;
constexpr int64_t kNextIfdSize = 4;
constexpr int64_t kEntryValueOffset = 8;      // the value field inside an entry
constexpr int64_t kInlineValueSize = 4;
constexpr uint16_t kMaxEntries = 32767;
constexpr uint32_t kNoStripOffsets = 0xFFFFFFFF;
constexpr uint32_t kMaxReadAheadTarget = 0x7FFFFFFF;
constexpr int kMaxDepth = 32;                 // sub-IFDs nested deeper than this: not a real file
constexpr size_t kMaxIfds = 4096;             // IFDs walked per file
constexpr uint32_t kMinMakerNoteCount = 16;
constexpr int64_t kMakerNoteOffsetField = 8;
constexpr int64_t kMakerNoteLengthField = 12;

namespace tag {
constexpr uint16_t kRw2Jpeg = 46;
constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kRawDataOffset = 280;
constexpr uint16_t kFreeOffsets = 288;
constexpr uint16_t kFreeByteCounts = 289;
constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;
constexpr uint16_t kSubIfds = 330;
constexpr uint16_t kGlobalParametersIfd = 400;
constexpr uint16_t kJpegOffset = 513;
constexpr uint16_t kJpegLength = 514;
constexpr uint16_t kExifIfd = 34665;
constexpr uint16_t kGpsIfd = 34853;
constexpr uint16_t kMakerNote = 37500;
constexpr uint16_t kInteropIfd = 40965;
constexpr uint16_t kImageOffset = 48320;
constexpr uint16_t kImageByteCount = 48321;
constexpr uint16_t kAlphaOffset = 48322;
constexpr uint16_t kAlphaByteCount = 48323;
constexpr uint16_t kExtraCameraProfiles = 50933;
}  // namespace tag

constexpr uint16_t kFieldUndefined = 7;

/// Unit size of a field type: 0 for types 13 to 20 (skipped), -1 for invalid ones.
int UnitSize(uint16_t field_type) {
  switch (field_type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return (field_type >= 13 && field_type <= 20) ? 0 : -1;
  }
}

bool IsPointerTag(uint16_t t) {
  return t == tag::kSubIfds || t == tag::kGlobalParametersIfd || t == tag::kExifIfd || t == tag::kGpsIfd ||
         t == tag::kInteropIfd || t == tag::kExtraCameraProfiles;
}

/// The first tag of an offsets/counts pair, as the second needs it.
struct PairFirst {
  bool seen = false;
  uint32_t count = 0;
  int unit = 0;
  int64_t values_pos = 0;
};

/// What one IFD walk call remembers across the IFDs chained from its start.
struct PairMemory {
  PairFirst strips, frees, tiles;
  bool no_strip_offsets = false;
  std::optional<uint32_t> jpeg_offset, image_offset, alpha_offset;
};

struct Entry {
  uint16_t tag = 0;
  uint16_t field_type = 0;
  uint32_t count = 0;
  uint32_t value = 0;
  int unit = 0;
  int64_t value_size = 0;   // count × unit, in 64 bits so a huge count cannot wrap small
  int64_t values_pos = 0;   // the value offset, or the entry's own value field
};

class TiffWalk {
 public:
  TiffWalk(Walk& walk, bool big_endian) : walk_(walk), big_(big_endian) {}

  std::optional<uint32_t> U32(int64_t pos) const { return big_ ? walk_.Be32(pos) : walk_.Le32(pos); }
  std::optional<uint16_t> U16(int64_t pos) const { return big_ ? walk_.Be16(pos) : walk_.Le16(pos); }

  /// Extends the working copy to end (a byte position in the file); false past 200 MiB.
  bool Gather(int64_t end) { return end <= kSizeLimit && walk_.ReadAhead(end); }

  bool WalkIfd(uint32_t first_offset, int depth) {
    if (depth > kMaxDepth) return false;
    PairMemory memory;
    int64_t offset = first_offset;
    // The first IFD is walked whatever its offset; a next-IFD offset of 0 ends the chain.
    do {
      // An IFD already walked (a chain or pointer leading back) adds nothing: the chain ends.
      if (!visited_.insert(offset).second) return true;
      if (visited_.size() > kMaxIfds) return false;
      if (!Gather(offset + kEntryCountSize)) return false;
      const auto entries = U16(offset);
      if (!entries || *entries == 0 || *entries > kMaxEntries) return false;
      const int64_t next_pos = offset + kEntryCountSize + kEntrySize * *entries;
      if (!Gather(next_pos + kNextIfdSize)) return false;
      for (int64_t i = 0; i < *entries; ++i) {
        if (!WalkEntry(offset + kEntryCountSize + kEntrySize * i, memory, depth)) return false;
      }
      const auto next = U32(next_pos);
      if (!next) return false;
      offset = *next;
    } while (offset != 0);
    return true;
  }

 private:
  bool ReadEntry(int64_t pos, Entry* e) const {
    const auto t = U16(pos);
    const auto type = U16(pos + 2);
    const auto count = U32(pos + 4);
    const auto value = U32(pos + kEntryValueOffset);
    if (!t || !type || !count || !value) return false;
    e->tag = *t;
    e->field_type = *type;
    e->count = *count;
    e->value = *value;
    e->unit = UnitSize(*type);
    e->value_size = e->unit > 0 ? static_cast<int64_t>(*count) * e->unit : 0;
    e->values_pos = e->value_size > kInlineValueSize ? static_cast<int64_t>(*value) : pos + kEntryValueOffset;
    return true;
  }

  /// The i-th number of a value array, 16- or 32-bit by unit; nullopt for another unit or
  /// when the number lies beyond the bytes gathered.
  std::optional<uint32_t> Number(int64_t values_pos, int unit, int64_t i) const {
    if (unit == 2) {
      const auto v = U16(values_pos + i * 2);
      if (!v) return std::nullopt;
      return *v;
    }
    if (unit == 4) return U32(values_pos + i * 4);
    return std::nullopt;
  }

  /// Every offset + byte count of a pair must be gathered.
  bool CheckPairs(const PairFirst& first, const Entry& counts) {
    const auto k = static_cast<int32_t>(first.count);
    if (k <= 0) return true;
    if ((first.unit != 2 && first.unit != 4) || (counts.unit != 2 && counts.unit != 4)) return false;
    for (int64_t i = 0; i < k; ++i) {
      const auto offset = Number(first.values_pos, first.unit, i);
      const auto bytes = Number(counts.values_pos, counts.unit, i);
      // Numbers beyond what was gathered (a counts array shorter than the offsets) are not
      // read; the check ends with what it has.
      if (!offset || !bytes) return true;
      if (!Gather(static_cast<int64_t>(*offset) + *bytes)) return false;
    }
    return true;
  }

  bool WalkEntry(int64_t pos, PairMemory& memory, int depth) {
    Entry e;
    if (!ReadEntry(pos, &e)) return false;
    if (e.unit < 0) return false;
    if (e.value_size == 0) return true;
    if (e.value_size > kInlineValueSize && !Gather(e.values_pos + e.value_size)) return false;
    switch (e.tag) {
      case tag::kStripOffsets:
        memory.strips = {true, e.count, e.unit, e.values_pos};
        memory.no_strip_offsets = e.value == kNoStripOffsets;
        break;
      case tag::kStripByteCounts:
        // Without its StripOffsets there is nothing to pair the counts with.
        if (!memory.no_strip_offsets && memory.strips.seen && !CheckPairs(memory.strips, e)) return false;
        break;
      case tag::kRawDataOffset:
        if (memory.no_strip_offsets) {
          memory.no_strip_offsets = false;
          memory.strips.values_pos = e.value;
          // The raw data starts here; it is gathered up to its start without the size limit.
          if (e.value <= kMaxReadAheadTarget && !walk_.ReadAhead(e.value)) return false;
        }
        break;
      case tag::kFreeOffsets: memory.frees = {true, e.count, e.unit, e.values_pos}; break;
      case tag::kFreeByteCounts:
        if (memory.frees.seen && !CheckPairs(memory.frees, e)) return false;
        break;
      case tag::kTileOffsets: memory.tiles = {true, e.count, e.unit, e.values_pos}; break;
      case tag::kTileByteCounts:
        if (memory.tiles.seen && !CheckPairs(memory.tiles, e)) return false;
        break;
      case tag::kJpegOffset: memory.jpeg_offset = e.value; break;
      case tag::kJpegLength:
        if (memory.jpeg_offset && !Gather(static_cast<int64_t>(*memory.jpeg_offset) + e.value)) return false;
        break;
      case tag::kImageOffset: memory.image_offset = e.value; break;
      case tag::kImageByteCount:
        if (memory.image_offset && !Gather(static_cast<int64_t>(*memory.image_offset) + e.value)) return false;
        break;
      case tag::kAlphaOffset: memory.alpha_offset = e.value; break;
      case tag::kAlphaByteCount:
        if (memory.alpha_offset && !Gather(static_cast<int64_t>(*memory.alpha_offset) + e.value)) return false;
        break;
      case tag::kRw2Jpeg:
        if (e.field_type == kFieldUndefined) memory.jpeg_offset = e.value;
        break;
      case tag::kMakerNote:
        if (e.count >= kMinMakerNoteCount && !WalkMakerNote(e.values_pos, memory)) return false;
        break;
      default: break;
    }
    if (IsPointerTag(e.tag)) {
      if (e.count == 1) return WalkIfd(e.value, depth + 1);
      // Offsets are read only from the bytes the entry's value occupies (count × unit), so a
      // pointer tag with narrower values never reads past them.
      const int64_t offsets = std::min<int64_t>(e.count, e.value_size / 4);
      for (int64_t i = 0; i < offsets; ++i) {
        const auto sub = U32(e.values_pos + 4 * i);
        if (!sub || !WalkIfd(*sub, depth + 1)) return false;
      }
    }
    return true;
  }

  /// A maker note of the "STMN" kind (STMN0001 .. STMN9999) points to one more data block.
  bool WalkMakerNote(int64_t note_pos, PairMemory& memory) {
    char id[8];
    if (!walk_.Fetch(note_pos, id, sizeof id)) return true;
    if (std::memcmp(id, "STMN0001", 8) < 0) return true;
    char folded[8];
    for (size_t i = 0; i < 8; ++i)
      folded[i] = (id[i] >= 'a' && id[i] <= 'z') ? static_cast<char>(id[i] - 'a' + 'A') : id[i];
    if (std::memcmp(folded, "STMN9999", 8) > 0) return true;
    const auto offset = U32(note_pos + kMakerNoteOffsetField);
    const auto length = U32(note_pos + kMakerNoteLengthField);
    if (!offset || !length) return true;
    memory.jpeg_offset = *offset;
    return Gather(static_cast<int64_t>(*offset) + *length);
  }

  Walk& walk_;
  const bool big_;
  std::set<int64_t> visited_;
};

struct ByteOrderMark {
  uint8_t bytes[4];
  bool big_endian;
};
constexpr ByteOrderMark kByteOrders[] = {
    {{0x49, 0x49, 0x2A, 0x00}, false}, {{0x49, 0x49, 0x55, 0x00}, false}, {{0x49, 0x49, 0x52, 0x4F}, false},
    {{0x4D, 0x4D, 0x00, 0x2A}, true},  {{0x4D, 0x4D, 0x4F, 0x52}, true},  {{0x4D, 0x4D, 0x00, 0x55}, true},
};

}  // namespace

void CarveTiffRaw(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset, Walk::Width::k32);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* head = walk.View(0, 4);
  if (head == nullptr) return;
  const ByteOrderMark* order = nullptr;
  for (const ByteOrderMark& mark : kByteOrders)
    if (std::memcmp(head, mark.bytes, 4) == 0) order = &mark;
  if (order == nullptr) return;
  TiffWalk tiff(walk, order->big_endian);
  const auto first_ifd = tiff.U32(kFirstIfdOffset);
  if (!first_ifd || !tiff.WalkIfd(*first_ifd, 0)) return;
  walk.Accept();
}

}  // namespace quorvex
