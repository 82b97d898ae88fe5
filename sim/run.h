// One whole run of the product on a simulated machine, and the files it leaves.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

// Runs the product's entry logic once with `commandLine` (the product's arguments) on the
// installed machine, from a fresh run environment. Returns the exit code.
int RunProduct(Machine& machine, const std::wstring& commandLine);

// Joins arguments into a Windows command line, quoting those with blanks.
std::wstring JoinCommandLine(const std::vector<std::string>& args);

// transcript.tsv: one line per event, fields separated by one tab, UTF-8, LF.
std::string TranscriptText(const Machine& machine);
// after.json: the simulated machine after the run.
std::string AfterJson(Machine& machine);
// Writes transcript.tsv and after.json into the machine's root folder.
bool WriteRunFiles(Machine& machine);

// The readable account of a run for a person.
void PrintAccount(Machine& machine, int exitCode, std::ostream& out);

}  // namespace sim
