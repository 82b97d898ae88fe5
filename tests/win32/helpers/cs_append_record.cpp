// Test helper that stands in for a program which may run several times in one run: appends one
// record per start to the file named by CS_APPEND_FILE, as UTF-16LE: its own module path, a
// zero character, its whole command line, a zero character, its current folder and a line
// feed. Exits with the decimal code in CS_APPEND_EXIT. Both come through the environment so
// that the command line stays untouched.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain() {
  wchar_t file[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"CS_APPEND_FILE", file, MAX_PATH) == 0) return 100;
  wchar_t exitText[32] = {};
  ::GetEnvironmentVariableW(L"CS_APPEND_EXIT", exitText, 32);
  const unsigned long code = std::wcstoul(exitText, nullptr, 10);

  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring record = module;
  record.push_back(L'\0');
  record += ::GetCommandLineW();
  record.push_back(L'\0');
  record += folder;
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
