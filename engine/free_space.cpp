#include "engine/free_space.h"

namespace quorvex {

FreeSpaceResult CollectFreeSpace(SectorReader& /*reader*/, const Geometry& /*geometry*/, AvailMap& /*map*/,
                                 RunControl& /*run*/) {
  return {};
}

}  // namespace quorvex
