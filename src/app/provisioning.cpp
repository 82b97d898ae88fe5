#include "app/provisioning.h"

#include <cstdint>
#include <iterator>
#include <string>

#include "app/disk_roles.h"
#include "environment/run_environment.h"
#include "platform/os.h"
#include "probes/disk_inventory.h"
#include "probes/disk_record.h"
#include "probes/firmware.h"
#include "probes/recovery_locator.h"
#include "textout/format.h"
#include "textout/log_writer.h"
#include "tools/process_runner.h"
#include "tools/rst_report.h"

namespace {

// Runs "/c <Windows>\Temp\<storage tool> <arguments>" through cmd.exe. The tool's path is not
// quoted; the files its output goes to are.
void RunStorageTool(const RunEnvironment& env, const std::wstring& arguments) {
  const wchar_t* tool = env.bIs64BitOS != 0 ? L"RSTCLI64.exe" : L"RSTCLI.exe";
  RunProgram(env.szCmdExePath, textout::Format(L"/c %ls\\Temp\\%ls %ls", env.szWindowsDir.c_str(),
                                               tool, arguments.c_str()));
}

void RunDiskpartScript(const RunEnvironment& env, const std::wstring& scriptPath) {
  RunProgram(env.szDiskpartExePath, textout::Format(L"/s \"%ls\"", scriptPath.c_str()));
}

// The provisioning branch: the storage tool's information and report, the clean script, the
// cache volume and acceleration mode, and the script that creates the Rapid Start partition,
// in this fixed order with the pauses the tool needs between them.
void ProvisionSecondDisk(const RunEnvironment& env, LogWriter& runLog, const DiskRecord& SecondHDD,
                         int bIsSupportIFFS, std::uint32_t nInstalledMemoryMB) {
  const wchar_t* dir = env.szWindowsDir.c_str();
  const int secondIndex = static_cast<int>(SecondHDD.Index);
  const std::wstring toolLog = textout::Format(L"\"%ls\\Temp\\IntelRSTCli.log\"", dir);

  runLog.WriteStamped(
      L"Two Storages: small 2ndHDD, bIsSupportISRT = TRUE & bIsSupportIFFS =TRUE, create 2ndHDD "
      L"disk layout...");
  runLog.WriteStamped(L"Run Intel RSTCli Tool... Get system infomation to IntelRSTCli.log");
  RunStorageTool(env, L"-V > " + toolLog);
  RunStorageTool(env, L"-I >> " + toolLog);

  RstDeviceList rstDevices;
  ReadRstDeviceReport(rstDevices);  // an unreadable report leaves the default device ids
  std::uint32_t smallestSize = 0;
  const std::wstring cacheDeviceId = SelectCacheDevice(rstDevices, &smallestSize);
  const std::wstring diskToAccelerateId = SelectDiskToAccelerate(rstDevices);
  const double cacheSize = ComputeCacheSize(smallestSize, nInstalledMemoryMB, env.bIs64BitOS);

  // The clean script's writer lives to the end of the branch, as the create script's does.
  LogWriter cleanScript;
  const std::wstring cleanPath = textout::Format(L"%ls\\Temp\\TScriptClean2ndHDD.txt", dir);
  cleanScript.Open(cleanPath);
  cleanScript.WriteLine(textout::Format(L"sel disk %d", secondIndex));
  cleanScript.WriteLine(L"clean");
  RunDiskpartScript(env, cleanPath);

  runLog.WriteStamped(L"Run Intel RSTCli Tool... Delete all metadata...");
  RunStorageTool(env, L"-M --delete-all-metadata");
  os::Sleep(2000);

  runLog.WriteStamped(L"Run Intel RSTCli Tool... Create cache volume...");
  if (bIsSupportIFFS != 0) {
    RunStorageTool(env, textout::Format(L"--accelerate --createCache --SSD %ls --cache-size %ls",
                                        cacheDeviceId.c_str(), FormatCacheSize(cacheSize).c_str()));
  } else {
    RunStorageTool(env, L"--accelerate --createCache --SSD " + cacheDeviceId);
  }

  runLog.WriteStamped(L"Run Intel RSTCli Tool... Set accelerate mode...");
  os::Sleep(2000);
  RunStorageTool(env,
                 textout::Format(L"--accelerate --setAccelConfig --disk-to-accel %ls --mode %ls",
                                 diskToAccelerateId.c_str(),
                                 env.bIsMaximizedMode != 0 ? L"maximized" : L"enhanced"));
  RunProgram(env.szCmdExePath,
             L"/c echo #======= AFTER RSTCLI ACCELERATE COMMAND =======# >> " + toolLog);
  RunStorageTool(env, L"-I >> " + toolLog);
  os::Sleep(5000);

  runLog.WriteStamped(L"Create IntelRST partition...");
  LogWriter createScript;
  const std::wstring createPath = textout::Format(L"%ls\\Temp\\TScriptCreate2ndHDD.txt", dir);
  createScript.Open(createPath);
  createScript.WriteLine(textout::Format(L"sel disk %d", secondIndex));
  createScript.WriteLine(L"clean");
  // 64-bit Windows boots from UEFI here and takes a GPT disk; 32-bit Windows takes MBR.
  if (env.bIs64BitOS != 0) {
    createScript.WriteLine(L"convert gpt");
    createScript.WriteLine(L"Create Partition EFI");
    createScript.WriteLine(L"Format Quick fs=FAT32 Label=\"IntelRST\"");
    createScript.WriteLine(L"Set ID = D3BFE2DE-3DAF-11DF-BA40-E3A556D89593 Override");
    createScript.WriteLine(L"GPT Attributes=0x8000000000000001");
  } else {
    createScript.WriteLine(L"Create Partition Primary ID=84");
  }
  RunDiskpartScript(env, createPath);
  os::Sleep(2000);
  // The writers close as they leave scope: the create script first, then the clean script.
}

}  // namespace

