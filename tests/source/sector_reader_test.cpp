// The read window: what ReadSource delivers, how many device reads it costs, and where the
// range bound stops new fills.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/memory_device.h"
#include "source/sector_reader.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint8_t kUntouched = 0xEE;

uint8_t PatternByte(int64_t offset) { return static_cast<uint8_t>((offset * 7 + offset / 512) & 0xFF); }

std::vector<uint8_t> Pattern(int64_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (int64_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = PatternByte(i);
  return bytes;
}

struct Request {
  int64_t offset;
  int32_t count;
  int32_t missing;        ///< expected result
  uint64_t reads_after;   ///< device reads made so far, after this request
  int64_t range_last = 0; ///< when not 0, the range's last sector is set to this first
};

struct ReaderRow {
  const char* name;
  int64_t source_sectors;
  int64_t range_last;
  std::vector<Request> requests;
};

class ReadSourceTable : public ::testing::TestWithParam<ReaderRow> {};

TEST_P(ReadSourceTable, DeliversWhatTheWindowAndBoundAllow) {
  const ReaderRow& row = GetParam();
  MemoryDevice device(Pattern(row.source_sectors * kSector));
  SectorReader reader;
  reader.SetDevice(&device);
  reader.SetBytesPerSector(kSector);
  reader.SetRangeLastSector(row.range_last);
  for (const Request& r : row.requests) {
    if (r.range_last != 0) reader.SetRangeLastSector(r.range_last);
    std::vector<uint8_t> dest(static_cast<size_t>(std::max(r.count, 1)), kUntouched);
    const int32_t missing = reader.ReadSource(dest.data(), r.count, r.offset);
    EXPECT_EQ(missing, r.missing) << "offset " << r.offset;
    EXPECT_EQ(device.reads(), r.reads_after) << "offset " << r.offset;
    const int32_t delivered = r.count - missing;
    for (int32_t i = 0; i < r.count; ++i) {
      const uint8_t want = i < delivered ? PatternByte(r.offset + i) : kUntouched;
      ASSERT_EQ(dest[static_cast<size_t>(i)], want) << "offset " << r.offset << " byte " << i;
    }
  }
}

// Bound of range last sector 99 with 512-byte sectors: 51,200.
const ReaderRow kReaderRows[] = {
    {"count_zero", 1000, 999, {{0, 0, 0, 0}}},
    {"offset_at_bound", 1000, 99, {{51200, 512, 512, 0}}},
    {"offset_past_bound", 1000, 99, {{51712, 512, 512, 0}, {512000, 512, 512, 0}}},
    {"straddles_window_end", 1000, 999, {{0, 512, 0, 1}, {65536 - 256, 512, 0, 2}}},
    {"straddles_bound_inside_window", 1000, 99, {{50688, 1024, 0, 1}}},
    // Range 199: the window is slid back to end at the bound 102,400, so the bytes from
    // the bound on are not fetched.
    {"straddles_bound_at_window_end", 1000, 199, {{102400 - 256, 512, 256, 1}}},
    {"last_sector_99_window_from_0", 1000, 99, {{50688, 512, 0, 1}, {0, 512, 0, 1}, {30000, 2048, 0, 1}}},
    // A window filled under a wider range still serves what it holds after the range shrinks.
    {"held_bytes_past_new_bound", 1000, 999, {{0, 512, 0, 1}, {51200, 512, 0, 1, 99}, {65536, 512, 512, 1}}},
    {"below_window_refills", 1000, 999, {{4096, 512, 0, 1}, {0, 512, 0, 2}}},
    {"short_source_end", 10, 19, {{4608, 1024, 512, 2}}},
    {"request_longer_than_window", 1000, 999, {{512, 3 * 65536, 0, 3}}},
};

INSTANTIATE_TEST_SUITE_P(Rows, ReadSourceTable, ::testing::ValuesIn(kReaderRows), testing::RowName());

TEST(ReadSource, BadSectorFailsEveryRequestWhoseWindowHoldsIt) {
  auto inner = std::make_shared<MemoryDevice>(Pattern(4000 * kSector));
  FaultyDevice device(inner, {1000});
  SectorReader reader;
  reader.SetDevice(&device);
  reader.SetBytesPerSector(kSector);
  reader.SetRangeLastSector(3999);
  std::vector<uint8_t> dest(kSector);
  for (int64_t sector = 800; sector <= 1001; ++sector) {
    reader.Empty();  // each request as the first one after opening
    const int32_t missing = reader.ReadSource(dest.data(), kSector, sector * kSector);
    const bool window_holds_bad = sector >= 1000 - 127 && sector <= 1000;
    EXPECT_EQ(missing != 0, window_holds_bad) << "sector " << sector;
  }
  for (int64_t sector = 873; sector <= 999; ++sector) {
    ASSERT_TRUE(reader.ReadSectorDirect(sector)) << "sector " << sector;
    EXPECT_EQ(reader.sector_buffer()[0], PatternByte(sector * kSector));
  }
  EXPECT_FALSE(reader.ReadSectorDirect(1000));
}

TEST(SeekSource, OriginTwoGivesTheLength) {
  MemoryDevice device(Pattern(1000000));
  SectorReader reader;
  EXPECT_EQ(reader.SeekSource(0, 2), -1);  // no source
  reader.SetDevice(&device);
  EXPECT_EQ(reader.SeekSource(0, 2), 1000000);
  EXPECT_EQ(reader.SeekSource(-1000, 2), 999000);
  EXPECT_EQ(reader.SeekSource(24, 1), 999024);
  EXPECT_EQ(reader.SeekSource(-1, 0), -1);
}

}  // namespace
}  // namespace quorvex
