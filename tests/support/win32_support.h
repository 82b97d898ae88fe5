// Helpers for the tests that run under Wine against the real Windows backend.
#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace win32_support {

// A path of the build host as Wine sees it (drive Z: is the host's root).
inline std::wstring HostPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return out;
}

inline std::wstring BinaryDir() { return HostPath(CS_BINARY_DIR); }

inline std::wstring WindowsDir() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetWindowsDirectoryW(buffer, MAX_PATH);
  return buffer;
}

inline std::wstring SystemDir() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetSystemDirectoryW(buffer, MAX_PATH);
  return buffer;
}

// Starts a program with a command line and waits for it; returns its exit code, or -1 when it
// did not start.
inline long RunAndWait(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi)) {
    return -1;
  }
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

// For messages and label comparisons: ASCII stays, anything else shows as '?'.
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The whole file's bytes, or "<missing>".
inline std::string ReadBytes(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) out.append(buffer, n);
  ::CloseHandle(file);
  return out;
}

}  // namespace win32_support
