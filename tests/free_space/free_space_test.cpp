// Free-space collection over file-system images made by mkfs.fat + mtools, mkntfs + ntfscp
// and mkfs.exfat (tests/data/free_space/make.sh), checked against what the file systems'
// own tools report (expected.txt), plus hand-made HFS / HFS+ volumes and damaged structures.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/ui_text.h"
#include "engine/free_space.h"
#include "engine/scan_driver.h"
#include "platform/memory_device.h"
#include "source/sector_reader.h"
#include "support/fake_run.h"
#include "support/param_name.h"

namespace quorvex {
namespace {

using testing::FakeRun;

const std::string kData = std::string(QUORVEX_TEST_DATA) + "/free_space/";

std::vector<uint8_t> LoadImage(const std::string& name) {
  const std::string cmd = "xz -dc '" + kData + name + ".img.xz'";
  std::vector<uint8_t> out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
  ::pclose(p);
  return out;
}

/// expected.txt: one line per fact, "<image> <key> <values...>".
std::map<std::string, std::vector<std::string>> LoadExpected() {
  std::map<std::string, std::vector<std::string>> facts;
  std::ifstream in(kData + "expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string image, key, w;
    words >> image >> key;
    if (key == "file") {
      words >> w;
      key += " " + w;
    }
    std::vector<std::string> values;
    while (words >> w) values.push_back(w);
    facts[image + " " + key] = values;
  }
  return facts;
}

/// A source over bytes (or any device) with its reader and map.
struct Env {
  explicit Env(std::vector<uint8_t> bytes, uint32_t bps = 512)
      : Env(std::make_shared<MemoryDevice>(std::move(bytes), bps), bps) {}
  explicit Env(std::shared_ptr<SectorDevice> dev, uint32_t bps = 512) : device(std::move(dev)) {
    reader.SetDevice(device.get());
    geometry.bytes_per_sector = bps;
    geometry.last_sector = device->Length() / bps - 1;
    map = AvailMap(geometry.last_sector);
  }
  FreeSpaceResult Collect(FsKind kind) {
    geometry.fs_kind = kind;
    return CollectFreeSpace(reader, geometry, map, run);
  }
  int64_t CountTaken(int64_t from, int64_t to) const {
    int64_t n = 0;
    for (int64_t s = from; s <= to && s <= map.last_sector(); ++s) n += map.IsTaken(s) ? 1 : 0;
    return n;
  }
  std::shared_ptr<SectorDevice> device;
  SectorReader reader;
  Geometry geometry;
  AvailMap map;
  FakeRun run;
};

/// The first sector whose bytes begin with text.
int64_t FindSector(const std::vector<uint8_t>& bytes, const std::string& text, size_t bps = 512) {
  for (size_t off = 0; off + text.size() <= bytes.size(); off += bps)
    if (std::memcmp(bytes.data() + off, text.data(), text.size()) == 0) return static_cast<int64_t>(off / bps);
  return -1;
}

// Where each test file's first bytes are ("file <n> line 000000", see make.sh).
const char* const kFileA = "file 1 line 000000";
const char* const kFileD = "file 4 line 000000";

struct FatCase {
  const char* name;
  FsKind kind;
  int64_t sectors_per_cluster;
  uint32_t bytes_per_sector;
};

class FatImages : public ::testing::TestWithParam<FatCase> {};

// The map holds the system area and exactly the clusters fsck.fat counts as used,
// including every cluster mshowfat lists for the live files; the deleted file's are free.
TEST_P(FatImages, UsedClustersMatchTheFileSystemTools) {
  const FatCase& fc = GetParam();
  const auto facts = LoadExpected();
  std::vector<uint8_t> bytes = LoadImage(fc.name);
  ASSERT_FALSE(bytes.empty());
  const int64_t c = fc.sectors_per_cluster;
  // File A's first cluster locates the data area independently of the boot record.
  int first_a = 0, last_a = 0;
  ASSERT_EQ(std::sscanf(facts.at(std::string(fc.name) + " file A")[0].c_str(), "<%d-%d>", &first_a, &last_a), 2);
  const int64_t data_start = FindSector(bytes, kFileA, fc.bytes_per_sector) - (first_a - 2) * c;
  const int64_t used = std::stoll(facts.at(std::string(fc.name) + " used_clusters")[0]);
  const int64_t clusters = std::stoll(facts.at(std::string(fc.name) + " used_clusters")[1]);

  Env env(bytes, fc.bytes_per_sector);
  env.run.ui_tick = 200;
  const FreeSpaceResult r = env.Collect(fc.kind);
  EXPECT_TRUE(r.completed);
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(env.CountTaken(0, data_start - 1), data_start) << "system area";
  int64_t taken_clusters = 0;
  for (int64_t k = 0; k < clusters; ++k) {
    const int64_t x = data_start + k * c;
    const int64_t n = env.CountTaken(x, x + c - 1);
    EXPECT_TRUE(n == 0 || n == c) << "cluster " << k + 2 << " partly taken";
    taken_clusters += n == c ? 1 : 0;
  }
  EXPECT_EQ(taken_clusters, used);
  EXPECT_EQ(env.CountTaken(0, env.map.last_sector()), data_start + used * c) << "nothing else taken";
  for (const char* f : {"A", "C", "D"}) {
    int a = 0, b = 0;
    ASSERT_EQ(std::sscanf(facts.at(std::string(fc.name) + " file " + f)[0].c_str(), "<%d-%d>", &a, &b), 2);
    for (int k = a; k <= b; ++k) EXPECT_TRUE(env.map.IsTaken(data_start + (k - 2) * c)) << f << " cluster " << k;
  }
  auto* mem = static_cast<MemoryDevice*>(env.device.get());
  EXPECT_LE(mem->highest_end(), mem->Length());
}

INSTANTIATE_TEST_SUITE_P(Mkfs, FatImages,
                         ::testing::Values(FatCase{"fat12", FsKind::kFat12, 2, 512}, FatCase{"fat16", FsKind::kFat16, 4, 512},
                                           FatCase{"fat32", FsKind::kFat32, 1, 512},
                                           FatCase{"fat16_4k", FsKind::kFat16, 1, 4096}),
                         testing::RowName());

struct NtfsCase {
  const char* name;
  int64_t sectors_per_cluster;
  uint32_t bytes_per_sector;
};

class NtfsImages : public ::testing::TestWithParam<NtfsCase> {};

// The cluster bitmap's record is found by the boot record's file-record size, so the
// 4 KiB-sector volume (4 KiB records) is read as right as the 512-byte one (1 KiB records).
TEST_P(NtfsImages, UsedClustersMatchNtfsinfo) {
  const NtfsCase& nc = GetParam();
  const auto facts = LoadExpected();
  const std::vector<uint8_t> bytes = LoadImage(nc.name);
  ASSERT_FALSE(bytes.empty());
  const auto& v = facts.at(std::string(nc.name) + " clusters");  // total, "free", free
  const int64_t clusters = std::stoll(v[0]);
  const int64_t used = clusters - std::stoll(v[2]);
  const int64_t c = nc.sectors_per_cluster;
  Env env(bytes, nc.bytes_per_sector);
  env.run.ui_tick = 200;
  env.run.on_pump = [](FakeRun& run) { run.ui_tick += 200; };  // every sector refreshes
  const FreeSpaceResult r = env.Collect(FsKind::kNtfs);
  EXPECT_TRUE(r.completed);
  int64_t taken = 0;
  for (int64_t k = 0; k < clusters; ++k) {
    const int64_t n = env.CountTaken(k * c, k * c + c - 1);
    EXPECT_TRUE(n == 0 || n == c) << "cluster " << k;
    taken += n == c ? 1 : 0;
  }
  EXPECT_EQ(taken, used);
  EXPECT_TRUE(env.map.IsTaken(0));  // boot record
  EXPECT_TRUE(env.map.IsTaken(FindSector(bytes, kFileA, nc.bytes_per_sector)));
  EXPECT_TRUE(env.map.IsTaken(FindSector(bytes, kFileD, nc.bytes_per_sector)));
  EXPECT_EQ(env.run.Label(ProgressWindow::kSearch, 2), UiText(51) + "100.00%");
  EXPECT_GE(env.run.pumps, 1);
}

INSTANTIATE_TEST_SUITE_P(Mkntfs, NtfsImages,
                         ::testing::Values(NtfsCase{"ntfs", 8, 512}, NtfsCase{"ntfs_4k", 1, 4096}),
                         testing::RowName());

TEST(FreeSpaceExFat, UsedClustersMatchDumpExfat) {
  const auto facts = LoadExpected();
  const std::vector<uint8_t> bytes = LoadImage("exfat");
  ASSERT_FALSE(bytes.empty());
  const auto& v = facts.at("exfat clusters");  // total, "free", free, "heap", heap
  const int64_t clusters = std::stoll(v[0]);
  const int64_t used = clusters - std::stoll(v[2]);
  const int64_t heap = std::stoll(v[4]);
  constexpr int64_t c = 8;
  Env env(bytes);
  const FreeSpaceResult r = env.Collect(FsKind::kExFat);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(env.CountTaken(0, heap - 1), heap);
  EXPECT_EQ(env.CountTaken(heap, env.map.last_sector()), used * c);
}

// --- hand-made HFS and HFS+ volumes ---------------------------------------------------

void PutBe16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x >> 8);
  v[at + 1] = static_cast<uint8_t>(x);
}
void PutBe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  PutBe16(v, at, x >> 16);
  PutBe16(v, at + 2, x & 0xFFFF);
}
void PutLe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(x >> (8 * i));
}

