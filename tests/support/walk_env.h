#pragma once
// A source in memory with a reader, a map and a scan context around it, for walk tests.

#include <memory>
#include <vector>

#include "engine/avail_map.h"
#include "engine/scan_context.h"
#include "platform/memory_device.h"
#include "source/sector_reader.h"
#include "support/fake_run.h"

namespace quorvex::testing {

struct WalkEnv {
  explicit WalkEnv(std::vector<uint8_t> bytes, uint32_t bps = 512, uint32_t sectors_per_cluster = 1,
                   int64_t cluster_offset = 0)
      : device(std::make_shared<MemoryDevice>(std::move(bytes), bps)) {
    Init(device, bps, sectors_per_cluster, cluster_offset);
  }
  /// Over any device (a FaultyDevice around the memory one, say).
  WalkEnv(std::shared_ptr<SectorDevice> dev, uint32_t bps, uint32_t sectors_per_cluster, int64_t cluster_offset) {
    Init(std::move(dev), bps, sectors_per_cluster, cluster_offset);
  }
  void Init(std::shared_ptr<SectorDevice> dev, uint32_t bps, uint32_t sectors_per_cluster, int64_t cluster_offset) {
    source = std::move(dev);
    const int64_t last = source->Length() / bps - 1;
    reader.SetDevice(source.get());
    reader.SetBytesPerSector(bps);
    reader.SetRangeLastSector(last);
    map = AvailMap(last);
    ctx.reader = &reader;
    ctx.map = &map;
    ctx.run = &run;
    ctx.bytes_per_sector = bps;
    ctx.range_end = last;
    ctx.last_sector = last;
    ctx.sectors_per_cluster = sectors_per_cluster;
    ctx.cluster_offset = cluster_offset;
  }
  /// Sets the scan-range end (inclusive) for walks and for the reader's bound.
  void SetRangeEnd(int64_t last_sector) {
    ctx.range_end = last_sector;
    reader.SetRangeLastSector(last_sector);
  }
  std::vector<int64_t> Taken() const {
    std::vector<int64_t> out;
    for (int64_t s = 0; s <= map.last_sector(); ++s)
      if (map.IsTaken(s)) out.push_back(s);
    return out;
  }

  std::shared_ptr<MemoryDevice> device;
  std::shared_ptr<SectorDevice> source;
  SectorReader reader;
  AvailMap map;
  FakeRun run;
  ScanContext ctx;
};

}  // namespace quorvex::testing
