// The image backup: byte-identical copies of ranges, free-space-only copies of a real FAT
// image, bad chunks, destinations that cannot be created or fill up, cancelling, and the
// destination-on-source refusal.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "app/ui_text.h"
#include "backup/backup.h"
#include "engine/free_space.h"
#include "platform/memory_device.h"
#include "support/fake_run.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

using testing::FakeRun;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::vector<uint8_t> LoadXz(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* p = ::popen(("xz -dc '" + path + "'").c_str(), "r");
  if (p == nullptr) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
  ::pclose(p);
  return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string TempFolder() {
  char templ[] = "/tmp/quorvex_backup_XXXXXX";
  const char* dir = ::mkdtemp(templ);
  return dir ? std::string(dir) : std::string("/tmp");
}

/// An open source over any device, with its reader and watcher.
struct Env {
  explicit Env(std::unique_ptr<SectorDevice> dev, uint32_t sectors_per_cluster = 8) {
    source.device = std::move(dev);
    source.kind = SourceKind::kImageFile;
    source.name = "/images/source.img";
    source.working.last_sector = source.device->Length() / 512 - 1;
    source.working.sectors_per_cluster = sectors_per_cluster;
    source.detected = source.working;
    reader.SetDevice(source.device.get());
    folder = TempFolder();
    image = folder + "/backup.img";
  }
  explicit Env(std::vector<uint8_t> bytes, uint32_t sectors_per_cluster = 8)
      : Env(std::make_unique<MemoryDevice>(std::move(bytes)), sectors_per_cluster) {}
  ~Env() {
    ::unlink(image.c_str());
    ::rmdir(folder.c_str());
  }
  BackupOutcome Run(const std::string& first, const std::string& last, bool free_only = false,
                    OnSourceTest on_source = nullptr) {
    BackupRequest request;
    request.first_text = first;
    request.last_text = last;
    request.image_path = image;
    request.free_space_only = free_only;
    return RunBackup(source, reader, request, run, on_source);
  }
  SourceState source;
  SectorReader reader;
  FakeRun run;
  std::string folder, image;
};

std::vector<uint8_t> Sectors(const std::vector<uint8_t>& bytes, int64_t first, int64_t last) {
  return {bytes.begin() + first * 512, bytes.begin() + (last + 1) * 512};
}

constexpr size_t kSourceBytes = 5 * 1048576 + 7 * 512;  // 10,247 sectors: not a whole number of chunks

struct RangeCase {
  const char* name;
  int64_t first, last;
  uint32_t sectors_per_cluster;
};

class Ranges : public ::testing::TestWithParam<RangeCase> {};

TEST_P(Ranges, ImageIsTheRangeByteForByte) {
  const RangeCase& rc = GetParam();
  const std::vector<uint8_t> bytes = RandomBytes(kSourceBytes, 7);
  Env env(bytes, rc.sectors_per_cluster);
  const BackupOutcome o = env.Run(std::to_string(rc.first), std::to_string(rc.last));
  EXPECT_EQ(o.result, BackupResult::kFinished);
  EXPECT_EQ(o.message_slot, 47);
  EXPECT_EQ(o.caption_slot, 45);
  EXPECT_FALSE(o.ask_delete);
  EXPECT_EQ(o.error_count, 0);
  EXPECT_EQ(o.sectors_written, rc.last - rc.first + 1);
  EXPECT_EQ(ReadFile(env.image), Sectors(bytes, rc.first, rc.last));
  EXPECT_EQ(env.run.captions[ProgressWindow::kSearch], UiText(37));
  EXPECT_TRUE(env.run.search_cancel.load());  // lets the window close
}

INSTANTIATE_TEST_SUITE_P(Cases, Ranges,
                         ::testing::Values(RangeCase{"whole_source", 0, 10246, 8}, RangeCase{"one_sector", 0, 0, 8},
                                           RangeCase{"last_sector_only", 10246, 10246, 64},
                                           RangeCase{"odd_range", 37, 5000, 8},
                                           RangeCase{"cluster_of_zero_sectors", 3, 4099, 0},
                                           RangeCase{"big_clusters", 1, 9000, 256}),
                         testing::RowName());

struct BadRange {
  const char* name;
  const char* first;
  const char* last;
};

class BadRanges : public ::testing::TestWithParam<BadRange> {};

TEST_P(BadRanges, RefusedWithSlot35AndNoImage) {
  Env env(RandomBytes(64 * 512, 1));
  const BackupOutcome o = env.Run(GetParam().first, GetParam().last);
  EXPECT_EQ(o.result, BackupResult::kBadRange);
  EXPECT_EQ(o.message_slot, 35);
  EXPECT_EQ(o.caption_slot, 17);
  EXPECT_FALSE(Exists(env.image));
  EXPECT_TRUE(env.run.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, BadRanges,
                         ::testing::Values(BadRange{"empty", "", "10"}, BadRange{"negative", "-1", "10"},
                                           BadRange{"reversed", "10", "5"}, BadRange{"past_the_end", "0", "64"},
                                           BadRange{"not_a_number", "0", "1x"}),
                         testing::RowName());

TEST(Backup, LastSectorOfTheSourceIsAccepted) {
  const std::vector<uint8_t> bytes = RandomBytes(64 * 512, 2);
  Env env(bytes);
  EXPECT_EQ(env.Run("0", "63").result, BackupResult::kFinished);
  EXPECT_EQ(ReadFile(env.image), bytes);
}

TEST(Backup, DestinationOnTheSourceIsRefused) {
  Env env(RandomBytes(64 * 512, 3));
  std::string asked;
  const BackupOutcome o = env.Run("0", "63", false, [&asked](const std::string& folder) {
    asked = folder;
    return true;
  });
  EXPECT_EQ(o.result, BackupResult::kOnSource);
  EXPECT_EQ(o.message_slot, 36);
  EXPECT_EQ(asked, env.folder);
  EXPECT_FALSE(Exists(env.image));
}

TEST(Backup, UnreadableSectorsAreZerosAndTheChunkIsCounted) {
  const std::vector<uint8_t> bytes = RandomBytes(kSourceBytes, 4);
  const std::set<int64_t> bad = {1000, 1001, 5000};  // two chunks hit
  auto faulty = std::make_unique<FaultyDevice>(std::make_shared<MemoryDevice>(bytes), bad);
  Env env(std::move(faulty));
  env.run.on_pump = [](FakeRun& run) { run.ui_tick += 200; };
  env.run.ui_tick = 200;
  const BackupOutcome o = env.Run("0", "10246");
  EXPECT_EQ(o.result, BackupResult::kFinishedWithErrors);
  EXPECT_EQ(o.message_slot, 46);
  EXPECT_EQ(o.error_count, 2);
  std::vector<uint8_t> expected = bytes;
  for (int64_t s : bad) std::memset(expected.data() + s * 512, 0, 512);
  const std::vector<uint8_t> got = ReadFile(env.image);
  ASSERT_EQ(got.size(), expected.size());  // every chunk written at full length
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(env.run.Label(ProgressWindow::kSearch, 3), UiText(43) + "2");
}

TEST(Backup, DestinationThatCannotBeCreated) {
  Env env(RandomBytes(64 * 512, 5));
  env.image = env.folder + "/no/such/folder/backup.img";
  const BackupOutcome o = env.Run("0", "63");
  EXPECT_EQ(o.result, BackupResult::kCreateFailed);
  EXPECT_EQ(o.message_slot, 48);
  EXPECT_EQ(o.error_number, ENOENT);
  EXPECT_FALSE(o.reason.empty());
  EXPECT_NE(o.message_slot, 47);
}

// Writes come up short once the file reaches the process's file-size limit.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit lim = old_;
    lim.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  struct rlimit old_ {};
  void (*old_handler_)(int);
};

TEST(Backup, ShortWriteIsReportedNotFinished) {
  Env env(RandomBytes(kSourceBytes, 6));
  BackupOutcome o;
  {
    FileSizeLimit limit(1048576 + 3000);
    o = env.Run("0", "10246");
  }
  EXPECT_EQ(o.result, BackupResult::kWriteFailed);
  EXPECT_EQ(o.error_number, EFBIG);
  EXPECT_EQ(o.message_slot, 40);
  EXPECT_TRUE(o.ask_delete);
  EXPECT_EQ(o.sectors_written, 2048);  // the first whole chunk only
  EXPECT_TRUE(DeleteBackupImage(env.image));
  EXPECT_FALSE(Exists(env.image));
}

/// A large source of zeros that counts its reads.
class ZeroDevice : public SectorDevice {
 public:
  explicit ZeroDevice(int64_t length) : length_(length) {}
  int64_t ReadAt(int64_t offset, void* dest, size_t count) override {
    ++reads;
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(count), length_ - offset));
    std::memset(dest, 0, static_cast<size_t>(n));
    return n;
  }
  int64_t Length() const override { return length_; }
  uint32_t SectorSize() const override { return 4096; }
  int reads = 0;

 private:
  int64_t length_;
};

