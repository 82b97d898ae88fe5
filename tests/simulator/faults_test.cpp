// Faults of a machine profile: what the simulator does for them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sim/core/host_file.h"
#include "sim/core/text.h"
#include "sim/devices/physical_drive.h"
#include "sim/disks/partition_table.h"
#include "sim/harness/run.h"
#include "sim/profile/fault_list.h"
#include "sim/programs/diskpart.h"
#include "tests/support/sim_fixture.h"

namespace {

// What the loader says about a profile whose second fault is `fault`, after "ChildExit:2=0".
std::string LoaderSays(const std::string& fault) {
  try {
    sim::ParseProfile(R"({ "faults": [ "ChildExit:2=0", ")" + fault + R"(" ] })", "f.json", ".");
  } catch (const sim::ProfileError& e) {
    return e.what();
  }
  return "<accepted>";
}

TEST(FaultList, TheLoaderTakesTheFormsTheStepsActOnAndNamesTheEntryOfAnyOther) {
  for (const char* fault :
       {"CoInitializeEx", "ExecQuery", "Next", "Next:1", "Get:Model", "DeviceIoControl",
        "DeviceIoControl:FirmwareMethod", "DriveLayout:0", "DriveLayout:12", "ReadFile:1",
        "ReadFile:1@2048", "ReadFile:0@34359738367", "VolumeDiskExtents:D",
        "GetProcAddress:IsWow64Process", "ChildExit:1=0", "ChildExit:14=4294967295",
        "PowerCut:3"}) {
    EXPECT_EQ(LoaderSays(fault), "<accepted>") << fault;
  }
  const struct {
    const char* fault;
    const char* message;  // follows "f.json: key 'faults[1]': "
  } refused[] = {
      {"Nxet:1", "no step the simulator can fail is named 'Nxet'"},
      {"execquery",
       "no step the simulator can fail is named 'execquery' (did you mean 'ExecQuery'?)"},
      {"", "no step the simulator can fail is named ''"},
      {"ExecQuery:1", "must be ExecQuery (it takes no target)"},
      {"Next:0", "must be Next or Next:N with N a whole number from 1"},
      {"Next:01", "must be Next or Next:N"},
      {"DriveLayout:", "must be DriveLayout or DriveLayout:N"},
      {"DriveLayout:-1", "must be DriveLayout or DriveLayout:N"},
      {"ReadFile:1@", "must be ReadFile, ReadFile:N or ReadFile:N@S"},
      {"ReadFile:1@S", "must be ReadFile, ReadFile:N or ReadFile:N@S"},
      {"VolumeDiskExtents:d", "must be VolumeDiskExtents or VolumeDiskExtents:L"},
      {"DeviceIoControl:Firmware", "must be DeviceIoControl or DeviceIoControl:FirmwareMethod"},
      {"Get:", "must be Get or Get:Name"},
      {"ChildExit:3", "must be ChildExit:N=K"},
      {"ChildExit:0=1", "must be ChildExit:N=K"},
      {"ChildExit:1=4294967296", "must be ChildExit:N=K"},
      {"ChildExit:2=5", "a second ChildExit for child 2"},
      {"ChildExit:01=1", "must be ChildExit:N=K"},
      {"ChildExit:1=01", "must be ChildExit:N=K"},
      {"PowerCut:01", "must be PowerCut:N"},
      {"ReadFile:0@0100", "must be ReadFile, ReadFile:N or ReadFile:N@S"},
      {"PowerCut", "must be PowerCut:N"},
      {"PowerCut:1=2", "must be PowerCut:N"},
  };
  for (const auto& r : refused) {
    EXPECT_THAT(LoaderSays(r.fault),
                testing::StartsWith(std::string("f.json: key 'faults[1]': ") + r.message))
        << "fault '" << r.fault << "'";
  }
}

// The operations the Faults table of docs/machine-profile.md names in its first column.
std::set<std::string> DocumentedOperations() {
  const std::string doc =
      sim::ReadHostFile(std::filesystem::path(CS_SOURCE_DIR) / "docs" / "machine-profile.md")
          .value_or("");
  std::set<std::string> names;
  const std::size_t start = doc.find("\n## Faults\n");
  const std::size_t end = doc.find("\n## ", start + 1);
  for (std::size_t line = doc.find("\n| `", start); line < end;
       line = doc.find("\n| `", line + 1)) {
    const std::size_t cellEnd = doc.find(" |", line + 3);
    for (std::size_t tick = doc.find('`', line); tick < cellEnd;
         tick = doc.find('`', doc.find('`', tick + 1) + 1)) {
      const std::string fault = doc.substr(tick + 1, doc.find('`', tick + 1) - tick - 1);
      names.insert(fault.substr(0, fault.find(':')));
    }
  }
  return names;
}

TEST(FaultList, IsTheOneTheDocsFaultTableLists) {
  std::set<std::string> listed;
  for (const sim::FaultOperation& o : sim::FaultOperations()) listed.insert(o.name);
  const std::set<std::string> documented = DocumentedOperations();
  EXPECT_EQ(documented, listed) << "docs/machine-profile.md's Faults table and "
                                   "sim/profile/fault_list.cpp name different operations";
}

using testing_support::FileBytes;
using testing_support::SimMachine;

// "ReadFile:0@3" fails the reads of drive 0 whose bytes include its sector 3, and no others.
TEST(ReadFileFault, FailsOnlyTheReadsThatIncludeItsSector) {
  sim::Profile profile = sim::DefaultProfile();
  profile.faults = {"ReadFile:0@3"};
  SimMachine m(profile);
  const struct {
    int drive;
    std::uint64_t offset;
    std::uint32_t size;
    bool fails;
  } reads[] = {{0, 1024, 512, false}, {0, 1024, 1024, true}, {0, 1536, 512, true},
               {0, 0, 4096, true},    {0, 2048, 512, false}, {1, 1536, 512, false}};
  for (const auto& r : reads) {
    std::vector<std::uint8_t> buffer(r.size);
    std::uint32_t read = 0, error = 0;
    const bool ok = sim::ReadDisk(*m, sim::FindDriveDisk(*m, r.drive), r.offset, buffer.data(),
                                  r.size, &read, &error);
    EXPECT_EQ(!ok, r.fails) << "drive " << r.drive << ", " << r.size << " bytes at " << r.offset
                            << ": read " << read << ", error " << error;
  }
}

struct ChildExitCase {
  const char* name;
  std::size_t child;  // the N of "ChildExit:N=K"; the power is cut after it in both runs
  std::uint32_t code;
  std::vector<std::string> faults;
  std::function<std::string(sim::Machine&)> trace;  // what the child's program changes
};

struct ChildExitRun {
  std::vector<sim::TranscriptEntry> children;
  std::string before, after;  // the trace before and after the run
};

ChildExitRun RunToChild(const ChildExitCase& c, bool faulted) {
  sim::Profile profile = sim::DefaultProfile();
  profile.faults = {"PowerCut:" + std::to_string(c.child)};
  if (faulted) profile.faults.insert(profile.faults.end(), c.faults.begin(), c.faults.end());
  SimMachine m(profile);
  ChildExitRun run;
  run.before = c.trace(*m);
  sim::RunProduct(*m, L"");
  run.after = c.trace(*m);
  for (const sim::TranscriptEntry& e : m->transcript()) {
    if (e.kind == "run") run.children.push_back(e);
  }
  return run;
}

// The default notebook's 7th child writes the storage tool's report through cmd.exe's
// redirection; its 8th is diskpart with the script that cleans disk 1.
TEST(ChildExitFault, EndsOnlyThatChildWithItsCodeAndItsProgramChangesNothing) {
  const ChildExitCase cases[] = {
      {"cmd.exe redirecting the report",
       7,
       4294967295u,
       {"ChildExit:99=1", "ChildExit:7=4294967295"},
       [](sim::Machine& m) { return FileBytes(m, L"C:\\Windows\\Temp\\TRSTCliLog.txt"); }},
      {"diskpart cleaning disk 1", 8, 5, {"ChildExit:8=5"}, [](sim::Machine& m) {
         return "disk 1 style " + std::to_string(sim::ReadDiskLayout(m, 1).style) +
                ", diskpart runs " + std::to_string(sim::Diskpart(m).runs.size());
       }}};
  for (const ChildExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ChildExitRun plain = RunToChild(c, false);
    const ChildExitRun faulted = RunToChild(c, true);
    ASSERT_EQ(plain.children.size(), c.child);
    ASSERT_EQ(faulted.children.size(), c.child);
    for (std::size_t i = 0; i < c.child; ++i) {
      const sim::TranscriptEntry& want = plain.children[i];
      const sim::TranscriptEntry& got = faulted.children[i];
      EXPECT_EQ(got.program + L" " + got.parameters, want.program + L" " + want.parameters)
          << "child " << i + 1;
      EXPECT_EQ(got.value, i + 1 == c.child ? c.code : want.value) << "child " << i + 1;
    }
    EXPECT_NE(plain.after, plain.before) << "the child's program left no trace to look for";
    EXPECT_EQ(faulted.after, faulted.before) << "the child's program ran";
  }
}

}  // namespace
