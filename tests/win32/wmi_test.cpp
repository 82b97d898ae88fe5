// The disk inventory and the media rotation probe against the real Windows backend: Wine's
// own WMI service and its physical-drive devices.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <fcntl.h>
#include <io.h>
#include <wbemidl.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "environment/run_environment.h"
#include "platform/os.h"
#include "probes/disk_inventory.h"
#include "probes/media_rotation.h"
#include "tests/support/win32_support.h"

namespace {

// Wine 8's Win32_DiskDrive has DeviceID, Index, InterfaceType, Manufacturer, MediaType, Model,
// PNPDeviceID, SerialNumber and Size (and Caption); Get of any other property fails with
// WBEM_E_NOT_FOUND, which the inventory treats as null.
bool AllDigits(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

// The drive's device name as Wine gives it: Wine 8 doubles every backslash of
// "\\.\PHYSICALDRIVEn" (its WQL escaping); Windows itself gives the plain form.
bool IsDeviceIdOf(const std::wstring& id, std::uint32_t index) {
  const std::wstring n = std::to_wstring(index);
  return id == L"\\\\.\\PHYSICALDRIVE" + n || id == L"\\\\\\\\.\\\\PHYSICALDRIVE" + n;
}

void ExpectWineDisks(const DiskList& list, std::size_t first) {
  ASSERT_GT(list.size(), first) << "Wine lists at least one disk drive";
  for (std::size_t i = first; i < list.size(); ++i) {
    const DiskRecord& r = list[i];
    const std::uint32_t index = static_cast<std::uint32_t>(i - first);
    SCOPED_TRACE(index);
    EXPECT_EQ(r.Index, index) << "Wine numbers its disks in enumeration order";
    EXPECT_TRUE(IsDeviceIdOf(r.DeviceID, r.Index)) << r.DeviceID;
    EXPECT_EQ(r.InterfaceType, L"IDE");
    EXPECT_EQ(r.Manufacturer, L"(Standard disk drives)");
    EXPECT_EQ(r.MediaType, L"Fixed hard disk");
    EXPECT_EQ(r.Model, L"Wine Disk Drive");
    EXPECT_EQ(r.PNPDeviceID, L"IDE\\Disk\\VEN_WINE");
    EXPECT_EQ(r.SerialNumber, L"WINEHDISK");
    EXPECT_TRUE(AllDigits(r.Size)) << r.Size;
    // Properties Wine does not provide: their null values.
    EXPECT_EQ(r.Description, L"");
    EXPECT_EQ(r.MediaLoaded, 0);
    EXPECT_EQ(r.Partitions, 0u);
    EXPECT_EQ(r.SCSIBus, 0u);
    EXPECT_EQ(r.SCSILogicalUnit, 0u);
    EXPECT_EQ(r.SCSIPort, 0u);
    EXPECT_EQ(r.SCSITargetId, 0u);
    EXPECT_EQ(r.Signature, 0u);
    EXPECT_EQ(r.Status, L"");
    EXPECT_EQ(r.SystemCreationClassName, L"");
    EXPECT_EQ(r.SystemName, L"");
    // Wine's drives answer no SMART request: never counted as solid-state.
    EXPECT_TRUE(r.MediaKind == 0 || r.MediaKind == -1) << r.MediaKind;
  }
}

// Standard output of the process while `body` runs, with CR LF read as LF.
template <typename Body>
std::string CaptureStdout(Body body) {
  const std::wstring path = win32_support::BinaryDir() + L"\\wmi_test_stdout.txt";
  std::fflush(stdout);
  // Text mode, as a standard output the process inherits is: wide text leaves as bytes.
  const int saved = _dup(1);
  const int file = _wopen(path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_TEXT, 0644);
  _dup2(file, 1);
  _close(file);
  body();
  std::fflush(stdout);
  _dup2(saved, 1);
  _close(saved);
  std::string out;
  for (char c : win32_support::ReadBytes(path)) {
    if (c != '\r') out.push_back(c);
  }
  ::DeleteFileW(path.c_str());
  return out;
}

TEST(Win32Wmi, InventoryStartsComItselfWhenTheFlagIsClearAndLeavesItAsFound) {
  ResetRunEnvironment();
  DiskList list;
  CaptureStdout([&] { EXPECT_TRUE(QueryDiskInventory(&list)) << "error " << ::GetLastError(); });
  ExpectWineDisks(list, 0);
  // The query's COM has ended: joining the apartment now is a first initialisation.
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  ::CoUninitialize();
}

TEST(Win32Wmi, InventoryUsesTheProcessComAndAppendsWinesDisks) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
      << "error " << ::GetLastError();
  ResetRunEnvironment();
  g_RunEnvironment.bIsComInitialized = 1;
  DiskList list(1);
  list[0].Model = L"earlier";
  std::string out;
  out = CaptureStdout(
      [&] { EXPECT_TRUE(QueryDiskInventory(&list)) << "error " << ::GetLastError(); });
  EXPECT_EQ(list[0].Model, L"earlier");
  ExpectWineDisks(list, 1);
  // One probe per disk, each ending in one of the probe's messages.
  std::size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_GE(lines, list.size() - 1) << out;
  // COM is still the process's: a second initialisation is a nested one.
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  ::CoUninitialize();
  ::CoUninitialize();
  ResetRunEnvironment();
}

TEST(Win32Wmi, SeamConvertsWinesValueTypes) {
  ASSERT_TRUE(SUCCEEDED(os::CoInitializeEx(os::kCoinitMultithreaded)))
      << "error " << ::GetLastError();
  {
    os::ComRef locator, services, enumerator, object;
    ASSERT_EQ(os::CoCreateWbemLocator(&locator), os::kSOk);
    ASSERT_EQ(os::ConnectServer(locator, L"ROOT\\CIMV2", &services), os::kSOk);
    ASSERT_EQ(
        os::CoSetProxyBlanket(services, os::kRpcCAuthnWinNT, os::kRpcCAuthzNone,
                              os::kRpcCAuthnLevelCall, os::kRpcCImpLevelImpersonate, os::kEoacNone),
        os::kSOk);
    ASSERT_EQ(os::ExecQuery(services, L"WQL", L"SELECT * FROM Win32_DiskDrive", 0x30, &enumerator),
              os::kSOk);
    std::uint32_t returned = 0xDEADBEEF;
    ASSERT_EQ(os::EnumNext(enumerator, -1, &object, &returned), os::kSOk);
    ASSERT_EQ(returned, 1u);
    ASSERT_TRUE(object.valid()) << "the enumeration gave no object";

    os::WmiValue value;
    value.kind = os::WmiValue::Kind::Other;
    ASSERT_EQ(os::WmiGet(object, L"Index", &value), os::kSOk);
    EXPECT_EQ(value.kind, os::WmiValue::Kind::Int32);  // uint32 as VT_I4
    EXPECT_EQ(value.i32, 0);
    ASSERT_EQ(os::WmiGet(object, L"Size", &value), os::kSOk);
    EXPECT_EQ(value.kind, os::WmiValue::Kind::Text);  // uint64 as VT_BSTR
    EXPECT_TRUE(AllDigits(value.text)) << "error " << ::GetLastError();
    ASSERT_EQ(os::WmiGet(object, L"DeviceID", &value), os::kSOk);
    EXPECT_EQ(value.kind, os::WmiValue::Kind::Text);
    EXPECT_TRUE(IsDeviceIdOf(value.text, 0)) << "error " << ::GetLastError();
    // Not in Wine's class: the call fails and the value is left null.
    value.kind = os::WmiValue::Kind::Other;
    EXPECT_EQ(os::WmiGet(object, L"Description", &value),
              static_cast<os::HResult>(0x80041002));  // WBEM_E_NOT_FOUND
    EXPECT_EQ(value.kind, os::WmiValue::Kind::Null);

    // Booleans: Win32_DiskPartition.Bootable.
    os::ComRef partitions, partition;
    ASSERT_EQ(
        os::ExecQuery(services, L"WQL", L"SELECT * FROM Win32_DiskPartition", 0x30, &partitions),
        os::kSOk);
    returned = 0xDEADBEEF;
    const os::HResult hr = os::EnumNext(partitions, -1, &partition, &returned);
    if (hr == os::kSOk && returned == 1) {
      ASSERT_EQ(os::WmiGet(partition, L"Bootable", &value), os::kSOk);
      EXPECT_EQ(value.kind, os::WmiValue::Kind::Bool);
      std::printf("Win32_DiskPartition.Bootable under Wine: %d\n", value.boolean ? 1 : 0);
    } else {
      EXPECT_EQ(returned, 0u);
    }
    // The end of an enumeration: no object, nothing handed out.
    os::ComRef rest;
    for (int i = 0; i < 64; ++i) {
      returned = 0xDEADBEEF;
      const os::HResult next = os::EnumNext(enumerator, -1, &rest, &returned);
      if (returned == 0) {
        EXPECT_EQ(next, os::kWbemSFalse);
        EXPECT_FALSE(rest.valid());
        break;
      }
    }
    EXPECT_EQ(returned, 0u);
  }
  os::CoUninitialize();
}

TEST(Win32MediaRotation, DriveZeroAnswersWithOneOfTheProbesMessages) {
  int result = 99;
  const std::string out = CaptureStdout([&] { result = ProbeMediaRotation(0); });
  EXPECT_TRUE(result == 0 || result == 1 || result == -1) << result;
  const bool known =
      out.rfind("CreateFile Error: ", 0) == 0 || out.rfind("DeviceIoControl Error: ", 0) == 0 ||
      out.rfind("SMART_RCV_DRIVE_DATA Error: ", 0) == 0 || out.find(" RPM\n") != std::string::npos;
  EXPECT_TRUE(known) << out;
  // Wine 8 opens the drive but does not support SMART_GET_VERSION.
  std::printf("ProbeMediaRotation(0) under Wine: %d, \"%s\"\n", result, out.c_str());
}

TEST(Win32MediaRotation, MissingDriveGivesOnlyTheCreateFileMessage) {
  int result = 99;
  const std::string out = CaptureStdout([&] { result = ProbeMediaRotation(99); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "CreateFile Error: 2\n");
}

}  // namespace
