// Disk safety over seeded random machines. Each machine is built in code from one seed: disks of
// random media types, WMI indices and drive numbers, "Recovery" on no disk, one disk or two,
// random firmware flags, memory, bitness, storage-tool reports and a few failing steps. After
// each run, the transcript and the files it left must show:
// - no diskpart script with "clean" and no storage-tool change command ("-M", "--accelerate")
//   unless two fixed disks, RAID0 off, ISRT on, "Recovery" on a fixed disk and a second disk
//   other than the recovery disk (and, when all of that holds, the whole provisioning);
// - no script selects the disk the locator finds "Recovery" on;
// - every command line and script line is one the sequence can produce;
// - the exit code matches the end of the run log;
// - no disk changes but the second disk, and that one only when the gate holds.
// Every second machine the gate opens (by seed), and every 16th machine, then runs a second time
// on the notebook the first run left (its after-machine.json, healthy hardware), under the same
// checks; the run prints how many.
//
// CS_PROPERTY_SEED=N sets the first machine's seed, CS_PROPERTY_COUNT=K the number of machines
// (machine i has seed N + i, so one failing machine reruns alone with its own seed and K=1).
// The host run checks 2,000 machines; the Windows builds, which run under Wine, 200.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/machine.h"
#include "sim/core/text.h"
#include "sim/harness/run.h"
#include "sim/profile/profile.h"
#include "tests/support/folder_run.h"
#include "tests/support/random_machine.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"
#include "tests/support/wmi_values.h"

