#include "sim/harness/notebook.h"

#include <utility>

#include "sim/devices/firmware_device.h"
#include "sim/devices/physical_drive.h"
#include "sim/devices/volumes.h"
#include "sim/harness/capture_run.h"
#include "sim/programs/cmd_exe.h"
#include "sim/programs/diskpart.h"
#include "sim/programs/installer.h"
#include "sim/programs/storage_tool.h"

namespace sim {

// Each subsystem lays out its part of the new machine, in this order (device openers are tried
// in the order they are registered).
Notebook::Notebook(Profile profile, std::filesystem::path root)
    : Machine(std::move(profile), std::move(root)) {
  SetUpPhysicalDrives(*this);
  SetUpVolumes(*this);
  SetUpFirmwareDevice(*this);
  SetUpInstaller(*this);
  SetUpCommandInterpreter(*this);
  SetUpStorageTool(*this);
  SetUpDiskpart(*this);
  CheckCapturedLayouts(*this);
}

}  // namespace sim
