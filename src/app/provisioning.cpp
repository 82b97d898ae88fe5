#include "app/provisioning.h"

#include <cstdint>
#include <string>

#include "app/disk_roles.h"
#include "app/run_environment.h"
#include "platform/os.h"
#include "probes/disk_inventory.h"
#include "probes/firmware.h"
#include "probes/disk_record.h"
#include "probes/recovery_locator.h"
#include "textout/format.h"
#include "textout/log_writer.h"
#include "tools/process_runner.h"
#include "tools/rst_report.h"

namespace {

// Steps 14 to 20: the storage tool, the two diskpart scripts and the pauses between them.
void ProvisionSecondDisk(const RunEnvironment& env, LogWriter& runLog, const DiskRecord& SecondHDD,
                         int bIsSupportIFFS, std::uint32_t nInstalledMemoryMB) {
  const wchar_t* dir = env.szWindowsDir.c_str();
  const wchar_t* tool = env.bIs64BitOS != 0 ? L"RSTCLI64.exe" : L"RSTCLI.exe";
  const std::wstring& cmd = env.szCmdExePath;
  const int secondIndex = static_cast<int>(SecondHDD.Index);

  // Step 14.
  runLog.WriteStamped(
      L"Two Storages: small 2ndHDD, bIsSupportISRT = TRUE & bIsSupportIFFS =TRUE, create 2ndHDD "
      L"disk layout...");
  runLog.WriteStamped(L"Run Intel RSTCli Tool... Get system infomation to IntelRSTCli.log");
  RunProgram(cmd, textout::Format(L"/c %ls\\Temp\\%ls -V > \"%ls\\Temp\\IntelRSTCli.log\"", dir, tool, dir));
  const std::wstring c2 =
      textout::Format(L"/c %ls\\Temp\\%ls -I >> \"%ls\\Temp\\IntelRSTCli.log\"", dir, tool, dir);
  RunProgram(cmd, c2);
  RstDeviceList rstDevices;
  ReadRstDeviceReport(rstDevices);
  std::uint32_t smallestSize = 0;
  const std::wstring cacheDeviceId = SelectCacheDevice(rstDevices, &smallestSize);
  const std::wstring diskToAccelerateId = SelectDiskToAccelerate(rstDevices);
  const double cacheSize = ComputeCacheSize(smallestSize, nInstalledMemoryMB, env.bIs64BitOS);

  // Step 15: the clean script stays open until the end of the branch.
  LogWriter cleanScript;
  const std::wstring cleanPath = textout::Format(L"%ls\\Temp\\TScriptClean2ndHDD.txt", dir);
  cleanScript.Open(cleanPath);
  cleanScript.WriteLine(textout::Format(L"sel disk %d", secondIndex));
  cleanScript.WriteLine(L"clean");
  RunProgram(env.szDiskpartExePath, textout::Format(L"/s \"%ls\"", cleanPath.c_str()));

  // Step 16.
  runLog.WriteStamped(L"Run Intel RSTCli Tool... Delete all metadata...");
  RunProgram(cmd, textout::Format(L"/c %ls\\Temp\\%ls -M --delete-all-metadata", dir, tool));
  os::Sleep(2000);

  // Step 17.
  runLog.WriteStamped(L"Run Intel RSTCli Tool... Create cache volume...");
  if (bIsSupportIFFS != 0) {
    RunProgram(cmd, textout::Format(L"/c %ls\\Temp\\%ls --accelerate --createCache --SSD %ls --cache-size %ls",
                                    dir, tool, cacheDeviceId.c_str(), FormatCacheSize(cacheSize).c_str()));
  } else {
    RunProgram(cmd, textout::Format(L"/c %ls\\Temp\\%ls --accelerate --createCache --SSD %ls", dir, tool,
                                    cacheDeviceId.c_str()));
  }

  // Step 18.
  runLog.WriteStamped(L"Run Intel RSTCli Tool... Set accelerate mode...");
  os::Sleep(2000);
  RunProgram(cmd, textout::Format(L"/c %ls\\Temp\\%ls --accelerate --setAccelConfig --disk-to-accel %ls --mode %ls",
                                  dir, tool, diskToAccelerateId.c_str(),
                                  env.bIsMaximizedMode != 0 ? L"maximized" : L"enhanced"));
  RunProgram(cmd, textout::Format(
                      L"/c echo #======= AFTER RSTCLI ACCELERATE COMMAND =======# >> \"%ls\\Temp\\IntelRSTCli.log\"", dir));
  RunProgram(cmd, c2);
  os::Sleep(5000);

  // Step 19.
  runLog.WriteStamped(L"Create IntelRST partition...");
  LogWriter createScript;
  const std::wstring createPath = textout::Format(L"%ls\\Temp\\TScriptCreate2ndHDD.txt", dir);
  createScript.Open(createPath);
  createScript.WriteLine(textout::Format(L"sel disk %d", secondIndex));
  createScript.WriteLine(L"clean");
  if (env.bIs64BitOS != 0) {
    createScript.WriteLine(L"convert gpt");
    createScript.WriteLine(L"Create Partition EFI");
    createScript.WriteLine(L"Format Quick fs=FAT32 Label=\"IntelRST\"");
    createScript.WriteLine(L"Set ID = D3BFE2DE-3DAF-11DF-BA40-E3A556D89593 Override");
    createScript.WriteLine(L"GPT Attributes=0x8000000000000001");
  } else {
    createScript.WriteLine(L"Create Partition Primary ID=84");
  }
  RunProgram(env.szDiskpartExePath, textout::Format(L"/s \"%ls\"", createPath.c_str()));
  os::Sleep(2000);
  // Step 20: the writers close as they leave scope, the create script first.
}

}  // namespace

