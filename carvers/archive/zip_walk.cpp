// ZIP records, stepped from one to the next by their lengths: local file header (30 bytes +
// compressed size + name + extra), central directory header (46 + name + extra + comment),
// end of central directory (22 + comment), which ends the archive. Beyond the classic design
// the walk also follows ZIP64 sizes and records, entries whose sizes sit only in a data
// descriptor behind their data (found by searching), and the descriptor behind entries whose
// header gave the sizes as well. An unknown record gives up (classic walks of ZIP archives: cut
// there when it lies beyond byte 100); a record running past the scan-range end or an unreadable sector gives up.
// Claim-only walks claim the sectors wholly inside an entry's data unread.

#include "carvers/archive/zip_walk.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kZip64EndSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;

// Local file header fields, from the record's first byte.
constexpr int64_t kLocalFixed = 30;
constexpr int64_t kLocalFlags = 6;
constexpr int64_t kLocalCompressedSize = 18;
constexpr int64_t kLocalUncompressedSize = 22;
constexpr int64_t kLocalNameLength = 26;
constexpr int64_t kLocalExtraLength = 28;
constexpr uint16_t kFlagDataDescriptor = 0x0008;

// Central directory file header.
constexpr int64_t kCentralFixed = 46;
constexpr int64_t kCentralNameLength = 28;
constexpr int64_t kCentralExtraLength = 30;
constexpr int64_t kCentralCommentLength = 32;

// End of central directory record.
constexpr int64_t kEndFixed = 22;
constexpr int64_t kEndCommentLength = 20;

// ZIP64 end of central directory record (length = 12 + the size field) and its locator.
constexpr int64_t kZip64EndFixed = 12;
constexpr int64_t kZip64EndSize = 4;
constexpr int64_t kZip64LocatorLength = 20;

// Extra field: header id, data size, data. The ZIP64 field holds the uncompressed size, then
// the compressed size, each 64-bit.
constexpr int64_t kExtraHeader = 4;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kSizeInZip64 = 0xFFFFFFFF;
constexpr int64_t kZip64CompressedAfterUncompressed = 8;
constexpr uint16_t kZip64BothSizes = 16;
constexpr uint16_t kZip64OneSize = 8;

// Data descriptor: [signature] CRC-32, compressed size, uncompressed size.
constexpr int64_t kDescriptor32 = 12;
constexpr int64_t kDescriptor64 = 20;
constexpr int64_t kDescriptorSignatureLength = 4;
constexpr int64_t kDescriptorSizeField = 4;  // after the CRC-32
constexpr uint64_t kMax32BitSize = 0xFFFFFFFF;

constexpr int64_t kCutAfter = 100;               // an unknown record beyond this byte ends a ZIP archive
constexpr uint64_t kOfficeRecordLimit = 209715200;
constexpr int64_t kGatherStep = 1048576;         // claim-only copies keep at most about this much

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

class ZipRecordWalk {
 public:
  ZipRecordWalk(Walk& walk, ZipWalker walker, bool classic)
      : walk_(walk), walker_(walker), classic_(classic), bps_(walk.sector_size()) {}

  /// Follows the records from the first local header; the archive's end, or nullopt when the
  /// walk fails.
  std::optional<int64_t> Follow();

 private:
  bool memory() const { return !walk_.has_output(); }
  std::optional<uint64_t> LocalRecord(int64_t record);
  std::optional<uint64_t> CentralRecord(int64_t record);
  std::optional<uint64_t> EndRecord(int64_t record);
  std::optional<uint64_t> Zip64EndRecord(int64_t record);
  std::optional<uint64_t> DescriptorRecord(int64_t record, int64_t data, bool zip64);
  std::optional<int64_t> TrailingDescriptor(int64_t at);
  bool Zip64Compressed(int64_t extra, uint16_t extra_length, uint32_t compressed32, uint32_t uncompressed32,
                       uint64_t* compressed, bool* has_zip64) const;
  bool CanReach(int64_t target) const;
  bool Gather(int64_t target);

  Walk& walk_;
  const ZipWalker walker_;
  const bool classic_;
  const int64_t bps_;
  /// Set by a local header with known sizes whose flags say a data descriptor follows the data.
  struct Trailing {
    bool zip64 = false;
    uint64_t compressed = 0;
  };
  std::optional<Trailing> trailing_;
};

