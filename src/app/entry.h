// The entry logic shared by wWinMain and cachesetup-sim.
#pragma once

// Runs the tool once for a command line (the arguments without the program's own name) and
// returns the process exit code: 0 when the sequence reached its end or COM could not be set
// up, 1 when the sequence stopped early.
int CacheSetupMain(const wchar_t* commandLine);
