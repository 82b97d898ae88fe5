// The commands of a diskpart script, applied to the simulated disks: select, clean, convert,
// create, format, set id, gpt attributes, rem and exit.
#pragma once

#include <cstdint>

#include "sim/core/machine.h"
#include "sim/programs/diskpart.h"

namespace sim {

// Applies run->lines in order and stops at the first that fails: fills applied, failed_line,
// error and output, and returns diskpart's exit code.
std::uint32_t ApplyDiskpartScript(Machine& machine, DiskpartRun* run);

}  // namespace sim
