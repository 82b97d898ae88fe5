// The simulated notebook keeps to its run folder: every Windows path a program or a profile
// names maps below it or fails as Windows fails a bad path, and a run leaves nothing beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os.h"
#include "sim/core/text.h"
#include "sim/core/windows_path.h"
#include "sim/profile/profile.h"
#include "tests/support/folder_run.h"
#include "tests/support/host_listing.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostListing;
using testing_support::TempDir;

// A notebook in `scratch`/run, so that whatever lands beside its folder shows in `scratch`.
struct ScratchMachine {
  explicit ScratchMachine(sim::Profile profile = sim::DefaultProfile()) {
    EXPECT_EQ(sim::PrepareRunFolder(run), "");
    machine = std::make_unique<sim::Notebook>(std::move(profile), run);
  }
  TempDir scratch;
  fs::path run = scratch.path() / "run";
  std::unique_ptr<sim::Notebook> machine;
};

struct RefusedPath {
  std::wstring path;
  std::uint32_t error;       // what CreateDirectoryW, and CreateFileW, fail with
  std::uint32_t open_error;  // CreateFileW's code where it differs (the device namespace)
};

// A name cut short by a NUL, as a C string would read it, with ".." behind the cut.
std::wstring WithNul() {
  const wchar_t text[] = L"C:\\Windows\\Temp\\x\0/../../../escaped.txt";
  return std::wstring(text, sizeof(text) / sizeof(text[0]) - 1);
}

void PrintTo(const RefusedPath& c, std::ostream* os) { *os << sim::ToUtf8(c.path); }

class RefusedPaths : public ::testing::TestWithParam<RefusedPath> {};

TEST_P(RefusedPaths, FailEveryFileOperationAndTouchNothing) {
  ScratchMachine s;
  sim::Machine& m = *s.machine;
  const std::wstring& path = GetParam().path;
  const std::uint32_t openError = GetParam().open_error ? GetParam().open_error : GetParam().error;
  const auto before = HostListing(s.scratch.path());

  EXPECT_EQ(os::CreateFileW(path, os::kGenericWrite, 0, os::kCreateAlways, 0), os::kInvalidHandle);
  EXPECT_EQ(os::GetLastError(), openError);
  EXPECT_FALSE(os::CreateDirectoryW(path));
  EXPECT_EQ(os::GetLastError(), GetParam().error);
  EXPECT_FALSE(os::FindFirstFileW(path));
  EXPECT_FALSE(m.WriteFile(path, "escaped", false));
  EXPECT_EQ(m.ReadFile(path), std::nullopt);
  // cmd.exe opens its redirection through the same mapping.
  const sim::Program* cmd = m.FindProgram(L"C:\\Windows\\system32\\cmd.exe");
  ASSERT_NE(cmd, nullptr);
  EXPECT_NE((*cmd)(m, L"/c echo escaped >> " + path, L"C:\\Windows\\Temp"), 0u);

  EXPECT_EQ(HostListing(s.scratch.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedPaths,
    ::testing::Values(
        RefusedPath{L"C:\\Windows\\Temp\\..\\..\\..\\..\\escaped.txt", os::kErrorPathNotFound, 0},
        RefusedPath{L"C:/Windows/../../escaped.txt", os::kErrorPathNotFound, 0},
        RefusedPath{L"..\\escaped.txt", os::kErrorPathNotFound, 0},
        RefusedPath{L"D:\\escaped.txt", os::kErrorPathNotFound, 0},
        RefusedPath{L"\\\\?\\C:\\Windows\\Temp\\escaped.txt", sim::kErrorInvalidName, 0},
        RefusedPath{L"\\\\.\\C:\\Windows\\Temp\\escaped.txt", sim::kErrorInvalidName,
                    os::kErrorFileNotFound},
        RefusedPath{L"\\\\host\\share\\escaped.txt", sim::kErrorBadNetPath, 0},
        RefusedPath{L"C:\\Windows\\Temp\\NUL", sim::kErrorInvalidName, 0},
        RefusedPath{L"C:\\Windows\\Temp\\com1.log", sim::kErrorInvalidName, 0},
        RefusedPath{L"C:\\Windows\\Temp\\Lpt9 .txt", sim::kErrorInvalidName, 0},
        RefusedPath{L"C:\\Windows\\Temp\\CONOUT$", sim::kErrorInvalidName, 0},
        RefusedPath{L"C:\\Windows\\Temp\\a|b.txt", sim::kErrorInvalidName, 0},
        RefusedPath{L"C:\\Windows\\Temp\\x.txt:stream", sim::kErrorInvalidName, 0},
        RefusedPath{WithNul(), sim::kErrorInvalidName, 0}));

TEST(Confinement, ALinkInsideTheRunFolderIsNotFollowed) {
  ScratchMachine s;
  const fs::path outside = s.scratch.path() / "outside";
  fs::create_directories(outside);
  std::error_code ec;
  fs::create_directory_symlink(outside, s.run / "C" / "Windows" / "Temp" / "link", ec);
  if (ec) GTEST_SKIP() << "this host makes no symbolic links: " << ec.message();
  const auto before = HostListing(s.scratch.path());
  const std::wstring path = L"C:\\Windows\\Temp\\LINK\\escaped.txt";
  EXPECT_EQ(os::CreateFileW(path, os::kGenericWrite, 0, os::kCreateAlways, 0), os::kInvalidHandle);
  EXPECT_EQ(os::GetLastError(), os::kErrorAccessDenied);
  EXPECT_FALSE(s.machine->WriteFile(path, "escaped", false));
  EXPECT_EQ(HostListing(s.scratch.path()), before);
}

// The profile a person found writing beside the run folder, built in code so that the loader,
// which refuses it, does not stand in the way: the whole run, and its run files, stay inside.
TEST(Confinement, AWholeRunOnWindowsFoldersThatLeadUpwardsWritesOnlyInItsFolder) {
  TempDir scratch;
  sim::Profile p = sim::DefaultProfile();
  p.windows_dir = L"C:\\..\\..\\ESCAPED";
  p.system_dir = L"C:\\Windows\\..\\..\\..\\ESCAPED\\system32";
  p.temp_files.push_back(sim::TempFile{L"TempProc.log", "an earlier run\r\n"});
  ASSERT_EQ(sim::PrepareRunFolder(scratch.path() / "run"), "");
  const testing_support::FolderRun run = testing_support::RunInFolder(p, scratch.path() / "run");
  EXPECT_TRUE(run.run_files_written);
  std::vector<std::string> outside;
  for (const auto& [name, what] : HostListing(scratch.path())) {
    if (name != "run" && name.rfind("run/", 0) != 0) outside.push_back(name);
  }
  EXPECT_THAT(outside, testing::IsEmpty()) << "written beside the run folder";
}

}  // namespace