int RunProvisioning() {
  const RunEnvironment& env = g_RunEnvironment;
  const wchar_t* windowsDir = env.szWindowsDir.c_str();

  // Step 1: the run log, created or emptied.
  LogWriter runLog;
  runLog.Open(textout::Format(L"%ls\\Temp\\TempProc.log", windowsDir));

  // Step 2.
  DiskRecord MasterHDD;
  DiskRecord SecondHDD;
  DiskList diskList;
  const int result = 0;

  // Step 3: without disks there is nothing to decide on; the log stays empty.
  if (!QueryDiskInventory(&diskList) || diskList.empty()) return result;

  // Steps 4-8: the four features in table order; Diskeeper is only logged.
  runLog.WriteStamped(L"Detect BIOS support feature...");
  int flags[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < 4; ++i) {
    flags[i] = QueryFirmwareFeature(kFirmwareFeatures[i].nFeatureId);
    runLog.WriteStamped(textout::Format(L"%ls = %ls", kFirmwareFeatures[i].szLogName,
                                        flags[i] != 0 ? L"TRUE." : L"FALSE."));
  }
  const int bIsSupportIFFS = flags[0];
  const int bIsSupportRAID0 = flags[1];
  const int bIsSupportISRT = flags[2];

  // Step 9.
  std::uint32_t nInstalledMemoryMB = 0;
  std::uint64_t kilobytes = 0;
  if (os::GetPhysicallyInstalledSystemMemory(&kilobytes)) {
    nInstalledMemoryMB = static_cast<std::uint32_t>(kilobytes >> 10);
    runLog.WriteStamped(textout::Format(L"Size = %d MB", static_cast<int>(nInstalledMemoryMB)));
  }

  // Step 10.
  std::int32_t nRecoveryDiskIndex = 0;
  std::int32_t partitionNumber = 0;
  std::wstring driveRoot;
  if (LocateRecoveryDisk(&nRecoveryDiskIndex, &partitionNumber, &driveRoot) != 0) {
    runLog.WriteStamped(textout::Format(L"[Debug]: Not exist 'Recovery' partition on Disk[%d]",
                                        static_cast<int>(nRecoveryDiskIndex)));
    return result;
  }

  // Steps 11-12.
  const int fixedDisks = CountFixedDisks(diskList);
  const bool masterAssigned =
      AssignDiskRoles(diskList, nRecoveryDiskIndex, MasterHDD, SecondHDD, runLog);

  // Step 13: the gate. Cleaning the second disk is safe only when a fixed disk holds
  // "Recovery" and the disk to clean is not that disk; otherwise, with "Recovery" on a
  // removable disk, both fixed disks become second disks and the later one, which may hold
  // the installed system, would be wiped.
  if (fixedDisks == 2 && bIsSupportRAID0 == 0 && bIsSupportISRT == 1) {
    if (!masterAssigned || static_cast<std::int64_t>(SecondHDD.Index) == nRecoveryDiskIndex) {
      runLog.WriteStamped(L"[Debug]: 'Recovery' partition is not on a fixed disk, skip 2ndHDD setup");
    } else {
      ProvisionSecondDisk(env, runLog, SecondHDD, bIsSupportIFFS, nInstalledMemoryMB);
    }
  }

  // Step 21.
  runLog.WriteStamped(L"End process...");
  return 1;
}
