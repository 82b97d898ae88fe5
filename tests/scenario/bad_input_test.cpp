// Whole runs on the default notebook with one kind of bad input each: what the run log ends
// with, the exit code, and which outside programs ran. These are the cases the README's
// "Bad input" table points at.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/partition_table.h"
#include "sim/harness/run.h"
#include "tests/support/sim_fixture.h"

using testing::HasSubstr;
using testing::Not;

using testing_support::FileBytes;
using testing_support::SimMachine;
using testing_support::TempDir;

namespace {

// kRefused: the last line says why and that no disk changed; no "End process...".
enum class Ends { kEmptyLog, kNotExist, kEndProcess, kNoLogFile, kRefused };

struct BadInputCase {
  const char* name;
  std::function<void(sim::Profile&, const std::filesystem::path& scratch)> profile;
  std::function<void(sim::Machine&)> damage;  // after the machine is laid out, before the run
  std::wstring commandLine;
  int exitCode;
  Ends ends;
  bool provisions;                         // the storage tool and diskpart run
  std::vector<std::wstring> inParameters;  // texts some child's parameters must hold
};

std::string Report(const std::filesystem::path& dir, const std::string& name,
                   const std::string& bytes) {
  const std::filesystem::path path = dir / name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

// Overwrites bytes of the "Recovery" partition of the default notebook's disk 0.
std::function<void(sim::Machine&)> DamageRecovery(std::uint64_t at, std::string bytes) {
  return [at, bytes](sim::Machine& m) {
    for (const sim::PartitionSummary& part : sim::ListPartitions(m, 0)) {
      if (part.volume.label && *part.volume.label == L"Recovery") {
        ASSERT_TRUE(sim::WriteImage(m, 0, part.offset + at, bytes.data(), bytes.size()))
            << "disk 0 at " << part.offset + at;
        return;
      }
    }
    FAIL() << "no Recovery partition on disk 0";
  };
}

std::string U64(std::uint64_t v) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

std::vector<BadInputCase> Cases() {
  const auto none = [](sim::Profile&, const std::filesystem::path&) {};
  const auto report = [](const std::string& bytes) {
    return [bytes](sim::Profile& p, const std::filesystem::path& dir) {
      p.storage_report = Report(dir, "report.txt", bytes);
    };
  };
  const std::string longDir = [] {
    std::string d = "C:";
    for (int i = 0; i < 40; ++i) d += "\\Folder" + std::to_string(i);
    return d;
  }();
  return {
      {"report_empty", report(""), nullptr, L"", 2, Ends::kRefused, false, {L"RSTCLI64.exe -I > "}},
      {"report_noise",
       report(std::string("\x00\xff\x1b--END DEVICE\r\r\nID:\n\xe9\x80Size: ", 30)),
       nullptr,
       L"",
       2,
       Ends::kRefused,
       false,
       {L"RSTCLI64.exe -I > "}},
      {"report_block_cut_before_model",
       report("--END DEVICE INFORMATION--\nID:                0-7-0-0\n"
              "Size:              9999999999999999999 GB\n"),
       nullptr,
       L"",
       2,
       Ends::kRefused,
       false,
       {L"RSTCLI64.exe -I > "}},
      {"report_sizes_out_of_range",
       report("--END DEVICE INFORMATION--\nID:                big\n"
              "Size:              99999999999 GB\nModel:             A\n"
              "ID:                neg\nSize:              -99999999999 GB\nModel:             B\n"),
       nullptr,
       L"",
       2,
       Ends::kRefused,
       false,
       {L"RSTCLI64.exe -I > "}},
      {"recovery_boot_sector_zeroed",
       none,
       DamageRecovery(0, std::string(512, '\0')),
       L"",
       1,
       Ends::kNotExist,
       false,
       {}},
      {"recovery_ntfs_sector_size_zero",
       none,
       DamageRecovery(0x0B, std::string(2, '\0')),
       L"",
       1,
       Ends::kNotExist,
       false,
       {}},
      {"recovery_ntfs_file_table_beyond_the_disk",
       none,
       DamageRecovery(0x30, U64(0x7FFFFFFFFFFFFFFFull)),
       L"",
       1,
       Ends::kNotExist,
       false,
       {}},
      {"recovery_ntfs_record_size_huge",
       none,
       DamageRecovery(0x40, "\x7f"),
       L"",
       1,
       Ends::kNotExist,
       false,
       {}},
      {"storage_tool_missing",
       [](sim::Profile& p, const std::filesystem::path&) { p.storage_tool = false; },
       nullptr,
       L"",
       2,
       Ends::kRefused,
       false,
       {L"RSTCLI64.exe -I > "}},
      {"temp_folder_missing",
       [](sim::Profile& p, const std::filesystem::path&) { p.temp_folder = false; },
       nullptr,
       L"",
       2,
       Ends::kNoLogFile,
       false,
       {L"RSTCLI64.exe -I > "}},
      {"windows_folder_over_260_characters",
       [longDir](sim::Profile& p, const std::filesystem::path&) {
         p.windows_dir = sim::FromUtf8(longDir);
         p.system_dir = p.windows_dir + L"\\system32";
       },
       nullptr,
       L"",
       0,
       Ends::kEndProcess,
       true,
       {sim::FromUtf8("/c " + longDir + "\\Temp\\RSTCLI64.exe -M --delete-all-metadata"),
        sim::FromUtf8("/s \"" + longDir + "\\Temp\\TScriptCreate2ndHDD.txt\"")}},
      {"command_line_of_5000_characters",
       none,
       nullptr,
       std::wstring(5000, L'x') + L" enhanced",
       0,
       Ends::kEndProcess,
       true,
       {L"--mode enhanced"}},
      {"com_initialize_fails",
       [](sim::Profile& p, const std::filesystem::path&) { p.faults = {"CoInitializeEx"}; },
       nullptr,
       L"",
       2,
       Ends::kRefused,
       false,
       {}},
      {"wmi_connect_fails",
       [](sim::Profile& p, const std::filesystem::path&) { p.faults = {"ConnectServer"}; },
       nullptr,
       L"",
       1,
       Ends::kEmptyLog,
       false,
       {}},
      {"wmi_query_fails",
       [](sim::Profile& p, const std::filesystem::path&) { p.faults = {"ExecQuery"}; },
       nullptr,
       L"",
       1,
       Ends::kEmptyLog,
       false,
       {}},
      {"wmi_enumeration_fails_at_the_second_disk",
       [](sim::Profile& p, const std::filesystem::path&) { p.faults = {"Next:2"}; },
       nullptr,
       L"",
       0,
       Ends::kEndProcess,
       false,
       {}},
      {"firmware_device_missing",
       [](sim::Profile& p, const std::filesystem::path&) { p.firmware.reset(); },
       nullptr,
       L"",
       0,
       Ends::kEndProcess,
       false,
       {}},
      {"firmware_method_fails",
       [](sim::Profile& p, const std::filesystem::path&) {
         p.faults = {"DeviceIoControl:FirmwareMethod"};
       },
       nullptr,
       L"",
       0,
       Ends::kEndProcess,
       false,
       {}},
      {"drive_layout_fails",
       [](sim::Profile& p, const std::filesystem::path&) { p.faults = {"DriveLayout:0"}; },
       nullptr,
       L"",
       1,
       Ends::kNotExist,
       false,
       {}},
      {"drive_reads_fail",
       [](sim::Profile& p, const std::filesystem::path&) { p.faults = {"ReadFile:0"}; },
       nullptr,
       L"",
       1,
       Ends::kNotExist,
       false,
       {}},
      {"memory_query_fails",
       [](sim::Profile& p, const std::filesystem::path&) { p.memory_kb.reset(); },
       nullptr,
       L"",
       0,
       Ends::kEndProcess,
       true,
       {L"--cache-size 27.5"}},
  };
}

class BadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, EndsAsTheTableSays) {
  const BadInputCase& c = GetParam();
  TempDir scratch;
  sim::Profile profile = sim::DefaultProfile();
  c.profile(profile, scratch.path());
  SimMachine m(profile);
  if (c.damage) c.damage(*m);
  if (HasFatalFailure()) return;