namespace {

using testing_support::AfterMachinePath;
using testing_support::EnvNumber;
using testing_support::FolderRun;
using testing_support::kFixed;
using testing_support::Lines;
using testing_support::Machine;
using testing_support::Positional;
using testing_support::RandomMachine;
using testing_support::RunInFolder;
using testing_support::TempDir;
using testing_support::WmiInt;
using testing_support::WmiText;

bool IsRecoveryLabel(const std::wstring& label) {
  std::wstring lower;
  for (wchar_t c : label) lower.push_back(c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c);
  return lower == L"recovery";
}

const os::WmiValue* Property(const sim::Disk& d, const wchar_t* name) {
  for (const sim::WmiProperty& p : d.wmi) {
    if (p.name == name) return &p.value;
  }
  return nullptr;
}

std::uint32_t WmiIndex(const sim::Disk& d) {
  const os::WmiValue* v = Property(d, L"Index");
  return v != nullptr && v->kind == os::WmiValue::Kind::Int32 ? static_cast<std::uint32_t>(v->i32)
                                                              : 0;
}

bool IsFixed(const sim::Disk& d) {
  const os::WmiValue* v = Property(d, L"MediaType");
  return v != nullptr && v->kind == os::WmiValue::Kind::Text && v->text == kFixed;
}

// What the machine must do, worked out from its profile alone.
struct Expected {
  bool inventory = false;  // the inventory lists at least one disk
  int locator = 4;         // 0 found, 4 none, 5 a layout query failed
  int recoveryDrive = 0;   // the drive number the locator stops at
  bool gate = false;       // the whole provisioning runs
  std::uint32_t secondIndex = 0;
};

Expected Expect(const Machine& m) {
  const sim::Profile& p = m.profile;
  Expected e;
  bool execQueryFails = false;
  for (const std::string& f : p.faults) execQueryFails |= f == "ExecQuery";
  // Windows sees neither a cache device nor a deleted data volume.
  std::vector<sim::Disk> seen;
  for (const sim::Disk& d : p.disks) {
    if (sim::SeenByWindows(d)) seen.push_back(d);
  }
  e.inventory = !execQueryFails && !seen.empty();

  // The locator walks drive numbers from 0 until one does not exist.
  for (int n = 0; n <= 10 && e.locator == 4; ++n) {
    const sim::Disk* disk = nullptr;
    for (const sim::Disk& d : seen) {
      if (d.drive && *d.drive == n) {
        disk = &d;
        break;
      }
    }
    if (disk == nullptr) break;
    bool layoutFails = false;
    for (int f : m.layoutFaults) layoutFails |= f == n;
    if (layoutFails) {
      e.locator = 5;
      e.recoveryDrive = n;
      break;
    }
    for (const sim::Partition& part : disk->partitions) {
      if ((part.fs == "ntfs" || part.fs == "fat32") && IsRecoveryLabel(part.label)) {
        e.locator = 0;
        e.recoveryDrive = n;
        break;
      }
    }
  }

  int fixed = 0;
  bool master = false;
  bool second = false;
  for (const sim::Disk& d : seen) {
    if (!IsFixed(d)) continue;
    ++fixed;
    if (!master && static_cast<std::int64_t>(WmiIndex(d)) == e.recoveryDrive) {
      master = true;
    } else {
      second = true;
      e.secondIndex = WmiIndex(d);
    }
  }
  const bool flags = p.firmware && !p.firmware->RAID0 && p.firmware->ISRT;
  e.gate = e.inventory && e.locator == 0 && fixed == 2 && flags && master && second &&
           static_cast<std::int64_t>(e.secondIndex) != e.recoveryDrive;
  return e;
}

std::string Escape(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// Checks one run; `tempBefore` holds the Temp folder's files by name as the run found them. Returns
// the faults found, one per line.
std::string CheckRun(const Machine& m, sim::Machine& machine, int exitCode,
                     const std::map<std::string, std::string>& tempBefore) {
  std::ostringstream faults;
  const sim::Profile& p = m.profile;
  const Expected e = Expect(m);
  const std::string windows = sim::ToUtf8(p.windows_dir);
  const std::string temp = windows + "\\Temp\\";
  const std::string tool = temp + (p.windows_bits == 64 ? "RSTCLI64.exe" : "RSTCLI.exe");
  const std::string cmd = sim::ToUtf8(p.system_dir) + "\\cmd.exe";
  const std::string diskpart = sim::ToUtf8(p.system_dir) + "\\diskpart.exe";
  const std::string installer = sim::ToUtf8(p.system_dir) + "\\InstQORWMIACPISrv64.exe";
  const std::string cleanPath = temp + "TScriptClean2ndHDD.txt";
  const std::string createPath = temp + "TScriptCreate2ndHDD.txt";

  // Every child process is one of these; the two that change the storage configuration and
  // the two diskpart runs are counted.
  const std::regex cacheWithSize(
      "/c " + Escape(tool) + R"( --accelerate --createCache --SSD (\S*) --cache-size (\d+\.\d))");
  const std::regex cacheWithout("/c " + Escape(tool) +
                                R"( --accelerate --createCache --SSD (\S*))");
  const std::regex setMode(
      "/c " + Escape(tool) +
      R"( --accelerate --setAccelConfig --disk-to-accel (\S*) --mode (maximized|enhanced))");
  const std::string c1 = "/c " + tool + " -V > \"" + temp + "IntelRSTCli.log\"";
  const std::string c2 = "/c " + tool + " -I >> \"" + temp + "IntelRSTCli.log\"";
  const std::string c3 = "/c " + tool + " -M --delete-all-metadata";
  const std::string c6 = "/c echo #======= AFTER RSTCLI ACCELERATE COMMAND =======# >> \"" + temp +
                         "IntelRSTCli.log\"";
  const std::string report = "/c " + tool + " -I > \"" + temp + "TRSTCliLog.txt\"";
  int changes = 0, cleans = 0, diskpartRuns = 0;
  std::vector<std::string> sequence;
  for (const sim::TranscriptEntry& t : machine.transcript()) {
    if (t.kind != "run") continue;
    const std::string program = sim::ToUtf8(t.program);
    const std::string params = sim::ToUtf8(t.parameters);
    if (program == installer && params == "-i check") {
      continue;
    }
    if (program == diskpart) {
      ++diskpartRuns;
      std::string script;
      if (params == "/s \"" + cleanPath + "\"") {
        script = cleanPath;
        sequence.push_back("D1");
      } else if (params == "/s \"" + createPath + "\"") {
        script = createPath;
        sequence.push_back("D2");
      } else {
        faults << "diskpart with parameters no step gives: " << params << "\n";
        continue;
      }
      const auto bytes = machine.ReadFile(sim::FromUtf8(script));
      for (const std::string& line : Lines(bytes ? *bytes : std::string())) {
        if (line == "clean") ++cleans;
      }
      continue;
    }
    if (program != cmd) {
      faults << "a program no step runs: " << program << " " << params << "\n";
      continue;
    }
    std::smatch match;
    if (params == c1) {
      sequence.push_back("C1");
    } else if (params == c2) {
      sequence.push_back("C2");
    } else if (params == report) {
      sequence.push_back("R");
    } else if (params == c3) {
      sequence.push_back("C3");
      ++changes;
    } else if (std::regex_match(params, match, cacheWithSize)) {
      sequence.push_back("C4a");
      ++changes;
    } else if (std::regex_match(params, match, cacheWithout)) {
      sequence.push_back("C4b");
      ++changes;
    } else if (std::regex_match(params, match, setMode)) {
      sequence.push_back("C5");
      ++changes;
    } else if (params == c6) {
      sequence.push_back("C6");
    } else {
      faults << "a command line no step gives: " << params << "\n";
    }
  }

  if ((changes != 0 || cleans != 0) && !e.gate) {
    faults << "storage-tool changes (" << changes << ") or diskpart cleans (" << cleans
           << ") although the gate or the safety condition does not hold\n";
  }
  if (e.gate) {
    const bool iffs = p.firmware && p.firmware->IFFS;
    const std::vector<std::string> whole = {"C1", "C2", "R",  "D1", "C3", iffs ? "C4a" : "C4b",
                                            "C5", "C6", "C2", "D2"};
    if (sequence != whole) faults << "the gate holds but the provisioning is not whole\n";
  } else if (diskpartRuns != 0 || !sequence.empty()) {
    faults << "a tool or diskpart ran although the gate is closed\n";
  }

  // Scripts: exactly the lines the sequence writes; "sel disk" names the second disk, never
  // the recovery disk.
  const std::string sel = "sel disk " + std::to_string(static_cast<int>(e.secondIndex));
  const std::vector<std::string> cleanLines = {sel, "clean"};
  const std::vector<std::string> createLines =
      p.windows_bits == 64
          ? std::vector<std::string>{sel,
                                     "clean",
                                     "convert gpt",
                                     "Create Partition EFI",
                                     "Format Quick fs=FAT32 Label=\"IntelRST\"",
                                     "Set ID = D3BFE2DE-3DAF-11DF-BA40-E3A556D89593 Override",
                                     "GPT Attributes=0x8000000000000001"}
          : std::vector<std::string>{sel, "clean", "Create Partition Primary ID=84"};
  for (const auto& [path, lines] : {std::pair{cleanPath, cleanLines}, {createPath, createLines}}) {
    const auto bytes = machine.ReadFile(sim::FromUtf8(path));
    if (!bytes) {
      if (e.gate) faults << "no script " << path << "\n";
      continue;
    }
    // A script an earlier run left, untouched, is not this run's.
    const auto left = tempBefore.find(path.substr(temp.size()));
    if (!e.gate && left != tempBefore.end() && left->second == *bytes) continue;
    if (!e.gate) faults << "a script written although the gate is closed: " << path << "\n";
    const std::vector<std::string> got = Lines(*bytes);
    for (const std::string& line : got) {
      if (line.rfind("sel disk ", 0) == 0 &&
          line == "sel disk " + std::to_string(e.recoveryDrive)) {
        faults << "a script selects the recovery disk: " << line << "\n";
      }
    }
    if (got != lines) faults << "script lines no step writes in " << path << "\n";
  }

  // The disks: only the second disk may change, and only when the gate holds; the recovery disk
  // and whatever disk holds Windows stay as they were.
  // By place: a data volume the tool deleted and made again has a new index, not new contents.
  const std::vector<sim::DiskView> after = Positional(sim::ViewDisks(machine));
  const std::vector<sim::DiskView> before = Positional(*sim::DisksBefore(machine));
  for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
    const bool second = e.gate && after[i].drive == static_cast<int>(e.secondIndex);
    // The tool takes the device the product names from its report as the cache, whichever disk
    // that is; it refuses a system disk, so no disk holding Windows or Recovery.
    bool systemOrRecovery = false;
    for (const sim::PartitionView& part : before[i].partitions) {
      const std::wstring label = sim::FromUtf8(part.label.value_or(""));
      systemOrRecovery |= label == L"Windows" || IsRecoveryLabel(label);
    }
    const bool cache = e.gate && after[i].role == "cache device" && !systemOrRecovery;
    if (!second && !cache && after[i] != before[i]) {
      faults << "disk " << i << " (drive " << (after[i].drive ? *after[i].drive : -1)
             << ") changed: " << before[i].style << " with " << before[i].partitions.size()
             << " partitions before, " << after[i].style << " with " << after[i].partitions.size()
             << " after\n";
    }
  }

  // The exit code and the end of the run log.
  const auto log = machine.ReadFile(p.windows_dir + L"\\Temp\\TempProc.log");
  const std::vector<std::string> logLines = Lines(log ? *log : std::string());
  const std::string last = logLines.empty() ? std::string() : logLines.back();
  const bool ended = last.size() >= 16 && last.substr(last.size() - 14) == "End process...";
  const bool notExist =
      last.find("\t[Debug]: Not exist 'Recovery' partition on Disk[") != std::string::npos;
  if (logLines.empty() || notExist) {
    if (exitCode != 1) faults << "exit code " << exitCode << " after an early end\n";
  } else if (ended) {
    if (exitCode != 0) faults << "exit code " << exitCode << " after \"End process...\"\n";
  } else {
    faults << "the run log ends neither early nor with \"End process...\": " << last << "\n";
  }
  if (!e.inventory && !logLines.empty()) faults << "a run log although no disk was listed\n";
  if (e.inventory && e.locator != 0 && !notExist)
    faults << "no \"Not exist\" end without Recovery\n";
  if (e.inventory && e.locator == 0 && !ended)
    faults << "no \"End process...\" with Recovery found\n";
  return faults.str();
}

std::string Describe(const Machine& m) {
  std::ostringstream out;
  const sim::Profile& p = m.profile;
  out << "bits " << p.windows_bits << ", memory "
      << (p.memory_kb ? std::to_string(*p.memory_kb) : "none") << " KB, firmware ";
  if (p.firmware) {
    out << "IFFS " << p.firmware->IFFS << " RAID0 " << p.firmware->RAID0 << " ISRT "
        << p.firmware->ISRT;
  } else {
    out << "none";
  }
  out << ", command line \"" << sim::ToUtf8(m.commandLine) << "\", faults";
  for (const std::string& f : p.faults) out << " " << f;
  out << "\n";
  for (const sim::Disk& d : p.disks) {
    const os::WmiValue* media = Property(d, L"MediaType");
    out << "  disk Index " << WmiIndex(d) << " drive " << (d.drive ? std::to_string(*d.drive) : "-")
        << " \"" << (media != nullptr ? sim::ToUtf8(media->text) : "(null)") << "\" " << d.style;
    for (const sim::Partition& part : d.partitions) {
      out << " [" << part.fs << " \"" << sim::ToUtf8(part.label) << "\"]";
    }
    out << (d.rst ? " rst " + d.rst->id + " " + d.rst->size : " no rst") << "\n";
  }
  return out.str();
}

// The machine a first run left, as the expectations read it: its after-machine profile (the
// disks Windows sees, no faults) with each disk's partitions as the run left them. Both list the
// disks in the same order, a deleted data volume left out.
Machine LeftMachine(const Machine& first, sim::Profile left,
                    const std::vector<sim::DiskView>& disks) {
  Machine m = first;
  m.profile = std::move(left);
  m.layoutFaults.clear();
  for (std::size_t i = 0; i < disks.size() && i < m.profile.disks.size(); ++i) {
    std::vector<sim::Partition>& parts = m.profile.disks[i].partitions;
    parts.clear();
    for (const sim::PartitionView& pv : disks[i].partitions) {
      sim::Partition part;
      part.fs.clear();
      for (char c : pv.fs)
        part.fs.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
      part.label = sim::FromUtf8(pv.label.value_or(""));
      parts.push_back(part);
    }
  }
  return m;
}

// Runs `profile` in the folder `root` (emptied first) and checks the run against `m`; the run
// files, after-machine.json among them, are written.
FolderRun RunChecked(const Machine& m, sim::Profile profile, const std::filesystem::path& root,
                     const std::map<std::string, std::string>& tempBefore, std::string& faults) {
  const std::string prepared = sim::PrepareRunFolder(root);
  if (!prepared.empty()) {
    faults += "run folder: " + prepared + "\n";
    return {};
  }
  return RunInFolder(std::move(profile), root, {}, [&](sim::Machine& machine, int exitCode) {
    faults += CheckRun(m, machine, exitCode, tempBefore);
  });
}

TEST(DiskSafetyProperty, RandomMachinesNeverCleanOrChangeOutsideTheGate) {
  const std::uint64_t base = EnvNumber(
      "CS_PROPERTY_SEED",
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) %
          1000000000u);
#ifdef _WIN32
  // Under Wine every file call of the simulator costs far more; the host run checks 2,000.
  constexpr std::uint64_t kDefaultCount = 200;
  // A second run starts from copies of whole disks, and copying them again at its end reads
  // every byte where the C runtime cannot find a sparse file's holes: second runs are the
  // host's (they check the simulator's re-runs, not Windows).
  constexpr bool kSecondRuns = false;
#else
  constexpr std::uint64_t kDefaultCount = 2000;
  constexpr bool kSecondRuns = true;
#endif
  const std::uint64_t count = EnvNumber("CS_PROPERTY_COUNT", kDefaultCount);
  std::printf("property: %llu machines from seed %llu\n", static_cast<unsigned long long>(count),
              static_cast<unsigned long long>(base));
  RecordProperty("seed", std::to_string(base));

