#include "sim/programs/installer.h"

#include <string>

namespace sim {

namespace {

std::uint32_t RunInstaller(Machine&, const std::wstring&, const std::wstring&) { return 0; }

}  // namespace

void SetUpInstaller(Machine& machine) {
  if (machine.profile().installer) {
    const std::wstring path = machine.profile().system_dir + L"\\" + kInstallerFileName;
    machine.WriteFile(path, "MZ", false);
    machine.RegisterProgram(path, RunInstaller);
  }
}

}  // namespace sim
