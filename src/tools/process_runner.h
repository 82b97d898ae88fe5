// Runs one external program hidden, in the system folder, and waits for it without a limit.
#pragma once

#include <cstdint>
#include <string>

// Returns the child's exit code (0 when it cannot be read), or the start error when the
// program could not be started. Callers cannot tell the two apart, and none needs to.
std::uint32_t RunProgram(const std::wstring& program, const std::wstring& parameters);