  TempDir dir;
  std::uint64_t gated = 0, again = 0, failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t seed = base + i;
    const Machine m = RandomMachine(seed);
    const bool gate = Expect(m).gate;
    gated += gate ? 1 : 0;
    // Every second machine the first run provisions, and every 16th machine, runs a second time
    // on the notebook the first run left, as the line runs the tool again; the run files that
    // needs cost twice a run, so not every machine gets one.
    const bool twice = kSecondRuns && ((gate && i % 2 == 0) || i % 16 == 0);
    const std::filesystem::path firstRoot = dir.path() / "first";
    std::string faults;
    if (!twice) {
      ASSERT_EQ(sim::PrepareRunFolder(firstRoot), "");
      sim::Notebook machine(m.profile, firstRoot);
      faults = CheckRun(m, machine, sim::RunProduct(machine, m.commandLine), {});
    } else {
      const FolderRun first = RunChecked(m, m.profile, firstRoot, {}, faults);
      if (faults.empty() && !first.run_files_written) faults = "the run files were not written\n";
      if (faults.empty()) {
        ++again;
        std::string second;
        const sim::Profile left = sim::LoadProfile(AfterMachinePath(firstRoot));
        RunChecked(LeftMachine(m, left, first.disks_after), left, dir.path() / "second",
                   first.temp_files, second);
        if (!second.empty()) faults = "second run:\n" + second;
      }
    }
    if (!faults.empty()) {
      ADD_FAILURE() << "machine with seed " << seed << " (rerun alone: CS_PROPERTY_SEED=" << seed
                    << " CS_PROPERTY_COUNT=1 build/host/tests/unit_tests"
                    << " --gtest_filter=DiskSafetyProperty.*)\n"
                    << Describe(m) << faults;
      if (++failed >= 5) break;  // enough to go on
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("property: %llu machines checked, %llu with the gate open, %llu run twice, %.1f s\n",
              static_cast<unsigned long long>(count), static_cast<unsigned long long>(gated),
              static_cast<unsigned long long>(again), seconds);
}

}  // namespace
