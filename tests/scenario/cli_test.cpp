// cachesetup-sim's own command line, run as a program: what --help and --version say, the
// folders --capture refuses, and the account a quiet run keeps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/core/host_file.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing::HasSubstr;
using testing_support::TempDir;

struct Ran {
  int exitCode = -1;
  std::string out;  // standard output and standard error
};

Ran Sim(const std::string& arguments) {
  Ran r;
#ifndef _WIN32
  const std::string command = std::string(CS_BINARY_DIR) + "/cachesetup-sim " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
  (void)arguments;
#endif
  return r;
}

TEST(SimCommandLine, HelpVersionCaptureFoldersAndTheQuietAccount) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's cachesetup-sim";
#endif
  std::string version =
      sim::ReadHostFile(std::filesystem::path(CS_SOURCE_DIR) / "VERSION").value_or("?");
  while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) version.pop_back();
  const Ran v = Sim("--version");
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_EQ(v.out, "cachesetup-sim " + version + "\n");

  const Ran help = Sim("--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* said : {"--machine PROFILE.json", "--out DIR", "--quiet", "--capture DIR",
                           "--version", "default: ./cachesetup-run", "tar --sparse", "64 a usage",
                           "65 the power", "docs/machine-profile.md"}) {
    EXPECT_THAT(help.out, HasSubstr(said));
  }

  TempDir dir;
  const std::string folder = (dir.path() / "captured").string();
  std::filesystem::create_directories(folder);
  std::ofstream(dir.path() / "captured" / "keep.txt") << "mine";
  // Windows on D:, where the capture's folder goes too.
  std::ofstream(dir.path() / "on-d.json")
      << R"({"windows": {"windows_dir": "D:\\Windows", "system_dir": "D:\\Windows\\system32"}})";
  const struct {
    std::string arguments;
    int exitCode;
    std::string says;
  } cases[] = {
      {"--capture " + folder, 64, "--capture needs a new or empty folder"},
      {"--capture " + folder + "-new --out x", 64, "leave --out away"},
      {"--capture " + folder + "-new --quiet", 0, "the captured profile is "},
      {"--machine " + (dir.path() / "on-d.json").string() + " --capture " + folder + "-d", 0,
       "no disk listed"},
      {"--bogus", 64, "unknown option '--bogus'"},
  };
  for (const auto& c : cases) {
    const Ran r = Sim(c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.out;
    EXPECT_THAT(r.out, HasSubstr(c.says)) << c.arguments;
  }
  EXPECT_EQ(sim::ReadHostFile(dir.path() / "captured" / "keep.txt"), "mine");

  const std::string out = (dir.path() / "run").string();
  const Ran quiet = Sim("--out " + out + " --quiet -- ENHANCED");
  EXPECT_EQ(quiet.exitCode, 0) << quiet.out;
  EXPECT_EQ(quiet.out, "");
  EXPECT_THAT(sim::ReadHostFile(dir.path() / "run" / "account.txt").value_or("<missing>"),
              HasSubstr("\nExit code: 0 (reached its end"));
}

