// Re-runs and power cuts: a run's after-machine.json is the notebook it left, and a "PowerCut:N"
// fault stops the product once its N-th child process has ended, leaving what was written.
#include <gmock/gmock.h>
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
using testing::HasSubstr;
using testing::Not;
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

const char kProvisioned[] = "\t[Debug]: The unit is already provisioned, no disk changed: ";

// Whether the run log ends by saying the unit was provisioned before.
bool EndsProvisioned(const std::string& log) {
  const std::vector<std::string> lines = Lines(log);
  return lines.size() >= 2 && lines[lines.size() - 2].find(kProvisioned) == 21 &&
         lines.back().substr(21) == "\tEnd process...";
}

TEST(Rerun, TheAfterMachineIsTheNotebookTheRunLeftAndRunsAgain) {
  TempDir first, second, third;
  const FolderRun a = RunInFolder(sim::DefaultProfile(), first.path());
  ASSERT_EQ(a.exit_code, 0);
  ASSERT_TRUE(a.run_files_written) << "the run files were not written; exit " << a.exit_code;
  const auto copyWritten = fs::last_write_time(first.path() / "after-machine" / "disk1.img");

  const FolderRun b = RunInFolder(sim::LoadProfile(AfterMachine(first)), second.path());
  // Windows, clock, WMI list, tool state and files as the first run left them: the second
  // machine, as laid out, describes itself exactly as the first run's after-machine.json.
  EXPECT_EQ(b.machine_before, HostFileBytes(AfterMachine(first)));
  EXPECT_EQ(b.disks_before, a.disks_after);
  EXPECT_EQ(b.temp_before, a.temp_files);
  // Windows now sees the cache's data volume where the SSD was, and the report the cache: the
  // unit is known as provisioned and nothing is changed.
  EXPECT_EQ(b.exit_code, 0) << b.log;
  EXPECT_TRUE(EndsProvisioned(b.log)) << b.log;
  EXPECT_EQ(b.disks_after, a.disks_after);
  EXPECT_EQ(b.storage_after, a.storage_after);
  EXPECT_EQ(fs::last_write_time(first.path() / "after-machine" / "disk1.img"), copyWritten)
      << "the run wrote to its overlay, never to the image it was given";

  // The second run's copies fold its overlay into the first run's images.
  ASSERT_TRUE(b.run_files_written) << "the run files were not written; exit " << b.exit_code;
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
    ASSERT_TRUE(cut.run_files_written) << "the run files were not written; exit " << cut.exit_code;

    // Before any disk changed the second run provisions as the first would have; after the
    // last child the unit is known as provisioned and left as the cut did.
    const FolderRun rerun = RunAgain(cutDir.path(), rerunDir.path());
    EXPECT_EQ(rerun.disks_before, cut.disks_after);
    EXPECT_EQ(rerun.exit_code, 0) << rerun.log;
    if (n == 1) {
      EXPECT_EQ(LastLine(rerun.log).substr(21), "\tEnd process...") << rerun.log;
    } else {
      EXPECT_TRUE(EndsProvisioned(rerun.log)) << rerun.log;
    }
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

// The notebooks of the production line, and what a second run ends with once the cache exists:
// where Windows sees the cache's data volume in the SSD's place, 3 with a part missing (cut
// before the last child) and 0 once provisioned; the gate shut (0) where the cache took the
// whole SSD and Windows sees one fixed disk.
struct LineNotebook {
  std::string name;
  sim::Profile profile;
  int exitCutOnceCached;
};

std::vector<LineNotebook> LineNotebooks() {
  sim::Profile iffsOff = sim::DefaultProfile();
  iffsOff.firmware->IFFS = false;
  return {{"default notebook", sim::DefaultProfile(), 3},
          {"32-bit notebook",
           sim::LoadProfile(fs::path(CS_SOURCE_DIR) / "examples" / "windows-32bit.json"), 3},
          {"IFFS-off notebook", iffsOff, 0}};
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
// Cut before the cache exists, a second run redoes the whole sequence and ends as an
// uninterrupted run; it never writes to the hard disk. Once the cache exists (cut after
// --createCache, or a whole run), the second run changes nothing: it says what the cache lacks
// and ends 3 (such a unit needs the storage tool's "-M --delete-all-metadata" and a run again),
// or that the unit is provisioned and ends 0; with the whole SSD as the cache (IFFS off) Windows
// sees one fixed disk and the gate stays shut.
TEST(LineRestart, ASecondRunEndsAsAnUninterruptedRunOrChangesNothing) {
  for (const LineNotebook& notebook : LineNotebooks()) {
    TempDir healthyDir, againDir;
    const FolderRun healthy = RunInFolder(notebook.profile, healthyDir.path());
    ASSERT_EQ(healthy.exit_code, 0) << notebook.name << "\n" << healthy.log;
    EXPECT_EQ(healthy.disks_after.front(), healthy.disks_before.front()) << notebook.name;
    const std::vector<std::string> children = Children(healthy.transcript);
    const auto createCache = std::find_if(
        children.begin(), children.end(),
        [](const std::string& child) { return child.find("--createCache") != std::string::npos; });
    ASSERT_NE(createCache, children.end()) << notebook.name << "\n" << healthy.transcript;
    const std::size_t cached = static_cast<std::size_t>(createCache - children.begin()) + 1;

    // Each cut, and the healthy run as cut "after the last child".
    std::size_t unchanged = 0;
    for (std::size_t n = 1; n <= children.size() + 1; ++n) {
      const std::string where =
          notebook.name + (n > children.size()
                               ? std::string(", after a whole run")
                               : ", cut after " + std::to_string(n) + " (" + children[n - 1] + ")");
      TempDir cutDir, rerunDir;
      const FolderRun cut = n > children.size()
                                ? healthy
                                : RunInFolder(WithPowerCut(notebook.profile, n), cutDir.path());
      if (n <= children.size()) {
        ASSERT_EQ(cut.cut_after, n) << where;
      }
      const FolderRun rerun =
          RunAgain(n > children.size() ? healthyDir.path() : cutDir.path(), rerunDir.path());
      if (n < cached) {
        EXPECT_EQ(rerun.exit_code, 0) << where << "\n" << rerun.log;
        EXPECT_EQ(rerun.disks_after, healthy.disks_after) << where;
        EXPECT_EQ(rerun.storage_after, healthy.storage_after) << where;
      } else {
        ++unchanged;
        const int expected = n >= children.size() ? 0 : notebook.exitCutOnceCached;
        EXPECT_EQ(rerun.exit_code, expected) << where << "\n" << rerun.log;
        if (expected == 3) {
          EXPECT_THAT(LastLine(rerun.log),
                      HasSubstr("[Debug]: The unit already holds a cache volume"))
              << where;
        }
        EXPECT_EQ(rerun.disks_after, cut.disks_after) << where;
        EXPECT_EQ(rerun.storage_after, cut.storage_after) << where;
        EXPECT_THAT(rerun.transcript, Not(HasSubstr("diskpart.exe"))) << where;
      }
    }
    std::printf(
        "restart: %s: %zu children; a second run ends as a whole run after cuts 1-%zu, "
        "changes nothing in %zu cases (exit %d before the last child, 0 after it)\n",
        notebook.name.c_str(), children.size(), cached - 1, unchanged, notebook.exitCutOnceCached);
  }
}

// The child counts the README gives for each example, which the PowerCut numbers follow.
TEST(LineRestart, EachExampleStartsTheChildrenTheReadmeCounts) {
  const struct {
    const char* example;
    std::size_t children;
  } cases[] = {{"default-notebook.json", 14},  {"enhanced-mode.json", 14},
               {"windows-32bit.json", 14},     {"no-recovery-partition.json", 4},
               {"raid0-gate-refuses.json", 4}, {"recovery-on-usb-disk.json", 4}};
  for (const auto& c : cases) {
    TempDir dir;
    const FolderRun run =
        RunInFolder(sim::LoadProfile(fs::path(CS_SOURCE_DIR) / "examples" / c.example), dir.path());
    EXPECT_EQ(Children(run.transcript).size(), c.children) << c.example << "\n" << run.transcript;
  }
  sim::Profile noInstaller = sim::DefaultProfile();
  noInstaller.installer = false;
  TempDir dir;
  EXPECT_EQ(Children(RunInFolder(noInstaller, dir.path()).transcript).size(), 10u);
}

}  // namespace
