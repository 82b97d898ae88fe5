// Each subsystem of the simulation lays out its part of a new machine here, in this order.
#include "sim/machine.h"
#include "sim/physical_drive.h"
#include "sim/volumes.h"

namespace sim {

void SetUpSubsystems(Machine& machine) {
  SetUpPhysicalDrives(machine);
  SetUpVolumes(machine);
}

}  // namespace sim
