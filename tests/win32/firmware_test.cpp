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
  // A 64-bit process is not under WOW64, so it would send the form with the address.
  EXPECT_EQ(g_bFirmwareOn64BitWindows, false);
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
  ASSERT_TRUE(::CopyFileW(helper.c_str(), installer.c_str(), FALSE));
  ::SetEnvironmentVariableW(L"CS_RECORD_FILE", record.c_str());
  ::SetEnvironmentVariableW(L"CS_RECORD_EXIT", L"1603");  // a failing installer changes nothing
  for (const FirmwareFeature& f : kFirmwareFeatures) {
    ::DeleteFileW(record.c_str());
    EXPECT_EQ(QueryFirmwareFeature(f.nFeatureId), 0);
    const std::string bytes = win32_support::ReadBytes(record);
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    const std::size_t zero = text.find(L'\0');
    ASSERT_NE(zero, std::wstring::npos) << "installer did not run";
    const std::wstring commandLine = text.substr(0, zero);
    std::wstring folder = text.substr(zero + 1);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    EXPECT_GE(commandLine.size(), 9u);
    EXPECT_EQ(commandLine.substr(commandLine.size() - 9), L" -i check") << commandLine;
    EXPECT_EQ(_wcsicmp(folder.c_str(), g_RunEnvironment.szSystemDir.c_str()), 0);
  }
}

}  // namespace
