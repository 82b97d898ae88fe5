// The machine capture against the simulator: the capture changes nothing on the machine, a run
// on a random machine and a run on the profile captured from it leave byte-identical run logs,
// scripts and transcripts, and a captured folder edited by hand is refused with the file and
// the key named.
//
// CS_CAPTURE_SEED=N sets the first machine's seed, CS_CAPTURE_COUNT=K the number of machines.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

#include "sim/core/text.h"
#include "sim/harness/account.h"
#include "sim/harness/capture_run.h"
#include "sim/harness/disk_views.h"
#include "sim/harness/notebook.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"
#include "sim/programs/storage_tool.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/folder_run.h"
#include "tests/support/random_machine.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::TempDir;

// What a run leaves that the replay must match byte for byte, and the storage tool's cache.
struct RunOutput {
  int exit_code = 0;
  std::map<std::string, std::string> temp_files;
  std::string transcript;
  std::string cache;
};

// The cache the storage tool holds, its size as a number (the report prints two decimals where
// the product gave one), its data volume by Windows' disk number.
std::string CacheText(sim::Machine& m) {
  const sim::StorageToolState& tool = sim::StorageTool(m);
  if (tool.cache_device.empty()) return "no cache";
  char size[32];
  std::snprintf(size, sizeof(size), "%g",
                tool.cache_size.empty() ? 0.0 : std::strtod(tool.cache_size.c_str(), nullptr));
  const auto& disks = m.profile().disks;
  const std::string volume =
      tool.data_volume < 0
          ? "none"
          : std::to_string(disks[static_cast<std::size_t>(tool.data_volume)].drive.value_or(-1));
  return "cache on " + tool.cache_device + ", size " + size + ", accelerating " +
         tool.accelerated_disk + " " + tool.mode + ", data volume disk " + volume;
}

RunOutput RunProductIn(sim::Profile profile, const std::wstring& commandLine,
                       const std::filesystem::path& root) {
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  sim::Notebook machine(std::move(profile), root);
  RunOutput out;
  out.exit_code = sim::RunProduct(machine, commandLine);
  out.temp_files = testing_support::TempFolderFiles(machine);
  out.transcript = sim::TranscriptText(machine);
  out.cache = CacheText(machine);
  return out;
}

// Captures `profile` on a simulated machine into `dir`. Returns what went wrong: a failing
// exit code, or any change the capture made to the machine (its disks, its Temp folder) or a
// child process other than the installer's check and the storage tool's "-I"; empty if none.
std::string Capture(sim::Profile profile, const std::filesystem::path& root,
                    const std::filesystem::path& dir) {
  std::filesystem::remove_all(root);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(root);
  sim::Notebook machine(std::move(profile), root);
  const std::vector<sim::DiskView> disks = sim::ViewDisks(machine);
  const std::map<std::string, std::string> temp = testing_support::TempFolderFiles(machine);
  const int exitCode = sim::RunCapture(machine, {}, dir);
  std::string faults;
  if (exitCode != 0) faults += "the capture exited with " + std::to_string(exitCode) + "\n";
  if (sim::ViewDisks(machine) != disks) faults += "the capture changed a disk\n";
  if (testing_support::TempFolderFiles(machine) != temp) faults += "the capture wrote to Temp\n";
  for (const sim::TranscriptEntry& e : machine.transcript()) {
    const std::string started = sim::ToUtf8(e.program + L" " + e.parameters);
    if (e.kind == "run" && started.find(" -i check") == std::string::npos &&
        started.find(" -I > ") == std::string::npos) {
      faults += "the capture started " + started + "\n";
    }
  }
  return faults;
}

// The differences between two runs in the files that must agree, empty when none.
std::string Differences(const RunOutput& a, const RunOutput& b) {
  std::string out;
  if (a.exit_code != b.exit_code) {
    out += "exit code " + std::to_string(a.exit_code) + " / " + std::to_string(b.exit_code) + "\n";
  }
  for (const char* name : {"TempProc.log", "TScriptClean2ndHDD.txt", "TScriptCreate2ndHDD.txt",
                           "IntelRSTCli.log", "TRSTCliLog.txt"}) {
    const auto ia = a.temp_files.find(name), ib = b.temp_files.find(name);
    const std::string fa = ia == a.temp_files.end() ? "(none)" : ia->second;
    const std::string fb = ib == b.temp_files.end() ? "(none)" : ib->second;
    if (fa != fb) out += std::string(name) + " differs:\n--- machine\n" + fa + "--- replay\n" + fb;
  }
  if (a.transcript != b.transcript) {
    out += "transcript.tsv differs:\n--- machine\n" + a.transcript + "--- replay\n" + b.transcript;
  }
  if (a.cache != b.cache) out += "cache: " + a.cache + " / replay: " + b.cache + "\n";
  return out;
}

