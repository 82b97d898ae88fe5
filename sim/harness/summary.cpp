#include "sim/harness/summary.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "sim/core/host_file.h"
#include "sim/core/run_folder.h"
#include "sim/core/text.h"
#include "sim/core/windows_path.h"
#include "sim/harness/line_files.h"
#include "sim/harness/line_folder.h"
#include "sim/harness/run_log.h"
#include "sim/harness/summary_page.h"
#include "sim/harness/summary_table.h"
#include "sim/profile/profile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace sim {

#ifdef _WIN32
// Many runs at once need the host's processes; the Windows build runs the simulator's tests only.
int RunSummary(const std::string& self, const std::vector<std::string>& inputs,
               const std::optional<std::vector<std::string>>& productArgs,
               const std::filesystem::path& outDir, std::ostream& out) {
  (void)self, (void)inputs, (void)productArgs, (void)outDir;
  out << "cachesetup-sim: --summary runs on the host's build only\n";
  return 1;
}
#else
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string Flag(const Json& value) {
  return value.is_boolean() ? (value.get<bool>() ? "on" : "off") : std::string();
}

std::string Gigabytes(double gib) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f GB", gib);
  return text;
}

// The word after `key` in a command line; empty when the key is not there.
std::string Value(const std::string& parameters, const std::string& key) {
  const std::size_t at = parameters.find(" " + key + " ");
  if (at == std::string::npos) return std::string();
  const std::size_t start = at + key.size() + 2;
  return parameters.substr(start, parameters.find(' ', start) - start);
}

// The notebook a capture or profile describes: its devices' models (the storage tool's model for
// a cache's device, which Windows does not list; a data volume is no device), Windows and memory,
// and what the replay cannot reproduce of a capture.
void DescribeProfile(const Profile& p, SummaryRow& row) {
  for (const Disk& disk : p.disks) {
    if (disk.role == DiskRole::kDataVolume || disk.role == DiskRole::kDeletedVolume) continue;
    std::string model = WmiText(disk, L"Model");
    if (model.empty() && disk.rst) model = disk.rst->model;
    row.models += (row.models.empty() ? "" : " + ") + (model.empty() ? std::string("?") : model);
  }
  row.windowsBits = std::to_string(p.windows_bits);
  row.memoryMb = p.memory_kb ? std::to_string(*p.memory_kb / 1024) : std::string();
  // The cache the notebook already holds; a cache the replay makes takes its place.
  const StorageConfig& cache = p.storage_config;
  if (!cache.cache_device.empty()) {
    row.cacheDevice = cache.cache_device;
    row.cacheSize = cache.cache_size.empty() ? std::string("the whole device")
                                             : Gigabytes(std::atof(cache.cache_size.c_str()));
    row.mode = cache.mode;
  }
  if (row.kind != "capture") return;
  std::vector<std::string> warnings;
  for (const std::string& fault : p.faults) {
    const std::size_t at = fault.find('@');
    if (fault.rfind("ReadFile:", 0) == 0 && at == std::string::npos) {
      warnings.push_back("drive " + fault.substr(9) +
                         "'s first sector could not be read on capture, so the replay fails "
                         "every read of it and may decide otherwise than the notebook");
    } else if (fault.rfind("ReadFile:", 0) == 0) {
      warnings.push_back("a read of drive " + fault.substr(9, at - 9) +
                         "'s partition table failed at sector " + fault.substr(at + 1) +
                         " on capture: the replay is refused if the table is incomplete");
    } else if (fault.rfind("DriveLayout:", 0) == 0) {
      warnings.push_back("drive " + fault.substr(12) + "'s layout query failed on capture");
    }
  }
  const std::string report =
      p.storage_report.empty() ? std::string() : ReadHostFile(p.storage_report).value_or("");
  if (report.find("Cache\r") != std::string::npos && p.storage_config.cache_device.empty()) {
    warnings.push_back("the report shows a cache volume, which the replay does not carry");
  }
  for (const std::string& w : warnings) row.warnings += (row.warnings.empty() ? "" : "; ") + w;
}

// Whether the storage tool of this notebook reports no device at all: no report captured, and
// no disk the simulated tool would list.
bool NoStorageReport(const Profile& p) {
  if (!p.storage_tool) return true;
  if (!p.storage_report.empty()) return false;
  for (const Disk& disk : p.disks) {
    if (disk.rst) return false;
  }
  return true;
}

