// machine.json of a capture: the notebook's answers and its paired disks as the profile keys
// the simulator loads (docs/machine-profile.md).
#pragma once

#include <string>
#include <vector>

#include "capture/disk_pairing.h"
#include "capture/machine_record.h"

// machine.json's text (UTF-8).
std::string MachineJson(const MachineRecord& record, const PairedDisks& paired);
