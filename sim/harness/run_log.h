// What a run log (TempProc.log, its lines without their time stamps) says of the run: the gate's
// inputs, why the gate shut, and, for a log that came back from the line without the run that
// wrote it, how the run ended.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace sim {

// The gate's inputs as the product logged them: IFFS, RAID0, ISRT (true, false, or null when not
// logged), fixed_disks (null when the run stopped before the roles) and recovery_disk (null when
// no MasterHDD line).
nlohmann::ordered_json GateInputs(const std::vector<std::string>& texts);

// The decision of a run that reached "End process..." without a disk step: "gate shut: 1 fixed
// disk", "gate shut: RAID0 on", "gate shut: ISRT off", "gate shut: \"Recovery\" not on a fixed
// disk".
std::string GateShutDecision(const std::vector<std::string>& texts);

// The run log's last "[Debug]: " line without that prefix; empty when the last line is not one.
std::string LastDebugText(const std::vector<std::string>& texts);

// The decision the product's lines on a unit give, where they stand in `texts`: "already
// provisioned: WHAT IS IN PLACE" (a unit an earlier run finished), "needs rework: an earlier run
// left the unit part-way, nothing changed: it holds WHAT" (its last line), "refused: Windows
// shows SecondHDD in use: WHAT WAS FOUND" (its last line); empty when none does.
std::string UnitDecision(const std::vector<std::string>& texts);

// How the run ended, from its log alone, in the words of result.json's decision: "provisioned",
// "gate shut: ...", "stopped early: no \"Recovery\" partition on Disk[n]", "refused: ...",
// "needs rework: ...", "cut short after \"LAST LINE\"" (neither "End process..." nor a "[Debug]"
// line at the end), "no log: ..." (an empty log: the inventory failed or found no disk). A
// "[Debug]" line of another form is taken as it stands, its first words naming the outcome.
std::string DecisionFromLog(const std::vector<std::string>& texts);

}  // namespace sim