// What of "ROLE Disk[n] serial 'S' size Z" the refusal line gives.
std::pair<std::string, std::string> RoleDisk(const std::string& line, const std::string& role) {
  const std::size_t at = line.find(role + " Disk[");
  if (at == std::string::npos) return {};
  const std::size_t serial = line.find(" serial '", at);
  const std::size_t size = serial == std::string::npos ? serial : line.find("' size ", serial);
  if (size == std::string::npos) return {};
  const std::size_t end = line.find_first_of(";,", size + 7);
  return {line.substr(serial + 9, size - serial - 9), line.substr(size + 7, end - size - 7)};
}

// A notebook whose replay had no report to prove its disks by: "identity cannot be proven", unless
// no report could prove them (a reason besides the missing report, a role disk without a serial
// number or a size in WMI, or a serial that names two disks).
std::string WithoutReport(const Profile& p, const std::string& kind, const std::string& debug) {
  const std::string proof = "Disk identity not proven, no disk changed: ";
  const std::string why = debug.substr(proof.size(), debug.find(": cache device") - proof.size());
  const std::string none = "no device in the storage tool's report";
  std::string whatever =
      why.rfind(none + ", ", 0) == 0 ? why.substr(none.size() + 2) : std::string();
  for (const char* role : {"SecondHDD", "MasterHDD"}) {
    const auto [serial, size] = RoleDisk(debug, role);
    int named = 0;
    for (const Disk& disk : p.disks)
      named += TrimBlanks(WmiText(disk, L"SerialNumber")) == TrimBlanks(serial);
    const bool sized = !size.empty() && size.find_first_not_of("0123456789") == std::string::npos &&
                       size.find_first_not_of('0') != std::string::npos;
    const std::string problem = TrimBlanks(serial).empty() ? " has no serial number in WMI"
                                : named > 1                ? "'s serial names two disks"
                                : !sized                   ? " has no size in WMI"
                                                           : "";
    if (!problem.empty()) whatever += (whatever.empty() ? "" : ", ") + (role + problem);
  }
  if (!whatever.empty()) return "refused: " + whatever + " (so no report could prove the disks)";
  return "identity cannot be proven: no storage report in the " + kind;
}

// The row of a replay, from its run folder: result.json and the run log.
void ReadReplay(const Profile& p, const fs::path& runDir, int status, SummaryRow& row) {
  const std::optional<std::string> text = ReadHostFile(runDir / kResultFile);
  const Json result = text ? Json::parse(*text, nullptr, false) : Json();
  if (!result.is_object()) {
    row.failed = true;
    row.decision =
        "did not run (exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    return;
  }
  const Json& gate = result["gate"];
  row.fixedDisks = gate["fixed_disks"].is_number() ? gate["fixed_disks"].dump() : "";
  row.raid0 = Flag(gate["RAID0"]);
  row.isrt = Flag(gate["ISRT"]);
  row.iffs = Flag(gate["IFFS"]);
  row.decision = result["decision"].get<std::string>();
  row.exitCode = result["exit_code"].dump();
  for (const Json& a : result["arguments"]) {
    row.arguments += (row.arguments.empty() ? "" : " ") + a.get<std::string>();
  }
  for (const Json& child : result["children"]) {
    const std::string parameters = child["parameters"].get<std::string>() + " ";
    if (child["exit_code"] != 0) continue;
    if (parameters.find(" --delete-all-metadata ") != std::string::npos) {
      row.cacheDevice.clear(), row.cacheSize.clear(), row.mode.clear();
    }
    if (parameters.find(" --createCache ") != std::string::npos) {
      row.cacheDevice = Value(parameters, "--SSD");
      const std::string size = Value(parameters, "--cache-size");
      row.cacheSize = size.empty() ? "the whole device" : Gigabytes(std::atof(size.c_str()));
    }
    if (parameters.find(" --setAccelConfig ") != std::string::npos) {
      row.mode = Value(parameters, "--mode");
    }
  }
  for (const Json& disk : result["disks_after"]) {
    for (const Json& part : disk["partitions"]) {
      if (part["label"] != "IntelRST" || !disk["drive"].is_number()) continue;
      row.intelrstDisk = disk["drive"].dump();
      row.intelrstSize = Gigabytes(part["size"].get<double>() / (1ull << 30));
    }
  }
  // The run log's last line says in full what a decision line shortens.
  const wchar_t drive = SystemDrive(p.windows_dir);
  fs::path temp = runDir / ToUtf8(std::wstring(1, drive));
  for (const std::wstring& part : SplitWindowsPath(p.windows_dir + L"\\Temp", drive).parts) {
    temp /= ToUtf8(part);
  }
  const std::string debug =
      LastDebugText(FileLines(ReadNamed(temp, "TempProc.log").value_or(""), true));
  if (row.decision.rfind("refused", 0) == 0 || row.decision.rfind("needs rework", 0) == 0) {
    row.reason = debug;
  }
  if (row.decision == "refused: no device in the storage tool's report" && NoStorageReport(p)) {
    row.decision = WithoutReport(p, row.kind, debug);
  }
}

