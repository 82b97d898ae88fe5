// RunProgram against the simulated notebook's programs.
#include "tools/process_runner.h"

#include <gtest/gtest.h>

#include <vector>

#include "environment/run_environment.h"
#include "tests/support/run_environment_setup.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::SimMachine;

struct Seen {
  std::wstring parameters;
  std::wstring directory;
  int runs = 0;
};

// A machine whose system folder is not the default one, with the folders resolved from it.
struct Bench {
  Bench() : m(Profile()) { testing_support::ResolvedRunEnvironment(); }
  static sim::Profile Profile() {
    sim::Profile p;
    p.system_dir = L"D:\\OS\\Sys32";
    return p;
  }
  void Add(const std::wstring& path, std::uint32_t code, Seen* seen) {
    m->RegisterProgram(path, [code, seen](sim::Machine&, const std::wstring& parameters,
                                          const std::wstring& directory) {
      seen->parameters = parameters;
      seen->directory = directory;
      ++seen->runs;
      return code;
    });
  }
  SimMachine m;
};

TEST(RunProgram, ReturnsTheChildsExitCodeAndLogsTheRun) {
  const std::uint32_t codes[] = {0, 5, 1, 259, 0x80070005, 0xFFFFFFFF};
  Bench b;
  Seen seen;
  for (std::uint32_t code : codes) {
    b.Add(L"D:\\OS\\Sys32\\tool.exe", code, &seen);
    EXPECT_EQ(RunProgram(L"D:\\OS\\Sys32\\tool.exe", L"-x"), code);
    const sim::TranscriptEntry& e = b.m->transcript().back();
    EXPECT_EQ(e.kind, "run");
    EXPECT_EQ(e.program, L"D:\\OS\\Sys32\\tool.exe");
    EXPECT_EQ(e.parameters, L"-x");
    EXPECT_EQ(e.value, code);
  }
  EXPECT_EQ(seen.runs, 6);
  EXPECT_EQ(b.m->transcript().size(), 6u);
  EXPECT_EQ(b.m->open_handles(), 0u) << "process handle left open";
}

TEST(RunProgram, ParametersArriveUnchangedAndTheChildStartsInTheSystemFolder) {
  const std::wstring texts[] = {
      L"/c \"\"C:\\Windows\\Temp\\RSTCLI64.exe\" -I > \"C:\\a b\\log.txt\"\"",
      L"/s \"C:\\Windows\\Temp\\TScriptClean2ndHDD.txt\"",
      L"-i check",
      L"",
      L"  two  spaces  ",
      L">> x 2>&1 caf\u00e9 %TEMP%"};
  Bench b;
  Seen seen;
  b.Add(L"D:\\OS\\Sys32\\cmd.exe", 0, &seen);
  for (const std::wstring& text : texts) {
    // The program's path is matched without regard to letter case, as on Windows.
    EXPECT_EQ(RunProgram(L"d:\\os\\SYS32\\CMD.EXE", text), 0u);
    EXPECT_EQ(seen.parameters, text);
    EXPECT_EQ(seen.directory, L"D:\\OS\\Sys32");
    EXPECT_EQ(b.m->transcript().back().parameters, text);
    EXPECT_EQ(b.m->transcript().back().program, L"d:\\os\\SYS32\\CMD.EXE");
  }
}

TEST(RunProgram, MissingProgramGivesFileNotFoundAtOnce) {
  Bench b;
  EXPECT_EQ(RunProgram(L"D:\\OS\\Sys32\\nothing.exe", L"a b"), 2u);
  ASSERT_EQ(b.m->transcript().size(), 1u);
  EXPECT_EQ(b.m->transcript()[0].program, L"D:\\OS\\Sys32\\nothing.exe");
  EXPECT_EQ(b.m->transcript()[0].parameters, L"a b");
  EXPECT_EQ(b.m->transcript()[0].value, 2u);
  EXPECT_EQ(b.m->elapsed_ms(), 0u);
  EXPECT_EQ(b.m->open_handles(), 0u);
}

TEST(RunProgram, FailingStartReturnsTheStartErrorAndRunsNothing) {
  Bench b;
  Seen seen;
  b.Add(L"D:\\OS\\Sys32\\tool.exe", 7, &seen);
  b.m->AddFault("ShellExecuteExW");
  const std::uint32_t result = RunProgram(L"D:\\OS\\Sys32\\tool.exe", L"");
  EXPECT_EQ(result, os::kErrorAccessDenied);
  EXPECT_EQ(seen.runs, 0);
  ASSERT_EQ(b.m->transcript().size(), 1u);
  EXPECT_EQ(b.m->transcript()[0].value, result);
}

TEST(RunProgram, ChildrensOwnRunsFollowTheirParentsLine) {
  Bench b;
  Seen inner;
  b.Add(L"D:\\OS\\Sys32\\inner.exe", 3, &inner);
  b.m->RegisterProgram(L"D:\\OS\\Sys32\\outer.exe",
                       [](sim::Machine&, const std::wstring&, const std::wstring&) {
                         return RunProgram(L"D:\\OS\\Sys32\\inner.exe", L"in") + 10;
                       });
  EXPECT_EQ(RunProgram(L"D:\\OS\\Sys32\\outer.exe", L"out"), 13u);
  ASSERT_EQ(b.m->transcript().size(), 2u);
  EXPECT_EQ(b.m->transcript()[0].program, L"D:\\OS\\Sys32\\outer.exe");
  EXPECT_EQ(b.m->transcript()[0].value, 13u);
  EXPECT_EQ(b.m->transcript()[1].program, L"D:\\OS\\Sys32\\inner.exe");
  EXPECT_EQ(b.m->transcript()[1].value, 3u);
}

}  // namespace
