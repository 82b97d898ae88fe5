// The machine capture on a simulated notebook: the replay's check of a captured disk's layout,
// and runs of the capture instead of the product.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// Refuses (ProfileError, naming the profile and the key) a captured disk whose pieces give
// another layout than the one recorded with it: the replay would not be the notebook captured.
// A drive with a "ReadFile:N" fault is not checked: the capture could read none of its bytes.
void CheckCapturedLayouts(Machine& machine);

// Runs the capture program's entry logic on the machine with `arguments` (for example
// "--no-storage-tool") into a folder of the simulated C: drive, then copies that folder's files
// into `outDir` on the host (made when missing). Returns the capture's exit code; the capture's
// printed lines are in machine.console().
int RunCapture(Machine& machine, const std::vector<std::string>& arguments,
               const std::filesystem::path& outDir);

}  // namespace sim
