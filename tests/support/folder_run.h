// Whole runs in a folder of their own, as cachesetup-sim makes them (run files included), and
// what tests of re-runs and power cuts compare between them.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/host_file.h"
#include "sim/harness/after_machine.h"
#include "sim/harness/disk_views.h"
#include "sim/harness/notebook.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"
#include "sim/programs/storage_tool.h"
#include "tests/support/disk_view_printers.h"

namespace testing_support {

// What a run in a folder left, and what its machine held before the product started.
struct FolderRun {
  int exit_code = 0;
  std::optional<std::size_t> cut_after;  // the power was cut after this child
  std::string machine_before;            // after-machine.json's text for the machine as laid out
  std::vector<sim::DiskView> disks_before, disks_after;
  std::string storage_after;  // the storage tool's cache configuration at the end
  std::map<std::string, std::string> temp_before;  // the Temp folder's files by name
  std::map<std::string, std::string> temp_files;   // the same, afterwards
  std::string log;                                 // TempProc.log, empty when missing
  std::string transcript;
  bool run_files_written = false;
};

// The file's bytes, empty when it cannot be read.
inline std::string HostFileBytes(const std::filesystem::path& path) {
  return sim::ReadHostFile(path).value_or(std::string());
}

// The files of the machine's Temp folder by name, as the host holds them.
inline std::map<std::string, std::string> TempFolderFiles(sim::Machine& m) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  const auto temp = m.HostPath(m.profile().windows_dir + L"\\Temp");
  if (!temp) return files;
  for (const auto& entry : std::filesystem::directory_iterator(*temp, ec)) {
    files[entry.path().filename().string()] = HostFileBytes(entry.path());
  }
  return files;
}

// The storage tool's cache configuration, one "key=value" per field as storage_config names them.
inline std::string StorageConfigText(sim::Machine& m) {
  const sim::StorageToolState& tool = sim::StorageTool(m);
  return "cache_device=" + tool.cache_device + " cache_size=" + tool.cache_size +
         " accelerated_disk=" + tool.accelerated_disk + " mode=" + tool.mode;
}

// The views numbered by their place: runs on the same notebook compare equal although a data
// volume the storage tool deleted and made again took a new index in one of them.
inline std::vector<sim::DiskView> Positional(std::vector<sim::DiskView> views) {
  for (std::size_t i = 0; i < views.size(); ++i) views[i].disk = static_cast<int>(i);
  return views;
}

inline std::filesystem::path AfterMachinePath(const std::filesystem::path& dir) {
  return dir / "after-machine.json";
}

// `profile` with the power cut after its n-th child process.
inline sim::Profile WithPowerCut(sim::Profile profile, std::size_t n) {
  profile.faults.push_back("PowerCut:" + std::to_string(n));
  return profile;
}

// Runs the product once on `profile` in `dir` with the profile's arguments, writes the run files
// there, and takes the machine down again. `childEnded` (optional) is called after each child
// process of a run without a power cut, `runEnded` (optional) once the product has returned, with
// its exit code, before the run files are written.
inline FolderRun RunInFolder(sim::Profile profile, const std::filesystem::path& dir,
                             std::function<void(sim::Machine&)> childEnded = {},
                             std::function<void(sim::Machine&, int)> runEnded = {}) {
  FolderRun r;
  const std::wstring commandLine = sim::JoinCommandLine(profile.arguments);
  sim::Notebook m(std::move(profile), dir);
  m.child_ended = std::move(childEnded);
  r.machine_before = sim::AfterMachineJson(m);
  r.temp_before = TempFolderFiles(m);
  r.exit_code = sim::RunProduct(m, commandLine);
  r.cut_after = sim::PowerCutAfter(m);
  if (runEnded) runEnded(m, r.exit_code);
  r.disks_before = Positional(*sim::DisksBefore(m));
  r.disks_after = Positional(sim::ViewDisks(m));
  r.storage_after = StorageConfigText(m);
  r.temp_files = TempFolderFiles(m);
  r.log = r.temp_files.count("TempProc.log") != 0 ? r.temp_files["TempProc.log"] : "";
  r.transcript = sim::TranscriptText(m);
  r.run_files_written = sim::WriteRunFiles(m);
  return r;
}

// Runs the product again, in `dir`, on the notebook the run in `first` left.
inline FolderRun RunAgain(const std::filesystem::path& first, const std::filesystem::path& dir) {
  return RunInFolder(sim::LoadProfile(AfterMachinePath(first)), dir);
}

}  // namespace testing_support
