// Fault injection through the whole rescue: the archive image behind a device that fails
// chosen sectors, with and without short reads. The rescue must end normally; every file it
// leaves is byte-identical to one of the archives on the image (an archive with an unreadable
// sector is not saved at all), and its count is the number of files in the output folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/memory_device.h"
#include "robustness/robustness_fixture.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

using testing::TempFolder;

struct FaultRow {
  const char* name;
  uint32_t seed;
  int bad_count;          ///< sectors failed, drawn from the first kFaultSpan sectors
  bool short_reads;
  bool free_space_only;
};

// The boot area, the FATs, the root folder and every archive lie in the first 1,024 sectors.
constexpr int64_t kFaultSpan = 1024;

class FaultInjection : public ::testing::TestWithParam<FaultRow> {
 protected:
  static void SetUpTestSuite() {
    if (!testing::HaveFatTools()) return;
    folder_ = new TempFolder("fault_image");
    const auto image = folder_->path() / "fat16.img";
    if (testing::BuildArchiveImage(image)) image_ = new std::vector<uint8_t>(testing::ReadBytes(image));
  }
  static void TearDownTestSuite() {
    delete image_;
    image_ = nullptr;
    delete folder_;
    folder_ = nullptr;
  }
  static TempFolder* folder_;
  static std::vector<uint8_t>* image_;
};
TempFolder* FaultInjection::folder_ = nullptr;
std::vector<uint8_t>* FaultInjection::image_ = nullptr;

/// How many files equal no original.
size_t Unmatched(const std::vector<std::vector<uint8_t>>& files, const std::vector<std::vector<uint8_t>>& originals) {
  return static_cast<size_t>(std::count_if(files.begin(), files.end(), [&](const std::vector<uint8_t>& f) {
    return std::find(originals.begin(), originals.end(), f) == originals.end();
  }));
}

TEST_P(FaultInjection, RescueEndsWithOnlyByteIdenticalArchives) {
  if (!testing::HaveFatTools()) GTEST_SKIP() << "needs mkfs.fat (dosfstools) and mcopy/mdel (mtools)";
  ASSERT_NE(image_, nullptr) << "the FAT image could not be built";
  const FaultRow& row = GetParam();

  std::mt19937 rng(row.seed);
  std::set<int64_t> bad;
  while (static_cast<int>(bad.size()) < row.bad_count) bad.insert(static_cast<int64_t>(rng() % kFaultSpan));
  auto memory = std::make_shared<MemoryDevice>(*image_);
  auto faulty = std::make_unique<FaultyDevice>(memory, bad, row.short_reads);
  FaultyDevice* faults = faulty.get();

  SourceState source;
  // The boot record is read from the clean image: the faults are for the rescue.
  ASSERT_TRUE(testing::UseDevice(source, std::make_unique<MemoryDevice>(*image_), "fault.img"));
  source.device = std::move(faulty);
  TempFolder out(row.name);
  const testing::RescueResult result = testing::RescueInto(source, out, row.free_space_only);

  EXPECT_EQ(result.outcome.message_slot, 0);
  // A FAT that cannot be read leaves free space unknown: the rescue then covers every sector.
  const auto originals = testing::Originals(row.free_space_only && !result.outcome.free_space_dropped);
  EXPECT_EQ(result.outcome.rescued_count, result.files.size());
  EXPECT_EQ(Unmatched(result.files, originals), 0u) << result.files.size() << " files saved";
  EXPECT_LE(result.files.size(), originals.size());
  if (row.bad_count == 0) {
    EXPECT_EQ(result.files.size(), originals.size());  // the clean image gives every archive back
  } else {
    EXPECT_GT(faults->reads(), 0u);
  }
  EXPECT_GE(memory->lowest_offset(), 0);
  EXPECT_LE(memory->highest_end(), std::max<int64_t>(memory->Length(), SectorReader::kWindowSize));
  if (row.free_space_only && row.bad_count == 0) {
    EXPECT_FALSE(result.outcome.free_space_dropped);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultInjection,
    ::testing::Values(FaultRow{"clean", 1, 0, false, false},
                      FaultRow{"clean_free_space", 1, 0, false, true},
                      FaultRow{"few_bad", 7, 4, false, false},
                      FaultRow{"few_bad_short", 7, 4, true, false},
                      FaultRow{"many_bad", 11, 40, false, false},
                      FaultRow{"many_bad_short", 11, 40, true, false},
                      FaultRow{"scattered_short", 23, 120, true, false},
                      FaultRow{"bad_free_space", 5, 12, true, true},
                      FaultRow{"bad_free_space_eio", 31, 60, false, true}),
    testing::RowName());

}  // namespace
}  // namespace quorvex