// Steps the random machines never fail at, so that each kind of failure the capture records is
// replayed too.
const char* const kExtraFaults[] = {"Next:1",
                                    "Next:2",
                                    "Get:MediaType",
                                    "Get:Index",
                                    "CoCreateInstance",
                                    "ConnectServer",
                                    "CoSetProxyBlanket",
                                    "ReadFile:0",
                                    "ReadFile:1",
                                    "VolumeDiskExtents:C",
                                    "DeviceIoControl:FirmwareMethod",
                                    "CoInitializeEx",
                                    "CoInitializeSecurity",
                                    "SHGetSpecialFolderPathW"};

TEST(MachineCapture, ReplaysEveryRandomMachineExactly) {
  const std::uint64_t base = testing_support::EnvNumber(
      "CS_CAPTURE_SEED",
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) %
          1000000000u);
#ifdef _WIN32
  constexpr std::uint64_t kDefaultCount = 50;  // every file call costs far more under Wine
#else
  constexpr std::uint64_t kDefaultCount = 500;
#endif
  const std::uint64_t count = testing_support::EnvNumber("CS_CAPTURE_COUNT", kDefaultCount);
  RecordProperty("seed", std::to_string(base));
  TempDir dir;
  std::uint64_t replayed = 0, failed = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t seed = base + i;
    testing_support::Machine m = testing_support::RandomMachine(seed);
    // Every fourth machine also fails at a step the generator leaves alone.
    if (seed % 4 == 0) {
      m.profile.faults.push_back(kExtraFaults[(seed / 4) % std::size(kExtraFaults)]);
    }
    const RunOutput first = RunProductIn(m.profile, m.commandLine, dir.path() / "machine");
    const std::filesystem::path captured = dir.path() / "captured";
    std::string faults = Capture(m.profile, dir.path() / "capture", captured);
    if (faults.empty()) {
      try {
        const RunOutput replay = RunProductIn(sim::LoadProfile(captured / "machine.json"),
                                              m.commandLine, dir.path() / "replay");
        faults = Differences(first, replay);
      } catch (const sim::ProfileError& e) {
        faults = std::string("the captured profile is refused: ") + e.what() + "\n";
      }
    }
    if (faults.empty()) {
      ++replayed;
    } else {
      ADD_FAILURE() << "machine with seed " << seed << " (alone: CS_CAPTURE_SEED=" << seed
                    << " CS_CAPTURE_COUNT=1)\n"
                    << faults << "captured profile:\n"
                    << testing_support::HostFileBytes(captured / "machine.json");
      if (++failed >= 3) break;
    }
  }
  std::printf("capture: %llu of %llu random machines replayed exactly (seeds from %llu)\n",
              static_cast<unsigned long long>(replayed), static_cast<unsigned long long>(count),
              static_cast<unsigned long long>(base));
  EXPECT_EQ(replayed, count);
}

// The examples are the machines with drive letters, image disks and a recovery volume mounted.
TEST(MachineCapture, ReplaysEveryExampleProfileExactly) {
  TempDir dir;
  int replayed = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(CS_SOURCE_DIR) / "examples")) {
    if (entry.path().extension() != ".json") continue;
    const sim::Profile profile = sim::LoadProfile(entry.path());
    const std::wstring commandLine = sim::JoinCommandLine(profile.arguments);
    const std::filesystem::path captured = dir.path() / "captured";
    const RunOutput first = RunProductIn(profile, commandLine, dir.path() / "machine");
    std::string faults = Capture(profile, dir.path() / "capture", captured);
    if (faults.empty()) {
      faults = Differences(first, RunProductIn(sim::LoadProfile(captured / "machine.json"),
                                               commandLine, dir.path() / "replay"));
    }
    EXPECT_EQ(faults, "") << entry.path().filename().string();
    ++replayed;
  }
  EXPECT_GE(replayed, 6);
}

// Replaces the first `from` in the file by `to`; false when the file has no `from`.
bool Edit(const std::filesystem::path& file, const std::string& from, const std::string& to) {
  std::string text = testing_support::HostFileBytes(file);
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return false;
  text.replace(at, from.size(), to);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  return true;
}

