// SMART pass-through of the simulated drives. Filled in with the media rotation probe.
#include "sim/physical_drive.h"

namespace sim {

bool SmartIoctl(Machine&, int, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                std::uint32_t* returned, std::uint32_t* error) {
  *returned = 0;
  *error = os::kErrorNotSupported;
  return false;
}

}  // namespace sim
