// --summary: many captured notebooks or profiles, each run in a process of its own, one line
// each and summary.csv.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace sim {

// Runs cachesetup-sim (`self`) on each input (a capture folder holding machine.json, or a profile
// file), as many at a time as the host has cores, in run folders under `outDir` that go again
// once read. Prints one line per input: its disks' models, the gate's inputs, the decision and
// the exit code; writes the same to `outDir`/summary.csv. Returns 0 when every input ran, 1 when
// one could not (a bad profile: its line says why).
int RunSummary(const std::string& self, const std::vector<std::string>& inputs,
               const std::filesystem::path& outDir, std::ostream& out);

}  // namespace sim