TEST(Backup, DestinationWithoutRoomForTheImage) {
  const std::string probe = TempFolder();
  struct statvfs st {};
  ASSERT_EQ(::statvfs(probe.c_str(), &st), 0);
  ::rmdir(probe.c_str());
  const int64_t free_bytes = static_cast<int64_t>(st.f_bfree) * static_cast<int64_t>(st.f_frsize);
  const int64_t sectors = 2 * (free_bytes / 4096) + 1024;  // twice what the destination can hold
  if (sectors / 8 > (int64_t{256} << 20)) GTEST_SKIP() << "destination too large to outgrow";
  auto zeros = std::make_unique<ZeroDevice>(sectors * 4096);
  ZeroDevice* device = zeros.get();
  Env env(std::move(zeros));
  env.source.working.bytes_per_sector = 4096;
  env.source.working.last_sector = sectors - 1;
  const BackupOutcome o = env.Run("0", std::to_string(sectors - 1));
  EXPECT_EQ(o.result, BackupResult::kNoRoom);
  EXPECT_EQ(o.message_slot, 40);
  EXPECT_EQ(o.caption_slot, 17);
  EXPECT_FALSE(o.ask_delete);
  EXPECT_EQ(device->reads, 0);  // nothing copied
  EXPECT_TRUE(Exists(env.image));  // the file is left as created
  EXPECT_TRUE(ReadFile(env.image).empty());
}

