#pragma once
// The hex dump of one sector, as the text lines the sector view shows: a header line,
// then one line per 32 bytes. Every line is kHexDumpLineLength characters, for a
// fixed-pitch font.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

inline constexpr size_t kHexDumpBytesPerLine = 32;
inline constexpr size_t kHexDumpLineLength = 117;

/// The column header: byte positions of each pair, then of the text column.
inline constexpr std::string_view kHexDumpHeader =
    "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
    "0123456789ABCDEF0123456789ABCDEF";

/// One data line for the bytes at sector[0 .. count), count at most 32, that begin at
/// byte_offset within the sector: the offset in hex, the byte pairs as 4-digit words in
/// stored order, then the bytes 20..7E as themselves and all others as ".". A short last
/// row is padded with blanks so the columns stay aligned.
std::string HexDumpLine(const uint8_t* bytes, size_t count, uint32_t byte_offset);

/// The header line followed by the data lines of a sector of bytes_per_sector bytes
/// (16 data lines for 512 bytes, 128 for 4096).
std::vector<std::string> HexDumpLines(const uint8_t* sector, uint32_t bytes_per_sector);

}  // namespace quorvex