std::set<int64_t> TakenSet(const Env& env) {
  std::set<int64_t> out;
  for (int64_t s = 0; s <= env.map.last_sector(); ++s)
    if (env.map.IsTaken(s)) out.insert(s);
  return out;
}
std::set<int64_t> Range(int64_t from, int64_t to) {
  std::set<int64_t> out;
  for (int64_t s = from; s <= to; ++s) out.insert(s);
  return out;
}
std::set<int64_t> Union(std::initializer_list<std::set<int64_t>> parts) {
  std::set<int64_t> out;
  for (const auto& p : parts) out.insert(p.begin(), p.end());
  return out;
}

// HFS: 1 KiB blocks (2 sectors) from sector 16, 100 blocks, bitmap at sector 3, most
// significant bit first.
std::vector<uint8_t> HfsVolume() {
  std::vector<uint8_t> v(512 * (16 + 200), 0);
  v[1024] = 'B';
  v[1025] = 'D';
  PutBe16(v, 1038, 3);      // volume bitmap start
  PutBe16(v, 1042, 100);    // allocation blocks
  PutBe32(v, 1044, 1024);   // block size
  PutBe16(v, 1052, 16);     // first allocation block sector
  v[3 * 512 + 0] = 0x80;    // block 0
  v[3 * 512 + 1] = 0xFF;    // blocks 8..15
  v[3 * 512 + 2] = 0x01;    // block 23
  return v;
}

