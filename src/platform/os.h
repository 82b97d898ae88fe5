// The one seam between the product and the platform. Every Windows, COM/WMI, device and
// child-process call the product makes is one function here, named after the platform call.
// Two implementations exist, chosen at link time: src/platform/win32/ (the real API) and
// sim/ (the simulated notebook). Functions forward and convert; they never decide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// ---- Handles -------------------------------------------------------------------------------

// A platform handle as an integer. File-like handles use kInvalidHandle (INVALID_HANDLE_VALUE)
// for "none"; process handles use 0.
using RawHandle = std::intptr_t;
inline constexpr RawHandle kInvalidHandle = -1;

// Closes a handle. Returns false when the platform refuses.
bool CloseHandle(RawHandle handle);

// Move-only owner of a file-like handle (invalid value kInvalidHandle). Closing keeps the
// thread's last error as it was, so a failure code read after a scope ends stays true.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(RawHandle h) : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  RawHandle get() const { return handle_; }
  bool valid() const { return handle_ != kInvalidHandle && handle_ != 0; }
  explicit operator bool() const { return valid(); }
  RawHandle release() {
    RawHandle h = handle_;
    handle_ = kInvalidHandle;
    return h;
  }
  void reset(RawHandle h = kInvalidHandle);

 private:
  RawHandle handle_ = kInvalidHandle;
};

// ---- Errors --------------------------------------------------------------------------------

// The calling thread's last error code (GetLastError).
std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);

inline constexpr std::uint32_t kErrorFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorPathNotFound = 3;          // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t kErrorAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorInvalidFunction = 1;       // ERROR_INVALID_FUNCTION
inline constexpr std::uint32_t kErrorCrc = 23;                  // ERROR_CRC
inline constexpr std::uint32_t kErrorGenFailure = 31;           // ERROR_GEN_FAILURE
inline constexpr std::uint32_t kErrorInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kErrorCallNotImplemented = 120;  // ERROR_CALL_NOT_IMPLEMENTED
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER

// ---- Modules (run-time look-up of optional kernel32 functions) ------------------------------

using ModuleHandle = std::uintptr_t;  // 0: none
using ProcAddress = std::uintptr_t;   // 0: not found

ModuleHandle GetModuleHandleW(const wchar_t* name);
ProcAddress GetProcAddress(ModuleHandle module, const char* name);

// Calls a GetSystemWow64DirectoryW found by GetProcAddress with a buffer of `size` characters.
// Returns the number of characters written (0 on failure) and, on failure, the last error
// read right after the call.
struct Wow64DirectoryResult {
  std::uint32_t length = 0;
  std::uint32_t lastError = 0;
};
Wow64DirectoryResult CallGetSystemWow64DirectoryW(ProcAddress function, std::uint32_t size);

// Calls an IsWow64Process found by GetProcAddress for the current process. Returns the call's
// success; *isWow64 receives the answer when it succeeds.
bool CallIsWow64Process(ProcAddress function, bool* isWow64);

// Wow64EnableWow64FsRedirection: switches file-system redirection of this thread.
bool Wow64EnableWow64FsRedirection(bool enable);

// ---- Folders --------------------------------------------------------------------------------

inline constexpr int kCsidlWindows = 0x24;  // CSIDL_WINDOWS
inline constexpr int kCsidlSystem = 0x25;   // CSIDL_SYSTEM

// SHGetSpecialFolderPathW with no owner window and create = FALSE. Returns the call's success;
// *path receives the folder (empty on failure).
bool SHGetSpecialFolderPathW(int csidl, std::wstring* path);

// ---- COM ------------------------------------------------------------------------------------

using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kWbemSFalse = 1;  // WBEM_S_FALSE: no more objects
inline constexpr bool Failed(HResult hr) { return hr < 0; }

inline constexpr std::uint32_t kCoinitMultithreaded = 0;  // COINIT_MULTITHREADED
inline constexpr std::uint32_t kRpcCAuthnLevelDefault = 0;
inline constexpr std::uint32_t kRpcCAuthnLevelCall = 3;
inline constexpr std::uint32_t kRpcCImpLevelImpersonate = 3;
inline constexpr std::uint32_t kRpcCAuthnWinNT = 10;
inline constexpr std::uint32_t kRpcCAuthzNone = 0;
inline constexpr std::uint32_t kEoacNone = 0;

HResult CoInitializeEx(std::uint32_t coinit);
// CoInitializeSecurity with no descriptor, -1 authentication services, no service list, no
// authentication list and no reserved pointers; the two levels and capabilities as given.
HResult CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel,
                             std::uint32_t capabilities);
void CoUninitialize();

// ---- WMI ------------------------------------------------------------------------------------

// An owned COM interface pointer (IWbemLocator, IWbemServices, IEnumWbemClassObject,
// IWbemClassObject). Move-only; Release() gives it back early, the destructor otherwise.
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = 0; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Release();
      ptr_ = other.ptr_;
      other.ptr_ = 0;
    }
    return *this;
  }
  ~ComRef() { Release(); }

  void Release();
  bool valid() const { return ptr_ != 0; }
  std::uintptr_t get() const { return ptr_; }
  // Releases what is held, then hands out the slot for a call to fill.
  std::uintptr_t* put() {
    Release();
    return &ptr_;
  }

 private:
  std::uintptr_t ptr_ = 0;
};