// A unit's Temp files against the replay: agreeing files, then one script changed and one file
// missing, then a refused re-run whose scripts an earlier run left; and a summary over two captures
// and a profile that does not load.
TEST(SimCommandLine, CompareAndSummary) {
#ifdef _WIN32
  GTEST_SKIP() << "runs the host's cachesetup-sim";
#endif
  TempDir dir;
  const std::filesystem::path line = dir.path() / "line";
  const std::filesystem::path captured = dir.path() / "captured";
  ASSERT_EQ(Sim("--capture " + captured.string() + " --quiet").exitCode, 0);
  ASSERT_EQ(Sim("--out " + (dir.path() / "first").string() + " --quiet").exitCode, 0);
  std::filesystem::copy(dir.path() / "first" / "C" / "Windows" / "Temp", line);
  // The replay of the unit's capture: its tool prints the captured report until the run changes
  // the cache, and then the cache it made.
  const std::string replay = "--machine " + (captured / "machine.json").string();
  const Ran same = Sim(replay + " --out " + (dir.path() / "again").string() +
                       " --quiet --compare " + line.string());
  EXPECT_EQ(same.exitCode, 0) << same.out;
  for (const char* said : {"TempProc.log: agrees (15 lines, time stamps aside)",
                           "IntelRSTCli.log: agrees (100 lines)", "TRSTCliLog.txt: agrees"}) {
    EXPECT_THAT(same.out, HasSubstr(said)) << same.out;
  }

  std::ofstream(line / "TScriptCreate2ndHDD.txt", std::ios::binary | std::ios::trunc)
      << "sel disk 0\r\nclean\r\n";
  std::filesystem::remove(line / "TRSTCliLog.txt");
  const Ran differs = Sim(replay + " --out " + (dir.path() / "again").string() +
                          " --quiet --compare " + line.string());
  EXPECT_EQ(differs.exitCode, 1) << differs.out;
  for (const char* said :
       {"TScriptCreate2ndHDD.txt: DIFFERS at line 1\n  line:   sel disk 0\n"
        "  replay: sel disk 1\n",
        "TRSTCliLog.txt: DIFFERS: written by the replay only", "2 of 5 files differ."}) {
    EXPECT_THAT(differs.out, HasSubstr(said));
  }

  // A second run on the provisioned unit knows it and changes nothing; the scripts in Temp are
  // the first run's.
  const std::string provisioned = (dir.path() / "first" / "after-machine.json").string();
  ASSERT_EQ(
      Sim("--machine " + provisioned + " --out " + (dir.path() / "second").string() + " --quiet")
          .exitCode,
      0);
  // So does the replay's, whose tool now reports the cache the replay made, no longer the report
  // captured before it.
  const Ran replayAgain =
      Sim("--machine " + (dir.path() / "again" / "after-machine.json").string() + " --out " +
          (dir.path() / "again2").string() + " --quiet");
  EXPECT_EQ(replayAgain.exitCode, 0) << replayAgain.out;
  const auto report = [&dir](const char* run) {
    return sim::ReadHostFile(dir.path() / run / "C" / "Windows" / "Temp" / "TRSTCliLog.txt")
        .value_or("<missing>");
  };
  EXPECT_THAT(report("again2"), HasSubstr("Volume_0000"));
  EXPECT_EQ(report("again2"), report("second"));
  const std::filesystem::path reworkCapture = dir.path() / "rework-capture";
  ASSERT_EQ(Sim("--machine " + provisioned + " --capture " + reworkCapture.string() + " --quiet")
                .exitCode,
            0);
  const Ran rework = Sim("--machine " + (reworkCapture / "machine.json").string() + " --out " +
                         (dir.path() / "rework").string() + " --quiet --compare " +
                         (dir.path() / "second" / "C" / "Windows" / "Temp").string());
  EXPECT_EQ(rework.exitCode, 0) << rework.out;
  EXPECT_THAT(rework.out, HasSubstr("TScriptClean2ndHDD.txt: agrees: an earlier run's (the run "
                                    "logs agree, and this run's path writes no such file)\n"));

  const std::string examples = std::string(CS_SOURCE_DIR) + "/examples/";
  std::ofstream(dir.path() / "bad.json") << "{\"bogus\": 1}";
  const Ran summary =
      Sim("--out " + (dir.path() / "summary").string() + " --summary " + captured.string() + " " +
          examples + "raid0-gate-refuses.json " + (dir.path() / "bad.json").string());
  EXPECT_EQ(summary.exitCode, 1) << summary.out;
  EXPECT_THAT(summary.out, HasSubstr("3 notebooks, 1 could not run"));
  EXPECT_EQ(sim::ReadHostFile(dir.path() / "summary" / "summary.csv").value_or("<missing>"),
            "input,models,fixed_disks,RAID0,ISRT,IFFS,decision,exit_code\n" + captured.string() +
                ",HGST HTS545050A7E380 + SanDisk SSD i100 32GB,2,off,on,on,provisioned,0\n" +
                examples +
                "raid0-gate-refuses.json,HGST HTS545050A7E380 + SanDisk SSD i100 32GB,2,on,on,on,"
                "gate shut: RAID0 on,0\n" +
                (dir.path() / "bad.json").string() + ",,,,,,bad profile: " +
                (dir.path() / "bad.json").string() + ": key 'bogus': unknown key,\n");
}

}  // namespace
