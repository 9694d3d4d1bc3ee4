// Every walk over an in-memory device holding the fuzzed bytes, with its candidate at the
// first sector and random sectors taken beforehand. After the walk: no sector taken before
// was released, no read left the device, and every saved file is exactly as long as the
// report says, with nothing else left in the output folder.
//
// Input: byte 0 picks the type code (a walkable code selects itself, any other byte one of
// them by remainder), byte 1 the cluster size (low bits) and the classic flag (bit 7),
// bytes 2..9 seed the sectors taken beforehand; the rest is the device (at least one sector).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "carvers/carver.h"
#include "engine/identify.h"
#include "engine/report.h"
#include "engine/scan_context.h"
#include "engine/scan_options.h"
#include "platform/memory_device.h"
#include "source/sector_reader.h"

namespace {

constexpr std::array<uint8_t, 28> kCodes = {1, 2, 4, 5, 7, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                             18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 31, 33, 36};

/// Passes reads through to the memory device and stops at the first read that asks for
/// bytes before the device's start or starting at or past its end. The read window may
/// ask for more than the device holds (a 64 KiB fill of a smaller device), never for a
/// start outside it.
class CheckedDevice : public quorvex::SectorDevice {
 public:
  explicit CheckedDevice(std::vector<uint8_t> bytes) : inner_(std::move(bytes)) {}
  int64_t ReadAt(int64_t byte_offset, void* dest, size_t count) override {
    if (count > 0 && (byte_offset < 0 || byte_offset >= inner_.Length())) __builtin_trap();
    return inner_.ReadAt(byte_offset, dest, count);
  }
  int64_t Length() const override { return inner_.Length(); }
  uint32_t SectorSize() const override { return inner_.SectorSize(); }
  quorvex::MemoryDevice& inner() { return inner_; }

 private:
  quorvex::MemoryDevice inner_;
};

const std::string& OutDir() {
  static const std::string dir = [] {
    std::string d = "/tmp/quorvex_fuzz_out_" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  if (size < 10 + 512) return 0;
  const uint8_t code = std::find(kCodes.begin(), kCodes.end(), data[0]) != kCodes.end()
                           ? data[0]
                           : kCodes[data[0] % kCodes.size()];
  const uint32_t c = 1u << (data[1] % 4);
  const bool classic = (data[1] & 0x80) != 0;
  uint64_t seed = 0;
  std::memcpy(&seed, data + 2, 8);
  std::vector<uint8_t> bytes(data + 10, data + size);
  bytes.resize((bytes.size() + 511) / 512 * 512, 0);
  CheckedDevice device(std::move(bytes));
  const int64_t last = device.Length() / 512 - 1;

  SectorReader reader;
  reader.SetDevice(&device);
  reader.SetBytesPerSector(512);
  reader.SetRangeLastSector(last);
  AvailMap map(last);
  std::mt19937_64 rng(seed);
  for (int64_t s = 1; s <= last; ++s)
    if (rng() % 8 == 0) map.ClaimSector(s);
  const std::vector<uint8_t> before = map.bytes();

  RunControl run;
  RescueReport report;
  ScanContext ctx;
  ctx.reader = &reader;
  ctx.map = &map;
  ctx.run = &run;
  ctx.bytes_per_sector = 512;
  ctx.range_end = last;
  ctx.last_sector = last;
  ctx.sectors_per_cluster = c;
  ctx.cluster_offset = 0;
  ctx.report = &report;
  ctx.classic = classic;

  const DispatchRow& row = DispatchFor(code);
  const CarverFn carver = code == type_code::kJpegOther ? CarveJpeg : row.carver;
  if (carver == nullptr) return 0;
  carver(ctx, 0, OutDir());

  for (size_t i = 0; i < before.size(); ++i)
    if ((before[i] & map.bytes()[i]) != before[i]) __builtin_trap();  // a pre-taken sector was released
  const MemoryDevice& mem = device.inner();
  if (mem.reads() > 0 && mem.lowest_offset() < 0) __builtin_trap();
  // A window fill is slid back to end at the device's end, so no read reaches further
  // than the device or one window from its start.
  if (mem.highest_end() > std::max<int64_t>(mem.Length(), SectorReader::kWindowSize)) __builtin_trap();
  for (const RescuedFile& f : report.files()) {
    struct stat st {};
    if (::stat(f.path.c_str(), &st) != 0 || st.st_size != f.size) __builtin_trap();
    std::remove(f.path.c_str());
  }
  if (ctx.rescued_count != report.files().size()) __builtin_trap();
  // Nothing else may be left in the output folder: a walk that gave up removes its file.
  for (const auto& entry : std::filesystem::directory_iterator(OutDir())) {
    (void)entry;
    __builtin_trap();
  }
  return 0;
}
