// The device report against the real backend: Wine's cmd.exe runs a stand-in storage tool and
// redirects its output into TRSTCliLog.txt, which ReadRstDeviceReport then reads.
#include "tools/rst_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "environment/run_environment.h"
#include "tests/support/records.h"
#include "tests/support/run_environment_setup.h"
#include "tests/support/win32_support.h"
#include "tools/process_runner.h"

using testing::HasSubstr;

namespace {

class Win32RstReport : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::DetectedRunEnvironment();
    const std::wstring temp = g_RunEnvironment.szWindowsDir + L"\\Temp";
    ::CreateDirectoryW(temp.c_str(), nullptr);
    tool_ = temp + (g_RunEnvironment.bIs64BitOS ? L"\\RSTCLI64.exe" : L"\\RSTCLI.exe");
    report_ = temp + L"\\TRSTCliLog.txt";
    ::DeleteFileW(tool_.c_str());
    ::DeleteFileW(report_.c_str());
  }
  void TearDown() override {
    ::DeleteFileW(tool_.c_str());
    ::DeleteFileW(report_.c_str());
  }
  std::wstring tool_, report_;
};

TEST_F(Win32RstReport, RealCmdRedirectsTheToolsReportAndTheRecordsComeOut) {
  const std::wstring helper = win32_support::BinaryDir() + L"\\tests\\cs_fake_rstcli.exe";
  ASSERT_TRUE(::CopyFileW(helper.c_str(), tool_.c_str(), FALSE))
      << "cannot copy the helper, error " << ::GetLastError();

  RstDeviceList devices;
  ASSERT_TRUE(ReadRstDeviceReport(devices)) << "error " << ::GetLastError();

  // The report is left in Temp with the line ends the tool's text-mode output gave it.
  const std::string bytes = win32_support::ReadBytes(report_);
  EXPECT_THAT(bytes, HasSubstr("--END DEVICE INFORMATION--\r\n\r\nID:                0-0-0-0\r\n"));

  ASSERT_EQ(devices.size(), 2u) << bytes;
  EXPECT_THAT(devices[0], testing_support::IsDefaultNotebookSystemDisk());
  EXPECT_EQ(devices[1].ID, L"0-1-0-0");
  EXPECT_EQ(devices[1].Size, 29);
  EXPECT_EQ(devices[1].FreeSize, 29);
  EXPECT_EQ(devices[1].SystemDisk, 0);
  EXPECT_EQ(devices[1].SerialNumber, L"131572400123");
  // The model's last byte goes through the prefix's ANSI code page, whatever that is.
  wchar_t converted[4] = {};
  ASSERT_EQ(::MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, converted, 4), 1);
  EXPECT_EQ(devices[1].Model, std::wstring(L"SSD caf") + converted[0]);
}

TEST_F(Win32RstReport, MissingToolLeavesAnEmptyReport) {
  RstDeviceList devices;
  EXPECT_TRUE(ReadRstDeviceReport(devices)) << "error " << ::GetLastError();
  EXPECT_THAT(devices, testing::IsEmpty());
  EXPECT_EQ(win32_support::ReadBytes(report_), "");
  // What Wine's cmd.exe answers for a program that does not exist.
  const std::uint32_t code =
      RunProgram(g_RunEnvironment.szCmdExePath, L"/c " + tool_ + L" -I > \"" + report_ + L"\"");
  EXPECT_EQ(code, 9009u);
}

TEST_F(Win32RstReport, MissingReportFileGivesFalse) {
  RstDeviceList devices(1);
  EXPECT_FALSE(ReadRstReportFile(report_ + L".none", devices)) << "error " << ::GetLastError();
  EXPECT_EQ(devices.size(), 1u);
}

}  // namespace