  EXPECT_EQ(sim::RunProduct(*m, c.commandLine), c.exitCode);

  const std::string log = FileBytes(*m, profile.windows_dir + L"\\Temp\\TempProc.log");
  switch (c.ends) {
    case Ends::kNoLogFile:
      EXPECT_EQ(log, "<missing>");
      break;
    case Ends::kEmptyLog:
      EXPECT_EQ(log, "");
      break;
    case Ends::kNotExist:
      EXPECT_THAT(log, HasSubstr("\t[Debug]: Not exist 'Recovery' partition on Disk[0]\r\n"));
      EXPECT_THAT(log, Not(HasSubstr("End process...")));
      break;
    case Ends::kRefused: {
      // The last line says why, and that no disk changed.
      const std::size_t start = log.rfind('\n', log.size() >= 2 ? log.size() - 2 : 0);
      const std::string last = log.substr(start == std::string::npos ? 0 : start + 1);
      EXPECT_THAT(last, HasSubstr("\t[Debug]: ")) << log;
      EXPECT_THAT(last, HasSubstr("no disk changed")) << log;
      EXPECT_THAT(log, Not(HasSubstr("End process...")));
      break;
    }
    case Ends::kEndProcess:
      ASSERT_GE(log.size(), 16u);
      EXPECT_EQ(log.substr(log.size() - 16), "End process...\r\n") << log;
      break;
  }

  int tool = 0, diskpart = 0;
  std::wstring all;
  for (const sim::TranscriptEntry& e : m->transcript()) {
    if (e.kind != "run") continue;
    all += e.parameters + L"\n";
    if (e.parameters.find(L"--accelerate") != std::wstring::npos ||
        e.parameters.find(L"-M --delete-all-metadata") != std::wstring::npos) {
      ++tool;
    }
    if (e.program == profile.system_dir + L"\\diskpart.exe") ++diskpart;
  }
  EXPECT_EQ(tool, c.provisions ? 3 : 0) << sim::ToUtf8(all);
  EXPECT_EQ(diskpart, c.provisions ? 2 : 0) << sim::ToUtf8(all);
  for (const std::wstring& text : c.inParameters) {
    EXPECT_THAT(all, HasSubstr(text)) << sim::ToUtf8(text) << " not in\n" << sim::ToUtf8(all);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
