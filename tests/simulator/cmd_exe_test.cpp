// The simulated cmd.exe and storage tool.
#include "sim/programs/cmd_exe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sim/core/text.h"
#include "sim/devices/physical_drive.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/partition_table.h"
#include "sim/harness/after_machine.h"
#include "sim/profile/profile.h"
#include "sim/programs/std_streams.h"
#include "sim/programs/storage_tool.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"
#include "tools/rst_report.h"

using testing::HasSubstr;
using testing::Not;

namespace {

using testing_support::FileBytes;
using testing_support::OrderFault;
using testing_support::SimMachine;

const std::wstring kCmd = L"C:\\Windows\\system32\\cmd.exe";
const std::wstring kLog = L"C:\\Windows\\Temp\\IntelRSTCli.log";

std::uint32_t Cmd(sim::Machine& m, const std::wstring& parameters) {
  const sim::Program* cmd = m.FindProgram(kCmd);
  EXPECT_NE(cmd, nullptr);
  return cmd == nullptr ? 99 : (*cmd)(m, parameters, L"C:\\Windows\\system32");
}

// A child that prints its parameters, one per line, and exits with 7.
void RegisterEchoArgs(sim::Machine& m, std::vector<std::wstring>* seen) {
  m.RegisterProgram(L"C:\\Tools\\Echo Args.exe",
                    [seen](sim::Machine& machine, const std::wstring& parameters,
                           const std::wstring&) -> std::uint32_t {
                      seen->push_back(parameters);
                      sim::WriteStdout(machine, "args=[" + sim::ToUtf8(parameters) + "]\r\n");
                      return 7;
                    });
  m.RegisterProgram(L"C:\\Windows\\system32\\where.exe",
                    [seen](sim::Machine& machine, const std::wstring& parameters,
                           const std::wstring&) -> std::uint32_t {
                      seen->push_back(L"where " + parameters);
                      sim::WriteStdout(machine, "here\r\n");
                      return 0;
                    });
}

TEST(SimCmd, EchoWithRedirections) {
  const struct {
    const char* name;
    std::string before;  // "<missing>": no file yet
    std::wstring parameters;
    std::string after;
  } cases[] = {
      {"> creates", "<missing>", L"/c echo hello > \"" + kLog + L"\"", "hello \r\n"},
      {"> overwrites", "old\r\n", L"/c echo hello > \"" + kLog + L"\"", "hello \r\n"},
      {">> appends", "old\r\n", L"/c echo #== AFTER ==# >> \"" + kLog + L"\"",
       "old\r\n#== AFTER ==# \r\n"},
      {">> creates", "<missing>", L"/c echo x>>\"" + kLog + L"\"", "x\r\n"},
      {"unquoted file", "old\r\n", L"/c echo a b >" + kLog, "a b \r\n"},
      {"upper-case switch and echo", "<missing>", L"/C ECHO Up>" + kLog, "Up\r\n"},
      {"bare echo", "<missing>", L"/c echo > " + kLog, "ECHO is on.\r\n"},
      {"quoted > is text", "<missing>", L"/c echo \"a > b\" > " + kLog, "\"a > b\" \r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    if (c.before != "<missing>") {
      ASSERT_TRUE(m->WriteFile(kLog, c.before, false)) << sim::ToUtf8(kLog);
    }
    EXPECT_EQ(Cmd(*m, c.parameters), 0u);
    EXPECT_EQ(FileBytes(*m, kLog), c.after);
  }
}

TEST(SimCmd, ChildOutputGoesToTheFileAndItsExitCodeIsCmds) {
  SimMachine m;
  std::vector<std::wstring> seen;
  RegisterEchoArgs(*m, &seen);
  EXPECT_EQ(Cmd(*m, L"/c \"C:\\Tools\\Echo Args.exe\" -x  \"q r\"  > \"" + kLog + L"\""), 7u);
  EXPECT_EQ(FileBytes(*m, kLog), "args=[-x  \"q r\"]\r\n");
  EXPECT_EQ(Cmd(*m, L"/c where me >> " + kLog), 0u);  // found in the system folder
  EXPECT_EQ(FileBytes(*m, kLog), "args=[-x  \"q r\"]\r\nhere\r\n");
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"-x  \"q r\"", L"where me"}));
}

TEST(SimCmd, WithoutRedirectionOutputIsCmdsOwn) {
  SimMachine m;
  EXPECT_EQ(Cmd(*m, L"/c echo to nowhere"), 0u);
  EXPECT_EQ(sim::Streams(*m).uncaptured_stdout, "to nowhere\r\n");
}

