// Simulated backend of the seam: handles, errors, modules, folders, COM start-up, files,
// devices, volumes, code pages, time, memory, pauses, console and the lock.
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <system_error>

#include "platform/os.h"
#include "sim/core/codepages.h"
#include "sim/core/machine.h"
#include "sim/core/text.h"
#include "sim/devices/volumes.h"
#include "sim/devices/windows_codes.h"
#include "sim/disks/file_systems.h"

namespace sim {

namespace {

constexpr os::ModuleHandle kKernel32 = 0x7C800000;
constexpr os::ProcAddress kGetSystemWow64DirectoryW = 0x7C801000;
constexpr os::ProcAddress kIsWow64Process = 0x7C802000;
constexpr os::HResult kRpcETooLate = static_cast<os::HResult>(0x80010119);

// A file of the simulated namespace, backed by a host file.
struct FileObject : Machine::Object {
  std::filesystem::path host;
  std::uint32_t access = 0;
  std::uint64_t position = 0;

  bool Seek(std::int64_t offset, std::uint32_t method, std::uint32_t* error) override {
    return MovePosition(
        &position, offset, method,
        [this] {
          std::error_code ec;
          return static_cast<std::uint64_t>(std::filesystem::file_size(host, ec));
        },
        error);
  }
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read, std::uint32_t* error) override {
    *read = 0;
    if ((access & os::kGenericRead) == 0) {
      *error = os::kErrorAccessDenied;
      return false;
    }
    std::ifstream in(host, std::ios::binary);
    if (!in) {
      *error = os::kErrorFileNotFound;
      return false;
    }
    in.seekg(static_cast<std::streamoff>(position));
    in.read(static_cast<char*>(buffer), size);
    *read = static_cast<std::uint32_t>(in.gcount());
    position += *read;
    return true;
  }
  bool Write(const void* buffer, std::uint32_t size, std::uint32_t* written,
             std::uint32_t* error) override {
    *written = 0;
    if ((access & (os::kGenericWrite | os::kFileAppendData)) == 0) {
      *error = os::kErrorAccessDenied;
      return false;
    }
    std::fstream out(host, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) {
      // Deleted by someone else while open: Windows keeps writing into the open file, which
      // is gone; nothing reaches the namespace.
      *written = size;
      return true;
    }
    out.seekp(static_cast<std::streamoff>(position));
    out.write(static_cast<const char*>(buffer), size);
    if (!out) {
      *error = os::kErrorGenFailure;
      return false;
    }
    *written = size;
    position += size;
    return true;
  }
};

std::uint32_t g_error_without_machine = 0;

}  // namespace
}  // namespace sim

