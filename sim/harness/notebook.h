// A simulated notebook: a machine with every device and program of the simulation laid out
// from its profile. Tests, benchmarks and cachesetup-sim make their machines as notebooks.
#pragma once

#include <filesystem>

#include "sim/core/machine.h"

namespace sim {

class Notebook : public Machine {
 public:
  // Lays the machine out under `root` (see Machine) with its devices and programs, and
  // installs it as the machine the seam talks to.
  Notebook(Profile profile, std::filesystem::path root);
};

}  // namespace sim