TEST(MachineCapture, RefusesAnIncompleteOrEditedCaptureNamingTheFileAndTheKey) {
  TempDir dir;
  const std::filesystem::path original = dir.path() / "original";
  ASSERT_EQ(Capture(sim::DefaultProfile(), dir.path() / "capture", original), "");
  struct Case {
    const char* edit;
    std::function<bool(const std::filesystem::path&)> apply;
    const char* key;
    const char* says;
  };
  const Case cases[] = {
      {"pieces file cut short",
       [](const std::filesystem::path& d) {
         const auto size = std::filesystem::file_size(d / "disk0.pieces");
         std::filesystem::resize_file(d / "disk0.pieces", size - 5);
         return true;
       },
       "disks[0].captured.pieces", "does not hold"},
      {"pieces file missing",
       [](const std::filesystem::path& d) { return std::filesystem::remove(d / "disk1.pieces"); },
       "disks[1].captured.pieces", "cannot read"},
      {"not a pieces file",
       [](const std::filesystem::path& d) {
         return Edit(d / "disk0.pieces", "CSPIECES", "CSPIECEZ");
       },
       "disks[0].captured.pieces", "is not a pieces file"},
      {"disk made smaller than its pieces",
       [](const std::filesystem::path& d) {
         return Edit(d / "machine.json", "\"bytes\": 500107837440", "\"bytes\": 1048576");
       },
       "disks[0].captured.pieces", "reaches past"},
      {"partition moved in the recorded layout",
       [](const std::filesystem::path& d) {
         return Edit(d / "machine.json", "\"start\": 478558552064", "\"start\": 478558552576");
       },
       "disks[0].captured.layout", "the pieces give number 4 at 478558552064"},
      {"unknown layout style",
       [](const std::filesystem::path& d) {
         return Edit(d / "machine.json", "\"style\": \"gpt\"", "\"style\": \"apm\"");
       },
       "disks[0].captured.layout.style", "must be"},
      {"a partition type that is no type",
       [](const std::filesystem::path& d) {
         return Edit(d / "machine.json", "\"type\": \"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\"",
                     "\"type\": \"DE94BBA4-06D1-4D40-A16A-BFD50179D6AZ\"");
       },
       "disks[0].captured.layout.entries[3].type", "must be an MBR type"},
      {"unknown key",
       [](const std::filesystem::path& d) {
         return Edit(d / "machine.json", "\"pieces\": \"disk1.pieces\"",
                     "\"pieces\": \"disk1.pieces\", \"sectors\": 1");
       },
       "disks[1].captured.sectors", "unknown key"},
      {"captured disk with a laid-out size",
       [](const std::filesystem::path& d) {
         return Edit(d / "machine.json", "\"captured\": {", "\"size_mb\": 5, \"captured\": {");
       },
       "disks[0].captured", "takes no image"},
  };
  for (const Case& c : cases) {
    const std::filesystem::path edited = dir.path() / "edited";
    std::filesystem::remove_all(edited);
    std::filesystem::copy(original, edited);
    ASSERT_TRUE(c.apply(edited)) << c.edit;
    std::string message = "(accepted)";
    try {
      sim::Notebook machine(sim::LoadProfile(edited / "machine.json"), dir.path() / "replay");
    } catch (const sim::ProfileError& e) {
      message = e.what();
    }
    EXPECT_NE(message.find((edited / "machine.json").string()), std::string::npos)
        << c.edit << ": " << message;
    EXPECT_NE(message.find("key '" + std::string(c.key) + "'"), std::string::npos)
        << c.edit << ": " << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << c.edit << ": " << message;
  }
}

// A table sector that could not be read on the notebook is not in the pieces: the capture keeps
// the failing read as a fault, and the replay is refused saying so.
TEST(MachineCapture, ATableReadThatFailedIsNamedWhenTheReplayIsRefused) {
  TempDir dir;
  for (const char* fault : {"ReadFile:0@1", "ReadFile:0@2"}) {
    sim::Profile profile = sim::DefaultProfile();
    profile.faults = {fault};
    const std::filesystem::path captured = dir.path() / fault;
    ASSERT_EQ(Capture(profile, dir.path() / "capture", captured), "") << fault;
    std::string message = "(accepted)";
    try {
      sim::Notebook machine(sim::LoadProfile(captured / "machine.json"), dir.path() / "replay");
    } catch (const sim::ProfileError& e) {
      message = e.what();
    }
    const std::string says =
        "a read of the table failed when it was captured (fault " + std::string(fault) + ")";
    EXPECT_NE(message.find("key 'disks[0].captured.layout': "), std::string::npos) << message;
    EXPECT_NE(message.find(says), std::string::npos) << message;
  }
}

