// Test helper that stands in for a program the product starts (the firmware service installer,
// cmd.exe, diskpart.exe). Each start appends one record to the file named by CS_RECORD_FILE, as
// UTF-16LE: its own module path, its whole command line, its current folder and how it was asked
// to show its window (the decimal wShowWindow of its start-up information, or "default" when
// the starter gave none), separated by zero characters and ended by a line feed. Exits with the
// decimal code in CS_RECORD_EXIT. Both come through the environment so that the command line
// stays untouched.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain() {
  wchar_t file[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"CS_RECORD_FILE", file, MAX_PATH) == 0) return 100;
  wchar_t exitText[32] = {};
  ::GetEnvironmentVariableW(L"CS_RECORD_EXIT", exitText, 32);
  const unsigned long code = std::wcstoul(exitText, nullptr, 10);

  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  ::GetStartupInfoW(&startup);
  std::wstring record = module;
  record.push_back(L'\0');
  record += ::GetCommandLineW();
  record.push_back(L'\0');
  record += folder;
  record.push_back(L'\0');
  record += (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? std::to_wstring(startup.wShowWindow)
                                                          : std::wstring(L"default");
  record.push_back(L'\n');

  // Append-only access: every write lands at the end, whatever wrote there before.
  HANDLE out = ::CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 101;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(out, record.data(), static_cast<DWORD>(record.size() * 2), &written, nullptr);
  ::CloseHandle(out);
  return ok && written == record.size() * 2 ? static_cast<int>(code) : 102;
}