TEST(FreeSpaceHfs, BitmapMostSignificantBitFirstFromTheFirstBlock) {
  Env env(HfsVolume());
  EXPECT_TRUE(env.Collect(FsKind::kHfs).completed);
  EXPECT_EQ(TakenSet(env), Union({Range(16, 17), Range(16 + 16, 16 + 31), Range(16 + 46, 16 + 47)}));
}

// The bitmap of 100 blocks is 13 bytes: the rest of its sector is not part of it.
TEST(FreeSpaceHfs, OnlyTheBitmapsOwnBytesOfItsSectorCount) {
  std::vector<uint8_t> v = HfsVolume();
  std::memset(v.data() + 3 * 512 + 13, 0xFF, 512 - 13);
  Env env(v);
  EXPECT_TRUE(env.Collect(FsKind::kHfs).completed);
  EXPECT_EQ(TakenSet(env), Union({Range(16, 17), Range(16 + 16, 16 + 31), Range(16 + 46, 16 + 47)}));
}

// HFS+: 4 KiB blocks, 64 blocks in the bitmap but the source ends after 60: the last FF
// byte is claimed bit by bit and nothing goes past the last sector.
std::vector<uint8_t> HfsPlusVolume(uint32_t alloc_start_block, uint32_t alloc_blocks) {
  std::vector<uint8_t> v(512 * 480, 0);
  v[1024] = 'H';
  v[1025] = '+';
  v[1027] = 4;
  PutBe32(v, 1064, 4096);
  PutBe32(v, 1068, 64);
  PutBe32(v, 1024 + 0x70 + 16, alloc_start_block);
  PutBe32(v, 1024 + 0x70 + 20, alloc_blocks);
  const size_t at = alloc_blocks ? alloc_start_block * 4096u : 4096u;
  v[at + 0] = 0xC0;  // blocks 0, 1
  v[at + 7] = 0xFF;  // blocks 56..63: only 56..59 exist
  return v;
}

