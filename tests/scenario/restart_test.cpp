// Re-runs and power cuts: a run's after-machine.json is the notebook it left, and a "PowerCut:N"
// fault stops the product once its N-th child process has ended, leaving what was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sim/profile/profile.h"
#include "tests/support/folder_run.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/text_lines.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FolderRun;
using testing_support::HostFileBytes;
using testing_support::Lines;
using testing_support::RunAgain;
using testing_support::RunInFolder;
using testing_support::TempDir;
using testing_support::WithPowerCut;

fs::path AfterMachine(const TempDir& dir) { return testing_support::AfterMachinePath(dir.path()); }

std::string LastLine(const std::string& log) {
  std::vector<std::string> lines = Lines(log);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines.empty() ? std::string("<empty log>") : lines.back();
}

// transcript.tsv's lines up to and including the n-th child process.
std::string TranscriptUpToChild(const std::string& transcript, std::size_t n) {
  std::string out;
  for (const std::string& line : Lines(transcript)) {
    if (n == 0) break;
    out += line + "\n";
    if (line.compare(0, 4, "run\t") == 0) --n;
  }
  return out;
}

TEST(Rerun, TheAfterMachineIsTheNotebookTheRunLeftAndRunsAgain) {
  TempDir first, second, third;
  const FolderRun a = RunInFolder(sim::DefaultProfile(), first.path());
  ASSERT_EQ(a.exit_code, 0);
  ASSERT_TRUE(a.run_files_written);
  const auto copyWritten = fs::last_write_time(first.path() / "after-machine" / "disk1.img");

  const FolderRun b = RunInFolder(sim::LoadProfile(AfterMachine(first)), second.path());
  // Windows, clock, WMI list, tool state and files as the first run left them: the second
  // machine, as laid out, describes itself exactly as the first run's after-machine.json.
  EXPECT_EQ(b.machine_before, HostFileBytes(AfterMachine(first)));
  EXPECT_EQ(b.disks_before, a.disks_after);
  EXPECT_EQ(b.temp_before, a.temp_files);
  EXPECT_EQ(b.exit_code, 0) << b.log;
  EXPECT_EQ(LastLine(b.log), "[2013/06/03 09:00:22]\tEnd process...");
  EXPECT_EQ(b.disks_after, a.disks_after) << "the run provisions the same notebook again";
  EXPECT_EQ(fs::last_write_time(first.path() / "after-machine" / "disk1.img"), copyWritten)
      << "the run wrote to its overlay, never to the image it was given";

  // The second run's copies fold its overlay into the first run's images.
  ASSERT_TRUE(b.run_files_written);
  sim::Notebook c(sim::LoadProfile(AfterMachine(second)), third.path());
  EXPECT_EQ(testing_support::Positional(sim::ViewDisks(c)), b.disks_after);
}

TEST(PowerCut, StopsTheProductAfterTheChildAndTheAfterMachineRunsToTheEnd) {
  // A healthy run, with the log and the disks as they stood when each child had ended.
  TempDir healthyDir;
  std::vector<std::string> logs;
  std::vector<std::vector<sim::DiskView>> disks;
  const FolderRun healthy =
      RunInFolder(sim::DefaultProfile(), healthyDir.path(), [&](sim::Machine& m) {
        logs.push_back(testing_support::FileBytes(m, L"C:\\Windows\\Temp\\TempProc.log"));
        disks.push_back(sim::ViewDisks(m));
      });
  ASSERT_EQ(healthy.exit_code, 0);
  ASSERT_GE(logs.size(), 2u);

  for (const std::size_t n : {std::size_t{1}, logs.size()}) {
    SCOPED_TRACE("PowerCut:" + std::to_string(n));
    TempDir cutDir, rerunDir;
    const FolderRun cut = RunInFolder(WithPowerCut(sim::DefaultProfile(), n), cutDir.path());
    EXPECT_EQ(cut.exit_code, sim::kPowerCutExitCode);
    EXPECT_EQ(cut.cut_after, n);
    EXPECT_EQ(cut.transcript, TranscriptUpToChild(healthy.transcript, n));
    EXPECT_EQ(cut.log, logs[n - 1]) << "no log line after the cut";
    EXPECT_NE(LastLine(cut.log), LastLine(healthy.log));
    EXPECT_EQ(cut.disks_after, disks[n - 1]);
    ASSERT_TRUE(cut.run_files_written);

    const FolderRun rerun = RunAgain(cutDir.path(), rerunDir.path());
    EXPECT_EQ(rerun.disks_before, cut.disks_after);
    EXPECT_EQ(rerun.exit_code, 0) << rerun.log;
    EXPECT_EQ(LastLine(rerun.log).substr(21), "\tEnd process...") << rerun.log;
    EXPECT_EQ(rerun.disks_after, healthy.disks_after);
  }

  TempDir beyondDir;
  const FolderRun whole =
      RunInFolder(WithPowerCut(sim::DefaultProfile(), logs.size() + 1), beyondDir.path());
  EXPECT_EQ(whole.exit_code, 0);
  EXPECT_EQ(whole.cut_after, std::nullopt);
  EXPECT_EQ(whole.transcript, healthy.transcript);
  EXPECT_EQ(whole.log, healthy.log);
}

