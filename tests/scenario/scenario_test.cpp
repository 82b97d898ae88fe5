// Whole runs on simulated notebooks. Each scenario's run log, scripts, transcript and exit code
// are compared byte for byte with the golden files in tests/data/scenarios/<name>/, and a few
// focused checks say what the scenario is about. CS_UPDATE_GOLDEN=1 rewrites the golden files
// that differ from the current runs and fails naming each (review the diff before committing).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "environment/run_environment.h"
#include "sim/core/host_file.h"
#include "sim/core/text.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "sim/profile/profile.h"
#include "tests/support/disk_profiles.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/wmi_values.h"

using testing::HasSubstr;
using testing::Not;

namespace {

namespace fs = std::filesystem;
using testing_support::Part;
using testing_support::SimMachine;
using testing_support::WmiInt;
using testing_support::WmiText;

// What a run leaves that the golden files hold; nullopt: the file was not written.
struct RunFiles {
  int exitCode = -1;
  std::map<std::string, std::optional<std::string>> files;

  const std::string& Log() const { return *files.at("TempProc.log"); }
  const std::optional<std::string>& File(const std::string& name) const { return files.at(name); }
  const std::string& Transcript() const { return *files.at("transcript.tsv"); }
};

const char* const kTempFiles[] = {"TempProc.log", "TScriptClean2ndHDD.txt",
                                  "TScriptCreate2ndHDD.txt"};

struct Scenario {
  const char* name;
  std::function<void(sim::Profile&)> change;
  const wchar_t* commandLine;
  int exitCode;
  std::function<void(const RunFiles&)> check;
};

// A small disk: its drive number, WMI index and media type, a few partitions, and how the
// storage tool lists it.
sim::Disk MakeDisk(int index, const wchar_t* mediaType, std::uint64_t sizeMb,
                   std::vector<sim::Partition> partitions, const char* rstId, const char* rstSize) {
  sim::Disk d;
  d.drive = index;
  d.wmi = {WmiInt(L"Index", index), WmiText(L"MediaType", mediaType),
           WmiText(L"Model", L"Scenario Disk"), WmiText(L"Size", std::to_wstring(sizeMb << 20))};
  d.rotation.rate = 5400;
  d.size_mb = sizeMb;
  d.style = "gpt";
  d.partitions = std::move(partitions);
  if (rstId != nullptr) {
    d.rst = sim::RstView{rstId,          "Disk",      "SATA",
                         "Normal",       rstSize,     "0 GB",
                         "False",        "Available", "SN" + std::string(rstId),
                         "Scenario Disk"};
  }
  return d;
}

void RenameDefaultRecovery(sim::Profile& p, const wchar_t* label) {
  for (sim::Partition& part : p.disks[0].partitions) {
    if (part.label == L"Recovery") part.label = label;
  }
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void ExpectNoToolRan(const RunFiles& r) {
  EXPECT_THAT(r.Transcript(), Not(HasSubstr("cmd.exe")));
  EXPECT_THAT(r.Transcript(), Not(HasSubstr("diskpart.exe")));
  EXPECT_EQ(r.File("TScriptClean2ndHDD.txt"), std::nullopt);
  EXPECT_EQ(r.File("TScriptCreate2ndHDD.txt"), std::nullopt);
}

// No device in the report proves nothing: the tool's information is logged, no disk is touched.
void ExpectRefusedAfterTheReport(const RunFiles& r) {
  EXPECT_THAT(r.Log(), HasSubstr("[Debug]: Disk identity not proven, no disk changed: no device "
                                 "in the storage tool's report"));
  EXPECT_THAT(r.Log(), Not(HasSubstr("End process...")));
  EXPECT_THAT(r.Transcript(), Not(HasSubstr("--accelerate")));
  EXPECT_THAT(r.Transcript(), Not(HasSubstr("diskpart.exe")));
  EXPECT_EQ(r.File("TScriptClean2ndHDD.txt"), std::nullopt);
}

const std::string kC4a =
    "cmd.exe\t/c C:\\Windows\\Temp\\RSTCLI64.exe --accelerate --createCache --SSD 0-1-0-0 "
    "--cache-size ";

std::vector<Scenario> Scenarios() {
  return {
      {"default", [](sim::Profile&) {}, L"", 0,
       [](const RunFiles& r) {
         EXPECT_THAT(r.Transcript(), HasSubstr(kC4a + "23.5\t"));
         EXPECT_THAT(r.Transcript(), HasSubstr("--disk-to-accel 0-0-0-0 --mode maximized\t"));
         EXPECT_EQ(*r.File("TScriptClean2ndHDD.txt"), "sel disk 1\r\nclean\r\n");
         EXPECT_THAT(r.Log(), HasSubstr("Get MasterHDD info, DiskIndex = 0\r\n"));
         EXPECT_THAT(r.Log(), HasSubstr("Get SecondHDD info, DiskIndex = 1\r\n"));
       }},
      {"windows_32bit", [](sim::Profile& p) { p.windows_bits = 32; }, L"", 0,
       [](const RunFiles& r) {
         EXPECT_EQ(Count(r.Transcript(), "RSTCLI64.exe"), 0u);
         // C1, C2, the report, C3, C4, C5 and C2 again.
         EXPECT_EQ(Count(r.Transcript(), "\\Temp\\RSTCLI.exe "), 7u);
         EXPECT_THAT(r.Transcript(), HasSubstr("--cache-size 18.6\t"));
         EXPECT_EQ(*r.File("TScriptCreate2ndHDD.txt"),
                   "sel disk 1\r\nclean\r\nCreate Partition Primary ID=84\r\n");
       }},
      {"enhanced_mode", [](sim::Profile&) {}, L"Enhanced", 0,
       [](const RunFiles& r) {
         EXPECT_THAT(r.Transcript(), HasSubstr("--mode enhanced\t"));
         EXPECT_THAT(r.Transcript(), Not(HasSubstr("--mode maximized")));
       }},
      {"both_modes_maximized_wins", [](sim::Profile&) {}, L"ENHANCED MAXIMIZED", 0,
       [](const RunFiles& r) { EXPECT_THAT(r.Transcript(), HasSubstr("--mode maximized\t")); }},
      {"iffs_off", [](sim::Profile& p) { p.firmware->IFFS = false; }, L"", 0,
       [](const RunFiles& r) {
         EXPECT_THAT(r.Transcript(), Not(HasSubstr("--cache-size")));
         EXPECT_THAT(r.Transcript(), HasSubstr("--createCache --SSD 0-1-0-0\t"));
         // The cache took the whole SSD: no data volume, and no Rapid Start partition needed.
         EXPECT_EQ(r.File("TScriptCreate2ndHDD.txt"), std::nullopt);
         EXPECT_THAT(r.Log(), HasSubstr("No data volume after the cache, bIsSupportIFFS = FALSE: "
                                        "skip IntelRST partition\r\n"));
         // The fixed text says TRUE for IFFS whatever the flag holds.
         EXPECT_THAT(r.Log(), HasSubstr("bIsSupportIFFS =TRUE, create 2ndHDD"));
       }},
      {"data_volume_numbered_elsewhere",
       [](sim::Profile& p) { p.storage_config.volume_number = 5; }, L"", 0,
       [](const RunFiles& r) {
         EXPECT_EQ(*r.File("TScriptClean2ndHDD.txt"), "sel disk 1\r\nclean\r\n");
         EXPECT_THAT(*r.File("TScriptCreate2ndHDD.txt"), testing::StartsWith("sel disk 5\r\n"));
       }},
      {"system_on_the_ssd", testing_support::SystemOnTheSmallerDisk, L"", 2,
       [](const RunFiles& r) {
         EXPECT_THAT(r.Log(), HasSubstr("Get MasterHDD info, DiskIndex = 1\r\n"));
         EXPECT_THAT(r.Log(), HasSubstr("[Debug]: Disk identity not proven, no disk changed: "
                                        "cache device is a system disk, cache device serial"));
         EXPECT_THAT(r.Transcript(), Not(HasSubstr("--accelerate")));
         EXPECT_THAT(r.Transcript(), Not(HasSubstr("diskpart.exe")));
       }},
      {"raid0_on", [](sim::Profile& p) { p.firmware->RAID0 = true; }, L"", 0, ExpectNoToolRan},
      {"isrt_off", [](sim::Profile& p) { p.firmware->ISRT = false; }, L"", 0, ExpectNoToolRan},
      {"no_control_device", [](sim::Profile& p) { p.firmware.reset(); }, L"", 0,
       [](const RunFiles& r) {
         EXPECT_EQ(Count(r.Log(), " = FALSE."), 4u);
         EXPECT_EQ(Count(r.Transcript(), "InstQORWMIACPISrv64.exe\t-i check\t"), 4u);
         ExpectNoToolRan(r);
       }},
      {"three_fixed_disks",
       [](sim::Profile& p) {
         p.disks.push_back(MakeDisk(2, L"Fixed hard disk media", 64, {}, "0-2-0-0", "0.06 GB"));
       },
       L"", 0,
       [](const RunFiles& r) {
         ExpectNoToolRan(r);
         EXPECT_EQ(Count(r.Log(), "Get SecondHDD info"), 2u);
       }},
      {"only_removable_disks",
       [](sim::Profile& p) {
         for (sim::Disk& d : p.disks) {
           for (sim::WmiProperty& w : d.wmi) {
             if (w.name == L"MediaType") w.value.text = L"Removable Media";
           }
         }
       },
       L"", 0,
       [](const RunFiles& r) {
         ExpectNoToolRan(r);
         EXPECT_THAT(r.Log(), Not(HasSubstr("Get "))) << "no fixed disk, no role line";
       }},
      {"roles_in_reverse_order", [](sim::Profile& p) { std::swap(p.disks[0], p.disks[1]); }, L"", 0,
       [](const RunFiles& r) {
         const std::size_t second = r.Log().find("Get SecondHDD info, DiskIndex = 1");
         const std::size_t master = r.Log().find("Get MasterHDD info, DiskIndex = 0");
         ASSERT_NE(second, std::string::npos);
         ASSERT_NE(master, std::string::npos);
         EXPECT_LT(second, master);
         EXPECT_EQ(*r.File("TScriptClean2ndHDD.txt"), "sel disk 1\r\nclean\r\n");
       }},
      {"recovery_on_removable_disk",
       [](sim::Profile& p) {
         RenameDefaultRecovery(p, L"Data");
         sim::Disk usb = MakeDisk(2, L"External hard disk media", 64,
                                  {Part("fat32", L"RECOVERY", 40)}, nullptr, nullptr);
         usb.style = "mbr";
         p.disks.push_back(usb);
       },
       L"", 0,
       [](const RunFiles& r) {
         ExpectNoToolRan(r);
         EXPECT_EQ(Count(r.Log(), "Get SecondHDD info"), 2u);
         EXPECT_THAT(r.Log(),
                     HasSubstr("[Debug]: 'Recovery' partition is not on a fixed disk, skip "
                               "2ndHDD setup\r\n"));
         EXPECT_THAT(r.Log(), HasSubstr("End process..."));
       }},
      {"no_recovery_partition", [](sim::Profile& p) { RenameDefaultRecovery(p, L"Data"); }, L"", 1,
       [](const RunFiles& r) {
         const std::string end = "[Debug]: Not exist 'Recovery' partition on Disk[0]\r\n";
         ASSERT_GE(r.Log().size(), end.size());
         EXPECT_EQ(r.Log().substr(r.Log().size() - end.size()), end);
         EXPECT_THAT(r.Log(), Not(HasSubstr("Get ")));
         ExpectNoToolRan(r);
       }},
      {"layout_query_fails",
       [](sim::Profile& p) {
         RenameDefaultRecovery(p, L"Data");
         p.faults.push_back("DriveLayout:1");
       },
       L"", 1,
       [](const RunFiles& r) {
         // The number is the drive whose layout query failed.
         EXPECT_THAT(r.Log(), HasSubstr("[Debug]: Not exist 'Recovery' partition on Disk[1]\r\n"));
         ExpectNoToolRan(r);
       }},
      {"empty_report",
       [](sim::Profile& p) {
         p.storage_report = fs::path(CS_SOURCE_DIR) / "tests" / "data" / "reports" / "empty.txt";
       },
       L"", 2, ExpectRefusedAfterTheReport},
      {"inventory_fails", [](sim::Profile& p) { p.faults.push_back("ExecQuery"); }, L"", 1,
       [](const RunFiles& r) {
         EXPECT_EQ(r.Log(), "");
         EXPECT_EQ(r.Transcript(), "");
       }},
      {"inventory_empty", [](sim::Profile& p) { p.disks.clear(); }, L"", 1,
       [](const RunFiles& r) { EXPECT_EQ(r.Log(), ""); }},
      {"memory_query_fails", [](sim::Profile& p) { p.memory_kb.reset(); }, L"", 0,
       [](const RunFiles& r) {
         EXPECT_THAT(r.Log(), Not(HasSubstr("Size = ")));
         EXPECT_THAT(r.Transcript(), HasSubstr(kC4a + "27.5\t"));  // 32 - (4.0 + 0.5)
       }},
      {"storage_tool_missing", [](sim::Profile& p) { p.storage_tool = false; }, L"", 2,
       [](const RunFiles& r) {
         ExpectRefusedAfterTheReport(r);
         EXPECT_THAT(r.Transcript(), HasSubstr("\t9009\n"));
       }},
      {"com_fails", [](sim::Profile& p) { p.faults.push_back("CoInitializeSecurity"); }, L"", 2,
       [](const RunFiles& r) {
         EXPECT_EQ(r.Log(),
                   "[2013/06/03 09:00:00]\t[Debug]: COM initialization failed, HRESULT = "
                   "0x80004005, no disk changed\r\n");
         EXPECT_EQ(r.Transcript(), "");
       }},
  };
}

fs::path GoldenDir(const std::string& name) {
  return fs::path(CS_SOURCE_DIR) / "tests" / "data" / "scenarios" / name;
}

using sim::ReadHostFile;

RunFiles RunScenario(const Scenario& scenario) {
  sim::Profile profile = sim::DefaultProfile();
  scenario.change(profile);
  SimMachine m(profile);
  RunFiles r;
  r.exitCode = sim::RunProduct(*m, scenario.commandLine);
  for (const char* name : kTempFiles) {
    r.files[name] = m->ReadFile(L"C:\\Windows\\Temp\\" + sim::FromUtf8(name));
  }
  r.files["transcript.tsv"] = sim::TranscriptText(*m);
  r.files["exit_code"] = std::to_string(r.exitCode) + "\n";
  return r;
}

class ScenarioRun : public ::testing::TestWithParam<Scenario> {};

TEST_P(ScenarioRun, MatchesItsGoldenFilesByteForByte) {
  const Scenario& scenario = GetParam();
  const RunFiles r = RunScenario(scenario);
  EXPECT_EQ(r.exitCode, scenario.exitCode);

  const fs::path golden = GoldenDir(scenario.name);
  const char* update = std::getenv("CS_UPDATE_GOLDEN");
  const bool rewrite = update != nullptr && std::string(update) == "1";
  for (const auto& [name, bytes] : r.files) {
    SCOPED_TRACE(name);
    const std::optional<std::string> expected = ReadHostFile(golden / name);
    // Update mode rewrites a file that differs and fails, naming it: the new file is for review,
    // never a pass.
    if (rewrite && bytes != expected) {
      fs::create_directories(golden);
      if (bytes) {
        std::ofstream(golden / name, std::ios::binary) << *bytes;
      } else {
        fs::remove(golden / name);
      }
      ADD_FAILURE() << "rewrote " << (golden / name).string() << ": "
                    << (expected ? std::to_string(expected->size()) + " bytes" : "none") << " -> "
                    << (bytes ? std::to_string(bytes->size()) + " bytes" : "none");
      continue;
    }
    ASSERT_EQ(bytes.has_value(), expected.has_value())
        << (bytes ? "written but no golden file " : "not written but golden file exists ")
        << (golden / name).string();
    if (bytes) {
      EXPECT_EQ(*bytes, *expected);
    }
  }
  if (scenario.check) scenario.check(r);
}

INSTANTIATE_TEST_SUITE_P(Notebooks, ScenarioRun, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

namespace {

sim::Partition Typed(sim::Partition part, const char* type) {
  part.type = type;
  return part;
}

constexpr char kEfi[] = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr char kWinRe[] = "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC";

// The notebooks on which the identity proof holds but Windows shows the SSD in use, and the one
// line each run ends with. Without Windows' evidence each was cleaned (exit 0), or stopped only by
// diskpart's own refusal (exit 3), which is off here as the property has it.
TEST(WindowsEvidence, RefusesBeforeAnyDiskChangesAndSaysWhatItFound) {
  const struct {
    const char* name;
    std::function<void(sim::Profile&)> change;
    const char* found;
  } cases[] = {
      {"Windows on the SSD, the tool not marking it",
       [](sim::Profile& p) {
         p.disks[0].partitions[2].letter = L'E';
         p.disks[1].partitions = {Typed(Part("fat32", L"SYSTEM", 260), kEfi),
                                  Part("ntfs", L"Windows", 30000, L'C')};
       },
       "the Windows volume C:\\ lies on Disk[1], Disk[1] holds an EFI system partition "
       "(partition 1)"},
      {"an EFI system partition on the SSD",
       [](sim::Profile& p) {
         p.disks[1].partitions = {Typed(Part("fat32", L"SYSTEM", 100), kEfi)};
       },
       "Disk[1] holds an EFI system partition (partition 1)"},
      {"a recovery partition by type, labelled otherwise",
       [](sim::Profile& p) {
         p.disks[1].partitions = {Typed(Part("ntfs", L"Tools", 500), kWinRe)};
       },
       "Disk[1] holds a Windows recovery partition (partition 1)"},
      {"an MBR recovery partition",
       [](sim::Profile& p) {
         p.disks[1].style = "mbr";
         p.disks[1].partitions = {Part("ntfs", L"Data", 500),
                                  Typed(Part("ntfs", L"", 500), "0x27")};
       },
       "Disk[1] holds a Windows recovery partition (partition 2)"},
      {"a second \"Recovery\" on the SSD",
       [](sim::Profile& p) { p.disks[1].partitions = {Part("ntfs", L"RECOVERY", 500)}; },
       "Disk[1] holds a partition labelled 'RECOVERY' (partition 1)"},
      {"a hard disk where the SSD belongs",
       [](sim::Profile& p) { p.disks[1].rotation.rate = 5400; }, "Disk[1] spins at 5400 rpm"},
      {"the page file on the SSD's volume",
       [](sim::Profile& p) {
         p.disks[1].partitions = {Part("ntfs", L"Data", 20000, L'E')};
         p.volume_files = {{L'E', {L"PageFile.sys"}}};
       },
       "E:\\ on Disk[1] holds pagefile.sys"},
      {"the Windows folder on no volume of a disk",
       [](sim::Profile& p) { p.disks[0].partitions[2].letter = 0; },
       "the volume of the Windows folder C:\\Windows lies on no disk it can name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Profile p = sim::DefaultProfile();
    p.diskpart_refuses_system_disk = false;
    c.change(p);
    p.disks[1].size_mb = 32768;
    SimMachine m(p);
    EXPECT_EQ(sim::RunProduct(*m, L""), 2);
    const std::string log = testing_support::FileBytes(*m, L"C:\\Windows\\Temp\\TempProc.log");
    EXPECT_THAT(log, testing::EndsWith(std::string("\t[Debug]: SecondHDD not cleaned, Windows "
                                                   "shows it in use, no disk changed: ") +
                                       c.found + "\r\n"));
    EXPECT_THAT(sim::TranscriptText(*m), Not(HasSubstr("diskpart.exe")));
    EXPECT_THAT(sim::TranscriptText(*m), Not(HasSubstr("--createCache")));
  }
}

// The data volume waited for: at once, late within the wait (the run longer by as much), at the
// wait's last look, and past it; and a reworked unit's volume that comes back with its IntelRST
// partition. The first look is 7 s after the cache is made (the fixed pauses), the last 60 s on.
TEST(DataVolumeWait, TheDataVolumeIsAwaitedWithinTheBound) {
  SimMachine healthy(sim::DefaultProfile());
  ASSERT_EQ(sim::RunProduct(*healthy, L""), 0);
  const std::uint64_t healthyMs = healthy->elapsed_ms();
  const std::string healthyLog =
      testing_support::FileBytes(*healthy, L"C:\\Windows\\Temp\\TempProc.log");
  const struct {
    const char* name;
    const char* fault;
    bool intelRst;
    int exitCode;
    std::uint64_t longerMs;
  } cases[] = {
      {"at once", "DataVolumeDelay:0", false, 0, 0},
      {"within the fixed pauses", "DataVolumeDelay:7", false, 0, 0},
      {"20 s late", "DataVolumeDelay:20", false, 0, 13000},
      {"at the last look", "DataVolumeDelay:67", false, 0, 60000},
      {"past the bound", "DataVolumeDelay:68", false, 3, 60000},
      {"a reworked unit's volume", "", true, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Profile p = sim::DefaultProfile();
    if (*c.fault != '\0') p.faults = {c.fault};
    p.storage_config.volume_holds_intelrst = c.intelRst;
    SimMachine m(p);
    EXPECT_EQ(sim::RunProduct(*m, L""), c.exitCode);
    EXPECT_EQ(m->elapsed_ms(), healthyMs + c.longerMs - (c.exitCode == 3 ? 2000 : 0));
    const std::string log = testing_support::FileBytes(*m, L"C:\\Windows\\Temp\\TempProc.log");
    if (c.exitCode == 0 && c.longerMs == 0) {
      EXPECT_EQ(log, healthyLog);
    }
    if (c.exitCode == 0) {
      EXPECT_EQ(testing_support::FileBytes(*m, L"C:\\Windows\\Temp\\TScriptCreate2ndHDD.txt")
                    .substr(0, 12),
                "sel disk 1\r\n");
    } else {
      EXPECT_THAT(log, HasSubstr("\t[Debug]: No one disk fit the cache's data volume in two "
                                 "looks in a row within 60 s, IntelRST partition not created: "
                                 "the unit needs rework\r\n"));
    }
  }
}

}  // namespace
