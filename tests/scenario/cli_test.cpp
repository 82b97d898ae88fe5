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
  const struct {
    std::string arguments;
    int exitCode;
    std::string says;
  } cases[] = {
      {"--capture " + folder, 64, "--capture needs a new or empty folder"},
      {"--capture " + folder + "-new --out x", 64, "leave --out away"},
      {"--capture " + folder + "-new --quiet", 0, "the captured profile is "},
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

}  // namespace