TEST(Backup, CancelDuringTheCopyAsksToDelete) {
  const std::vector<uint8_t> bytes = RandomBytes(kSourceBytes, 8);
  Env env(bytes);
  env.run.ui_tick = 200;
  env.run.on_pump = [](FakeRun& run) {
    if (run.captions[ProgressWindow::kSearch] == UiText(37) && !run.Label(ProgressWindow::kSearch, 1).empty() &&
        run.Label(ProgressWindow::kSearch, 1) != UiText(38))
      run.search_cancel = true;
  };
  const BackupOutcome o = env.Run("0", "10246");
  EXPECT_EQ(o.result, BackupResult::kCancelled);
  EXPECT_EQ(o.message_slot, 44);
  EXPECT_EQ(o.caption_slot, 45);
  EXPECT_TRUE(o.ask_delete);
  const std::vector<uint8_t> got = ReadFile(env.image);
  EXPECT_EQ(got.size(), static_cast<size_t>(o.sectors_written) * 512);
  EXPECT_EQ(got.size() % 1048576, 0u);  // whole chunks
  EXPECT_TRUE(got == Sectors(bytes, 0, o.sectors_written - 1));
}

// --- free space only, over a FAT16 image made by mkfs.fat + mtools -----------------------

std::vector<uint8_t> Fat16Image() { return LoadXz(std::string(QUORVEX_TEST_DATA) + "/free_space/fat16.img.xz"); }

