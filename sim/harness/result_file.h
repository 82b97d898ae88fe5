// result.json: the run's verdict for programs: the product's exit code and what it means, its
// arguments, the power cut, the gate's inputs and the decision as the run log shows them, each
// child process with its exit code, and the disks before and after by Windows' numbers.
#pragma once

#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// What the product's exit code (or cachesetup-sim's power-cut code) tells the line.
const char* ExitMeaning(int exitCode);

// The run in one line, as the run log and the children show it: "provisioned", "gate shut: 3
// fixed disks", "refused: ...", "stopped early: ...", "needs rework: ...", "power cut after child
// N".
std::string Decision(Machine& machine, int exitCode);

std::string ResultJson(Machine& machine, int exitCode, const std::vector<std::string>& arguments);

}  // namespace sim
