// The files a run leaves in the machine's root folder: transcript.tsv, after.json and
// after-machine.json (sim/harness/after_machine.h).
#pragma once

#include <string>

#include "sim/core/machine.h"

namespace sim {

// transcript.tsv: one line per event, fields separated by one tab, UTF-8, LF.
std::string TranscriptText(const Machine& machine);
// after.json: the simulated machine after the run.
std::string AfterJson(Machine& machine);
// Writes transcript.tsv, after.json and after-machine.json with its files into the machine's
// root folder.
bool WriteRunFiles(Machine& machine);

}  // namespace sim
