// Windows backend of the seam: starting a program through the shell and waiting for it.
#include <windows.h>
// After windows.h, which they build on.
#include <shellapi.h>

#include "platform/os.h"

namespace os {

bool ShellExecuteExW(const std::wstring& file, const std::wstring& parameters,
                     const std::wstring& directory, int show, RawHandle* process) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = nullptr;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = show;
  info.hInstApp = nullptr;
  if (!::ShellExecuteExW(&info)) return false;
  *process = reinterpret_cast<RawHandle>(info.hProcess);
  return true;
}

std::uint32_t WaitForSingleObject(RawHandle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds);
}

bool GetExitCodeProcess(RawHandle process, std::uint32_t* exitCode) {
  DWORD code = 0;
  const BOOL ok = ::GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code);
  if (ok) *exitCode = code;
  return ok != FALSE;
}

}  // namespace os
