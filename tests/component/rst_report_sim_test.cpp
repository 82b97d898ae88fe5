// The device report through the simulated notebook: cmd.exe, the storage tool and the file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "environment/run_environment.h"
#include "sim/core/text.h"
#include "sim/profile/profile.h"
#include "sim/programs/cmd_exe.h"
#include "sim/programs/std_streams.h"
#include "sim/programs/storage_tool.h"
#include "tests/support/records.h"
#include "tests/support/rst_report_text.h"
#include "tests/support/run_environment_setup.h"
#include "tests/support/sim_fixture.h"
#include "tools/rst_report.h"

using testing::HasSubstr;

namespace {

using testing_support::Ascii;
using testing_support::Block;
using testing_support::Blocked;
using testing_support::FileBytes;
using testing_support::kMarker;
using testing_support::L_;
using testing_support::Show;
using testing_support::SimMachine;

const std::wstring kReport = L"C:\\Windows\\Temp\\TRSTCliLog.txt";

TEST(RstReportSim, DefaultNotebookEndToEnd) {
  SimMachine m(sim::DefaultProfile());
  testing_support::DetectedRunEnvironment();
  RstDeviceList devices;
  ASSERT_TRUE(ReadRstDeviceReport(devices)) << "report: " << FileBytes(*m, kReport);

  ASSERT_EQ(m->transcript().size(), 1u);
  const sim::TranscriptEntry& run = m->transcript()[0];
  EXPECT_EQ(run.kind, "run");
  EXPECT_EQ(run.program, L"C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(run.parameters,
            L"/c C:\\Windows\\Temp\\RSTCLI64.exe -I > \"C:\\Windows\\Temp\\TRSTCliLog.txt\"");
  EXPECT_EQ(run.value, 0u);

  // The report stays in Temp, as the tool printed it, and the tool ran once with "-I".
  EXPECT_EQ(FileBytes(*m, kReport), sim::BuildStorageReport(*m));
  EXPECT_EQ(sim::StorageTool(*m).commands, std::vector<std::string>{"-I"});

  ASSERT_EQ(devices.size(), 2u);
  EXPECT_THAT(devices[0], testing_support::IsDefaultNotebookSystemDisk());
  EXPECT_EQ(devices[1].ID, L"0-1-0-0");
  EXPECT_EQ(devices[1].Size, 32);
  EXPECT_EQ(devices[1].FreeSize, 32);
  EXPECT_EQ(devices[1].SystemDisk, 0);
  EXPECT_EQ(devices[1].Model, L"SanDisk SSD i100 32GB");
  EXPECT_EQ(m->open_handles(), 0u);
}

TEST(RstReportSim, ThirtyTwoBitWindowsRunsTheThirtyTwoBitTool) {
  sim::Profile p = sim::DefaultProfile();
  p.windows_bits = 32;
  SimMachine m(p);
  testing_support::DetectedRunEnvironment();
  ASSERT_EQ(g_RunEnvironment.bIs64BitOS, 0);
  RstDeviceList devices;
  ASSERT_TRUE(ReadRstDeviceReport(devices)) << "report: " << FileBytes(*m, kReport);
  ASSERT_EQ(m->transcript().size(), 1u);
  EXPECT_EQ(m->transcript()[0].parameters,
            L"/c C:\\Windows\\Temp\\RSTCLI.exe -I > \"C:\\Windows\\Temp\\TRSTCliLog.txt\"");
  EXPECT_EQ(m->transcript()[0].value, 0u);
  EXPECT_EQ(devices.size(), 2u);
}

TEST(RstReportSim, MissingToolLeavesAnEmptyReportAndNoRecords) {
  sim::Profile p = sim::DefaultProfile();
  p.storage_tool = false;
  SimMachine m(p);
  ASSERT_TRUE(m->WriteFile(kReport, "stale report of an earlier run\r\n", false))
      << sim::ToUtf8(kReport);
  testing_support::DetectedRunEnvironment();
  RstDeviceList devices;
  EXPECT_TRUE(ReadRstDeviceReport(devices)) << "report: " << FileBytes(*m, kReport);
  EXPECT_THAT(devices, testing::IsEmpty());
  ASSERT_EQ(m->transcript().size(), 1u);
  EXPECT_EQ(m->transcript()[0].value, sim::kCmdNotRecognized);
  EXPECT_EQ(FileBytes(*m, kReport), "");
  EXPECT_THAT(sim::Streams(*m).stderr_text,
              HasSubstr("'C:\\Windows\\Temp\\RSTCLI64.exe' is not recognized"))
      << sim::Streams(*m).stderr_text;
}

TEST(RstReportSim, NoTempFolderGivesFalseAndLeavesTheListAlone) {
  sim::Profile p = sim::DefaultProfile();
  p.temp_folder = false;
  SimMachine m(p);
  testing_support::DetectedRunEnvironment();
  RstDeviceList devices(1);
  devices[0].ID = L"kept";
  EXPECT_FALSE(ReadRstDeviceReport(devices)) << "report: " << FileBytes(*m, kReport);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].ID, L"kept");
  ASSERT_EQ(m->transcript().size(), 1u);
  EXPECT_NE(m->transcript()[0].value, 0u);
}

