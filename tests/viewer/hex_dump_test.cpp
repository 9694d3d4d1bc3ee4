// The sector dump's lines: the header, one line per 32 bytes, 117 characters each.

#include "viewer/hex_dump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quorvex {
namespace {

TEST(HexDump, LineCountsAndWidths) {
  for (const uint32_t bps : {512u, 1024u, 2048u, 4096u}) {
    const std::vector<uint8_t> sector(bps, 0xA5);
    const std::vector<std::string> lines = HexDumpLines(sector.data(), bps);
    ASSERT_EQ(lines.size(), 1 + bps / 32) << bps;  // 17 lines for 512 bytes, 129 for 4096
    EXPECT_EQ(lines.front(), kHexDumpHeader);
    for (const std::string& line : lines) EXPECT_EQ(line.size(), kHexDumpLineLength) << line;
  }
}

TEST(HexDump, HeaderLine) {
  EXPECT_EQ(std::string(kHexDumpHeader),
            "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
            "0123456789ABCDEF0123456789ABCDEF");
}

TEST(HexDump, GptHeaderFirstLine) {
  std::vector<uint8_t> sector(512, 0);
  const uint8_t signature[] = {0x45, 0x46, 0x49, 0x20, 0x50, 0x41, 0x52, 0x54};
  std::memcpy(sector.data(), signature, sizeof signature);
  const std::vector<std::string> lines = HexDumpLines(sector.data(), 512);
  EXPECT_EQ(lines[1],
            "000: 4546 4920 5041 5254 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 "
            "EFI PART........................");
}

TEST(HexDump, OffsetsAndTextColumn) {
  std::vector<uint8_t> sector(4096);
  for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i);
  const std::vector<std::string> lines = HexDumpLines(sector.data(), 4096);
  // Bytes 20..3F: printable from the blank on.
  EXPECT_EQ(lines[2],
            "020: 2021 2223 2425 2627 2829 2A2B 2C2D 2E2F 3031 3233 3435 3637 3839 3A3B 3C3D 3E3F "
            " !\"#$%&'()*+,-./0123456789:;<=>?");
  // Bytes 60..7F: 7F is a dot.
  EXPECT_EQ(lines[4].substr(85), "`abcdefghijklmnopqrstuvwxyz{|}~.");
  // Bytes 80..FF are all dots.
  EXPECT_EQ(lines[5].substr(85), std::string(32, '.'));
  EXPECT_EQ(lines[16].substr(0, 5), "1E0: ");
  EXPECT_EQ(lines[128].substr(0, 5), "FE0: ");
}

TEST(HexDump, ShortLastRowStaysAligned) {
  // Not a sector size the sources have, but the dump never reads past the bytes given.
  const std::vector<uint8_t> bytes = {0x41, 0x42, 0x43};
  const std::vector<std::string> lines = HexDumpLines(bytes.data(), 3);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].size(), kHexDumpLineLength);
  EXPECT_EQ(lines[1].substr(0, 15), "000: 4142 43   ");
  EXPECT_EQ(lines[1].substr(85), "ABC" + std::string(29, ' '));
}

}  // namespace
}  // namespace quorvex
