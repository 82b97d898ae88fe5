// The vendor's service installer in the system folder, present when the profile's `installer`
// is true. It does nothing and exits with 0.
#pragma once

#include "sim/core/machine.h"

namespace sim {

inline constexpr const wchar_t* kInstallerFileName = L"InstQORWMIACPISrv64.exe";

// Writes <system_dir>\InstQORWMIACPISrv64.exe and registers it, when the profile says so.
void SetUpInstaller(Machine& machine);

}  // namespace sim
