// DetectFileSystem on fuzzed boot areas, then free-space collection over the fuzzed
// allocation structures: no crash, no hang, no read outside the device, and a map that
// holds only sectors of the source.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/free_space.h"
#include "platform/memory_device.h"
#include "source/fs_detect.h"
#include "source/sector_reader.h"

namespace {

/// Stops at the first read that starts before the device or at or past its end.
class CheckedDevice : public quorvex::SectorDevice {
 public:
  CheckedDevice(std::vector<uint8_t> bytes, uint32_t sector_size) : inner_(std::move(bytes), sector_size) {}
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvex;
  std::vector<uint8_t> probe(data, data + std::min<size_t>(size, kDetectProbeBytes));
  Geometry g;
  if (!DetectFileSystem(std::span<const uint8_t>(probe), g)) return 0;
  const uint32_t bps = g.bytes_per_sector;
  if (bps < 512 || bps > kMaxSectorSize) return 0;
  // The device is the input padded to whole sectors and to at least 64 sectors, so that
  // the structures the boot record points at may exist.
  std::vector<uint8_t> bytes(data, data + size);
  bytes.resize(std::max<size_t>((bytes.size() + bps - 1) / bps * bps, size_t{64} * bps), 0);
  CheckedDevice device(std::move(bytes), bps);
  g.last_sector = device.Length() / bps - 1;
  SectorReader reader;
  reader.SetDevice(&device);
  reader.SetBytesPerSector(bps);
  reader.SetRangeLastSector(g.last_sector);
  AvailMap map(g.last_sector);
  RunControl run;
  const FreeSpaceResult result = CollectFreeSpace(reader, g, map, run);
  (void)result;
  const MemoryDevice& mem = device.inner();
  if (mem.reads() > 0 && mem.lowest_offset() < 0) __builtin_trap();
  return 0;
}