namespace os {

using sim::Current;

bool CloseHandle(RawHandle handle) {
  if (Current().CloseObject(handle)) return true;
  Current().last_error = sim::kErrorInvalidHandle;
  return false;
}

std::uint32_t GetLastError() {
  return sim::HasCurrent() ? Current().last_error : sim::g_error_without_machine;
}
void SetLastError(std::uint32_t error) {
  if (sim::HasCurrent()) {
    Current().last_error = error;
  } else {
    sim::g_error_without_machine = error;
  }
}

ModuleHandle GetModuleHandleW(const wchar_t* name) {
  const std::wstring upper = sim::UpperPath(name != nullptr ? name : L"");
  if (upper != L"KERNEL32.DLL" && upper != L"KERNEL32") return 0;
  if (Current().Faulted("GetModuleHandleW")) return 0;
  return sim::kKernel32;
}

ProcAddress GetProcAddress(ModuleHandle module, const char* name) {
  if (module != sim::kKernel32 || name == nullptr) return 0;
  if (Current().Faulted("GetProcAddress", name)) return 0;
  if (std::strcmp(name, "GetSystemWow64DirectoryW") == 0) return sim::kGetSystemWow64DirectoryW;
  if (std::strcmp(name, "IsWow64Process") == 0) return sim::kIsWow64Process;
  return 0;
}

Wow64DirectoryResult CallGetSystemWow64DirectoryW(ProcAddress function, std::uint32_t size) {
  sim::Machine& m = Current();
  Wow64DirectoryResult result;
  if (function != sim::kGetSystemWow64DirectoryW) {
    result.lastError = sim::kErrorInvalidHandle;
    return result;
  }
  // Profile fault "GetSystemWow64DirectoryW" fails with access denied; a 32-bit Windows has
  // the function but answers ERROR_CALL_NOT_IMPLEMENTED.
  if (m.Faulted("GetSystemWow64DirectoryW")) {
    result.lastError = os::kErrorAccessDenied;
  } else if (m.profile().windows_bits != 64) {
    result.lastError = os::kErrorCallNotImplemented;
  } else {
    const std::wstring dir = m.profile().windows_dir + L"\\SysWOW64";
    result.length = dir.size() < size ? static_cast<std::uint32_t>(dir.size()) : 0;
    if (result.length == 0) result.lastError = os::kErrorInsufficientBuffer;
  }
  m.last_error = result.lastError;
  return result;
}

bool CallIsWow64Process(ProcAddress function, bool* isWow64) {
  if (function != sim::kIsWow64Process || Current().Faulted("IsWow64Process")) return false;
  *isWow64 = Current().profile().windows_bits == 64;
  return true;
}

bool Wow64EnableWow64FsRedirection(bool enable) {
  sim::Machine& m = Current();
  m.redirection_switched = true;
  m.redirection_enabled = enable;
  return true;
}

bool SHGetSpecialFolderPathW(int csidl, std::wstring* path) {
  sim::Machine& m = Current();
  m.folder_queries_after_redirect.push_back(m.redirection_switched ? L"after" : L"before");
  path->clear();
  if (m.Faulted("SHGetSpecialFolderPathW")) return false;
  if (csidl == kCsidlSystem) {
    *path = m.profile().system_dir;
  } else if (csidl == kCsidlWindows) {
    *path = m.profile().windows_dir;
  } else {
    return false;
  }
  return true;
}

HResult CoInitializeEx(std::uint32_t coinit) {
  sim::Machine& m = Current();
  if (coinit != kCoinitMultithreaded) return kEFail;
  if (m.Faulted("CoInitializeEx")) return kEFail;
  ++m.com_initialized;
  return m.com_initialized == 1 ? kSOk : kSFalse;
}

HResult CoInitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel,
                             std::uint32_t capabilities) {
  sim::Machine& m = Current();
  if (m.com_initialized <= 0) return static_cast<HResult>(0x800401F0);  // CO_E_NOTINITIALIZED
  if (authnLevel != kRpcCAuthnLevelDefault || impLevel != kRpcCImpLevelImpersonate ||
      capabilities != kEoacNone) {
    return static_cast<HResult>(0x80070057);  // E_INVALIDARG: the product always passes these
  }
  if (m.Faulted("CoInitializeSecurity")) return kEFail;
  if (m.com_security_calls > 0) return sim::kRpcETooLate;
  ++m.com_security_calls;
  return kSOk;
}

void CoUninitialize() {
  sim::Machine& m = Current();
  if (m.com_initialized > 0) --m.com_initialized;
  if (m.com_initialized == 0) m.com_security_calls = 0;
}

RawHandle CreateFileW(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t flags) {
  (void)flags;
  sim::Machine& m = Current();
  if (path.rfind(L"\\\\.\\", 0) == 0) {
    std::uint32_t error = os::kErrorFileNotFound;
    for (const auto& opener : m.devices()) {
      std::uint32_t e = os::kErrorFileNotFound;
      if (auto object = opener(m, path, access, share, &e)) return m.AddObject(std::move(object));
      if (e != os::kErrorFileNotFound) error = e;
    }
    m.last_error = error;
    return kInvalidHandle;
  }
  namespace fs = std::filesystem;
  std::uint32_t refused = 0;
  const std::optional<fs::path> mapped = m.HostPath(path, &refused);
  if (!mapped) {
    m.last_error = refused;
    return kInvalidHandle;
  }
  const fs::path& host = *mapped;
  std::error_code ec;
  if (!fs::is_directory(host.parent_path(), ec)) {
    m.last_error = os::kErrorPathNotFound;
    return kInvalidHandle;
  }
  const bool exists = fs::exists(host, ec);
  if (exists && fs::is_directory(host, ec)) {
    m.last_error = os::kErrorAccessDenied;
    return kInvalidHandle;
  }
  if (disposition == kOpenExisting && !exists) {
    m.last_error = os::kErrorFileNotFound;
    return kInvalidHandle;
  }
  if (disposition == kCreateAlways || !exists) {
    std::ofstream create(host, std::ios::binary | std::ios::trunc);
    if (!create) {
      m.last_error = os::kErrorAccessDenied;
      return kInvalidHandle;
    }
  }
  auto file = std::make_unique<sim::FileObject>();
  file->host = host;
  file->access = access;
  m.last_error = 0;
  return m.AddObject(std::move(file));
}

bool SetFilePointerEx(RawHandle file, std::int64_t offset, std::uint32_t method) {
  sim::Machine& m = Current();
  sim::Machine::Object* object = m.FindObject(file);
  if (object == nullptr) {
    m.last_error = sim::kErrorInvalidHandle;
    return false;
  }
  return object->Seek(offset, method, &m.last_error);
}

bool ReadFile(RawHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  sim::Machine& m = Current();
  *read = 0;
  sim::Machine::Object* object = m.FindObject(file);
  if (object == nullptr) {
    m.last_error = sim::kErrorInvalidHandle;
    return false;
  }
  return object->Read(buffer, size, read, &m.last_error);
}

