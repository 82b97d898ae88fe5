// cachesetup.exe from start to end in the test's Wine prefix, with recording helpers placed as
// the firmware service installer and as diskpart.exe. Wine has no vendor control device and
// cannot answer the drive-layout query, so the run has to stop at the recovery disk locator,
// before anything could touch a disk.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/win32_support.h"

namespace {

using win32_support::LogTexts;
using win32_support::Narrow;
using win32_support::ReadBytes;

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The 64-bit system folder, where the product looks with redirection switched off. A 32-bit
// process reaches it only through the Sysnative alias; for it "system32" is SysWOW64.
std::wstring RealSystemDir() {
  BOOL wow64 = FALSE;
  if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) {
    return win32_support::WindowsDir() + L"\\Sysnative";
  }
  return win32_support::SystemDir();
}

// A copy of a helper at `target` for the life of the object. A program already there is moved
// aside and put back at the end, however the test ends.
class PlacedProgram {
 public:
  PlacedProgram(std::wstring target, const std::wstring& helper)
      : target_(std::move(target)), backup_(target_ + L".cs-backup") {
    // A backup that an earlier, interrupted run left behind is the original: restore it first.
    if (Exists(backup_)) ::MoveFileExW(backup_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING);
    // A copy of the helper that an interrupted run left without a backup is no original.
    if (!Exists(backup_) && Exists(target_) && ReadBytes(target_) == ReadBytes(helper)) {
      ::DeleteFileW(target_.c_str());
    }
    if (Exists(target_)) {
      original_ = true;
      moved_ = ::MoveFileExW(target_.c_str(), backup_.c_str(), 0) != FALSE;
    }
    // Never over the original: when it could not be moved aside, nothing is placed.
    placed_ = ::CopyFileW(helper.c_str(), target_.c_str(), TRUE) != FALSE;
  }
  ~PlacedProgram() {
    if (placed_) ::DeleteFileW(target_.c_str());
    if (moved_) ::MoveFileExW(backup_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  PlacedProgram(const PlacedProgram&) = delete;
  PlacedProgram& operator=(const PlacedProgram&) = delete;
  bool placed() const { return placed_; }
  bool original() const { return original_; }

 private:
  std::wstring target_, backup_;
  bool original_ = false, moved_ = false, placed_ = false;
};

// Files the run may leave or the test makes, removed before the run and again at the end.
struct RemovedFiles {
  std::vector<std::wstring> paths;
  void Remove() const {
    for (const std::wstring& p : paths) ::DeleteFileW(p.c_str());
  }
  ~RemovedFiles() { Remove(); }
};

struct ScopedVariable {
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name_, value.c_str());
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, nullptr); }
  const wchar_t* name_;
};

using win32_support::ChildRecord;

bool EndsWithNoCase(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() &&
         _wcsicmp(text.c_str() + (text.size() - end.size()), end.c_str()) == 0;
}

std::wstring StripSlash(std::wstring folder) {
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

// The prefix's own program must come back whatever happens; this prefix has no diskpart.exe,
// so the path that keeps one is checked on a file of its own.
TEST(Win32EndToEnd, PlacingOverAProgramKeepsItAndPutsItBack) {
  wchar_t userTemp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, userTemp);
  const std::wstring target = std::wstring(userTemp) + L"cs-placed-program.exe";
  const std::wstring helper = win32_support::BinaryDir() + L"\\tests\\cs_record_child.exe";
  const RemovedFiles removed{{target, target + L".cs-backup"}};
  removed.Remove();
  auto write = [](const std::wstring& path, const char* text) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    ::WriteFile(h, text, static_cast<DWORD>(std::strlen(text)), &n, nullptr);
    ::CloseHandle(h);
  };
  write(target, "original program");
  {
    const PlacedProgram placed(target, helper);
    ASSERT_TRUE(placed.placed());
    EXPECT_TRUE(placed.original());
    EXPECT_EQ(ReadBytes(target), ReadBytes(helper));
    EXPECT_EQ(ReadBytes(target + L".cs-backup"), "original program");
  }
  EXPECT_EQ(ReadBytes(target), "original program");
  EXPECT_FALSE(Exists(target + L".cs-backup")) << "error " << ::GetLastError();

  // An interrupted run left the helper in place and the original aside: both are mended.
  ::MoveFileExW(target.c_str(), (target + L".cs-backup").c_str(), 0);
  ::CopyFileW(helper.c_str(), target.c_str(), FALSE);
  { const PlacedProgram placed(target, helper); }
  EXPECT_EQ(ReadBytes(target), "original program");
  EXPECT_FALSE(Exists(target + L".cs-backup")) << "error " << ::GetLastError();

  // An interrupted run left the helper where there was nothing: it goes.
  ::DeleteFileW(target.c_str());
  ::CopyFileW(helper.c_str(), target.c_str(), FALSE);
  {
    const PlacedProgram placed(target, helper);
    EXPECT_FALSE(placed.original());
  }
  EXPECT_FALSE(Exists(target)) << "error " << ::GetLastError();
}

