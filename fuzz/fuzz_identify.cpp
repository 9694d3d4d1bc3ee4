// IdentifySector on arbitrary sectors of 512 and 4096 bytes, classic and not.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/identify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (uint32_t bps : {512u, 4096u}) {
    std::vector<uint8_t> sector(bps, 0);
    std::memcpy(sector.data(), data, size < bps ? size : bps);
    const uint8_t a = quorvex::IdentifySector(sector.data(), bps, false);
    const uint8_t b = quorvex::IdentifySector(sector.data(), bps, true);
    if (a == quorvex::type_code::kRar5 && b == quorvex::type_code::kRar5) __builtin_trap();
  }
  return 0;
}
