// The entry logic on simulated machines: 64-bit detection, paths, COM and exit codes.
#include "app/entry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "environment/run_environment.h"
#include "sim/harness/run.h"
#include "sim/harness/run_files.h"
#include "tests/support/sim_fixture.h"

using testing_support::FileBytes;
using testing_support::SimMachine;

namespace {

// The default notebook, so that a run goes the whole way.
sim::Profile WithFaults(std::initializer_list<std::string> faults, int bits = 64) {
  sim::Profile p = sim::DefaultProfile();
  p.windows_bits = bits;
  p.faults = faults;
  return p;
}

struct DetectCase {
  const char* name;
  int bits;
  std::vector<std::string> faults;
  int expected;
};

class Detect64Bit : public ::testing::TestWithParam<DetectCase> {};

TEST_P(Detect64Bit, FollowsTheLookUpAndTheCallsError) {
  sim::Profile p;
  p.windows_bits = GetParam().bits;
  p.faults = GetParam().faults;
  SimMachine m(p);
  EXPECT_EQ(Detect64BitWindows(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Detect64Bit,
    ::testing::Values(DetectCase{"CallSucceeds", 64, {}, 1},
                      DetectCase{"CallFailsWith120", 32, {}, 0},
                      DetectCase{"CallFailsWithAnotherError", 64, {"GetSystemWow64DirectoryW"}, 1},
                      DetectCase{"AnotherErrorOn32Bit", 32, {"GetSystemWow64DirectoryW"}, 1},
                      DetectCase{
                          "FunctionAbsent", 64, {"GetProcAddress:GetSystemWow64DirectoryW"}, 0},
                      DetectCase{"ModuleAbsent", 64, {"GetModuleHandleW"}, 0}),
    [](const ::testing::TestParamInfo<DetectCase>& info) { return std::string(info.param.name); });

TEST(Entry, SixtyFourBitSwitchesRedirectionOffBeforeAnyFolderIsResolved) {
  SimMachine m(WithFaults({}));
  EXPECT_EQ(sim::RunProduct(*m, L""), 0);
  EXPECT_EQ(g_RunEnvironment.bIs64BitOS, 1);
  EXPECT_EQ(std::make_pair(m->redirection_switched, m->redirection_enabled),
            std::make_pair(true, false))
      << "(switched, enabled)";
  ASSERT_THAT(m->folder_queries_after_redirect, testing::Not(testing::IsEmpty()));
  for (const std::wstring& when : m->folder_queries_after_redirect) EXPECT_EQ(when, L"after");
}

TEST(Entry, ThirtyTwoBitLeavesRedirectionAlone) {
  SimMachine m(WithFaults({}, 32));
  EXPECT_EQ(sim::RunProduct(*m, L""), 0);
  EXPECT_EQ(g_RunEnvironment.bIs64BitOS, 0);
  EXPECT_FALSE(m->redirection_switched) << "redirection enabled: " << m->redirection_enabled;
}

TEST(Entry, ResolvesTheFoldersAndToolPaths) {
  sim::Profile p = WithFaults({});
  p.windows_dir = L"D:\\WIN8";
  p.system_dir = L"D:\\WIN8\\System32";
  SimMachine m(p);
  sim::RunProduct(*m, L"");
  EXPECT_EQ(g_RunEnvironment.szSystemDir, L"D:\\WIN8\\System32");
  EXPECT_EQ(g_RunEnvironment.szWindowsDir, L"D:\\WIN8");
  EXPECT_EQ(g_RunEnvironment.szCmdExePath, L"D:\\WIN8\\System32\\cmd.exe");
  EXPECT_EQ(g_RunEnvironment.szDiskpartExePath, L"D:\\WIN8\\System32\\diskpart.exe");
  EXPECT_NE(FileBytes(*m, L"D:\\WIN8\\Temp\\TempProc.log"), "<missing>");
}

TEST(Entry, FailingFolderQueryLeavesPathsStartingWithTheBackslash) {
  SimMachine m(WithFaults({"SHGetSpecialFolderPathW"}));
  sim::RunProduct(*m, L"");
  EXPECT_EQ(g_RunEnvironment.szSystemDir, L"");
  EXPECT_EQ(g_RunEnvironment.szCmdExePath, L"\\cmd.exe");
  EXPECT_EQ(g_RunEnvironment.szDiskpartExePath, L"\\diskpart.exe");
}

TEST(Entry, VeryLongWindowsFolderIsUsedWhole) {
  sim::Profile p = WithFaults({});
  p.windows_dir = L"C:";
  for (int i = 0; i < 30; ++i) p.windows_dir += L"\\Windows" + std::to_wstring(i);
  p.system_dir = p.windows_dir + L"\\system32";
  SimMachine m(p);
  EXPECT_EQ(sim::RunProduct(*m, L""), 0);
  EXPECT_EQ(g_RunEnvironment.szCmdExePath, p.system_dir + L"\\cmd.exe");
  EXPECT_NE(FileBytes(*m, p.windows_dir + L"\\Temp\\TempProc.log"), "<missing>");
}

struct ComCase {
  const char* name;
  const char* fault;
  int uninitializedAfter;
};

class ComFailure : public ::testing::TestWithParam<ComCase> {};

// Nothing can be checked without COM: the run is refused, with one line in the run log.
TEST_P(ComFailure, RefusesWithExitCodeTwoAndOneRunLogLine) {
  SimMachine m(WithFaults({GetParam().fault}));
  EXPECT_EQ(sim::RunProduct(*m, L""), 2);
  EXPECT_EQ(FileBytes(*m, L"C:\\Windows\\Temp\\TempProc.log"),
            "[2013/06/03 09:00:00]\t[Debug]: COM initialization failed, HRESULT = 0x80004005, no "
            "disk changed\r\n");
  EXPECT_EQ(g_RunEnvironment.bIsComInitialized, 0);
  EXPECT_EQ(m->com_initialized, GetParam().uninitializedAfter);
  EXPECT_EQ(sim::TranscriptText(*m), "");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ComFailure,
    ::testing::Values(ComCase{"CoInitializeEx", "CoInitializeEx", 0},
                      ComCase{"CoInitializeSecurity", "CoInitializeSecurity", 0}),
    [](const ::testing::TestParamInfo<ComCase>& info) { return std::string(info.param.name); });

TEST(Entry, ComStaysInitialisedForTheRunAndTheFlagIsSet) {
  SimMachine m(WithFaults({}));
  sim::RunProduct(*m, L"");
  EXPECT_EQ(g_RunEnvironment.bIsComInitialized, 1);
  EXPECT_EQ(m->com_initialized, 1);  // the entry point does not uninitialise on this path
}

TEST(Entry, CommandLineIsRaisedAndTheModeChosen) {
  SimMachine m(WithFaults({}));
  sim::RunProduct(*m, L"-mode=Enhanced");
  EXPECT_EQ(g_RunEnvironment.szCommandLine, L"-MODE=ENHANCED");
  EXPECT_EQ(g_RunEnvironment.bIsMaximizedMode, 0);
}

}  // namespace

namespace {

TEST(Entry, NormalRunEndsWithExitCodeZeroAndOneStampedEndLine) {
  sim::Profile p = WithFaults({});
  p.firmware->ISRT = false;  // the gate stays shut: no pauses, the clock stands still
  SimMachine m(p);
  EXPECT_EQ(sim::RunProduct(*m, L""), 0);
  const std::string log = FileBytes(*m, L"C:\\Windows\\Temp\\TempProc.log");
  const std::string end = "[2013/06/03 09:00:00]\tEnd process...\r\n";
  ASSERT_GE(log.size(), end.size());
  EXPECT_EQ(log.substr(log.size() - end.size()), end);
  EXPECT_EQ(log.find("End process..."), log.size() - end.size() + 22) << "only one end line";
}

TEST(Entry, EarlyEndGivesExitCodeOne) {
  SimMachine m;  // no disk at all: the inventory is empty
  EXPECT_EQ(sim::RunProduct(*m, L""), 1);
  EXPECT_EQ(FileBytes(*m, L"C:\\Windows\\Temp\\TempProc.log"), "");
}

}  // namespace
