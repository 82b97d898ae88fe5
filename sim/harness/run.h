// One whole run of the product on a simulated machine.
#pragma once

#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// Runs the product's entry logic once with `commandLine` (the product's arguments) on the
// installed machine, from a fresh run environment, after a snapshot of the disks. Returns the
// exit code.
int RunProduct(Machine& machine, const std::wstring& commandLine);

// Joins arguments into a Windows command line, quoting those with blanks.
std::wstring JoinCommandLine(const std::vector<std::string>& args);

}  // namespace sim
