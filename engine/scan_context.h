#pragma once
// What every walk of the recovery pass reads and updates: the reader, the map, the run
// control and the values the scan driver fixes before its second pass.

#include <cstdint>

#include "engine/avail_map.h"
#include "engine/run_control.h"
#include "source/sector_reader.h"

namespace quorvex {

class RescueReport;
struct ThumbSettings;

struct ScanContext {
  SectorReader* reader = nullptr;
  AvailMap* map = nullptr;
  RunControl* run = nullptr;
  uint32_t bytes_per_sector = 512;
  int64_t range_end = -1;            ///< last sector of the scan range, inclusive
  int64_t last_sector = -1;          ///< last sector of the source (L)
  uint32_t sectors_per_cluster = 1;  ///< C, at least 1
  int64_t cluster_offset = 0;        ///< the effective cluster offset O
  uint32_t rescued_count = 0;        ///< archives saved in this rescue
  RescueReport* report = nullptr;    ///< where saved archives are recorded, when asked for
  const ThumbSettings* thumbs = nullptr;
  bool classic = false;              ///< only the formats and versions of the original design
};

}  // namespace quorvex
