// One whole run of the product on a simulated machine.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// What RunProduct returns, and cachesetup-sim exits with, when a "PowerCut:N" fault stopped the
// product (it uses 0 and 1 itself, and cachesetup-sim 2 for a usage error or a bad profile).
inline constexpr int kPowerCutExitCode = 3;

// Runs the product's entry logic once with `commandLine` (the product's arguments) on the
// installed machine, from a fresh run environment, after a snapshot of the disks. Returns the
// exit code, or kPowerCutExitCode when the power was cut.
int RunProduct(Machine& machine, const std::wstring& commandLine);

// N of the profile's first "PowerCut:N" fault; nullopt when it has none.
std::optional<std::size_t> PowerCutFault(const Profile& profile);
// N, when RunProduct stopped the product after the N-th child process; else nullopt.
std::optional<std::size_t> PowerCutAfter(Machine& machine);

// Joins arguments into a Windows command line, quoting those with blanks.
std::wstring JoinCommandLine(const std::vector<std::string>& args);

}  // namespace sim