// Whether target bytes could still be gathered before the scan-range end, even if every
// sector from N on were available. A record that cannot fit fails at once instead of
// claiming (and writing) sectors up to the range end first; the result is the same.
bool ZipRecordWalk::CanReach(int64_t target) const {
  const int64_t missing = target - walk_.buffered();
  if (missing <= 0) return true;
  const int64_t sectors = missing / bps_ + (missing % bps_ != 0 ? 1 : 0);
  const int64_t first = walk_.next_offset() / bps_;
  return sectors - 1 <= walk_.context().range_end - first;
}

// The read-ahead step to target. A claim-only copy drops what lies before the target as it
// goes, so a long entry never sits in memory.
bool ZipRecordWalk::Gather(int64_t target) {
  if (!CanReach(target)) return false;
  if (!memory()) return walk_.ReadAhead(target);
  while (walk_.buffered() < target) {
    walk_.DiscardBefore(walk_.buffered());
    if (!walk_.ReadAhead(std::min(target, walk_.buffered() + kGatherStep))) return false;
  }
  return true;
}

std::optional<uint64_t> ZipRecordWalk::CentralRecord(int64_t record) {
  if (!walk_.ReadAhead(record + kCentralFixed)) return std::nullopt;
  const auto name = walk_.Le16(record + kCentralNameLength);
  const auto extra = walk_.Le16(record + kCentralExtraLength);
  const auto comment = walk_.Le16(record + kCentralCommentLength);
  if (!name || !extra || !comment) return std::nullopt;
  return static_cast<uint64_t>(kCentralFixed) + *name + *extra + *comment;
}

std::optional<uint64_t> ZipRecordWalk::EndRecord(int64_t record) {
  if (!walk_.ReadAhead(record + kEndFixed)) return std::nullopt;
  const auto comment = walk_.Le16(record + kEndCommentLength);
  if (!comment) return std::nullopt;
  return static_cast<uint64_t>(kEndFixed) + *comment;
}

std::optional<uint64_t> ZipRecordWalk::Zip64EndRecord(int64_t record) {
  if (!walk_.ReadAhead(record + kZip64EndFixed)) return std::nullopt;
  const auto size = walk_.Le64(record + kZip64EndSize);
  if (!size || *size > static_cast<uint64_t>(kInt64Max - kZip64EndFixed)) return std::nullopt;
  return static_cast<uint64_t>(kZip64EndFixed) + *size;
}

// Looks through the extra field for the ZIP64 field and takes the 64-bit compressed size from
// it when the 32-bit one says so. The local header should hold both sizes there; a field with
// only one 64-bit size holds the compressed size when the uncompressed size fitted 32 bits.
bool ZipRecordWalk::Zip64Compressed(int64_t extra, uint16_t extra_length, uint32_t compressed32,
                                    uint32_t uncompressed32, uint64_t* compressed, bool* has_zip64) const {
  const int64_t end = extra + extra_length;
  int64_t field = extra;
  while (field + kExtraHeader <= end) {
    const auto id = walk_.Le16(field);
    const auto size = walk_.Le16(field + 2);
    if (!id || !size) return false;
    const int64_t data = field + kExtraHeader;
    if (data + *size > end) break;  // a field running out of the extra block ends the search
    if (*id == kZip64ExtraId) {
      *has_zip64 = true;
      if (compressed32 != kSizeInZip64) return true;
      std::optional<uint64_t> value;
      if (*size >= kZip64BothSizes) {
        value = walk_.Le64(data + kZip64CompressedAfterUncompressed);
      } else if (*size >= kZip64OneSize && uncompressed32 != kSizeInZip64) {
        value = walk_.Le64(data);
      }
      if (value) *compressed = *value;
      return true;
    }
    field = data + *size;
  }
  return true;
}

