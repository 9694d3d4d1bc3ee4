// OLE2 compound files with 512-byte sectors (claim-only). The FAT sectors are found from
// the header's DIFAT and the DIFAT chain (numbers rising, each at most 409,598, none listed
// twice); the file runs to the last FAT entry that is not free (at most 200 MiB). The file
// is taken only when its directory chain, followed through the FAT, stays inside what was
// read, rises, and ends within 20 sectors. Everything read stays claimed.

#include <cstring>
#include <vector>

#include "carvers/carver.h"
#include "engine/walk.h"

namespace quorvex {
namespace {

constexpr int64_t kCfSector = 512;  // the only compound-file sector size accepted
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int64_t kByteOrderOffset = 28;
constexpr uint32_t kByteOrderAndShift9 = 0x0009FFFE;
constexpr int64_t kFirstDirectoryOffset = 48;
constexpr int64_t kFirstDifatOffset = 68;
constexpr int64_t kHeaderDifatOffset = 76;
constexpr int kHeaderDifatEntries = 109;
constexpr int kDifatEntriesPerSector = 127;
constexpr int64_t kDifatNextOffset = 508;
constexpr int64_t kFatEntriesPerSector = kCfSector / 4;
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr int64_t kHighestTableSector = 409598;
constexpr int64_t kLargestExtent = 209715200;  // 200 MiB
constexpr int64_t kDirectoryLimit = 10240;    // bytes collected before a sector is added

/// Byte offset of compound-file sector n in the working copy.
constexpr int64_t SectorStart(int64_t n) { return (n + 1) * kCfSector; }
/// Working-copy length that holds compound-file sector n whole.
constexpr int64_t SectorEnd(int64_t n) { return (n + 2) * kCfSector; }

/// The FAT as the list of its sectors, in order; entries are read from the working copy.
/// Each FAT sector may be listed once, which bounds the table however the DIFAT is made.
class FatSectors {
 public:
  FatSectors() : listed_(static_cast<size_t>(kHighestTableSector + 1), false) {}
  /// Checks sector n (rising after `previous`, in range, not yet listed), gathers it and
  /// appends it to the table.
  bool Add(Walk& walk, int64_t n, int64_t previous) {
    if (n > kHighestTableSector || n <= previous || listed_[static_cast<size_t>(n)]) return false;
    if (!walk.ReadAhead(SectorEnd(n))) return false;
    listed_[static_cast<size_t>(n)] = true;
    sectors_.push_back(n);
    return true;
  }
  int64_t entries() const { return static_cast<int64_t>(sectors_.size()) * kFatEntriesPerSector; }
  /// Entry i (0 <= i < entries()); its sector was gathered when it was added.
  uint32_t Entry(const Walk& walk, int64_t i) const {
    const int64_t sector = sectors_[static_cast<size_t>(i / kFatEntriesPerSector)];
    return walk.Le32(SectorStart(sector) + (i % kFatEntriesPerSector) * 4).value_or(kFree);
  }

 private:
  std::vector<bool> listed_;
  std::vector<int64_t> sectors_;
};

}  // namespace

void CarveOle2(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  Walk walk(ctx, start_offset, Walk::Width::k32);
  if (walk.StartTaken()) return;
  if (!walk.Start()) return;
  const uint8_t* signature = walk.View(0, sizeof kSignature);
  const auto order = walk.Le32(kByteOrderOffset);
  if (signature == nullptr || std::memcmp(signature, kSignature, sizeof kSignature) != 0 || !order ||
      *order != kByteOrderAndShift9)
    return;
  const uint32_t first_directory = *walk.Le32(kFirstDirectoryOffset);
  const uint32_t first_difat = *walk.Le32(kFirstDifatOffset);

  FatSectors fat;
  // The header's DIFAT: up to 109 FAT sector numbers, ended by the first free entry.
  int64_t previous = -1;
  for (int i = 0; i < kHeaderDifatEntries; ++i) {
    const uint32_t entry = *walk.Le32(kHeaderDifatOffset + 4 * i);
    if (entry == kFree) break;
    if (!fat.Add(walk, entry, previous)) return;
    previous = entry;
  }
  // The DIFAT chain: rising sector numbers, so it ends.
  int64_t previous_difat = -1;
  for (uint32_t difat = first_difat; difat != kEndOfChain && difat != kFree;) {
    if (difat > kHighestTableSector || difat <= previous_difat) return;
    if (!walk.ReadAhead(SectorEnd(difat))) return;
    previous_difat = difat;
    int64_t previous_entry = -1;
    for (int i = 0; i < kDifatEntriesPerSector; ++i) {
      const uint32_t entry = *walk.Le32(SectorStart(difat) + 4 * i);
      if (entry == kFree) continue;
      if (!fat.Add(walk, entry, previous_entry)) return;
      previous_entry = entry;
    }
    difat = *walk.Le32(SectorStart(difat) + kDifatNextOffset);
  }
  // The extent: up to the last FAT entry in use (end-of-chain, FAT and DIFAT marks count).
  for (int64_t k = fat.entries() - 1; k >= 0; --k) {
    if (fat.Entry(walk, k) == kFree) continue;
    const int64_t extent = SectorEnd(k);
    if (extent > kLargestExtent) return;
    if (!walk.ReadAhead(extent)) return;
    break;
  }
  // The directory chain must lie in what was read, rise, and end within 20 sectors.
  const int64_t highest_read = walk.buffered() / kCfSector - 2;
  int64_t previous_directory = -1;
  int64_t collected = 0;
  for (uint32_t dir = first_directory; dir != kEndOfChain;) {
    if (dir > highest_read || dir >= fat.entries() || dir <= previous_directory) return;
    if (collected >= kDirectoryLimit) return;
    collected += kCfSector;
    previous_directory = dir;
    dir = fat.Entry(walk, dir);
  }
  walk.Accept();
}

}  // namespace quorvex
