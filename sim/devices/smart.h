// SMART pass-through of the simulated drives: SMART_GET_VERSION and ATA IDENTIFY DEVICE
// through SMART_RCV_DRIVE_DATA, answered from each profile disk's `rotation`.
#pragma once

#include <cstdint>

#include "sim/core/machine.h"

namespace sim {

// A SMART request on profile disk `disk`; false with *error set when it fails.
bool SmartIoctl(Machine& machine, int disk, std::uint32_t code, const void* in,
                std::uint32_t inSize, void* out, std::uint32_t outSize, std::uint32_t* returned,
                std::uint32_t* error);

}  // namespace sim
