#pragma once
// The record walk shared by the three ZIP walkers: ZIP archives (saved when a folder is
// given), office documents and drawing files in ZIP containers (claimed only).

#include <cstdint>
#include <string_view>

#include "engine/scan_context.h"

namespace quorvex {

enum class ZipWalker : uint8_t {
  kArchive,  ///< CarveZip: saves with a folder; an unknown record after byte 100 ends the archive
  kOffice,   ///< CarveOfficeZip: claim-only, 32-bit memory copy, no record over 200 MiB, never skips
  kDrawing   ///< CarveCdrZip: claim-only, 64-bit memory copy
};

/// One walk from the local file header at start_offset through the records to the end of
/// the end-of-central-directory record. folder is used by kArchive only (empty: claim-only).
void WalkZipRecords(ScanContext& ctx, int64_t start_offset, std::string_view folder, ZipWalker walker);

}  // namespace quorvex
