// --summary: many notebooks in one table: captures and profiles each replayed in a process of its
// own, and units' Temp folders from the line read as they are; one line each, summary.csv and
// summary.html.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sim {

// Runs cachesetup-sim (`self`) on each capture folder (holding machine.json) or profile file of
// `inputs`, as many at a time as the host has cores, with `productArgs` when given (else each
// profile's own arguments), in run folders under `outDir` that go again once read; reads each
// folder that holds a unit's Temp files instead (no machine.json). Prints one line per input in
// the order given, and a closing line with the counts; writes `outDir`/summary.csv and
// `outDir`/summary.html. Returns 0 when every input was run or read, 1 when one could not be (its
// line says why).
int RunSummary(const std::string& self, const std::vector<std::string>& inputs,
               const std::optional<std::vector<std::string>>& productArgs,
               const std::filesystem::path& outDir, std::ostream& out);

}  // namespace sim
