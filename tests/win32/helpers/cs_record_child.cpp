// Test helper: writes its whole command line and its current folder, as UTF-16LE separated by
// a zero character, to the file named by CS_RECORD_FILE, then exits with the decimal code in
// CS_RECORD_EXIT. Both come through the environment so that the command line stays untouched.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain() {
  wchar_t file[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"CS_RECORD_FILE", file, MAX_PATH) == 0) return 100;
  wchar_t exitText[32] = {};
  ::GetEnvironmentVariableW(L"CS_RECORD_EXIT", exitText, 32);
  const unsigned long code = std::wcstoul(exitText, nullptr, 10);

  std::wstring record = ::GetCommandLineW();
  record.push_back(L'\0');
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, folder);
  record += folder;

  HANDLE out =
      ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 101;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(out, record.data(), static_cast<DWORD>(record.size() * 2), &written, nullptr);
  ::CloseHandle(out);
  return ok ? static_cast<int>(code) : 102;
}
