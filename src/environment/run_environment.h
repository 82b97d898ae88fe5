// The process-wide values the entry point settles before the provisioning sequence starts.
// Written only by the entry point, read by everything after it.
#pragma once

#include <string>

#include "platform/os.h"

struct RunEnvironment {
  std::wstring szCommandLine;      // the arguments, letters a-z raised to A-Z
  int bIsMaximizedMode = 1;        // 1: "--mode maximized", 0: "--mode enhanced"
  int bIs64BitOS = 0;              // 64-bit Windows (the process runs under WOW64)
  int bIsComInitialized = 0;       // COM and COM security are set up for the process
  std::wstring szSystemDir;        // CSIDL_SYSTEM
  std::wstring szWindowsDir;       // CSIDL_WINDOWS; its Temp folder holds every file of a run
  std::wstring szCmdExePath;       // <system>\cmd.exe
  std::wstring szDiskpartExePath;  // <system>\diskpart.exe
};

extern RunEnvironment g_RunEnvironment;

// Puts every field back to its start value (for a second run in one process, as tests do).
void ResetRunEnvironment();

// Raises a-z to A-Z, leaving every other character as it is.
std::wstring UpperCaseAscii(const std::wstring& text);

// The acceleration mode chosen by a command line already raised to upper case: "ENHANCED"
// anywhere selects 0, then "MAXIMIZED" anywhere selects 1; neither keeps `current`.
int SelectMaximizedMode(const std::wstring& upperCommandLine, int current);

// 1 on 64-bit Windows, else 0.
int Detect64BitWindows();

// Fills the system and Windows folders and the cmd.exe and diskpart.exe paths.
void ResolveRunPaths();

// The entry point's first steps: on 64-bit Windows sets bIs64BitOS and switches file-system
// redirection off for the rest of the process, before any path is resolved; then
// ResolveRunPaths.
void SettleBitnessAndPaths();

// COM for the process: CoInitializeEx (multithreaded), then CoInitializeSecurity; when security
// fails, COM is ended again. On success bIsComInitialized is set.
struct ComStart {
  enum class Failed { kNone, kInitialize, kSecurity };
  Failed failed = Failed::kNone;
  os::HResult hr = os::kSOk;  // the failing call's result
};
ComStart StartCom();

// The storage tool's file name on this Windows: RSTCLI64.exe on 64-bit, RSTCLI.exe on 32-bit.
// The line puts it in <Windows>\Temp.
const wchar_t* StorageToolName(const RunEnvironment& env);
