// Which Windows paths the simulated notebook holds as files: those on its system drive, below
// that drive's root. The machine maps them into its run folder; every other path is refused
// with the code the file operation fails with, so that nothing a profile or a program names can
// reach a host file outside the run folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Codes of the refusals that os.h does not name (core sits below sim/devices/windows_codes.h).
inline constexpr std::uint32_t kErrorBadNetPath = 53;    // ERROR_BAD_NETPATH
inline constexpr std::uint32_t kErrorInvalidName = 123;  // ERROR_INVALID_NAME

struct WindowsPath {
  std::vector<std::wstring> parts;  // the components below the system drive's root
  std::uint32_t error = 0;          // 0: held; else the code the file operation fails with
  std::string problem;              // why it is refused, for messages
};

// Splits `path` into its components below the root of `systemDrive` (a letter A-Z). A path
// with no drive ("\Temp", "Temp") or that drive's own letter ("C:\Temp", "c:Temp") is below
// that root: the simulated programs run in the drive's root folder. Refused: another drive
// (ERROR_PATH_NOT_FOUND), a ".." component (ERROR_PATH_NOT_FOUND: the simulation resolves no
// path upwards, so none can leave the root), a network path (ERROR_BAD_NETPATH), the "\\?\" and
// "\\.\" prefixes, device names such as NUL or COM1.TXT, and characters Windows forbids in
// names (ERROR_INVALID_NAME).
WindowsPath SplitWindowsPath(const std::wstring& path, wchar_t systemDrive);

// Whether `name` is one of Windows' reserved device names (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM1-9, LPT1-9), with or without an extension: Windows opens the device, not a file.
bool IsDeviceName(const std::wstring& name);

// The system drive of a Windows folder such as "C:\Windows": its letter, upper-cased; 'C' when
// the folder names no drive.
wchar_t SystemDrive(const std::wstring& windowsDir);

}  // namespace sim