TEST(SimCmd, LastRedirectionTakesTheOutputEveryOneIsCreated) {
  SimMachine m;
  const std::wstring a = L"C:\\Windows\\Temp\\a.txt", b = L"C:\\Windows\\Temp\\b.txt";
  ASSERT_TRUE(m->WriteFile(a, "old a", false)) << sim::ToUtf8(a);
  EXPECT_EQ(Cmd(*m, L"/c echo x > " + a + L" > " + b), 0u);
  EXPECT_EQ(FileBytes(*m, a), "");
  EXPECT_EQ(FileBytes(*m, b), "x  \r\n");
}

TEST(SimCmd, MissingProgramGives9009AndStillCreatesTheFile) {
  const struct {
    const char* name;
    std::string before;
    const wchar_t* redirect;
    std::string after;
  } cases[] = {
      {">", "old\r\n", L" > \"", ""},
      {">>", "old\r\n", L" >> \"", "old\r\n"},
      {"> creates", "<missing>", L" > \"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    if (c.before != "<missing>") {
      ASSERT_TRUE(m->WriteFile(kLog, c.before, false)) << sim::ToUtf8(kLog);
    }
    EXPECT_EQ(
        Cmd(*m, L"/c C:\\Windows\\Temp\\Nothing.exe -I" + std::wstring(c.redirect) + kLog + L"\""),
        sim::kCmdNotRecognized);
    EXPECT_EQ(FileBytes(*m, kLog), c.after);
    EXPECT_EQ(sim::Streams(*m).stderr_text,
              "'C:\\Windows\\Temp\\Nothing.exe' is not recognized as an internal or external "
              "command,\r\noperable program or batch file.\r\n");
  }
}

TEST(SimCmd, BadCommandLines) {
  SimMachine m;
  // cmd.exe's own failure is 1: a switch it does not take here, a redirection without a file.
  EXPECT_EQ(Cmd(*m, L"/k echo x"), 1u);
  EXPECT_EQ(Cmd(*m, L"/c echo x >"), 1u);
  EXPECT_EQ(Cmd(*m, L"/c echo x > C:\\NoSuchFolder\\f.txt"), 1u);
  EXPECT_THAT(sim::Streams(*m).stderr_text, HasSubstr("cannot find the path"));
}

TEST(SimStorageTool, PresentUnderTheNameOfTheWindowsBits) {
  for (int bits : {64, 32}) {
    SCOPED_TRACE(bits);
    sim::Profile p;
    p.windows_bits = bits;
    SimMachine m(p);
    EXPECT_EQ(m->FindProgram(L"C:\\Windows\\Temp\\RSTCLI64.exe") != nullptr, bits == 64);
    EXPECT_EQ(m->FindProgram(L"C:\\Windows\\Temp\\RSTCLI.exe") != nullptr, bits == 32);
  }
  sim::Profile absent;
  absent.storage_tool = false;
  SimMachine m(absent);
  EXPECT_EQ(m->FindProgram(L"C:\\Windows\\Temp\\RSTCLI64.exe"), nullptr);
}

// Runs the tool through cmd.exe into the log and returns the exit code and what it printed.
std::pair<std::uint32_t, std::string> RunTool(sim::Machine& m, const std::wstring& arguments) {
  const std::uint32_t code =
      Cmd(m, L"/c C:\\Windows\\Temp\\RSTCLI64.exe " + arguments + L" > \"" + kLog + L"\"");
  return {code, FileBytes(m, kLog)};
}

class SimStorageToolRun : public ::testing::Test {
 protected:
  SimStorageToolRun() : m_(sim::DefaultProfile()) {}
  std::pair<std::uint32_t, std::string> Tool(const std::wstring& arguments) {
    return RunTool(*m_, arguments);
  }
  SimMachine m_;
};

// The default notebook's hard disk, 0-0-0-0, holds Windows and is listed as the system disk.
TEST(SimStorageTool, MakesTheCacheOnASystemDiskUnlessTheProfileSaysItRefuses) {
  for (const bool refuse : {true, false}) {
    SCOPED_TRACE(refuse ? "refuse_system_disk" : "by default");
    sim::Profile profile = sim::DefaultProfile();
    profile.storage_config.refuse_system_disk = refuse;
    SimMachine m(profile);
    const auto [code, said] = RunTool(*m, L"--accelerate --createCache --SSD 0-0-0-0");
    if (refuse) {
      EXPECT_EQ(code, sim::kRstRequestFailed) << said;
      EXPECT_THAT(sim::Streams(*m).stderr_text, HasSubstr("device 0-0-0-0 is a system disk"));
    } else {
      EXPECT_EQ(code, 0u) << said;
    }
    EXPECT_EQ(sim::StorageTool(*m).cache_device, refuse ? "" : "0-0-0-0");
    EXPECT_EQ(sim::FindDriveDisk(*m, 0), refuse ? 0 : -1) << "Windows sees the hard disk";
    // The next run's machine keeps the option. The disk images it names are not written here,
    // so its disks are laid out instead.
    nlohmann::json after = nlohmann::json::parse(sim::AfterMachineJson(*m));
    for (nlohmann::json& disk : after["disks"]) {
      disk.erase("image");
      disk["size_mb"] = 64;
    }
    EXPECT_EQ(sim::ParseProfile(after.dump(), "after-machine.json", m->root())
                  .storage_config.refuse_system_disk,
              refuse)
        << after.dump(2);
  }
}

