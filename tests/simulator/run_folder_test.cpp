// The run folder: a run takes away only what an earlier run made there, refuses a folder that
// holds anything else, and refuses a disk longer than a file there can be before it lays out
// anything.
#include "sim/core/run_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/profile/profile.h"
#include "sim/programs/storage_tool.h"
#include "tests/support/folder_run.h"
#include "tests/support/host_listing.h"
#include "tests/support/sim_fixture.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

using testing::HasSubstr;

namespace {

namespace fs = std::filesystem;
using testing_support::HostListing;
using testing_support::TempDir;

struct FolderCase {
  const char* name;
  std::vector<std::string> files;  // made in the folder before it is prepared
  const char* refusal;             // a part of the message; nullptr: the folder is prepared
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class RunFolderContents : public ::testing::TestWithParam<FolderCase> {};

TEST_P(RunFolderContents, AreTakenAwayOnlyWhenAnEarlierRunMadeThemAll) {
  TempDir dir;
  for (const std::string& file : GetParam().files) {
    fs::create_directories((dir.path() / file).parent_path());
    std::ofstream(dir.path() / file) << "kept: " << file;
  }
  const auto before = HostListing(dir.path());
  const std::string error = sim::PrepareRunFolder(dir.path());
  if (GetParam().refusal == nullptr) {
    EXPECT_EQ(error, "");
    const auto after = HostListing(dir.path());
    ASSERT_EQ(after.size(), 1u) << "left: " << testing::PrintToString(after);
    EXPECT_EQ(after.begin()->first, sim::kRunMarker);
  } else {
    EXPECT_THAT(error, HasSubstr(dir.path().string()));
    EXPECT_THAT(error, HasSubstr(GetParam().refusal));
    EXPECT_EQ(HostListing(dir.path()), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunFolderContents,
    ::testing::Values(
        FolderCase{"empty", {}, nullptr},
        FolderCase{
            "an_earlier_run",
            {sim::kRunMarker, "C/Windows/Temp/TempProc.log", "D/Data/x.txt", "disks/disk0.img",
             "transcript.tsv", "after.json", "after-machine.json", "after-machine/disk0.img"},
            nullptr},
        FolderCase{
            "someone_elses", {"thesis.docx"}, "holds no earlier run (it holds 'thesis.docx')"},
        FolderCase{
            "a_run_without_its_marker", {"C/Windows/x.txt"}, "holds no earlier run (it holds 'C')"},
        FolderCase{"an_earlier_run_and_other_files",
                   {sim::kRunMarker, "transcript.tsv", "notes.txt", "zz.txt", "C/x.txt"},
                   "holds 'notes.txt', which no simulator run makes"}));

// Whatever a whole run writes is a name the next run takes away: a new run file that is not
// among the names would make every second run refuse its own folder.
TEST(RunFolder, AWholeRunsFolderIsTakenAwayByTheNextRun) {
  TempDir dir, inputs;
  ASSERT_EQ(sim::PrepareRunFolder(dir.path()), "");
  sim::Profile p = sim::DefaultProfile();
  p.storage_report = inputs.path() / "report.txt";  // copied into after-machine/
  std::ofstream(p.storage_report) << "no devices\n";
  const testing_support::FolderRun run = testing_support::RunInFolder(p, dir.path());
  ASSERT_TRUE(run.run_files_written);
  EXPECT_EQ(sim::PrepareRunFolder(dir.path()), "");
  const auto after = HostListing(dir.path());
  EXPECT_EQ(after.size(), 1u) << "left: " << testing::PrintToString(after);
}

// The largest report a profile may name leaves an IntelRSTCli.log larger still in Temp; the
// machine that run leaves must still load.
TEST(RunFolder, TheMachineARunOverTheLargestReportLeavesLoadsAgain) {
  TempDir dir, inputs;
  ASSERT_EQ(sim::PrepareRunFolder(dir.path()), "");
  sim::Profile p = sim::DefaultProfile();
  p.storage_report = inputs.path() / "report.txt";
  // The notebook's own report, after lines of no device that fill it to the bound.
  const std::string devices = sim::BuildStorageReport(*testing_support::SimMachine(p));
  const std::string line = "Filler:            a report line that is no device's\n";
  std::string report;
  while (report.size() + line.size() + devices.size() <= (16u << 20)) report += line;
  const std::size_t rest = (16u << 20) - report.size() - devices.size();
  if (rest > 0) report += std::string(rest - 1, ' ') + "\n";
  report += devices;
  ASSERT_EQ(report.size(), 16u << 20);
  std::ofstream(p.storage_report, std::ios::binary) << report;
  testing_support::FolderRun run = testing_support::RunInFolder(p, dir.path());
  ASSERT_TRUE(run.run_files_written);
  ASSERT_EQ(run.exit_code, 0) << run.log;
  EXPECT_GT(run.temp_files["IntelRSTCli.log"].size(), report.size());
  try {
    const sim::Profile again = sim::LoadProfile(dir.path() / "after-machine.json");
    EXPECT_EQ(again.temp_files.size(), run.temp_files.size());
  } catch (const sim::ProfileError& e) {
    ADD_FAILURE() << e.what();
  }
}

struct SizeCase {
  std::uint64_t size_mb;
  bool fits;
};

// The disks live in sparse files of their whole length in the run folder. The host's limit is
// lowered for the test (a file size limit of 64 MiB), since the file systems' own (ext4: 16 TiB
// less 4 KiB; tmpfs: 8 EiB) depend on where the tests run; Windows builds have a fixed bound.
#ifdef _WIN32
const SizeCase kSizes[] = {{64, true}, {1u << 24, false}};
#else
const SizeCase kSizes[] = {{64, true}, {65, false}};
#endif

TEST(RunFolder, ADiskLongerThanAFileThereIsRefusedBeforeAnythingIsLaidOut) {
#ifndef _WIN32
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64u << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  struct Restore {
    rlimit limit;
    ~Restore() { setrlimit(RLIMIT_FSIZE, &limit); }
  } restore{saved};
#endif
  for (const SizeCase& c : kSizes) {
    SCOPED_TRACE(std::to_string(c.size_mb) + " MB");
    TempDir dir;
    sim::Profile p = sim::DefaultProfile();
    p.source = L"big.json";
    p.disks[1].size_mb = c.size_mb;
    p.disks[0].size_mb = 8;
    p.disks[0].partitions.clear();
    std::string error = "<accepted>";
    try {
      sim::Notebook machine(p, dir.path());
    } catch (const sim::ProfileError& e) {
      error = e.what();
    }
    if (c.fits) {
      EXPECT_EQ(error, "<accepted>");
    } else {
      EXPECT_THAT(error, HasSubstr("big.json: key 'disks[1].size_mb': " +
                                   std::to_string(c.size_mb) + " MB is more than a file can hold"));
      EXPECT_THAT(HostListing(dir.path()), testing::IsEmpty());
    }
  }
}

}  // namespace