// The notebooks of the production line.
struct LineNotebook {
  std::string name;
  sim::Profile profile;
};

std::vector<LineNotebook> LineNotebooks() {
  sim::Profile iffsOff = sim::DefaultProfile();
  iffsOff.firmware->IFFS = false;
  return {{"default notebook", sim::DefaultProfile()},
          {"32-bit notebook",
           sim::LoadProfile(fs::path(CS_SOURCE_DIR) / "examples" / "windows-32bit.json")},
          {"IFFS-off notebook", iffsOff}};
}

// transcript.tsv's child processes, one line each.
std::vector<std::string> Children(const std::string& transcript) {
  std::vector<std::string> children;
  for (const std::string& line : Lines(transcript)) {
    if (line.compare(0, 4, "run\t") == 0) children.push_back(line.substr(4));
  }
  return children;
}

// The line runs the tool again after a power failure, or on a notebook it already provisioned.
// A second run redoes the whole sequence: it cleans what Windows calls the second disk, deletes
// the tool's metadata (the data volume goes, the SSD comes back whole) and builds everything
// again, and it never writes to the hard disk. One cut it cannot repair: with the whole SSD as the
// cache (no --cache-size, IFFS off), a cut between --createCache and --setAccelConfig leaves
// Windows one fixed disk, so the gate stays shut and the cache accelerates nothing.
TEST(LineRestart, ASecondRunAfterAnyCutEndsAsAnUninterruptedRun) {
  const std::map<std::string, std::map<std::size_t, std::string>> kUnrepaired = {
      {"IFFS-off notebook", {{10, "cache_device=0-1-0-0 cache_size= accelerated_disk= mode="}}}};
  for (const LineNotebook& notebook : LineNotebooks()) {
    TempDir healthyDir, againDir;
    const FolderRun healthy = RunInFolder(notebook.profile, healthyDir.path());
    ASSERT_EQ(healthy.exit_code, 0) << notebook.name << "\n" << healthy.log;
    // The hard disk (the system volume and "Recovery") is never written, so no end state below,
    // equal to this one, has it touched.
    EXPECT_EQ(healthy.disks_after.front(), healthy.disks_before.front()) << notebook.name;
    const std::vector<std::string> children = Children(healthy.transcript);
    ASSERT_GE(children.size(), 10u) << notebook.name << "\n" << healthy.transcript;

    const FolderRun again = RunAgain(healthyDir.path(), againDir.path());
    EXPECT_EQ(again.exit_code, 0) << notebook.name << ", second run\n" << again.log;
    EXPECT_EQ(again.disks_after, healthy.disks_after) << notebook.name << ", second run";
    EXPECT_EQ(again.storage_after, healthy.storage_after) << notebook.name << ", second run";

    const auto unrepaired = kUnrepaired.find(notebook.name);
    std::string differs;
    for (std::size_t n = 1; n <= children.size(); ++n) {
      const std::string where =
          notebook.name + ", cut after " + std::to_string(n) + " (" + children[n - 1] + ")";
      TempDir cutDir, rerunDir;
      const FolderRun cut = RunInFolder(WithPowerCut(notebook.profile, n), cutDir.path());
      ASSERT_EQ(cut.cut_after, n) << where;
      const FolderRun rerun = RunAgain(cutDir.path(), rerunDir.path());
      EXPECT_EQ(rerun.exit_code, 0) << where << "\n" << rerun.log;
      EXPECT_EQ(rerun.disks_after, healthy.disks_after) << where;
      const bool known = unrepaired != kUnrepaired.end() && unrepaired->second.count(n) != 0;
      EXPECT_EQ(rerun.storage_after, known ? unrepaired->second.at(n) : healthy.storage_after)
          << where;
      if (rerun.storage_after != healthy.storage_after) differs += " " + std::to_string(n);
    }
    std::printf("restart: %s: %zu cuts; the end state differs after cut:%s\n",
                notebook.name.c_str(), children.size(),
                differs.empty() ? " none" : differs.c_str());
  }
}

}  // namespace
