// The bytes, layout and volumes of the simulated drives. Filled in with the recovery locator.
#include "sim/physical_drive.h"

namespace sim {

bool DiskIoctl(Machine&, int, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
               std::uint32_t* returned, std::uint32_t* error) {
  *returned = 0;
  *error = os::kErrorNotSupported;
  return false;
}

bool ReadDisk(Machine&, int, std::uint64_t, void*, std::uint32_t, std::uint32_t* read,
              std::uint32_t* error) {
  *read = 0;
  *error = os::kErrorNotSupported;
  return false;
}

std::uint64_t DiskBytes(Machine& machine, int disk) {
  return machine.profile().disks[static_cast<std::size_t>(disk)].size_mb * 1024 * 1024;
}

}  // namespace sim
