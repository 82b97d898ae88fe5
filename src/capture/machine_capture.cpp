#include "capture/machine_capture.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <set>

#include "capture/drive_capture.h"
#include "environment/run_environment.h"
#include "probes/disk_inventory.h"
#include "probes/firmware.h"
#include "tools/process_runner.h"
#include "tools/rst_report.h"

namespace {

// The highest drive number the locator's walk reaches, and a few beyond for gaps.
constexpr int kDriveNumbersWalked = 16;
constexpr int kHighestDriveNumber = 1000;

void AddFault(std::vector<std::string>* faults, const std::string& fault) {
  for (const std::string& f : *faults) {
    if (f == fault) return;
  }
  faults->push_back(fault);
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

// The WMI disk list in WMI order: each property the inventory reads, as WMI typed it, and the
// inventory's own record of it.
void CaptureWmi(MachineRecord* record) {
  const DiskQueryStep failed = EnumerateDiskDrives([record](const os::ComRef& object) {
    CapturedWmiDisk disk;
    for (const wchar_t* name : kDiskInventoryProperties) {
      CapturedProperty p;
      p.name = name;
      if (os::Failed(os::WmiGet(object, name, &p.value))) {
        p.value = os::WmiValue{};
        AddFault(&record->faults, "Get:" + Narrow(name));
      }
      disk.push_back(std::move(p));
    }
    record->inventory.push_back(DiskRecordFromProperties([&disk](const wchar_t* name) {
      const os::WmiValue* value = FindProperty(&disk, name);
      return value != nullptr ? *value : os::WmiValue{};
    }));
    record->wmiDisks.push_back(std::move(disk));
  });
  switch (failed) {
    case DiskQueryStep::kCreateLocator:
      AddFault(&record->faults, "CoCreateInstance");
      break;
    case DiskQueryStep::kConnectServer:
      AddFault(&record->faults, "ConnectServer");
      break;
    case DiskQueryStep::kProxyBlanket:
      AddFault(&record->faults, "CoSetProxyBlanket");
      break;
    case DiskQueryStep::kExecQuery:
      AddFault(&record->faults, "ExecQuery");
      break;
    case DiskQueryStep::kNext:
      AddFault(&record->faults, "Next:" + std::to_string(record->wmiDisks.size() + 1));
      break;
    case DiskQueryStep::kNone:
      break;
  }
}

// Whether `folder` exists, without creating or changing anything in it: opening a file that is
// not there fails with "file not found" in an existing folder, "path not found" otherwise.
bool FolderExists(const std::wstring& folder) {
  os::UniqueHandle probe(os::CreateFileW(folder + L"\\cachesetup-capture.absent", os::kGenericRead,
                                         os::kFileShareRead, os::kOpenExisting, 0));
  return probe.valid() || os::GetLastError() != os::kErrorPathNotFound;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  os::UniqueHandle file(
      os::CreateFileW(path, os::kGenericRead, os::kFileShareRead, os::kOpenExisting, 0));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  std::uint32_t read = 0;
  while (os::ReadFile(file.get(), buffer, sizeof(buffer), &read) && read > 0) {
    bytes.append(buffer, read);
  }
  return bytes;
}

// The drive numbers a product run can open: the locator's walk, the inventory's indices and
// the volumes' extents.
std::set<int> DriveNumbers(const MachineRecord& record) {
  std::set<int> numbers;
  for (int n = 0; n < kDriveNumbersWalked; ++n) numbers.insert(n);
  for (const CapturedWmiDisk& disk : record.wmiDisks) {
    for (const CapturedProperty& p : disk) {
      if (p.name == L"Index" && p.value.kind == os::WmiValue::Kind::Int32 && p.value.i32 >= 0 &&
          p.value.i32 <= kHighestDriveNumber) {
        numbers.insert(p.value.i32);
      }
    }
  }
  for (const CapturedLetter& letter : record.letters) {
    if (!letter.extents) continue;
    for (const DiskExtent& e : *letter.extents) {
      if (e.disk <= static_cast<std::uint32_t>(kHighestDriveNumber)) {
        numbers.insert(static_cast<int>(e.disk));
      }
    }
  }
  return numbers;
}

// For a drive that does not tell its length: the WMI Size of the disk whose Index names it,
// else 1 MiB, and at least up to the last byte read from it.
std::uint64_t FallbackLength(const MachineRecord& record, const CapturedDrive& drive) {
  constexpr std::uint64_t kSmallest = 1024 * 1024;
  std::uint64_t length = 0;
  for (const CapturedWmiDisk& disk : record.wmiDisks) {
    bool named = false;
    std::wstring size;
    for (const CapturedProperty& p : disk) {
      if (p.name == L"Index" && p.value.kind == os::WmiValue::Kind::Int32) {
        named = p.value.i32 == drive.number;
      }
      if (p.name == L"Size" && p.value.kind == os::WmiValue::Kind::Text) size = p.value.text;
    }
    if (named && length == 0) length = std::wcstoull(size.c_str(), nullptr, 10);
  }
  if (!drive.sectors.empty()) {
    const auto& last = *drive.sectors.rbegin();
    length = std::max<std::uint64_t>(length, last.first + last.second.size());
  }
  return std::max((length + 511) / 512 * 512, kSmallest);
}

}  // namespace

MachineRecord CaptureMachine(const std::wstring& outDir, bool runStorageTool) {
  MachineRecord record;
  RunEnvironment& env = g_RunEnvironment;
  // The product's own set-up: its 64-bit detection, redirection off, its folders.
  SettleBitnessAndPaths();
  record.bits = env.bIs64BitOS != 0 ? 64 : 32;
  if (env.szSystemDir.empty() || env.szWindowsDir.empty()) {
    AddFault(&record.faults, "SHGetSpecialFolderPathW");
  } else {
    record.systemDir = env.szSystemDir;
    record.windowsDir = env.szWindowsDir;
  }
  const std::wstring temp = env.szWindowsDir + L"\\Temp";
  record.tempFolder = FolderExists(temp);
  record.clock = os::GetLocalTime();

  // COM stays up for the rest, as it does for the product's run.
  const ComStart com = StartCom();
  if (com.failed == ComStart::Failed::kInitialize) AddFault(&record.faults, "CoInitializeEx");
  if (com.failed == ComStart::Failed::kSecurity) AddFault(&record.faults, "CoInitializeSecurity");
  if (com.failed == ComStart::Failed::kNone) CaptureWmi(&record);

  record.installer = os::FindFirstFileW(FirmwareInstallerPath());
  for (std::size_t i = 0; i < std::size(kFirmwareFeatures); ++i) {
    CapturedFeature& f = record.features[i];
    f.reading = ReadFirmwareFeature(kFirmwareFeatures[i].nFeatureId, &f.value);
    if (f.reading == FirmwareReading::kCallFailed) {
      AddFault(&record.faults, "DeviceIoControl:FirmwareMethod");
    }
  }

  std::uint64_t kilobytes = 0;
  if (os::GetPhysicallyInstalledSystemMemory(&kilobytes)) record.memoryKb = kilobytes;

  record.letters = CaptureLetters(record.windowsDir, &record.faults);
  record.drives = CaptureDrives(DriveNumbers(record), &record.faults);
  CaptureLetterVolumes(record.letters, &record.drives);
  for (CapturedDrive& drive : record.drives) {
    if (drive.bytes == 0) drive.bytes = FallbackLength(record, drive);
  }

  record.storageTool = os::FindFirstFileW(temp + L"\\" + StorageToolName(env));
  if (record.storageTool && runStorageTool) {
    // Information only: "-I" changes nothing, and its output goes into the capture folder.
    const std::wstring report = outDir + L"\\" + kStorageReportName;
    RunProgram(env.szCmdExePath, StorageToolReportParameters(report));
    record.storageReport = ReadWholeFile(report);
  }
  if (com.failed == ComStart::Failed::kNone) {
    os::CoUninitialize();
    env.bIsComInitialized = 0;
  }
  return record;
}
