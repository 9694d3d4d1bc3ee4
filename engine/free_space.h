#pragma once
// Free-space collection: marks every sector the file system still uses as taken, so a
// rescue or backup covers only the space the file system has not allocated.

#include "engine/avail_map.h"
#include "engine/run_control.h"
#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {

struct FreeSpaceResult {
  bool completed = false;  ///< the map now holds every used sector
  bool cancelled = false;  ///< the user pressed Cancel
};

/// Runs with the search window showing (caption "Collecting free sectors").
FreeSpaceResult CollectFreeSpace(SectorReader& reader, const Geometry& geometry, AvailMap& map, RunControl& run);

}  // namespace quorvex
