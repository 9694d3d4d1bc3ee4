#include "carvers/carver.h"

namespace quorvex {

void CarveOfficeZip(ScanContext& /*ctx*/, int64_t /*start_offset*/, std::string_view /*folder*/) {}

}  // namespace quorvex
