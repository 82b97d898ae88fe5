// Each subsystem of the simulation lays out its part of a new machine here, in this order.
#include "sim/machine.h"

namespace sim {

void SetUpSubsystems(Machine& machine) {
  (void)machine;
}

}  // namespace sim
