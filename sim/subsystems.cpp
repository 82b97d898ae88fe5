// Each subsystem of the simulation lays out its part of a new machine here, in this order.
#include "sim/diskpart.h"
#include "sim/firmware_device.h"
#include "sim/machine.h"
#include "sim/physical_drive.h"
#include "sim/std_streams.h"
#include "sim/storage_tool.h"
#include "sim/volumes.h"

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
