// The sector dump's text. Pairs are written as 16-bit words (first byte high) so each
// pair reads in the order the bytes are stored on the disk.

#include "viewer/hex_dump.h"

#include <algorithm>

namespace quorvex {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr uint32_t kMinOffsetDigits = 3;
constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;

void AppendOffset(std::string& line, uint32_t byte_offset) {
  char digits[8];
  uint32_t n = 0;
  uint32_t value = byte_offset;
  do {
    digits[n++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n < kMinOffsetDigits) digits[n++] = '0';
  while (n > 0) line.push_back(digits[--n]);
  line += ": ";
}

}  // namespace

std::string HexDumpLine(const uint8_t* bytes, size_t count, uint32_t byte_offset) {
  count = std::min(count, kHexDumpBytesPerLine);
  std::string line;
  line.reserve(kHexDumpLineLength + 8);
  AppendOffset(line, byte_offset);
  for (size_t i = 0; i < kHexDumpBytesPerLine; ++i) {
    if (i < count) {
      line.push_back(kHexDigits[bytes[i] >> 4]);
      line.push_back(kHexDigits[bytes[i] & 0xF]);
    } else {
      line += "  ";
    }
    if (i % 2 == 1) line.push_back(' ');
  }
  for (size_t i = 0; i < kHexDumpBytesPerLine; ++i) {
    if (i >= count) {
      line.push_back(' ');
    } else {
      const uint8_t b = bytes[i];
      line.push_back(b >= kFirstPrintable && b <= kLastPrintable ? static_cast<char>(b) : '.');
    }
  }
  return line;
}

std::vector<std::string> HexDumpLines(const uint8_t* sector, uint32_t bytes_per_sector) {
  std::vector<std::string> lines;
  lines.reserve(1 + (bytes_per_sector + kHexDumpBytesPerLine - 1) / kHexDumpBytesPerLine);
  lines.emplace_back(kHexDumpHeader);
  for (uint32_t offset = 0; offset < bytes_per_sector; offset += kHexDumpBytesPerLine) {
    const size_t count = std::min<size_t>(kHexDumpBytesPerLine, bytes_per_sector - offset);
    lines.push_back(HexDumpLine(sector + offset, count, offset));
  }
  return lines;
}

}  // namespace quorvex