int RunProvisioning() {
  const RunEnvironment& env = g_RunEnvironment;
  constexpr int kStoppedEarly = 0;

  LogWriter runLog;
  runLog.Open(textout::Format(L"%ls\\Temp\\TempProc.log", env.szWindowsDir.c_str()));

  DiskRecord MasterHDD;
  DiskRecord SecondHDD;
  DiskList diskList;

  // Without disks there is nothing to decide on; the run log stays empty.
  if (!QueryDiskInventory(&diskList) || diskList.empty()) return kStoppedEarly;

  // The four features in table order. Diskeeper is only logged.
  runLog.WriteStamped(L"Detect BIOS support feature...");
  static_assert(std::size(kFirmwareFeatures) == 4);
  int flags[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < std::size(kFirmwareFeatures); ++i) {
    flags[i] = QueryFirmwareFeature(kFirmwareFeatures[i].nFeatureId);
    runLog.WriteStamped(textout::Format(L"%ls = %ls", kFirmwareFeatures[i].szLogName,
                                        flags[i] != 0 ? L"TRUE." : L"FALSE."));
  }
  const int bIsSupportIFFS = flags[0];
  const int bIsSupportRAID0 = flags[1];
  const int bIsSupportISRT = flags[2];

  // An unreadable memory size is not logged and sizes the cache with the small-memory term.
  std::uint32_t nInstalledMemoryMB = 0;
  std::uint64_t kilobytes = 0;
  if (os::GetPhysicallyInstalledSystemMemory(&kilobytes)) {
    nInstalledMemoryMB = static_cast<std::uint32_t>(kilobytes >> 10);
    runLog.WriteStamped(textout::Format(L"Size = %d MB", static_cast<int>(nInstalledMemoryMB)));
  }

  // The disk number in the debug line is the locator's: 0 after a search that found nothing,
  // or the drive whose layout could not be read.
  std::int32_t nRecoveryDiskIndex = 0;
  std::int32_t partitionNumber = 0;
  std::wstring driveRoot;
  if (LocateRecoveryDisk(&nRecoveryDiskIndex, &partitionNumber, &driveRoot) != 0) {
    runLog.WriteStamped(textout::Format(L"[Debug]: Not exist 'Recovery' partition on Disk[%d]",
                                        static_cast<int>(nRecoveryDiskIndex)));
    return kStoppedEarly;
  }

  const int fixedDisks = CountFixedDisks(diskList);
  const bool masterAssigned =
      AssignDiskRoles(diskList, nRecoveryDiskIndex, MasterHDD, SecondHDD, runLog);

  // The gate. Cleaning the second disk is safe only when a fixed disk holds "Recovery" and the
  // disk to clean is another one: with "Recovery" on a removable disk both fixed disks are
  // taken as second disks, and the later one, which may hold the installed system, would be
  // wiped.
  if (fixedDisks == 2 && bIsSupportRAID0 == 0 && bIsSupportISRT == 1) {
    if (!masterAssigned || static_cast<std::int64_t>(SecondHDD.Index) == nRecoveryDiskIndex) {
      runLog.WriteStamped(
          L"[Debug]: 'Recovery' partition is not on a fixed disk, skip 2ndHDD setup");
    } else {
      ProvisionSecondDisk(env, runLog, SecondHDD, bIsSupportIFFS, nInstalledMemoryMB);
    }
  }

  runLog.WriteStamped(L"End process...");
  return 1;
}