std::optional<uint64_t> ZipRecordWalk::LocalRecord(int64_t record) {
  if (!walk_.ReadAhead(record + kLocalFixed)) return std::nullopt;
  const auto flags = walk_.Le16(record + kLocalFlags);
  const auto compressed32 = walk_.Le32(record + kLocalCompressedSize);
  const auto uncompressed32 = walk_.Le32(record + kLocalUncompressedSize);
  const auto name = walk_.Le16(record + kLocalNameLength);
  const auto extra = walk_.Le16(record + kLocalExtraLength);
  if (!flags || !compressed32 || !uncompressed32 || !name || !extra) return std::nullopt;
  if (classic_) {
    // The classic length is an unsigned 32-bit sum.
    return static_cast<uint32_t>(static_cast<uint32_t>(kLocalFixed) + *compressed32 + *name + *extra);
  }

  const int64_t header = kLocalFixed + *name + *extra;
  const bool descriptor = (*flags & kFlagDataDescriptor) != 0;
  uint64_t compressed = *compressed32;
  bool zip64 = false;
  // The extra field is read only when it can change the length or the descriptor's form.
  if (*compressed32 == kSizeInZip64 || *uncompressed32 == kSizeInZip64 || (descriptor && *compressed32 == 0)) {
    if (!walk_.ReadAhead(record + header)) return std::nullopt;
    if (!Zip64Compressed(record + kLocalFixed + *name, *extra, *compressed32, *uncompressed32, &compressed, &zip64))
      return std::nullopt;
  }
  if (descriptor && compressed == 0) return DescriptorRecord(record, record + header, zip64);
  if (descriptor) trailing_ = Trailing{zip64, compressed};
  if (compressed > static_cast<uint64_t>(kInt64Max - header)) return std::nullopt;
  return static_cast<uint64_t>(header) + compressed;
}

// An entry written as a stream: its data ends at the first data descriptor (with or without
// its signature) whose compressed size equals the bytes since the data began and which is
// followed by a local or central header. The search reads on one sector at a time and ends
// in failure at the scan-range end, or once no descriptor of this width could match any more.
std::optional<uint64_t> ZipRecordWalk::DescriptorRecord(int64_t record, int64_t data, bool zip64) {
  if (!walk_.ReadAhead(data)) return std::nullopt;
  const int64_t plain = zip64 ? kDescriptor64 : kDescriptor32;
  const int64_t signed_length = plain + kDescriptorSignatureLength;
  // Last position at which the header after a matching descriptor could begin.
  int64_t last_next = kInt64Max - signed_length;
  if (!zip64) last_next = data + static_cast<int64_t>(kMax32BitSize) + signed_length;
  if (walker_ == ZipWalker::kOffice) last_next = std::min(last_next, record + static_cast<int64_t>(kOfficeRecordLimit));

  std::vector<uint8_t> bytes;
  int64_t next = data + plain;  // the header after the descriptor: first candidate position
  for (;;) {
    const int64_t buffered = walk_.buffered();
    const int64_t last = std::min(buffered - 4, last_next);
    if (last >= next) {
      const int64_t from = std::max(data, next - signed_length);
      bytes.resize(static_cast<size_t>(buffered - from));
      if (!walk_.Fetch(from, bytes.data(), bytes.size())) return std::nullopt;
      auto le32 = [&](int64_t at) {
        const size_t i = static_cast<size_t>(at - from);
        return static_cast<uint32_t>(bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16)) |
               (static_cast<uint32_t>(bytes[i + 3]) << 24);
      };
      auto size_at = [&](int64_t at) {
        return zip64 ? (static_cast<uint64_t>(le32(at + 4)) << 32) | le32(at) : static_cast<uint64_t>(le32(at));
      };
      for (int64_t at = next; at <= last; ++at) {
        const size_t i = static_cast<size_t>(at - from);
        if (bytes[i] != 'P' || bytes[i + 1] != 'K') continue;
        const bool header = (bytes[i + 2] == 3 && bytes[i + 3] == 4) || (bytes[i + 2] == 1 && bytes[i + 3] == 2);
        if (!header) continue;
        const int64_t with_signature = at - signed_length;
        if (with_signature >= data && le32(with_signature) == kDescriptorSignature &&
            size_at(with_signature + kDescriptorSignatureLength + kDescriptorSizeField) ==
                static_cast<uint64_t>(with_signature - data))
          return static_cast<uint64_t>(at - record);
        const int64_t without = at - plain;
        if (without >= data && size_at(without + kDescriptorSizeField) == static_cast<uint64_t>(without - data))
          return static_cast<uint64_t>(at - record);
      }
      next = last + 1;
    }
    if (next > last_next) return std::nullopt;
    // Only the bytes a descriptor ending at a later header could use are kept.
    walk_.DiscardBefore(std::max(data, next - signed_length));
    if (!walk_.ReadAhead(buffered + 1)) return std::nullopt;
  }
}

