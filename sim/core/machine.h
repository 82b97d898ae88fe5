// The simulated machine: the kernel of the simulated notebook. It holds the profile, the host
// folder its drive C: lives in, the virtual clock, the handle table, the registries of programs
// and devices, and a state slot per subsystem. Which devices and programs a notebook has is
// decided above it (sim/harness/notebook.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "platform/os.h"
#include "sim/core/profile_model.h"
#include "sim/core/run_folder.h"

namespace sim {

class Machine;

// A simulated program: receives the parameter text unchanged and the working folder, may
// write files through the machine, and returns its exit code.
using Program = std::function<std::uint32_t(Machine& machine, const std::wstring& parameters,
                                            const std::wstring& directory)>;

// One transcript line: "run", PROGRAM, PARAMETERS, EXITCODE or "sleep", MILLISECONDS.
struct TranscriptEntry {
  std::string kind;
  std::wstring program;
  std::wstring parameters;
  std::uint32_t value = 0;
};

class Machine {
 public:
  // Lays the machine's system drive out under `root` (which must exist and be empty or hold
  // an earlier run) and installs it as the machine the seam talks to. It has no devices or
  // programs yet. Throws ProfileError, before it lays anything out, for a disk longer than a
  // file in `root` can be (FileSizeProblem).
  Machine(Profile profile, std::filesystem::path root);
  virtual ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Profile& profile() { return profile_; }
  const Profile& profile() const { return profile_; }
  const std::filesystem::path& root() const { return root_; }

  // Windows path -> host path: a path on the system drive (the Windows folder's) maps below
  // root()/<drive letter>, case-insensitive against what exists; components that do not exist
  // yet keep the case they are written in. nullopt for a path the simulation does not hold as
  // a file (SplitWindowsPath) or that reaches a symbolic link, which could lead out of the run
  // folder; *error (optional) then says what the file operation fails with.
  std::optional<std::filesystem::path> HostPath(const std::wstring& windowsPath,
                                                std::uint32_t* error = nullptr) const;
  // Reads or writes a whole file in the simulated namespace.
  std::optional<std::string> ReadFile(const std::wstring& windowsPath) const;
  bool WriteFile(const std::wstring& windowsPath, const std::string& bytes, bool append);

  // Faults: a step named "Op" fails always, "Op:target" only for that target.
  bool Faulted(const std::string& op, const std::string& target = std::string()) const;
  void AddFault(const std::string& fault) { profile_.faults.push_back(fault); }

  // Virtual clock.
  os::LocalTime Now() const;
  // Moves the clock on and carries out, in time order, what was due by then.
  void Advance(std::uint32_t milliseconds);
  std::uint64_t elapsed_ms() const { return elapsed_ms_; }
  // Something the hardware does by itself at `ms` of the clock (a volume coming up late): carried
  // out when the clock reaches it, at once when it already has.
  void At(std::uint64_t ms, std::function<void()> action);

  // Programs keyed by their full Windows path (case-insensitive).
  void RegisterProgram(const std::wstring& path, Program program);
  const Program* FindProgram(const std::wstring& path) const;

  std::vector<TranscriptEntry>& transcript() { return transcript_; }
  const std::vector<TranscriptEntry>& transcript() const { return transcript_; }
  // The product's standard output (the media rotation probe's messages).
  std::wstring& console() { return console_; }

  // Handle table of the simulated kernel. Objects are owned by the table.
  // Each operation returns false and sets *error when the object does not support it.
  struct Object {
    virtual ~Object() = default;
    virtual bool Seek(std::int64_t offset, std::uint32_t method, std::uint32_t* error);
    virtual bool Read(void* buffer, std::uint32_t size, std::uint32_t* read, std::uint32_t* error);
    virtual bool Write(const void* buffer, std::uint32_t size, std::uint32_t* written,
                       std::uint32_t* error);
    virtual bool Ioctl(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error);

   protected:
    // Moves *position as SetFilePointerEx does: from the start, from `size()` (asked only for
    // the end) or from the position itself. A place before the start is refused.
    static bool MovePosition(std::uint64_t* position, std::int64_t offset, std::uint32_t method,
                             const std::function<std::uint64_t()>& size, std::uint32_t* error);
  };
  // Opens a name in the device namespace ("\\.\..."); nullptr with *error set when the name
  // is not this opener's or the open fails. Openers are tried in registration order.
  using DeviceOpener = std::function<std::unique_ptr<Object>(
      Machine& machine, const std::wstring& name, std::uint32_t access, std::uint32_t share,
      std::uint32_t* error)>;
  void RegisterDevice(DeviceOpener opener) { devices_.push_back(std::move(opener)); }
  const std::vector<DeviceOpener>& devices() const { return devices_; }
  os::RawHandle AddObject(std::unique_ptr<Object> object);
  Object* FindObject(os::RawHandle handle) const;
  bool CloseObject(os::RawHandle handle);
  std::size_t open_handles() const { return objects_.size(); }

  // Thread state the seam keeps for the product.
  std::uint32_t last_error = 0;
  bool redirection_enabled = true;
  bool redirection_switched = false;  // Wow64EnableWow64FsRedirection was called
  int com_initialized = 0;            // CoInitializeEx successes minus CoUninitialize calls
  int com_security_calls = 0;
  int com_live_refs = 0;  // COM interfaces handed out and not yet released
  int com_refs_acquired = 0;
  std::vector<std::wstring> folder_queries_after_redirect;  // for ordering tests

  // Called once the transcript line of a child process is complete: the child has ended, or
  // failed to start. The harness may throw from it to stop the product there.
  std::function<void(Machine&)> child_ended;

  // Extension slots for subsystems of the simulation (WMI, drives, storage tool, ...): one per
  // state type, made on first use and owned here.
  struct State {
    virtual ~State() = default;
  };
  template <typename T>
  T& state() {
    auto it = states_.find(std::type_index(typeid(T)));
    if (it == states_.end()) it = states_.emplace(typeid(T), std::make_unique<T>()).first;
    return static_cast<T&>(*it->second);
  }

 private:
  Profile profile_;
  std::filesystem::path root_;
  std::uint64_t elapsed_ms_ = 0;
  std::multimap<std::uint64_t, std::function<void()>> due_;
  std::map<std::wstring, Program> programs_;  // key: upper-cased path
  std::vector<TranscriptEntry> transcript_;
  std::wstring console_;
  std::map<os::RawHandle, std::unique_ptr<Object>> objects_;
  os::RawHandle next_handle_ = 0x100;
  std::map<std::type_index, std::unique_ptr<State>> states_;
  std::vector<DeviceOpener> devices_;

  void CheckDiskSizes() const;
};

// The machine the seam talks to; aborts with a message when none is installed.
Machine& Current();
bool HasCurrent();

}  // namespace sim
