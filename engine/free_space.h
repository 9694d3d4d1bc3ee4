#pragma once
// Free-space collection: marks every sector the file system still uses as taken, so a
// rescue or backup covers only the space the file system has not allocated.
//
// The file system's own allocation structure is read (the FAT, the NTFS cluster bitmap,
// the exFAT allocation bitmap, the HFS or HFS+ volume bitmap) and every sector it marks
// used is claimed in the freshly created map. Only the kind, the sector size and the last
// sector are taken from the geometry; cluster sizes and the first allocation block come
// from the file system's own boot record or volume header, so a cluster size chosen by
// hand in the main window plays no part. Reads go through the reader, bounded by the
// source's last sector; a structure that points outside the source, or fails its checks,
// leaves the map "not completed".

#include "engine/avail_map.h"
#include "engine/run_control.h"
#include "source/geometry.h"
#include "source/sector_reader.h"

namespace quorvex {

struct FreeSpaceResult {
  bool completed = false;  ///< the map now holds every used sector
  bool cancelled = false;  ///< the user pressed Cancel
};

/// Runs with the search window showing (caption "Collecting free sectors"); shows the
/// percent in Label2 of the search window at each refresh and stops when
/// run.search_cancel is set. The reader's range is left at the source's last sector.
FreeSpaceResult CollectFreeSpace(SectorReader& reader, const Geometry& geometry, AvailMap& map, RunControl& run);

}  // namespace quorvex
