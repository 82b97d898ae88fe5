// The simulated cmd.exe in the system folder.
#pragma once

#include <cstdint>

#include "sim/core/machine.h"

namespace sim {

// cmd.exe's exit code when the command names no program that exists.
inline constexpr std::uint32_t kCmdNotRecognized = 9009;

// Registers <system_dir>\cmd.exe. It understands "/c PROGRAM ARGS" and "/c echo TEXT", each
// with any number of "> file" / ">> file" redirections (file quoted or not; the last one takes
// the output, every one is created or opened, as cmd does). Pipes and "&" are not simulated.
void SetUpCommandInterpreter(Machine& machine);

}  // namespace sim
