// cachesetup-capture.exe in the test's Wine prefix, then cachesetup-sim.exe on the profile it
// wrote: the replay must end as cachesetup.exe ends in the same prefix, with the same run-log
// texts (the feature lines, the memory line with the prefix's real memory, the "[Debug]" line).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/win32_support.h"

namespace {

using win32_support::BinaryDir;
using win32_support::LogTexts;
using win32_support::ReadBytes;

std::wstring UserTemp() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, buffer);
  return buffer;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Win32Capture, ReplayOfTheCapturedPrefixEndsAsTheProductDoes) {
  const std::wstring capture = UserTemp() + L"cs-capture";
  const std::wstring replay = UserTemp() + L"cs-capture-replay";
  const std::wstring temp = win32_support::WindowsDir() + L"\\Temp";
  std::error_code ec;
  std::filesystem::remove_all(capture, ec);
  std::filesystem::remove_all(replay, ec);
  ::DeleteFileW((temp + L"\\TempProc.log").c_str());

  const long captured =
      win32_support::RunAndWait(BinaryDir() + L"\\cachesetup-capture.exe", L"\"" + capture + L"\"");
  ASSERT_EQ(captured, 0) << "cachesetup-capture.exe failed or did not start";
  const std::string profile = ReadBytes(capture + L"\\machine.json");
  std::printf("Wine: captured profile:\n%s", profile.c_str());

  // What the platform reports, as the capture must have recorded it in either build.
  // A 32-bit build sees 64-bit Windows through WOW64; a 64-bit build runs only on it.
  BOOL wow64 = FALSE;
  ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64)) << "error " << ::GetLastError();
  const bool windows64 = sizeof(void*) == 8 || wow64;
  EXPECT_TRUE(Contains(profile, windows64 ? "\"bits\": 64" : "\"bits\": 32")) << profile;
  ULONGLONG kilobytes = 0;
  ASSERT_TRUE(::GetPhysicallyInstalledSystemMemory(&kilobytes)) << ::GetLastError();
  EXPECT_TRUE(Contains(profile, "\"memory_kb\": " + std::to_string(kilobytes))) << profile;

  const long product = win32_support::RunAndWait(BinaryDir() + L"\\cachesetup.exe", L"");
  ASSERT_NE(product, -1) << "cachesetup.exe did not start";
  const std::vector<std::string> productLog = LogTexts(ReadBytes(temp + L"\\TempProc.log"));
  ::DeleteFileW((temp + L"\\TempProc.log").c_str());

  const long simulated = win32_support::RunAndWait(
      BinaryDir() + L"\\cachesetup-sim.exe",
      L"--machine \"" + capture + L"\\machine.json\" --out \"" + replay + L"\" --quiet");
  // The simulated Windows folder is the captured one, laid out under the run folder's C.
  const std::wstring windows = win32_support::WindowsDir();
  const std::vector<std::string> replayLog =
      LogTexts(ReadBytes(replay + L"\\C" + windows.substr(2) + L"\\Temp\\TempProc.log"));
  std::printf("Wine: cachesetup.exe exit %ld, replay exit %ld\n", product, simulated);
  for (const std::string& line : productLog) std::printf("Wine: log: %s\n", line.c_str());

  EXPECT_EQ(simulated, product);
  EXPECT_EQ(replayLog, productLog);
  // The run got as far as the memory line, so the comparison covers the features and memory.
  const std::string memoryLine = "Size = " + std::to_string(kilobytes >> 10) + " MB";
  EXPECT_NE(std::find(productLog.begin(), productLog.end(), memoryLine), productLog.end())
      << memoryLine;
  std::filesystem::remove_all(capture, ec);
  std::filesystem::remove_all(replay, ec);
}

}  // namespace