TEST_F(SimStorageToolRun, VersionAndReportLayout) {
  auto [code, version] = Tool(L"-V");
  EXPECT_EQ(code, 0u);
  EXPECT_THAT(version, HasSubstr("Version:           "));

  auto [infoCode, report] = Tool(L"-I");
  EXPECT_EQ(infoCode, 0u);
  const std::size_t marker = report.find("--END DEVICE INFORMATION--\r\n");
  ASSERT_NE(marker, std::string::npos) << report;
  // The sections in the tool's order; a blank line follows the marker line.
  EXPECT_EQ(
      OrderFault(report, {"--CONTROLLER INFORMATION--\r\n", "--ARRAY INFORMATION--\r\n",
                          "--VOLUME INFORMATION--\r\n", "--END DEVICE INFORMATION--\r\n\r\nID:"}),
      "");
  // Each device line: the key at column 0, the value at index 19, CR LF.
  EXPECT_NE(report.find("\r\nID:                0-0-0-0\r\n"
                        "Type:              Disk\r\n"
                        "Disk Type:         SATA\r\n"
                        "State:             Normal\r\n"
                        "Size:              465.76 GB\r\n"
                        "Free Size:         0 GB\r\n"
                        "System Disk:       True\r\n"
                        "Usage:             Available\r\n"
                        "Serial Number:     TE85113Q0V8K3R\r\n"
                        "Model:             HGST HTS545050A7E380\r\n",
                        marker),
            std::string::npos)
      << report;
  EXPECT_EQ(OrderFault(report, {"ID:                0-0-0-0\r\n", "ID:                0-1-0-0\r\n"},
                       marker),
            "");
}