TEST(Win32EndToEnd, RunStopsAtTheLocatorAfterFourInstallerChecksAndNeverStartsDiskpart) {
  const std::wstring windowsDir = win32_support::WindowsDir();
  const std::wstring temp = windowsDir + L"\\Temp";
  const std::wstring runLog = temp + L"\\TempProc.log";
  wchar_t userTemp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, userTemp);
  const std::wstring recordFile = std::wstring(userTemp) + L"cs-end-to-end-records.bin";

  const RemovedFiles removed{{runLog, recordFile, temp + L"\\IntelRSTCli.log",
                              temp + L"\\TRSTCliLog.txt", temp + L"\\TScriptClean2ndHDD.txt",
                              temp + L"\\TScriptCreate2ndHDD.txt"}};
  removed.Remove();

  const std::wstring helper = win32_support::BinaryDir() + L"\\tests\\cs_record_child.exe";
  ASSERT_TRUE(Exists(helper)) << "helper not built";
  const std::wstring systemDir = RealSystemDir();
  const PlacedProgram installer(systemDir + L"\\InstQORWMIACPISrv64.exe", helper);
  ASSERT_TRUE(installer.placed()) << "cannot place the installer";
  const PlacedProgram diskpart(systemDir + L"\\diskpart.exe", helper);
  ASSERT_TRUE(diskpart.placed()) << "cannot place diskpart.exe";
  const ScopedVariable file(L"CS_RECORD_FILE", recordFile);
  const ScopedVariable code(L"CS_RECORD_EXIT", L"0");

  ULONGLONG kilobytes = 0;
  ASSERT_TRUE(::GetPhysicallyInstalledSystemMemory(&kilobytes)) << ::GetLastError();
  const unsigned megabytes = static_cast<unsigned>(kilobytes >> 10);

  const long exitCode =
      win32_support::RunAndWait(win32_support::BinaryDir() + L"\\cachesetup.exe", L"");
  ASSERT_NE(exitCode, -1) << "cachesetup.exe did not start";

  const std::string log = ReadBytes(runLog);
  const std::vector<ChildRecord> records = win32_support::ReadChildRecords(recordFile);
  std::printf("Wine: exit code %ld, diskpart.exe %s in the prefix, memory %llu KB\n", exitCode,
              diskpart.original() ? "present" : "absent",
              static_cast<unsigned long long>(kilobytes));
  std::printf("Wine: run log:\n%s", log.c_str());
  for (const ChildRecord& r : records) {
    std::printf("Wine: started %ls | %ls | in %ls\n", r.module.c_str(), r.commandLine.c_str(),
                r.folder.c_str());
  }

  EXPECT_EQ(exitCode, 1);
  const std::vector<std::string> expected = {
      "Detect BIOS support feature...",
      "bIsSupportIFFS = FALSE.",
      "bIsSupportRAID0 = FALSE.",
      "bIsSupportISRT = FALSE.",
      "bIsSupportDiskeeper = FALSE.",
      "Size = " + std::to_string(megabytes) + " MB",
      "[Debug]: Not exist 'Recovery' partition on Disk[0]",
  };
  EXPECT_EQ(LogTexts(log), expected) << log;

  int installerRuns = 0;
  for (const ChildRecord& r : records) {
    if (EndsWithNoCase(r.module, L"\\diskpart.exe")) {
      ADD_FAILURE() << "diskpart ran: " << Narrow(r.commandLine);
      continue;
    }
    ASSERT_TRUE(EndsWithNoCase(r.module, L"\\InstQORWMIACPISrv64.exe"))
        << "unexpected record: " << Narrow(r.module);
    ++installerRuns;
    EXPECT_TRUE(EndsWithNoCase(r.commandLine, L" -i check")) << Narrow(r.commandLine);
    EXPECT_EQ(r.showWindow, std::to_wstring(SW_HIDE)) << Narrow(r.showWindow);
    EXPECT_EQ(_wcsicmp(StripSlash(r.folder).c_str(), win32_support::SystemDir().c_str()), 0)
        << Narrow(r.folder);
  }
  EXPECT_EQ(installerRuns, 4);

  // Nothing of the provisioning branch happened.
  for (const wchar_t* name : {L"IntelRSTCli.log", L"TRSTCliLog.txt", L"TScriptClean2ndHDD.txt",
                              L"TScriptCreate2ndHDD.txt"}) {
    EXPECT_FALSE(Exists(temp + L"\\" + name)) << Narrow(name);
  }
}

}  // namespace
