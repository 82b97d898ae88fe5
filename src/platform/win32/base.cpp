// Windows backend of the seam: handles, errors, modules, folders, COM start-up, files,
// devices, volumes, code pages, time, memory, pauses, console and the lock.
#include <windows.h>
// After windows.h, which it builds on.
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "platform/os.h"

static_assert(sizeof(CRITICAL_SECTION) <= 64, "os::Lock storage too small");

namespace os {

namespace {
HANDLE ToHandle(RawHandle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool CloseHandle(RawHandle handle) { return ::CloseHandle(ToHandle(handle)) != FALSE; }

std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t error) { ::SetLastError(error); }

ModuleHandle GetModuleHandleW(const wchar_t* name) {
  return reinterpret_cast<ModuleHandle>(::GetModuleHandleW(name));
}

ProcAddress GetProcAddress(ModuleHandle module, const char* name) {
  return reinterpret_cast<ProcAddress>(
      reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name)));
}

Wow64DirectoryResult CallGetSystemWow64DirectoryW(ProcAddress function, std::uint32_t size) {
  using Fn = UINT(WINAPI*)(LPWSTR, UINT);
  std::wstring buffer(size, L'\0');
  Wow64DirectoryResult result;
  result.length = reinterpret_cast<Fn>(function)(buffer.data(), size);
  if (result.length == 0) result.lastError = ::GetLastError();
  return result;
}

bool CallIsWow64Process(ProcAddress function, bool* isWow64) {
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL answer = FALSE;
  if (!reinterpret_cast<Fn>(function)(::GetCurrentProcess(), &answer)) return false;
  *isWow64 = answer != FALSE;
  return true;
}

bool Wow64EnableWow64FsRedirection(bool enable) {
  return ::Wow64EnableWow64FsRedirection(enable ? TRUE : FALSE) != FALSE;
}

bool SHGetSpecialFolderPathW(int csidl, std::wstring* path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const BOOL ok = ::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE);
  *path = ok ? std::wstring(buffer) : std::wstring();
  return ok != FALSE;
}

HResult CoInitializeEx(std::uint32_t coinit) { return ::CoInitializeEx(nullptr, coinit); }

HResult CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel,
                             std::uint32_t capabilities) {
  return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, authnLevel, impLevel, nullptr,
                                capabilities, nullptr);
}

void CoUninitialize() { ::CoUninitialize(); }

RawHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t flags) {
  return reinterpret_cast<RawHandle>(
      ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

bool SetFilePointerEx(RawHandle file, std::int64_t offset, std::uint32_t method) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return ::SetFilePointerEx(ToHandle(file), distance, nullptr, method) != FALSE;
}

bool ReadFile(RawHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &n, nullptr);
  *read = n;
  return ok != FALSE;
}

bool WriteFile(RawHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
  DWORD n = 0;
  const BOOL ok = ::WriteFile(ToHandle(file), buffer, size, &n, nullptr);
  *written = n;
  return ok != FALSE;
}

bool DeviceIoControl(RawHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                     void* out, std::uint32_t outSize, std::uint32_t* returned) {
  DWORD n = 0;
  const BOOL ok = ::DeviceIoControl(ToHandle(device), code, const_cast<void*>(in), inSize, out,
                                    outSize, &n, nullptr);
  *returned = n;
  return ok != FALSE;
}

bool FindFirstFileW(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE search = ::FindFirstFileW(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

bool CreateDirectoryW(const std::wstring& path) {
  return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::uint32_t GetLogicalDriveStringsW(std::uint32_t size, std::vector<wchar_t>* roots) {
  std::vector<wchar_t> buffer(size + 1, L'\0');
  const DWORD n = ::GetLogicalDriveStringsW(size, buffer.data());
  // Only what the call wrote into the buffer is handed back.
  const std::size_t written = n < size ? n : 0;
  roots->assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(written));
  return n;
}

bool GetVolumeInformationW(const std::wstring& root, std::wstring* label) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const BOOL ok = ::GetVolumeInformationW(root.c_str(), buffer, MAX_PATH + 1, nullptr, nullptr,
                                          nullptr, nullptr, 0);
  *label = ok ? std::wstring(buffer) : std::wstring();
  return ok != FALSE;
}

std::wstring MultiByteToWideChar(std::uint32_t codePage, const std::string& bytes) {
  std::size_t length = bytes.find('\0');
  if (length == std::string::npos) length = bytes.size();
  if (length == 0) return std::wstring();
  const int n =
      ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(length), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(length), out.data(), n);
  return out;
}

LocalTime GetLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

bool GetPhysicallyInstalledSystemMemory(std::uint64_t* kilobytes) {
  ULONGLONG kb = 0;
  const BOOL ok = ::GetPhysicallyInstalledSystemMemory(&kb);
  *kilobytes = kb;
  return ok != FALSE;
}

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void PrintStdout(const std::wstring& text) {
  std::fputws(text.c_str(), stdout);
  std::fflush(stdout);
}

Lock::Lock() { ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
Lock::~Lock() { ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace os