TEST(FreeSpaceHfsPlus, DefaultBitmapPositionAndTheEndOfTheSource) {
  Env env(HfsPlusVolume(0, 0));
  EXPECT_TRUE(env.Collect(FsKind::kHfsPlus).completed);
  EXPECT_EQ(TakenSet(env), Union({Range(0, 15), Range(448, 479)}));
}

TEST(FreeSpaceHfsPlus, AllocationFileExtentFromTheVolumeHeader) {
  Env env(HfsPlusVolume(3, 1));
  EXPECT_TRUE(env.Collect(FsKind::kHfsPlus).completed);
  EXPECT_EQ(TakenSet(env), Union({Range(0, 15), Range(448, 479)}));
}

// --- damaged structures ---------------------------------------------------------------

struct Damage {
  const char* name;
  const char* image;      // "hfs" for the hand-made HFS volume
  FsKind kind;
  void (*spoil)(std::vector<uint8_t>& v);
  bool completed;
};

uint32_t Le16(const std::vector<uint8_t>& v, size_t at) { return v[at] | static_cast<uint32_t>(v[at + 1]) << 8; }
uint32_t Le32(const std::vector<uint8_t>& v, size_t at) { return Le16(v, at) | Le16(v, at + 2) << 16; }
size_t FatStart(const std::vector<uint8_t>& v) { return Le16(v, 14) * 512u; }

/// Byte offset of the data attribute's run list in the NTFS cluster bitmap's record.
size_t NtfsBitmapRunList(const std::vector<uint8_t>& v) {
  const size_t record = Le32(v, 48) * 8u * 512u + 6 * 1024;
  size_t off = record + Le16(v, record + 20);
  while (Le32(v, off) != 0x80) off += Le32(v, off + 4);
  return off + Le16(v, off + 32);
}
size_t ExFatRootSector(const std::vector<uint8_t>& v) {
  return ((Le32(v, 96) - 2) * 8u + Le32(v, 88)) * 512u;
}