TEST(MachineCapture, WithoutTheStorageToolRunsNothingButTheInstallersCheck) {
  TempDir dir;
  sim::Profile profile = sim::DefaultProfile();
  std::filesystem::create_directories(dir.path() / "machine");
  sim::Notebook machine(std::move(profile), dir.path() / "machine");
  ASSERT_EQ(sim::RunCapture(machine, {"--no-storage-tool"}, dir.path() / "captured"), 0);
  int runs = 0;
  for (const sim::TranscriptEntry& e : machine.transcript()) {
    if (e.kind != "run") continue;
    ++runs;
    EXPECT_NE(sim::ToUtf8(e.parameters).find("-i check"), std::string::npos)
        << sim::ToUtf8(e.program + L" " + e.parameters);
  }
  EXPECT_EQ(runs, 4);  // the installer's check before each of the four firmware queries
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "captured" / "storage_report.txt"))
      << dir.path() / "captured" / "storage_report.txt";
  const std::string profileText =
      testing_support::HostFileBytes(dir.path() / "captured" / "machine.json");
  EXPECT_NE(profileText.find("\"storage_tool\": true"), std::string::npos) << profileText;
  EXPECT_EQ(profileText.find("\"storage_report\""), std::string::npos) << profileText;
  EXPECT_NE(sim::ToUtf8(machine.console())
                .find("2 disks (2 in WMI, 2 drives); \"Recovery\" on disk 0 partition 4 D:\\; "
                      "gate: 2 fixed disks, RAID0 off, ISRT on; identity: no storage-tool report "
                      "captured\n"),
            std::string::npos)
      << sim::ToUtf8(machine.console());
}

// The notebook a whole run on the default notebook left: provisioned, the cache in place.
sim::Profile Provisioned(const std::filesystem::path& scratch) {
  std::filesystem::create_directories(scratch);
  {
    sim::Notebook first(sim::DefaultProfile(), scratch);
    sim::RunProduct(first, L"");
    EXPECT_TRUE(sim::WriteRunFiles(first)) << scratch;
  }
  return sim::LoadProfile(testing_support::AfterMachinePath(scratch));
}