TEST_F(SimStorageToolRun, CacheConfiguration) {
  EXPECT_EQ(Tool(L"-M --delete-all-metadata").first, 0u);
  EXPECT_TRUE(sim::StorageTool(*m_).metadata_deleted) << FileBytes(*m_, kLog);

  auto [badId, badIdText] = Tool(L"--accelerate --createCache --SSD 9-9-9-9 --cache-size 23.5");
  EXPECT_EQ(badId, sim::kRstRequestFailed);
  // A refusal goes to standard error, as a console tool prints its errors: the redirected output
  // stays empty, and the account finds the words by the child's transcript line.
  EXPECT_EQ(badIdText, "");
  EXPECT_THAT(sim::Streams(*m_).stderr_text, HasSubstr("Error: device 9-9-9-9 not found\r\n"));
  for (const wchar_t* size : {L"32.001", L"1e300"}) {  // larger than the device
    EXPECT_EQ(
        Tool(std::wstring(L"--accelerate --createCache --SSD 0-1-0-0 --cache-size ") + size).first,
        sim::kRstRequestFailed)
        << sim::ToUtf8(size);
    const sim::StorageToolState::Refusal& refusal = sim::StorageTool(*m_).refusals.back();
    EXPECT_EQ(refusal.message,
              "Error: cache size " + sim::ToUtf8(size) + " GB exceeds device 0-1-0-0 (32.00 GB)");
    EXPECT_EQ(refusal.command,
              "--accelerate --createCache --SSD 0-1-0-0 --cache-size " + sim::ToUtf8(size));
  }
  EXPECT_EQ(Tool(L"--accelerate --setAccelConfig --disk-to-accel 0-0-0-0 --mode maximized").first,
            sim::kRstRequestFailed);  // no cache volume yet
  EXPECT_EQ(sim::StorageTool(*m_).cache_device, "");
  EXPECT_EQ(sim::FindDriveDisk(*m_, 1), 1) << "the SSD is physical drive 1";

  EXPECT_EQ(Tool(L"--accelerate --createCache --SSD 0-1-0-0 --cache-size 23.5").first, 0u);
  EXPECT_EQ(Tool(L"--accelerate --setAccelConfig --disk-to-accel 0-0-0-0 --mode enhanced").first,
            0u);
  const sim::StorageToolState& s = sim::StorageTool(*m_);
  EXPECT_EQ(s.cache_device, "0-1-0-0");
  EXPECT_EQ(s.cache_size, "23.5");
  EXPECT_EQ(s.accelerated_disk, "0-0-0-0");
  EXPECT_EQ(s.mode, "enhanced");

  const std::string report = Tool(L"-I").second;
  EXPECT_EQ(OrderFault(report, {"--VOLUME INFORMATION--",
                                "Type:              Cache\r\nSize:              23.50 GB\r\n",
                                "--END DEVICE INFORMATION--"}),
            "");
  const std::size_t volumes = report.find("--VOLUME INFORMATION--");
  const std::size_t marker = report.find("--END DEVICE INFORMATION--");
  // The SSD is now the cache's member, taken whole by the cache and the data volume, which holds
  // what the cache leaves: 32 - 23.5 GiB. Windows' drive 1 is that volume now.
  EXPECT_THAT(report, HasSubstr("ID:                0-1-0-0\r\n"));
  EXPECT_THAT(report.substr(volumes, marker - volumes),
              HasSubstr("Type:              Data\r\nSize:              8.50 GB\r\n"));
  EXPECT_THAT(report.substr(marker), HasSubstr("Usage:             Array member\r\n"));
  const int volume = sim::FindDriveDisk(*m_, 1);
  ASSERT_EQ(volume, 2);
  EXPECT_EQ(sim::DiskBytes(*m_, volume), 8704ull << 20);
  EXPECT_EQ(sim::ReadDiskLayout(*m_, volume).style, sim::DiskLayout::kRaw) << "a blank disk";
  EXPECT_THAT(report, HasSubstr("Accelerated Disk:  0-0-0-0\r\nAccel Mode:        enhanced\r\n"));
  // The product's parser still reads both devices from it, with their sizes.
  RstDeviceList devices;
  ParseRstReportBytes(report, devices);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].Size, 465);
  EXPECT_EQ(devices[1].Size, 32);
  EXPECT_EQ(devices[1].FreeSize, 0);

  EXPECT_EQ(Tool(L"--accelerate --createCache --SSD 0-1-0-0").first, sim::kRstRequestFailed);
  EXPECT_EQ(Tool(L"-M --delete-all-metadata").first, 0u);
  EXPECT_EQ(sim::StorageTool(*m_).cache_device, "");
  EXPECT_EQ(sim::FindDriveDisk(*m_, 1), 1) << "the data volume is gone, the SSD is back";
  EXPECT_EQ(Tool(L"--accelerate --createCache --SSD 0-1-0-0").first, 0u);
  EXPECT_EQ(sim::StorageTool(*m_).cache_size, "");
  EXPECT_EQ(sim::FindDriveDisk(*m_, 1), -1) << "the whole SSD is cache: no drive 1";
  const std::string whole = Tool(L"-I").second;
  EXPECT_THAT(whole, HasSubstr("Type:              Cache\r\nSize:              32.00 GB\r\n"));
  EXPECT_THAT(whole, HasSubstr("Free Size:         0 GB\r\nSystem Disk:       False\r\n"));
  EXPECT_EQ(Tool(L"-M --delete-all-metadata").first, 0u);
  const std::string cleared = Tool(L"-I").second;
  EXPECT_EQ(cleared.find("Cache"), cleared.find("Cache Support:")) << "no cache volume left";
  EXPECT_THAT(cleared, Not(HasSubstr("Array member")));
  EXPECT_THAT(cleared, HasSubstr("Free Size:         32.00 GB\r\n"));
}

TEST_F(SimStorageToolRun, UnknownCommandsAreUsageErrors) {
  for (const wchar_t* arguments :
       {L"", L"-X", L"-V -I", L"-M", L"--accelerate --createCache", L"--ssd 0-1-0-0",
        L"--accelerate --setAccelConfig --disk-to-accel 0-0-0-0 --mode fast",
        L"--accelerate --createCache --SSD 0-1-0-0 --mode maximized"}) {
    SCOPED_TRACE(sim::ToUtf8(arguments));
    const std::size_t before = sim::Streams(*m_).stderr_text.size();
    auto [code, text] = Tool(arguments);
    EXPECT_EQ(code, sim::kRstUsageError);
    EXPECT_EQ(text, "");
    EXPECT_THAT(sim::Streams(*m_).stderr_text.substr(before), HasSubstr("Usage:"));
  }
  EXPECT_EQ(sim::StorageTool(*m_).commands.size(), 8u);
}

}  // namespace
