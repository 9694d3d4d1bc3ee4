#include "carvers/carver.h"

namespace quorvex {

void CarveAsf(ScanContext& /*ctx*/, int64_t /*start_offset*/, std::string_view /*folder*/) {}
void CarveAsfObjects(ScanContext& /*ctx*/, int64_t /*start_offset*/, std::string_view /*folder*/) {}

}  // namespace quorvex