pid_t Start(const std::string& self, const fs::path& profile, const fs::path& runDir,
            const std::optional<std::vector<std::string>>& productArgs) {
  const std::string machine = profile.string(), out = runDir.string();
  std::vector<const char*> argv = {self.c_str(), "--machine", machine.c_str(),
                                   "--out",      out.c_str(), "--quiet"};
  if (productArgs) {
    argv.push_back("--");
    for (const std::string& a : *productArgs) argv.push_back(a.c_str());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, const_cast<char* const*>(argv.data()),
                  environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

int RunSummary(const std::string& self, const std::vector<std::string>& inputs,
               const std::optional<std::vector<std::string>>& productArgs, const fs::path& outDir,
               std::ostream& out) {
  std::vector<SummaryRow> rows(inputs.size());
  std::vector<Profile> profiles(inputs.size());
  std::vector<pid_t> running(inputs.size(), -1);
  std::error_code ec;
  const unsigned slots = std::max(1u, std::thread::hardware_concurrency());
  std::size_t next = 0, active = 0, done = 0;
  auto runDir = [&outDir](std::size_t i) {
    return outDir / kSummaryRunsFolder / std::to_string(i);
  };
  // A line folder is read at once; a capture or profile starts its replay.
  auto begin = [&](std::size_t i) {
    SummaryRow& row = rows[i];
    row.input = inputs[i];
    fs::path profile = inputs[i];
    if (fs::is_directory(profile, ec)) {
      if (!fs::exists(profile / "machine.json", ec)) {
        if (HoldsLineFiles(profile)) {
          row = ReadLineFolder(profile);
        } else {
          row.failed = true;
          row.decision = "could not read: the folder holds neither machine.json (a capture) nor " +
                         LineFileNames() + " (a unit's Temp folder from the line)";
          if (const auto temp = RunFolderTemp(profile)) {
            row.decision +=
                "; it is a simulator run folder, its Temp files are in " + temp->string();
          }
        }
        return false;
      }
      row.kind = "capture";
      profile /= "machine.json";
    } else {
      row.kind = "profile";
    }
    try {
      profiles[i] = LoadProfile(profile);
    } catch (const ProfileError& e) {
      row.failed = true;
      row.decision = std::string("bad profile: ") + e.what();
      return false;
    }
    DescribeProfile(profiles[i], row);
    running[i] = Start(self, fs::absolute(profile, ec), runDir(i), productArgs);
    if (running[i] < 0) {
      row.failed = true;
      row.decision = "could not start " + self;
      return false;
    }
    return true;
  };
  while (done < inputs.size()) {
    while (next < inputs.size() && active < slots) {
      const std::size_t i = next++;
      if (begin(i)) {
        ++active;
      } else {
        ++done;
      }
    }
    if (active == 0) continue;
    int status = 0;
    const pid_t ended = ::waitpid(-1, &status, 0);
    if (ended < 0) break;
    for (std::size_t i = 0; i < running.size(); ++i) {
      if (running[i] != ended) continue;
      running[i] = -1;
      ReadReplay(profiles[i], runDir(i), status, rows[i]);
      fs::remove_all(runDir(i), ec);
      --active;
      ++done;
    }
  }
  fs::remove_all(outDir / kSummaryRunsFolder, ec);

  int failed = 0;
  for (SummaryRow& row : rows) {
    row.outcome = row.failed ? std::string("could not run") : OutcomeOf(row.decision);
    failed += row.failed ? 1 : 0;
    out << SummaryLine(row);
  }
  std::ofstream csv(outDir / kSummaryFile, std::ios::binary);
  csv << SummaryCsv(rows);
  std::ofstream page(outDir / kSummaryPage, std::ios::binary);
  page << SummaryPage(rows);
  out << rows.size() << (rows.size() == 1 ? " notebook" : " notebooks") << " (";
  const auto counts = OutcomeCounts(rows);
  for (std::size_t i = 0; i < counts.size(); ++i) {
    out << (i == 0 ? "" : ", ") << counts[i].first << " " << counts[i].second;
  }
  out << "), " << failed << " could not be run or read; " << (outDir / kSummaryFile).string()
      << ", " << (outDir / kSummaryPage).string() << "\n";
  return failed == 0 && csv.flush() && page.flush() ? 0 : 1;
}
#endif

}  // namespace sim