TEST(RstReportSim, ProfileReportIsPrintedVerbatim) {
  testing_support::TempDir files;
  const std::string report =
      "Some banner\n--END DEVICE INFORMATION--\n"
      "ID:                2-0-0-0\n"
      "Size:              119.24 GB\n"
      "Model:             Verbatim SSD\n";
  const auto reportFile = files.path() / "report.txt";
  std::ofstream(reportFile, std::ios::binary) << report;
  sim::Profile p = sim::DefaultProfile();
  p.storage_report = reportFile;
  SimMachine m(p);
  testing_support::DetectedRunEnvironment();
  RstDeviceList devices;
  ASSERT_TRUE(ReadRstDeviceReport(devices)) << "report: " << FileBytes(*m, kReport);
  EXPECT_EQ(FileBytes(*m, kReport), report);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].ID, L"2-0-0-0");
  EXPECT_EQ(devices[0].Size, 119);
}

TEST(RstReportSim, CommandFailureIsNotLookedAt) {
  sim::Profile p = sim::DefaultProfile();
  p.faults.push_back("ShellExecuteExW");
  SimMachine m(p);
  ASSERT_TRUE(m->WriteFile(kReport,
                           "--END DEVICE INFORMATION--\r\nID:                old\r\n"
                           "Model:             old\r\n",
                           false))
      << sim::ToUtf8(kReport);
  testing_support::DetectedRunEnvironment();
  RstDeviceList devices;
  // cmd.exe did not start; whatever the file holds is read.
  EXPECT_TRUE(ReadRstDeviceReport(devices)) << "report: " << FileBytes(*m, kReport);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].ID, L"old");
}

// The report file read through the simulated file system.
TEST(RstReportFile, ReadsAFileInChunksLikeTheBytesInMemory) {
  testing_support::SimMachine m;
  // Long enough to cross several read chunks, with CR LF split across chunk ends somewhere.
  std::wstring report = L"--CONTROLLER INFORMATION--\n" + L_(L"ID:", L"0") + kMarker;
  RstDeviceList expected;
  for (int i = 0; i < 2000; ++i) {
    const std::wstring id = std::to_wstring(i);
    report += Block(id, std::to_wstring(i) + L".5 GB", L"Model " + id);
    expected.push_back(Blocked(id, i, L"Model " + id));
  }
  std::string crlf;
  for (char ch : Ascii(report)) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  ASSERT_GT(crlf.size(), 3u * 65536u);
  ASSERT_TRUE(m->WriteFile(L"C:\\Windows\\Temp\\r.txt", crlf, false))
      << sim::ToUtf8(L"C:\\Windows\\Temp\\r.txt");
  RstDeviceList list;
  EXPECT_TRUE(ReadRstReportFile(L"C:\\Windows\\Temp\\r.txt", list))
      << "file: " << FileBytes(*m, L"C:\\Windows\\Temp\\r.txt");
  EXPECT_EQ(list.size(), expected.size());
  EXPECT_EQ(Show(list), Show(expected));
  EXPECT_EQ(m->open_handles(), 0u);
}

TEST(RstReportFile, MissingFileGivesFalseAndLeavesTheListAlone) {
  testing_support::SimMachine m;
  RstDeviceList list{Blocked(L"old", 1, L"Old")};
  EXPECT_FALSE(ReadRstReportFile(L"C:\\Windows\\Temp\\TRSTCliLog.txt", list))
      << "file: " << FileBytes(*m, L"C:\\Windows\\Temp\\TRSTCliLog.txt");
  EXPECT_EQ(Show(list), Show({Blocked(L"old", 1, L"Old")}));
  EXPECT_EQ(m->open_handles(), 0u);
}

TEST(RstReportFile, EmptyFileGivesTrueAndNoRecords) {
  testing_support::SimMachine m;
  ASSERT_TRUE(m->WriteFile(L"C:\\Windows\\Temp\\TRSTCliLog.txt", "", false))
      << sim::ToUtf8(L"C:\\Windows\\Temp\\TRSTCliLog.txt");
  RstDeviceList list;
  EXPECT_TRUE(ReadRstReportFile(L"C:\\Windows\\Temp\\TRSTCliLog.txt", list))
      << "file: " << FileBytes(*m, L"C:\\Windows\\Temp\\TRSTCliLog.txt");
  EXPECT_THAT(list, testing::IsEmpty());
}

}  // namespace
