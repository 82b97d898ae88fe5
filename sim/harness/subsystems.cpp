// Each subsystem of the simulation lays out its part of a new machine here, in this order.
#include "sim/programs/diskpart.h"
#include "sim/devices/firmware_device.h"
#include "sim/core/machine.h"
#include "sim/devices/physical_drive.h"
#include "sim/programs/std_streams.h"
#include "sim/programs/storage_tool.h"
#include "sim/devices/volumes.h"

namespace sim {

void SetUpSubsystems(Machine& machine) {
  SetUpPhysicalDrives(machine);
  SetUpVolumes(machine);
  SetUpFirmwareDevice(machine);
  SetUpCommandInterpreter(machine);
  SetUpStorageTool(machine);
  SetUpDiskpart(machine);
}

}  // namespace sim
