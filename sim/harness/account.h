// The readable account of a simulated run, for a person at a terminal of 100 columns.
#pragma once

#include <ostream>

#include "sim/core/machine.h"

namespace sim {

// The readable account of a run for a person.
void PrintAccount(Machine& machine, int exitCode, std::ostream& out);

}  // namespace sim