bool Contains(const std::vector<uint8_t>& hay, const std::string& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST(BackupFreeSpace, ImageHoldsExactlyTheAvailableSectors) {
  const std::vector<uint8_t> bytes = Fat16Image();
  ASSERT_FALSE(bytes.empty());
  const int64_t last = static_cast<int64_t>(bytes.size() / 512) - 1;
  Env env(bytes, 4);
  env.source.detected.fs_kind = FsKind::kFat16;
  const BackupOutcome o = env.Run("0", std::to_string(last), true);
  EXPECT_EQ(o.result, BackupResult::kFinished);
  EXPECT_FALSE(o.free_space_dropped);

  // The available sectors, from a collection of our own.
  Env ref(bytes, 4);
  AvailMap map(last);
  ref.source.detected.fs_kind = FsKind::kFat16;
  ASSERT_TRUE(CollectFreeSpace(ref.reader, ref.source.detected, map, ref.run).completed);
  std::vector<uint8_t> expected;
  for (int64_t s = 0; s <= last; ++s)
    if (!map.IsTaken(s)) expected.insert(expected.end(), bytes.begin() + s * 512, bytes.begin() + (s + 1) * 512);
  const std::vector<uint8_t> got = ReadFile(env.image);
  EXPECT_TRUE(got == expected);
  EXPECT_LT(got.size(), bytes.size());
  // The deleted file's clusters are free space; the live files' are not.
  EXPECT_TRUE(Contains(got, "file 2 line 000000"));
  EXPECT_FALSE(Contains(got, "file 1 line 000000"));
  EXPECT_FALSE(Contains(got, "file 4 line 000000"));
}

TEST(BackupFreeSpace, FailedCollectionCopiesEverySector) {
  std::vector<uint8_t> bytes = Fat16Image();
  ASSERT_FALSE(bytes.empty());
  const size_t fat = (bytes[14] | bytes[15] << 8) * 512u;
  bytes[fat + 3] = 0x7F;  // dirty shutdown: the FAT fails its check
  const int64_t last = static_cast<int64_t>(bytes.size() / 512) - 1;
  Env env(bytes, 4);
  env.source.detected.fs_kind = FsKind::kFat16;
  const BackupOutcome o = env.Run("0", std::to_string(last), true);
  EXPECT_EQ(o.result, BackupResult::kFinished);
  EXPECT_TRUE(o.free_space_dropped);
  EXPECT_TRUE(o.free_space_disable);
  EXPECT_TRUE(ReadFile(env.image) == bytes);
}

TEST(BackupFreeSpace, CancelDuringCollectionCreatesNoImage) {
  std::vector<uint8_t> bytes = LoadXz(std::string(QUORVEX_TEST_DATA) + "/free_space/fat32.img.xz");
  ASSERT_FALSE(bytes.empty());
  const int64_t last = static_cast<int64_t>(bytes.size() / 512) - 1;
  Env env(bytes, 1);
  env.source.detected.fs_kind = FsKind::kFat32;
  env.run.ui_tick = 200;
  env.run.on_pump = [](FakeRun& run) { run.search_cancel = true; };
  const BackupOutcome o = env.Run("0", std::to_string(last), true);
  EXPECT_EQ(o.result, BackupResult::kCancelledCollecting);
  EXPECT_EQ(o.message_slot, 0);
  EXPECT_TRUE(o.free_space_dropped);
  EXPECT_FALSE(o.free_space_disable);
  EXPECT_FALSE(Exists(env.image));
}

TEST(BackupFreeSpace, FullVolumeGivesAnEmptyImage) {
  // An HFS+ volume whose bitmap marks every block used.
  std::vector<uint8_t> bytes(512 * 256, 0);
  bytes[1024] = 'H';
  bytes[1025] = '+';
  bytes[1027] = 4;
  bytes[1024 + 40 + 2] = 0x10;  // block size 4096
  bytes[1024 + 44 + 3] = 32;    // 32 blocks
  std::memset(bytes.data() + 4096, 0xFF, 4);
  Env env(bytes, 8);
  env.source.detected.fs_kind = FsKind::kHfsPlus;
  const BackupOutcome o = env.Run("0", "255", true);
  EXPECT_EQ(o.result, BackupResult::kFinished);
  EXPECT_EQ(o.sectors_written, 0);
  EXPECT_TRUE(Exists(env.image));
  EXPECT_TRUE(ReadFile(env.image).empty());
}

// A range that starts inside a cluster: the image still holds only available sectors.
TEST(BackupFreeSpace, RangeOffTheClusterGridCopiesOnlyAvailableSectors) {
  std::vector<uint8_t> bytes = RandomBytes(512 * 64, 9);
  std::memset(bytes.data() + 1024, 0, 512 * 7);
  bytes[1024] = 'H';
  bytes[1025] = '+';
  bytes[1027] = 4;
  bytes[1024 + 40 + 2] = 0x10;  // block size 4096: 8 sectors
  bytes[1024 + 44 + 3] = 8;     // 8 blocks
  bytes[4096] = 0x55;           // blocks 1, 3, 5 and 7 in use
  Env env(bytes, 8);
  env.source.detected.fs_kind = FsKind::kHfsPlus;
  const BackupOutcome o = env.Run("3", "63", true);
  ASSERT_EQ(o.result, BackupResult::kFinished);
  std::vector<uint8_t> expected = Sectors(bytes, 3, 7);
  for (int64_t block : {2, 4, 6}) {
    const auto part = Sectors(bytes, block * 8, block * 8 + 7);
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_TRUE(ReadFile(env.image) == expected);
  EXPECT_EQ(o.sectors_written, 5 + 3 * 8);
}

TEST(Backup, NoSourceDoesNothing) {
  SourceState source;
  SectorReader reader;
  FakeRun run;
  BackupRequest request;
  request.first_text = "0";
  request.last_text = "0";
  request.image_path = "/tmp/never_created.img";
  const BackupOutcome o = RunBackup(source, reader, request, run, nullptr);
  EXPECT_EQ(o.result, BackupResult::kNotRun);
  EXPECT_FALSE(Exists(request.image_path));
}

}  // namespace
}  // namespace quorvex
