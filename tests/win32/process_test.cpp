// RunProgram against the real shell under Wine, with a helper child that records what it got.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "environment/run_environment.h"
#include "tests/support/win32_support.h"
#include "tools/process_runner.h"

namespace {

class Win32RunProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunEnvironment();
    ResolveRunPaths();
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    record_ = std::wstring(temp) + L"cs-record-child.bin";
    ::DeleteFileW(record_.c_str());
    ::SetEnvironmentVariableW(L"CS_RECORD_FILE", record_.c_str());
    ::SetEnvironmentVariableW(L"CS_RECORD_EXIT", L"0");
  }
  void TearDown() override {
    ::DeleteFileW(record_.c_str());
    ::SetEnvironmentVariableW(L"CS_RECORD_FILE", nullptr);
    ::SetEnvironmentVariableW(L"CS_RECORD_EXIT", nullptr);
  }
  static std::wstring Child() {
    return win32_support::BinaryDir() + L"\\tests\\cs_record_child.exe";
  }
  // The last start's record; "<missing>" fields when the child never ran.
  win32_support::ChildRecord Recorded() const {
    const auto records = win32_support::ReadChildRecords(record_);
    if (records.empty()) return {L"<missing>", L"<missing>", L"<missing>", L"<missing>"};
    return records.back();
  }
  std::wstring record_;
};

TEST_F(Win32RunProgram, HelperIsBuilt) {
  ASSERT_NE(::GetFileAttributesW(Child().c_str()), INVALID_FILE_ATTRIBUTES) << "no helper";
}

TEST_F(Win32RunProgram, ExitCodeComesBack) {
  for (const wchar_t* code : {L"5", L"0", L"1", L"259", L"3221225477"}) {
    ::SetEnvironmentVariableW(L"CS_RECORD_EXIT", code);
    EXPECT_EQ(RunProgram(Child(), L"x"), std::wcstoul(code, nullptr, 10)) << code;
  }
}

TEST_F(Win32RunProgram, ParameterTextReachesTheChildUnchanged) {
  const std::wstring texts[] = {
      L"/c \"\"C:\\Windows\\Temp\\RSTCLI64.exe\" -I > \"C:\\Windows\\Temp\\TRSTCliLog.txt\"\"",
      L"-i check",
      L"/s \"C:\\a folder\\TScriptCreate2ndHDD.txt\"",
      L"a  b   c >> d 2>&1",
  };
  for (const std::wstring& text : texts) {
    ::DeleteFileW(record_.c_str());
    ASSERT_EQ(RunProgram(Child(), text), 0u);
    const win32_support::ChildRecord r = Recorded();
    // The shell puts the program in front; what follows it is the text as passed.
    ASSERT_GE(r.commandLine.size(), text.size()) << r.commandLine;
    EXPECT_EQ(r.commandLine.substr(r.commandLine.size() - text.size()), text) << r.commandLine;
    const std::wstring front = r.commandLine.substr(0, r.commandLine.size() - text.size());
    EXPECT_NE(front.find(L"cs_record_child"), std::wstring::npos) << r.commandLine;
    if (&text == &texts[0]) {
      std::printf("Command line the child got: %ls\n", r.commandLine.c_str());
    }
  }
}

TEST_F(Win32RunProgram, ChildStartsInTheSystemFolder) {
  ASSERT_EQ(RunProgram(Child(), L"where"), 0u);
  const win32_support::ChildRecord r = Recorded();
  std::wstring folder = r.folder;
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  EXPECT_EQ(_wcsicmp(folder.c_str(), g_RunEnvironment.szSystemDir.c_str()), 0)
      << "child folder " << testing::PrintToString(r.folder) << ", system folder "
      << testing::PrintToString(g_RunEnvironment.szSystemDir);
}

// Every program the product starts runs hidden: a window on the line would wait for a click.
// The helper stands in under each name, started from a folder of its own.
TEST_F(Win32RunProgram, EveryStandInIsStartedHidden) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"cs-stand-ins";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  for (const wchar_t* name : {L"InstQORWMIACPISrv64.exe", L"cmd.exe", L"diskpart.exe"}) {
    const std::wstring standIn = folder + L"\\" + name;
    ASSERT_TRUE(::CopyFileW(Child().c_str(), standIn.c_str(), FALSE)) << ::GetLastError();
    ::DeleteFileW(record_.c_str());
    EXPECT_EQ(RunProgram(standIn, L"/s x"), 0u);
    const win32_support::ChildRecord r = Recorded();
    ::DeleteFileW(standIn.c_str());
    EXPECT_EQ(_wcsicmp(r.module.c_str(), standIn.c_str()), 0) << testing::PrintToString(r.module);
    EXPECT_EQ(r.showWindow, std::to_wstring(SW_HIDE)) << testing::PrintToString(name);
  }
  ::RemoveDirectoryW(folder.c_str());
}

TEST_F(Win32RunProgram, MissingProgramGivesAStartErrorWithoutRunningAnything) {
  const std::wstring missing = win32_support::BinaryDir() + L"\\tests\\no-such-program.exe";
  const std::uint32_t result = RunProgram(missing, L"-i check");
  std::printf("Wine's start error for a missing program: %lu\n",
              static_cast<unsigned long>(result));
  // Windows gives ERROR_FILE_NOT_FOUND. Wine, with no display for the error message it tries
  // to show, leaves the message box's failure (1400) as the last error. Either way the start
  // failed, and the result is a start error, not an exit code of 0.
  EXPECT_NE(result, 0u);
  EXPECT_NE(result, static_cast<std::uint32_t>(STILL_ACTIVE));
  EXPECT_EQ(win32_support::ReadBytes(record_), "<missing>");
}

}  // namespace
