// ZIP archives: the record walk of zip_walk.cpp, saved as TEST_xxxxxxxx.ZIP when the scan
// driver hands over a folder (ZIP selected), otherwise claimed only.

#include "carvers/archive/zip_walk.h"
#include "carvers/carver.h"

namespace quorvex {

void CarveZip(ScanContext& ctx, int64_t start_offset, std::string_view folder) {
  WalkZipRecords(ctx, start_offset, folder, ZipWalker::kArchive);
}

}  // namespace quorvex
