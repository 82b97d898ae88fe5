// One whole run of the product on a simulated machine.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

// cachesetup-sim passes the product's own exit codes (0-3, app/entry.h) through; its own lie
// well above them so that the two never meet.
// A usage error, a bad profile, or a run folder that cannot be made or written.
inline constexpr int kSimUsageExitCode = 64;
// What RunProduct returns, and cachesetup-sim exits with, when a "PowerCut:N" fault stopped the
// product.
inline constexpr int kPowerCutExitCode = 65;

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
