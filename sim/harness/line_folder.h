// A unit's Temp folder as it came back from the line (TempProc.log, IntelRSTCli.log,
// TRSTCliLog.txt and the two scripts): read, not replayed, into a row of --summary.
#pragma once

#include <filesystem>

#include "sim/harness/summary_table.h"

namespace sim {

// The row of the folder `input`: the outcome from the run log alone, the gate's inputs and the
// memory it logged, the devices' models from IntelRSTCli.log's first report, the cache (device,
// size, mode) and the data volume from the tool's last report there, and the create script's
// disk. A file that is there but cannot be read makes the row failed.
SummaryRow ReadLineFolder(const std::filesystem::path& input);

}  // namespace sim
