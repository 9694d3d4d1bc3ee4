// Drawing files in a ZIP container (first entry "content/riffData.cdr"): the ZIP record walk,
// claim only; an unknown record gives up.

#include "carvers/archive/zip_walk.h"
#include "carvers/carver.h"

namespace quorvex {

void CarveCdrZip(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  WalkZipRecords(ctx, start_offset, {}, ZipWalker::kDrawing);
}

}  // namespace quorvex