// Before the line runs, the capture says whether the product can prove which disk is which (and
// whether the cache the report shows is carried); the replay's run and account agree.
TEST(MachineCapture, SaysWhetherTheDiskIdentityHoldsAndTheReplayAgrees) {
  const struct {
    const char* name;
    std::function<sim::Profile(const std::filesystem::path&)> make;
    const char* verdict;
    int exitCode;
    const char* account;
  } cases[] = {
      {"default notebook", [](const std::filesystem::path&) { return sim::DefaultProfile(); },
       "; identity holds: cache device 0-1-0-0 is SecondHDD disk 1, disk to accelerate 0-0-0-0 "
       "is MasterHDD disk 0; product: exit 0 when every disk step succeeds, 3 when one fails\n",
       0, "\nDisk identity: proven"},
      {"default notebook with faults of the product's children, which the capture's are not",
       [](const std::filesystem::path&) {
         sim::Profile p = sim::DefaultProfile();
         p.faults = {"PowerCut:1", "ChildExit:5=9", "ChildExit:7=3"};
         return p;
       },
       "; identity holds: cache device 0-1-0-0 is SecondHDD disk 1", 0, "\nDisk identity: proven"},
      {"Windows on the SSD",
       [](const std::filesystem::path&) {
         sim::Profile p = sim::DefaultProfile();
         testing_support::SystemOnTheSmallerDisk(p);
         return p;
       },
       "; identity does not hold (cache device is a system disk, cache device serial is not "
       "SecondHDD's",
       2, "\nDisk identity: NOT PROVEN"},
      {"provisioned notebook", Provisioned,
       "already provisioned (cache volume on device 0-1-0-0, 0-0-0-0 accelerated maximized, "
       "IntelRST partition on Disk[1]); product: exit 0, changes nothing; the replay carries the "
       "report's cache volume on device 0-1-0-0 (23.50 GB, accelerating 0-0-0-0 maximized), the "
       "device blank since Windows does not see it\n",
       0, "\nDecision: already provisioned: cache volume on device 0-1-0-0"},
      {"provisioned notebook whose data volume WMI sizes wrongly",
       [](const std::filesystem::path& scratch) {
         sim::Profile p = Provisioned(scratch);
         for (sim::Disk& d : p.disks) {
           for (sim::WmiProperty& w : d.wmi) {
             if (d.role == sim::DiskRole::kDataVolume && w.name == L"Size")
               w.value.text = L"1048576";
           }
         }
         return p;
       },
       "; the report shows a cache volume, which the replay cannot carry: no one disk Windows "
       "lists has the data volume's size\n",
       0, "\nDecision: already provisioned: cache volume on device 0-1-0-0"},
      // What Windows shows of the SSD is recorded, so the replay refuses as the notebook does.
      {"the page file on the SSD's volume",
       [](const std::filesystem::path&) {
         sim::Profile p = sim::DefaultProfile();
         p.disks[1].partitions = {testing_support::Part("ntfs", L"Data", 20000, L'E')};
         p.volume_files = {{L'E', {L"pagefile.sys"}}};
         return p;
       },
       "identity holds, but Windows shows SecondHDD in use (E:\\ on Disk[1] holds pagefile.sys); "
       "product: exit 2, refused before any disk changes\n",
       2,
       "\nDecision: refused: Windows shows SecondHDD in use: E:\\ on Disk[1] holds pagefile.sys"},
      {"a spinning disk where the SSD belongs",
       [](const std::filesystem::path&) {
         sim::Profile p = sim::DefaultProfile();
         p.disks[1].rotation.rate = 5400;
         return p;
       },
       "Windows shows SecondHDD in use (Disk[1] spins at 5400 rpm)", 2,
       "\nDecision: refused: Windows shows SecondHDD in use: Disk[1] spins at 5400 rpm"},
      // Only the first sector fails on the notebook; the replay fails every read of the drive,
      // finds no "Recovery" and stops, and the capture says that it may.
      {"first sector of the disk unreadable",
       [](const std::filesystem::path&) {
         sim::Profile p = sim::DefaultProfile();
         p.faults = {"ReadFile:0@0"};
         return p;
       },
       "product: exit 0 when every disk step succeeds, 3 when one fails; drive 0's first sector "
       "could not be read, so the replay fails every read of it (fault ReadFile:0) and may decide "
       "otherwise than the notebook\n",
       1, "Decision: stopped early: no \"Recovery\" partition"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    sim::Profile profile = c.make(dir.path() / "first");
    std::filesystem::create_directories(dir.path() / "machine");
    sim::Notebook machine(std::move(profile), dir.path() / "machine");
    ASSERT_EQ(sim::RunCapture(machine, {}, dir.path() / "captured"), 0) << c.name;
    const std::string console = sim::ToUtf8(machine.console());
    EXPECT_NE(console.find(c.verdict), std::string::npos) << c.name << ":\n" << console;

    std::filesystem::create_directories(dir.path() / "replay");
    sim::Notebook replay(sim::LoadProfile(dir.path() / "captured" / "machine.json"),
                         dir.path() / "replay");
    const int exitCode = sim::RunProduct(replay, L"");
    EXPECT_EQ(exitCode, c.exitCode) << c.name;
    std::ostringstream account;
    sim::PrintAccount(replay, exitCode, account);
    EXPECT_NE(account.str().find(c.account), std::string::npos) << c.name << ":\n" << account.str();
  }
}

// A notebook the line left at any point of a run (cut after each child, or provisioned) replays
// as it stands: the replay starts with the cache the report shows and runs as the notebook does.
TEST(MachineCapture, ReplaysANotebookLeftAtEveryPointOfARun) {
  sim::Profile iffsOff = sim::DefaultProfile();
  iffsOff.firmware->IFFS = false;
  for (const auto& [name, notebook] :
       {std::pair<const char*, sim::Profile>{"default notebook", sim::DefaultProfile()},
        {"IFFS-off notebook", iffsOff}}) {
    int carried = 0, points = 0;
    for (std::size_t n = 1;; ++n) {
      TempDir dir;
      const testing_support::FolderRun cut = testing_support::RunInFolder(
          testing_support::WithPowerCut(notebook, n), dir.path() / "line");
      sim::Profile left = sim::LoadProfile(testing_support::AfterMachinePath(dir.path() / "line"));
      left.temp_files.clear();  // files an earlier run left in Temp are not captured
      const RunOutput direct = RunProductIn(left, L"", dir.path() / "machine");
      const std::filesystem::path captured = dir.path() / "captured";
      std::string faults = Capture(left, dir.path() / "capture", captured);
      if (faults.empty()) {
        const RunOutput replay =
            RunProductIn(sim::LoadProfile(captured / "machine.json"), L"", dir.path() / "replay");
        faults = Differences(direct, replay);
        carried += faults.empty() && cut.storage_after.find("cache_device= ") == std::string::npos;
      }
      EXPECT_EQ(faults, "") << name << ", cut after child " << n << "\ncaptured profile:\n"
                            << testing_support::HostFileBytes(captured / "machine.json");
      ++points;
      if (!cut.cut_after) break;  // the whole run: the notebook provisioned
    }
    std::printf("capture: %s: %d points of a run replayed, %d with the cache carried\n", name,
                points, carried);
    EXPECT_GE(carried, 2) << name;
  }
}

}  // namespace