// A WMI property value, converted from its VARIANT (which the backend clears at once).
struct WmiValue {
  enum class Kind { Null, Text, Int32, Bool, Other };
  Kind kind = Kind::Null;
  std::wstring text;     // Kind::Text
  std::int32_t i32 = 0;  // Kind::Int32
  bool boolean = false;  // Kind::Bool
};

// CoCreateInstance(CLSID_WbemLocator, in-process server, IID_IWbemLocator).
HResult CoCreateWbemLocator(ComRef* locator);
// IWbemLocator::ConnectServer(ns) with no user, password, locale, authority or context.
HResult ConnectServer(const ComRef& locator, const wchar_t* ns, ComRef* services);
// CoSetProxyBlanket on an IWbemServices, no principal, no identity.
HResult CoSetProxyBlanket(const ComRef& services, std::uint32_t authnSvc, std::uint32_t authzSvc,
                          std::uint32_t authnLevel, std::uint32_t impLevel,
                          std::uint32_t capabilities);
// IWbemServices::ExecQuery(language, query, flags, no context).
HResult ExecQuery(const ComRef& services, const wchar_t* language, const wchar_t* query,
                  std::int32_t flags, ComRef* enumerator);
// IEnumWbemClassObject::Next with a count of 1. *returned is the number of objects given.
HResult EnumNext(const ComRef& enumerator, std::int32_t timeout, ComRef* object,
                 std::uint32_t* returned);
// IWbemClassObject::Get(name, 0, value, no type, no flavour).
HResult WmiGet(const ComRef& object, const wchar_t* name, WmiValue* value);

// ---- Files and devices ----------------------------------------------------------------------

inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kFileAppendData = 0x0004;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kFileShareWrite = 0x2;
inline constexpr std::uint32_t kFileShareDelete = 0x4;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kFileBegin = 0;
inline constexpr std::uint32_t kFileEnd = 2;

// CreateFileW with no security attributes and no template. kInvalidHandle on failure.
RawHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t flags);
// SetFilePointerEx to `offset` from `method` (kFileBegin, kFileEnd).
bool SetFilePointerEx(RawHandle file, std::int64_t offset, std::uint32_t method);
// ReadFile of up to `size` bytes; *read receives the count.
bool ReadFile(RawHandle file, void* buffer, std::uint32_t size, std::uint32_t* read);
// WriteFile of `size` bytes; *written receives the count.
bool WriteFile(RawHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written);
// DeviceIoControl without an overlapped structure. *returned receives the output byte count.
bool DeviceIoControl(RawHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                     void* out, std::uint32_t outSize, std::uint32_t* returned);
// FindFirstFileW on an exact path, the search closed again: whether the file exists.
bool FindFirstFileW(const std::wstring& path);
// CreateDirectoryW with no security attributes; an existing folder counts as made.
bool CreateDirectoryW(const std::wstring& path);

// GetLogicalDriveStringsW into a buffer of `size` characters. Returns what the platform returns
// (the length, the size needed when the buffer is too small, or 0). *roots receives exactly
// the characters that were written into the buffer.
std::uint32_t GetLogicalDriveStringsW(std::uint32_t size, std::vector<wchar_t>* roots);
// GetVolumeInformationW on a root for the volume label only.
bool GetVolumeInformationW(const std::wstring& root, std::wstring* label);

inline constexpr std::uint32_t kCpAcp = 0;    // CP_ACP
inline constexpr std::uint32_t kCpOemcp = 1;  // CP_OEMCP
// MultiByteToWideChar with no flags; the bytes end at the first zero byte or at their end.
std::wstring MultiByteToWideChar(std::uint32_t codePage, const std::string& bytes);

// ---- Processes ------------------------------------------------------------------------------

inline constexpr int kSwHide = 0;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

// ShellExecuteExW with SEE_MASK_NOCLOSEPROCESS, no window, no verb. On success *process
// receives the child's process handle; on failure the last error is set.
bool ShellExecuteExW(const std::wstring& file, const std::wstring& parameters,
                     const std::wstring& directory, int show, RawHandle* process);
std::uint32_t WaitForSingleObject(RawHandle handle, std::uint32_t milliseconds);
bool GetExitCodeProcess(RawHandle process, std::uint32_t* exitCode);

// ---- Low memory -------------------------------------------------------------------------------

// Zeroed read-write memory of `size` bytes whose address fits in 32 bits, kept for the life of
// the process (a driver of 32-bit Windows reads records there by address). nullptr if none.
void* AllocateLow32(std::size_t size);

// ---- Time, memory, pauses, console ----------------------------------------------------------

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime GetLocalTime();

// GetPhysicallyInstalledSystemMemory: the installed memory in kilobytes.
bool GetPhysicallyInstalledSystemMemory(std::uint64_t* kilobytes);

void Sleep(std::uint32_t milliseconds);

// The run-time library's wide print to standard output.
void PrintStdout(const std::wstring& text);

// ---- Lock -----------------------------------------------------------------------------------

// A process-local mutual-exclusion lock (a critical section on Windows).
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(8) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace os
