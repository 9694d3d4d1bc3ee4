// RAR 5 archives (marker "Rar!" 1A 07 01 00): steps from header to header. Each header is a
// CRC32, a header size (vint), then type, flags, optional extra-area and data-area sizes (vints);
// a data area of the data size follows the header. The archive ends after the end-of-archive
// header (type 5). A header whose CRC32 does not match, a vint longer than 10 bytes, a field
// outside its header, an unknown type, an encryption header (the rest is unreadable), a header
// running past the scan-range end or an unreadable sector gives up.

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "carvers/archive/rar_walk.h"
#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr std::array<uint8_t, 8> kRar5Marker = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};

constexpr int64_t kCrcBytes = 4;         // the CRC32 before the header size
constexpr int kMaxVintBytes = 10;        // 70 bits hold any 64-bit value
// The format keeps the header size within a 3-byte vint (2 MiB); larger is not a header.
constexpr uint64_t kMaxHeaderSize = (uint64_t{1} << 21) - 1;

constexpr uint64_t kTypeMain = 1;
constexpr uint64_t kTypeEncryption = 4;
constexpr uint64_t kTypeEnd = 5;
constexpr uint64_t kFlagExtraArea = 0x0001;
constexpr uint64_t kFlagDataArea = 0x0002;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

/// CRC32 (the zlib one) of the gathered bytes from .. to; nothing when they are not all there.
std::optional<uint32_t> Crc32(const Walk& walk, int64_t from, int64_t to) {
  uint32_t crc = 0xFFFFFFFFu;
  std::array<uint8_t, 4096> chunk{};
  for (int64_t pos = from; pos < to;) {
    const auto n = static_cast<size_t>(std::min<int64_t>(to - pos, static_cast<int64_t>(chunk.size())));
    if (!walk.Fetch(pos, chunk.data(), n)) return std::nullopt;
    for (size_t i = 0; i < n; ++i) crc = kCrcTable[(crc ^ chunk[i]) & 0xFFu] ^ (crc >> 8);
    pos += static_cast<int64_t>(n);
  }
  return crc ^ 0xFFFFFFFFu;
}

struct Vint {
  uint64_t value = 0;
  int64_t bytes = 0;
};

/// A vint at pos: 7 bits a byte, low first, high bit set on every byte but the last. It must
/// end before limit and within 10 bytes, and fit 64 bits. Gathers sectors as it needs them.
std::optional<Vint> ReadVint(Walk& walk, int64_t pos, int64_t limit) {
  Vint v;
  for (int i = 0; i < kMaxVintBytes; ++i) {
    const int64_t at = pos + i;
    if (at >= limit || !walk.ReadAhead(at + 1)) return std::nullopt;
    const std::optional<uint8_t> byte = walk.U8(at);
    if (!byte) return std::nullopt;
    const uint64_t bits = *byte & 0x7Fu;
    const int shift = 7 * i;
    if (shift == 63 && bits > 1) return std::nullopt;  // beyond 64 bits
    v.value |= bits << shift;
    if ((*byte & 0x80u) == 0) {
      v.bytes = i + 1;
      return v;
    }
  }
  return std::nullopt;  // an 11th byte would follow
}

}  // namespace

void CarveRar5(ScanContext& ctx, int64_t start_offset, std::string_view folder) {
  Walk walk(ctx, start_offset);
  if (!walk.BeginArchive(folder, ".RAR")) return;
  for (size_t i = 0; i < kRar5Marker.size(); ++i) {
    if (walk.U8(static_cast<int64_t>(i)) != kRar5Marker[i]) return;
  }

  int64_t block = static_cast<int64_t>(kRar5Marker.size());
  bool first = true;
  for (;;) {
    if (!walk.ReadAhead(block + kCrcBytes)) return;
    const std::optional<uint32_t> stored_crc = walk.Le32(block);
    if (!stored_crc) return;
    const std::optional<Vint> size = ReadVint(walk, block + kCrcBytes, std::numeric_limits<int64_t>::max());
    if (!size || size->value == 0 || size->value > kMaxHeaderSize) return;
    const int64_t fields = block + kCrcBytes + size->bytes;  // the type vint
    const int64_t header_end = fields + static_cast<int64_t>(size->value);
    if (!walk.ReadAhead(header_end)) return;
    if (Crc32(walk, block + kCrcBytes, header_end) != stored_crc) return;

    int64_t pos = fields;
    const std::optional<Vint> type = ReadVint(walk, pos, header_end);
    if (!type) return;
    pos += type->bytes;
    const std::optional<Vint> flags = ReadVint(walk, pos, header_end);
    if (!flags) return;
    pos += flags->bytes;
    uint64_t extra_size = 0;
    if (flags->value & kFlagExtraArea) {
      const std::optional<Vint> extra = ReadVint(walk, pos, header_end);
      if (!extra) return;
      pos += extra->bytes;
      extra_size = extra->value;
    }
    uint64_t data_size = 0;
    if (flags->value & kFlagDataArea) {
      const std::optional<Vint> data = ReadVint(walk, pos, header_end);
      if (!data) return;
      pos += data->bytes;
      data_size = data->value;
    }
    // The extra area is the tail of the header: it cannot be larger than what is left.
    if (extra_size > static_cast<uint64_t>(header_end - pos)) return;

    // The archive opens with its main header, and has only one; an encryption header means
    // every later header is encrypted and cannot be followed.
    if (type->value < kTypeMain || type->value > kTypeEnd || type->value == kTypeEncryption) return;
    if (first != (type->value == kTypeMain)) return;
    if (data_size > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - header_end)) return;

    const int64_t length = header_end - block + static_cast<int64_t>(data_size);
    const std::optional<int64_t> gathered = rar_walk::PassBlock(walk, block, length);
    if (!gathered) return;
    block += *gathered;
    rar_walk::Compact(walk, block);
    if (type->value == kTypeEnd) break;
    first = false;
  }

  if (walk.has_output()) {
    walk.AcceptSaved(block);
  } else {
    walk.Accept();
  }
}

}  // namespace quorvex
