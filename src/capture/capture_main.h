// The machine capture's entry logic, shared by cachesetup-capture.exe and cachesetup-sim.
#pragma once

// Runs the capture for a command line "[--no-storage-tool] OUTDIR" (without the program's own
// name). Returns 0 when OUTDIR holds the profile, 1 when it cannot be written, 2 for a usage
// error.
int CaptureMain(const wchar_t* commandLine);
