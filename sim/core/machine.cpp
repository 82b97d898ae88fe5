#include "sim/core/machine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <type_traits>

#include "sim/core/host_file.h"
#include "sim/core/text.h"
#include "sim/core/windows_path.h"

namespace sim {

namespace {
Machine* g_current = nullptr;
constexpr std::uint64_t kMiB = 1ULL << 20;
}  // namespace

Machine::Machine(Profile profile, std::filesystem::path root)
    : profile_(std::move(profile)), root_(std::move(root)) {
  CheckDiskSizes();
  std::error_code ec;
  // A folder the simulation does not hold (a profile built in code may name one) is not made;
  // the product's file operations there fail as on a bad path.
  for (const std::wstring& dir : {profile_.system_dir, profile_.windows_dir}) {
    if (const auto host = HostPath(dir)) std::filesystem::create_directories(*host, ec);
  }
  if (profile_.temp_folder) {
    if (const auto temp = HostPath(profile_.windows_dir + L"\\Temp")) {
      std::filesystem::create_directories(*temp, ec);
      for (const TempFile& file : profile_.temp_files) {
        WriteFile(profile_.windows_dir + L"\\Temp\\" + file.name, file.bytes, false);
      }
    }
  }
  g_current = this;
}

// Each disk lives in a sparse file of its full length in the run folder (its overlay, and the
// copy after-machine.json names); a length the file system there cannot hold is refused before
// anything is laid out, rather than failing at the disk's first write near its end.
void Machine::CheckDiskSizes() const {
  namespace fs = std::filesystem;
  const fs::path folder = root_ / kDisksFolder;
  std::error_code ec;
  const bool made = !fs::exists(folder, ec);
  std::uint64_t fits = 0;  // the largest length known to fit
  for (std::size_t i = 0; i < profile_.disks.size(); ++i) {
    const Disk& d = profile_.disks[i];
    std::uint64_t bytes = d.size_mb * kMiB;
    std::string key = "size_mb", size = std::to_string(d.size_mb) + " MB";
    if (!d.image.empty()) {
      bytes = fs::file_size(d.image, ec);
      if (ec) continue;  // the loader has checked the image; one built in code reads as blank
      key = "image";
    } else if (d.captured) {
      bytes = d.captured->bytes;
      key = "captured.bytes";
    }
    if (key != "size_mb") size = std::to_string(bytes) + " bytes";
    if (bytes <= fits) continue;
    fs::create_directories(folder, ec);
    const std::string problem = FileSizeProblem(folder / "size-probe", bytes);
    if (!problem.empty()) {
      if (made) fs::remove(folder, ec);
      throw ProfileError(ToUtf8(profile_.source) + ": key 'disks[" + std::to_string(i) + "]." +
                         key + "': " + size + " is more than a file can hold in " + root_.string() +
                         " (" + problem +
                         "); the simulator keeps each disk in a sparse file of its length there");
    }
    fits = bytes;
  }
  if (made) fs::remove(folder, ec);
}

Machine::~Machine() {
  if (g_current == this) g_current = nullptr;
}

Machine& Current() {
  if (g_current == nullptr) {
    std::fputs("sim: no simulated machine is installed\n", stderr);
    std::abort();
  }
  return *g_current;
}

bool HasCurrent() { return g_current != nullptr; }

std::optional<std::filesystem::path> Machine::HostPath(const std::wstring& windowsPath,
                                                       std::uint32_t* error) const {
  namespace fs = std::filesystem;
  std::uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  const wchar_t drive = SystemDrive(profile_.windows_dir);
  WindowsPath split = SplitWindowsPath(windowsPath, drive);
  if (split.error != 0) {
    *error = split.error;
    return std::nullopt;
  }
  split.parts.insert(split.parts.begin(), std::wstring(1, drive));
  fs::path host = root_;
  for (const std::wstring& part : split.parts) {
    const std::wstring wanted = UpperPath(part);
    std::error_code ec;
    bool matched = false;
    if (fs::is_directory(host, ec)) {
      for (const auto& entry : fs::directory_iterator(host, ec)) {
        if (UpperPath(FromUtf8(entry.path().filename().string())) == wanted) {
          // Nothing in a run makes a link; one put there could lead anywhere on the host.
          if (entry.is_symlink(ec)) {
            *error = os::kErrorAccessDenied;
            return std::nullopt;
          }
          host = entry.path();
          matched = true;
          break;
        }
      }
    }
    if (!matched) host /= ToUtf8(part);
  }
  return host;
}

std::optional<std::string> Machine::ReadFile(const std::wstring& windowsPath) const {
  const auto host = HostPath(windowsPath);
  if (!host) return std::nullopt;
  return ReadHostFile(*host);
}

bool Machine::WriteFile(const std::wstring& windowsPath, const std::string& bytes, bool append) {
  const auto host = HostPath(windowsPath);
  if (!host) return false;
  std::ofstream out(*host, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool Machine::Faulted(const std::string& op, const std::string& target) const {
  for (const std::string& fault : profile_.faults) {
    if (fault == op) return true;
    if (!target.empty() && fault == op + ":" + target) return true;
  }
  return false;
}

os::LocalTime Machine::Now() const {
  // Civil-date arithmetic on the start time plus the elapsed virtual seconds.
  const os::LocalTime& s = profile_.clock;
  auto daysFromCivil = [](long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
  };
  long long seconds =
      daysFromCivil(s.year, static_cast<unsigned>(s.month), static_cast<unsigned>(s.day)) *
          86400LL +
      s.hour * 3600LL + s.minute * 60LL + s.second + static_cast<long long>(elapsed_ms_ / 1000);
  long long days = seconds / 86400;
  long long rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
  return os::LocalTime{static_cast<int>(y),
                       static_cast<int>(m),
                       static_cast<int>(d),
                       static_cast<int>(rem / 3600),
                       static_cast<int>((rem % 3600) / 60),
                       static_cast<int>(rem % 60)};
}

void Machine::RegisterProgram(const std::wstring& path, Program program) {
  programs_[UpperPath(path)] = std::move(program);
}

const Program* Machine::FindProgram(const std::wstring& path) const {
  auto it = programs_.find(UpperPath(path));
  return it == programs_.end() ? nullptr : &it->second;
}

os::RawHandle Machine::AddObject(std::unique_ptr<Object> object) {
  const os::RawHandle h = next_handle_;
  next_handle_ += 4;
  objects_.emplace(h, std::move(object));
  return h;
}

Machine::Object* Machine::FindObject(os::RawHandle handle) const {
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second.get();
}

bool Machine::CloseObject(os::RawHandle handle) { return objects_.erase(handle) != 0; }

bool Machine::Object::Seek(std::int64_t, std::uint32_t, std::uint32_t* error) {
  *error = os::kErrorInvalidFunction;
  return false;
}
bool Machine::Object::Read(void*, std::uint32_t, std::uint32_t* read, std::uint32_t* error) {
  *read = 0;
  *error = os::kErrorInvalidFunction;
  return false;
}
bool Machine::Object::Write(const void*, std::uint32_t, std::uint32_t* written,
                            std::uint32_t* error) {
  *written = 0;
  *error = os::kErrorAccessDenied;
  return false;
}
bool Machine::Object::Ioctl(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                            std::uint32_t* returned, std::uint32_t* error) {
  *returned = 0;
  *error = os::kErrorInvalidFunction;
  return false;
}

bool Machine::Object::MovePosition(std::uint64_t* position, std::int64_t offset,
                                   std::uint32_t method, const std::function<std::uint64_t()>& size,
                                   std::uint32_t* error) {
  const std::int64_t base = method == os::kFileBegin ? 0
                            : method == os::kFileEnd ? static_cast<std::int64_t>(size())
                                                     : static_cast<std::int64_t>(*position);
  if (base + offset < 0) {
    *error = os::kErrorInvalidParameter;
    return false;
  }
  *position = static_cast<std::uint64_t>(base + offset);
  return true;
}

void Machine::Advance(std::uint32_t milliseconds) {
  elapsed_ms_ += milliseconds;
  while (!due_.empty() && due_.begin()->first <= elapsed_ms_) {
    std::function<void()> action = std::move(due_.begin()->second);
    due_.erase(due_.begin());
    action();
  }
}

void Machine::At(std::uint64_t ms, std::function<void()> action) {
  due_.emplace(ms, std::move(action));
  Advance(0);
}

}  // namespace sim
