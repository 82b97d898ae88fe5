// after-machine.json: the machine a run left, as a machine profile (docs/machine-profile.md), so
// that the next run can start from it.
#pragma once

#include <string>

#include "sim/core/machine.h"

namespace sim {

// kAfterMachineFolder (sim/core/run_folder.h), under the machine's root, holds the
// after-machine's disk images and storage report.

// Writes <root>/after-machine.json and the files it names: a copy of each disk's bytes as they
// are now (sparse, the overlay folded in) and of the storage report. The Temp folder's files are
// named where they lie, under <root>/C/... The profile's arguments are taken as the run's. Faults
// are left out: the next run starts on healthy hardware. Returns false when a file cannot be
// written.
bool WriteAfterMachine(Machine& machine);

// The text of after-machine.json (the disk images and the report copy are not written).
std::string AfterMachineJson(Machine& machine);

}  // namespace sim
