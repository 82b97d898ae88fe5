// The entry logic shared by wWinMain and cachesetup-sim.
#pragma once

// The process exit codes. The line passes a unit on 0 and sends it to rework otherwise.
inline constexpr int kExitReachedEnd = 0;    // "End process...": provisioned, or the gate shut
inline constexpr int kExitStoppedEarly = 1;  // no disk listed, or no "Recovery" partition
inline constexpr int kExitRefused = 2;       // nothing proven (or COM down): no disk changed
inline constexpr int kExitNeedsRework = 3;   // a disk-changing step failed after changes began

// Runs the tool once for a command line (the arguments without the program's own name) and
// returns the process exit code.
int CacheSetupMain(const wchar_t* commandLine);