const Damage kDamages[] = {
    {"fat16_dirty_shutdown", "fat16", FsKind::kFat16, [](auto& v) { v[FatStart(v) + 3] = 0x7F; }, false},
    // F8 is the fixed-disk media byte mkfs.fat writes on images and partitions, FAT12 included.
    {"fat12_media_f8", "fat12", FsKind::kFat12, [](auto& v) { v[FatStart(v)] = 0xF8; }, true},
    {"fat12_not_a_media_byte", "fat12", FsKind::kFat12, [](auto& v) { v[FatStart(v)] = 0x12; }, false},
    {"fat16_not_a_media_byte", "fat16", FsKind::kFat16, [](auto& v) { v[FatStart(v)] = 0xE8; }, false},
    {"fat16_fat_past_the_end", "fat16", FsKind::kFat16, [](auto& v) { v[22] = 0xFF; v[23] = 0xFF; }, false},
    {"fat32_fat_past_the_end", "fat32", FsKind::kFat32, [](auto& v) { PutLe32(v, 36, 0x7FFFFFFF); }, false},
    {"fat32_dirty_shutdown", "fat32", FsKind::kFat32, [](auto& v) { v[FatStart(v) + 7] = 0x07; }, false},
    {"fat16_chain_loop", "fat16", FsKind::kFat16,
     [](auto& v) {  // clusters 3000 -> 3001 -> 3000
       PutLe32(v, FatStart(v) + 2 * 3000, 3001 | 3000u << 16);
     },
     true},
    {"ntfs_bitmap_past_the_end", "ntfs", FsKind::kNtfs,
     [](auto& v) {
       const size_t runs = NtfsBitmapRunList(v);
       const size_t len_bytes = v[runs] & 0x0F;
       v[runs] = static_cast<uint8_t>(len_bytes | 4 << 4);
       PutLe32(v, runs + 1 + len_bytes, 0x00FFFFFF);
     },
     false},
    {"ntfs_bitmap_longer_than_the_source", "ntfs", FsKind::kNtfs,
     [](auto& v) {
       const size_t runs = NtfsBitmapRunList(v);
       const size_t lcn_bytes = v[runs] >> 4;
       std::vector<uint8_t> lcn(v.begin() + static_cast<long>(runs + 1 + (v[runs] & 0x0F)),
                                v.begin() + static_cast<long>(runs + 1 + (v[runs] & 0x0F) + lcn_bytes));
       v[runs] = static_cast<uint8_t>(4 | lcn_bytes << 4);
       PutLe32(v, runs + 1, 0x7FFFFFFF);
       std::copy(lcn.begin(), lcn.end(), v.begin() + static_cast<long>(runs + 5));
     },
     false},
    {"ntfs_record_not_a_file_record", "ntfs", FsKind::kNtfs,
     [](auto& v) { v[Le32(v, 48) * 8u * 512u + 6 * 1024] = 'X'; }, false},
    {"ntfs_torn_record", "ntfs", FsKind::kNtfs,
     [](auto& v) { v[Le32(v, 48) * 8u * 512u + 6 * 1024 + 510] ^= 0x55; }, false},
    {"ntfs_mft_past_the_end", "ntfs", FsKind::kNtfs, [](auto& v) { PutLe32(v, 48, 0xFFFFFFFF); }, false},
    {"exfat_second_entry_is_the_upcase_table", "exfat", FsKind::kExFat,
     [](auto& v) { v[ExFatRootSector(v) + 32] = 0x82; }, false},
    {"exfat_bitmap_past_the_end", "exfat", FsKind::kExFat,
     [](auto& v) { PutLe32(v, ExFatRootSector(v) + 32 + 20, 0x7FFFFFF0); }, false},
    {"exfat_bitmap_longer_than_the_source", "exfat", FsKind::kExFat,
     [](auto& v) { PutLe32(v, ExFatRootSector(v) + 32 + 28, 0x10); }, false},
    {"exfat_root_cluster_zero", "exfat", FsKind::kExFat, [](auto& v) { PutLe32(v, 96, 0); }, false},
    {"hfs_bitmap_past_the_end", "hfs", FsKind::kHfs, [](auto& v) { PutBe16(v, 1038, 0xFFFF); }, false},
    {"hfs_block_size_zero", "hfs", FsKind::kHfs, [](auto& v) { PutBe32(v, 1044, 0); }, false},
    {"no_file_system", "hfs", FsKind::kNone, [](auto&) {}, false},
};

