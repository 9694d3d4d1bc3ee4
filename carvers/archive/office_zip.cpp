// Office Open XML documents (first entry "[Content_Types].xml"): the ZIP record walk, claim
// only, in a 32-bit memory copy; a record over 200 MiB or an unknown record gives up.

#include "carvers/archive/zip_walk.h"
#include "carvers/carver.h"

namespace quorvex {

void CarveOfficeZip(ScanContext& ctx, int64_t start_offset, std::string_view /*folder*/) {
  WalkZipRecords(ctx, start_offset, {}, ZipWalker::kOffice);
}

}  // namespace quorvex
