#include "carvers/carver.h"

namespace quorvex {

void CarvePdf(ScanContext& /*ctx*/, int64_t /*start_offset*/, std::string_view /*folder*/) {}

}  // namespace quorvex
