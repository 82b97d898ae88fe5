// The files a run leaves in the machine's root folder: transcript.tsv, after.json and
// after-machine.json (sim/harness/after_machine.h).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "sim/core/machine.h"
#include "sim/harness/disk_views.h"

namespace sim {

// transcript.tsv: one line per event, fields separated by one tab, UTF-8, LF.
std::string TranscriptText(const Machine& machine);
// One disk as after.json and result.json show it.
nlohmann::ordered_json DiskJson(const DiskView& disk);
// after.json: the simulated machine after the run.
std::string AfterJson(Machine& machine);
// Writes transcript.tsv, after.json and after-machine.json with its files into the machine's
// root folder.
bool WriteRunFiles(Machine& machine);

}  // namespace sim