bool WriteFile(RawHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
  sim::Machine& m = Current();
  *written = 0;
  sim::Machine::Object* object = m.FindObject(file);
  if (object == nullptr) {
    m.last_error = sim::kErrorInvalidHandle;
    return false;
  }
  return object->Write(buffer, size, written, &m.last_error);
}

bool DeviceIoControl(RawHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                     void* out, std::uint32_t outSize, std::uint32_t* returned) {
  sim::Machine& m = Current();
  *returned = 0;
  sim::Machine::Object* object = m.FindObject(device);
  if (object == nullptr) {
    m.last_error = sim::kErrorInvalidHandle;
    return false;
  }
  return object->Ioctl(code, in, inSize, out, outSize, returned, &m.last_error);
}

bool FindFirstFileW(const std::wstring& path) {
  if (sim::FindVolumeFile(Current(), path)) return true;
  std::error_code ec;
  // A simulated program is a file where it is installed, whether or not its folder holds one.
  const auto host = Current().HostPath(path);
  return (host && std::filesystem::is_regular_file(*host, ec)) ||
         Current().FindProgram(path) != nullptr;
}

bool CreateDirectoryW(const std::wstring& path) {
  sim::Machine& m = Current();
  std::uint32_t refused = 0;
  const std::optional<std::filesystem::path> mapped = m.HostPath(path, &refused);
  if (!mapped) {
    m.last_error = refused;
    return false;
  }
  const std::filesystem::path& host = *mapped;
  std::error_code ec;
  if (!std::filesystem::is_directory(host.parent_path(), ec)) {
    m.last_error = os::kErrorPathNotFound;
    return false;
  }
  std::filesystem::create_directory(host, ec);
  if (!std::filesystem::is_directory(host, ec)) {
    m.last_error = os::kErrorAccessDenied;
    return false;
  }
  return true;
}

std::uint32_t GetLogicalDriveStringsW(std::uint32_t size, std::vector<wchar_t>* roots) {
  sim::Machine& m = sim::Current();
  roots->clear();
  if (m.Faulted("GetLogicalDriveStringsW")) {
    m.last_error = os::kErrorGenFailure;
    return 0;
  }
  std::vector<wchar_t> list;
  for (const sim::Volume& v : sim::ListVolumes(m)) {
    list.push_back(v.letter);
    list.push_back(L':');
    list.push_back(L'\\');
    list.push_back(L'\0');
  }
  list.push_back(L'\0');
  // Too small a buffer: nothing is written and the size needed comes back.
  if (list.size() > size) return static_cast<std::uint32_t>(list.size());
  *roots = list;
  return static_cast<std::uint32_t>(list.size() - 1);
}

bool GetVolumeInformationW(const std::wstring& root, std::wstring* label) {
  sim::Machine& m = sim::Current();
  label->clear();
  const std::vector<sim::Volume> volumes = sim::ListVolumes(m);
  const sim::Volume* volume = sim::FindVolume(volumes, root);
  if (volume == nullptr) {
    m.last_error = os::kErrorPathNotFound;
    return false;
  }
  if (volume->disk < 0) return true;  // the host folder's C:, unlabelled
  const sim::VolumeInfo info = sim::ReadVolumeInfo(m, volume->disk, volume->offset);
  if (!info.label) {
    m.last_error = sim::kErrorUnrecognizedVolume;
    return false;
  }
  *label = *info.label;
  return true;
}

std::wstring MultiByteToWideChar(std::uint32_t codePage, const std::string& bytes) {
  return sim::DecodeCodePage(codePage == kCpOemcp ? sim::kCp437 : sim::kCp1252, bytes);
}

LocalTime GetLocalTime() { return Current().Now(); }

bool GetPhysicallyInstalledSystemMemory(std::uint64_t* kilobytes) {
  const auto& memory = Current().profile().memory_kb;
  if (!memory || Current().Faulted("GetPhysicallyInstalledSystemMemory")) return false;
  *kilobytes = *memory;
  return true;
}

void Sleep(std::uint32_t milliseconds) {
  sim::Machine& m = Current();
  m.Advance(milliseconds);
  m.transcript().push_back(sim::TranscriptEntry{"sleep", {}, {}, milliseconds});
}

void PrintStdout(const std::wstring& text) { Current().console() += text; }

static_assert(sizeof(std::mutex) <= 64, "os::Lock storage too small");

Lock::Lock() { new (storage_) std::mutex(); }
Lock::~Lock() { std::launder(reinterpret_cast<std::mutex*>(storage_))->~mutex(); }
void Lock::Enter() { std::launder(reinterpret_cast<std::mutex*>(storage_))->lock(); }
void Lock::Leave() { std::launder(reinterpret_cast<std::mutex*>(storage_))->unlock(); }

}  // namespace os
