// The firmware queries and low memory against the real Windows backend under Wine, which has
// no vendor control device.
#include "probes/firmware.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "environment/run_environment.h"
#include "tests/support/win32_support.h"

namespace {

TEST(Win32LowMemory, BlocksAreZeroedWritableAndAddressableIn32Bits) {
  for (std::size_t size : {std::size_t{100}, std::size_t{4096}, std::size_t{200000}}) {
    auto* p = static_cast<unsigned char*>(os::AllocateLow32(size));
    ASSERT_NE(p, nullptr) << size;
    const unsigned long long address = reinterpret_cast<std::uintptr_t>(p);
    EXPECT_LE(address + size, 0x100000000ull) << std::hex << address;
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << i;
    p[0] = 1;
    p[size - 1] = 2;
  }
  EXPECT_EQ(os::AllocateLow32(0), nullptr);
}

TEST(Win32Firmware, WithoutTheDeviceEveryQueryGivesZero) {
  ResetRunEnvironment();
  ResolveRunPaths();
  const HANDLE probe =
      ::CreateFileW(L"\\\\.\\QORACPI", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(probe, INVALID_HANDLE_VALUE) << "this machine has the vendor device";
  std::printf("Wine's error opening the control device: %lu\n", ::GetLastError());
  for (const FirmwareFeature& f : kFirmwareFeatures) {
    EXPECT_EQ(QueryFirmwareFeature(f.nFeatureId), 0) << f.nFeatureId;
    EXPECT_EQ(g_FirmwareControlDevice.state, FirmwareControlDevice::State::kInvalid);
    EXPECT_FALSE(g_FirmwareControlDevice.handle.valid());
  }
  // The request form follows what the platform says of this process: a 32-bit build under a
  // 64-bit prefix runs under WOW64 (the 24-byte form), a 64-bit build does not.
  BOOL wow64 = FALSE;
  ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64)) << ::GetLastError();
  EXPECT_EQ(g_bFirmwareOn64BitWindows, wow64 != FALSE)
      << "IsWow64Process says " << wow64 << " in a " << 8 * sizeof(void*) << "-bit process";
}

// The installer is found in the system folder and run there with "-i check" before each
// query; the recording helper stands in for it.
TEST(Win32Firmware, InstallerInTheSystemFolderRunsBeforeEachQuery) {
  ResetRunEnvironment();
  ResolveRunPaths();
  const std::wstring installer = g_RunEnvironment.szSystemDir + L"\\InstQORWMIACPISrv64.exe";
  const std::wstring helper = win32_support::BinaryDir() + L"\\tests\\cs_record_child.exe";
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring record = std::wstring(temp) + L"cs-installer-record.bin";
  // The stand-in leaves the system folder again however the test ends.
  struct CleanUp {
    std::wstring installer, record;
    ~CleanUp() {
      ::DeleteFileW(installer.c_str());
      ::DeleteFileW(record.c_str());
      ::SetEnvironmentVariableW(L"CS_RECORD_FILE", nullptr);
      ::SetEnvironmentVariableW(L"CS_RECORD_EXIT", nullptr);
    }
  } cleanUp{installer, record};
  ::DeleteFileW(installer.c_str());
  ASSERT_TRUE(::CopyFileW(helper.c_str(), installer.c_str(), FALSE))
      << "error " << ::GetLastError();
  ::SetEnvironmentVariableW(L"CS_RECORD_FILE", record.c_str());
  ::SetEnvironmentVariableW(L"CS_RECORD_EXIT", L"1603");  // a failing installer changes nothing
  for (const FirmwareFeature& f : kFirmwareFeatures) {
    ::DeleteFileW(record.c_str());
    EXPECT_EQ(QueryFirmwareFeature(f.nFeatureId), 0);
    const auto records = win32_support::ReadChildRecords(record);
    ASSERT_EQ(records.size(), 1u) << "installer starts for feature " << f.nFeatureId;
    const std::wstring& commandLine = records[0].commandLine;
    std::wstring folder = records[0].folder;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    ASSERT_GE(commandLine.size(), 9u) << commandLine;
    EXPECT_EQ(commandLine.substr(commandLine.size() - 9), L" -i check") << commandLine;
    EXPECT_EQ(records[0].showWindow, std::to_wstring(SW_HIDE)) << "the installer's window";
    EXPECT_EQ(_wcsicmp(folder.c_str(), g_RunEnvironment.szSystemDir.c_str()), 0);
  }
}

}  // namespace