class DamagedStructures : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedStructures, NotCompletedAndNoReadOutsideTheSource) {
  const Damage& d = GetParam();
  std::vector<uint8_t> bytes = std::string(d.image) == "hfs" ? HfsVolume() : LoadImage(d.image);
  ASSERT_FALSE(bytes.empty());
  d.spoil(bytes);
  auto mem = std::make_shared<MemoryDevice>(bytes);
  Env env(mem);
  const FreeSpaceResult r = env.Collect(d.kind);
  EXPECT_EQ(r.completed, d.completed);
  EXPECT_FALSE(r.cancelled);
  EXPECT_LE(mem->highest_end(), mem->Length());
  EXPECT_GE(mem->lowest_offset(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedStructures, ::testing::ValuesIn(kDamages), testing::RowName());

TEST(FreeSpaceFat, ChainLoopClustersAreTaken) {
  std::vector<uint8_t> bytes = LoadImage("fat16");
  PutLe32(bytes, FatStart(bytes) + 2 * 3000, 3001 | 3000u << 16);
  const int64_t data_start = FindSector(bytes, kFileA);  // file A begins at cluster 2
  Env env(bytes);
  ASSERT_TRUE(env.Collect(FsKind::kFat16).completed);
  EXPECT_EQ(env.CountTaken(data_start + 2998 * 4, data_start + 2999 * 4 + 3), 8);
}

TEST(FreeSpaceFat, Fat32BadAndEndOfChainEntriesClaim) {
  std::vector<uint8_t> bytes = LoadImage("fat32");
  const size_t fat = FatStart(bytes);
  PutLe32(bytes, fat + 4 * 5000, 0xFFFFFFFF);
  PutLe32(bytes, fat + 4 * 5001, 0x0FFFFFF7);
  const int64_t data_start = FindSector(bytes, kFileA) - 1;  // file A begins at cluster 3
  Env env(bytes);
  ASSERT_TRUE(env.Collect(FsKind::kFat32).completed);
  EXPECT_TRUE(env.map.IsTaken(data_start + 4998));
  EXPECT_TRUE(env.map.IsTaken(data_start + 4999));
  EXPECT_FALSE(env.map.IsTaken(data_start + 5000));
}

// --- cancel and read errors -----------------------------------------------------------

TEST(FreeSpaceCancel, CancelInTheBitmapLoop) {
  Env env(LoadImage("fat32"));
  env.run.ui_tick = 200;  // the first refresh is due at once
  env.run.on_pump = [](FakeRun& run) { run.search_cancel = true; };
  const FreeSpaceResult r = env.Collect(FsKind::kFat32);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(env.run.pumps, 1);
}

TEST(FreeSpaceReadErrors, BadSectorInsideTheBitmapStopsTheCollection) {
  std::vector<uint8_t> bytes = LoadImage("fat32");
  const int64_t fat_sector = Le16(bytes, 14) + 3;
  auto faulty = std::make_shared<FaultyDevice>(std::make_shared<MemoryDevice>(bytes), std::set<int64_t>{fat_sector});
  Env env(faulty);
  const FreeSpaceResult r = env.Collect(FsKind::kFat32);
  EXPECT_FALSE(r.completed);
  EXPECT_FALSE(r.cancelled);
}

TEST(FreeSpaceReadErrors, BadSectorNearTheBitmapDoesNotStopIt) {
  // A bad sector just after the first FAT spoils the 64 KiB windows around the FAT's
  // sectors, but each of them can still be read on its own.
  std::vector<uint8_t> bytes = LoadImage("fat32");
  const int64_t after_fat = Le16(bytes, 14) + Le32(bytes, 36);
  auto faulty = std::make_shared<FaultyDevice>(std::make_shared<MemoryDevice>(bytes), std::set<int64_t>{after_fat});
  Env env(faulty);
  EXPECT_TRUE(env.Collect(FsKind::kFat32).completed);
}

// --- a rescue of free space only ----------------------------------------------------------

namespace rescue {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct RescueRun {
  RescueOutcome outcome;
  std::vector<std::vector<uint8_t>> files;
};

// FAT16 (mkfs.fat + mcopy + mdel): LIVE.ZIP is still allocated, GONE.ZIP was deleted.
RescueRun Rescue(bool free_space_only) {
  RescueRun result;
  std::vector<uint8_t> bytes = LoadImage("fat16_zip");
  SourceState source;
  source.device = std::make_unique<MemoryDevice>(bytes);
  source.kind = SourceKind::kImageFile;
  source.name = "fat16_zip.img";
  source.detected.last_sector = static_cast<int64_t>(bytes.size() / 512) - 1;
  source.detected.sectors_per_cluster = 1;
  source.detected.cluster_offset = 0;
  source.detected.fs_kind = FsKind::kFat16;
  source.working = source.detected;
  SectorReader reader;
  reader.SetDevice(source.device.get());
  char templ[] = "/tmp/quorvex_free_rescue_XXXXXX";
  const std::string folder = ::mkdtemp(templ);
  RescueRequest request;
  request.folder_text = folder;
  request.first_text = "0";
  request.last_text = std::to_string(source.working.last_sector);
  request.free_space_only = free_space_only;
  ScanSettings settings;
  if (CheckRescue(request, source, nullptr, &settings) != 0) return result;
  FakeRun run;
  result.outcome = RunRescue(source, reader, settings, run);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    result.files.push_back(ReadAll(entry.path().string()));
    std::filesystem::remove(entry.path());
  }
  std::filesystem::remove(folder);
  return result;
}

TEST(FreeSpaceRescue, OnlyTheDeletedArchiveIsRescued) {
  const std::vector<uint8_t> gone = ReadAll(kData + "gone.zip");
  const std::vector<uint8_t> live = ReadAll(kData + "live.zip");
  const RescueRun all = Rescue(false);
  ASSERT_EQ(all.outcome.rescued_count, 2u);
  const RescueRun free_only = Rescue(true);
  EXPECT_FALSE(free_only.outcome.free_space_dropped);
  ASSERT_EQ(free_only.outcome.rescued_count, 1u);
  ASSERT_EQ(free_only.files.size(), 1u);
  EXPECT_TRUE(free_only.files[0] == gone);
  EXPECT_FALSE(free_only.files[0] == live);
}

}  // namespace rescue

}  // namespace
}  // namespace quorvex