// The data descriptor behind an entry whose local header already gave its sizes (writers that
// stream but know the sizes set the flag all the same): its length, 0 when the bytes there are
// not a descriptor of this entry. A central header always follows, so reading the longest
// form claims nothing beyond the archive.
std::optional<int64_t> ZipRecordWalk::TrailingDescriptor(int64_t at) {
  const Trailing trailing = *trailing_;
  trailing_.reset();
  const int64_t plain = trailing.zip64 ? kDescriptor64 : kDescriptor32;
  const int64_t signed_length = plain + kDescriptorSignatureLength;
  if (!walk_.ReadAhead(at + signed_length)) return std::nullopt;
  auto size_at = [&](int64_t field) -> std::optional<uint64_t> {
    if (trailing.zip64) return walk_.Le64(field);
    const auto value = walk_.Le32(field);
    return value ? std::optional<uint64_t>(*value) : std::nullopt;
  };
  if (walk_.Le32(at) == kDescriptorSignature &&
      size_at(at + kDescriptorSignatureLength + kDescriptorSizeField) == trailing.compressed)
    return signed_length;
  if (size_at(at + kDescriptorSizeField) == trailing.compressed) return plain;
  return 0;
}

std::optional<int64_t> ZipRecordWalk::Follow() {
  const bool skip = memory() && walker_ != ZipWalker::kOffice;
  int64_t record = 0;  // P
  for (;;) {
    walk_.DiscardBefore(record);
    if (!walk_.ReadAhead(record + 4)) return std::nullopt;
    const auto signature = walk_.Le32(record);
    if (!signature) return std::nullopt;
    std::optional<uint64_t> length;
    bool last = false;
    if (*signature == kLocalSignature) {
      length = LocalRecord(record);
    } else if (*signature == kCentralSignature) {
      length = CentralRecord(record);
    } else if (*signature == kEndSignature) {
      length = EndRecord(record);
      last = true;
    } else if (!classic_ && *signature == kZip64EndSignature) {
      length = Zip64EndRecord(record);
    } else if (!classic_ && *signature == kZip64LocatorSignature) {
      if (!walk_.ReadAhead(record + kZip64LocatorLength)) return std::nullopt;
      length = kZip64LocatorLength;
    } else {
      // Not a record. The classic walk saves a ZIP archive that has come far enough cut here
      // (it met this where a data descriptor or ZIP64 record stood). The full walk knows those
      // records, so what stands here is another file's data or damage: the archive cannot be
      // given back whole and nothing is saved.
      if (classic_ && walker_ == ZipWalker::kArchive && record > kCutAfter) return record;
      return std::nullopt;
    }
    if (!length) return std::nullopt;
    if (walker_ == ZipWalker::kOffice && *length > kOfficeRecordLimit) return std::nullopt;
    if (*length > static_cast<uint64_t>(kInt64Max - record)) return std::nullopt;
    int64_t end = record + static_cast<int64_t>(*length);
    if (!CanReach(end)) return std::nullopt;

    if (skip) {
      // Sectors wholly inside the record and after what is gathered are claimed unread; they
      // are left out of the copy, so the record's end moves back by one sector for each. At
      // most the last one or two sectors before the next header are read.
      int64_t remaining = end - walk_.buffered();
      while (remaining >= 2 * bps_) {
        if (!walk_.SkipClaim()) return std::nullopt;
        remaining -= bps_;
        end -= bps_;
      }
    }
    record = end;
    if (!Gather(record)) return std::nullopt;
    if (last) return record;
    if (trailing_) {
      const std::optional<int64_t> descriptor = TrailingDescriptor(record);
      if (!descriptor) return std::nullopt;
      record += *descriptor;
    }
  }
}

}  // namespace

void WalkZipRecords(ScanContext& ctx, int64_t start_offset, std::string_view folder, ZipWalker walker) {
  Walk walk(ctx, start_offset, walker == ZipWalker::kOffice ? Walk::Width::k32 : Walk::Width::k64);
  // Only ZIP archives are saved; office and drawing files are claimed.
  if (!walk.BeginArchive(walker == ZipWalker::kArchive ? folder : std::string_view(), ".ZIP")) return;
  if (walk.Le32(0) != kLocalSignature) return;

  ZipRecordWalk records(walk, walker, ctx.classic);
  const std::optional<int64_t> end = records.Follow();
  if (!end) return;  // the walk gives up as it goes out of scope
  if (walk.has_output()) {
    walk.AcceptSaved(*end);
  } else {
    walk.Accept();
  }
}

}  // namespace quorvex
