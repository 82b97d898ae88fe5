#include "app/provisioning.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "app/data_volume.h"
#include "app/disk_evidence.h"
#include "app/disk_identity.h"
#include "app/disk_roles.h"
#include "app/existing_cache.h"
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

// Runs "/c <Windows>\Temp\<storage tool> <arguments>" through cmd.exe, which ends with the
// tool's exit code. The tool's path is not quoted; the files its output goes to are.
std::uint32_t RunStorageTool(const RunEnvironment& env, const std::wstring& arguments) {
  return RunProgram(env.szCmdExePath,
                    textout::Format(L"/c %ls\\Temp\\%ls %ls", env.szWindowsDir.c_str(),
                                    StorageToolName(env), arguments.c_str()));
}

std::uint32_t RunDiskpartScript(const RunEnvironment& env, const std::wstring& scriptPath) {
  return RunProgram(env.szDiskpartExePath, textout::Format(L"/s \"%ls\"", scriptPath.c_str()));
}

// A disk-changing step that did not succeed: the disks are part-way, so nothing after it runs.
RunOutcome StepFailed(LogWriter& runLog, const wchar_t* step, std::uint32_t exitCode) {
  runLog.WriteStamped(textout::Format(
      L"[Debug]: %ls failed, exit code %u, no further disk change: the unit needs rework", step,
      exitCode));
  return RunOutcome::kNeedsRework;
}

// The create script on the disk `diskIndex`, run by diskpart; its exit code.
std::uint32_t CreateRapidStartPartition(const RunEnvironment& env, LogWriter& runLog,
                                        int diskIndex) {
  runLog.WriteStamped(L"Create IntelRST partition...");
  LogWriter createScript;
  const std::wstring createPath =
      textout::Format(L"%ls\\Temp\\TScriptCreate2ndHDD.txt", env.szWindowsDir.c_str());
  createScript.Open(createPath);
  createScript.WriteLine(textout::Format(L"sel disk %d", diskIndex));
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
  const std::uint32_t exitCode = RunDiskpartScript(env, createPath);
  os::Sleep(2000);
  return exitCode;
}

// How long the data volume is waited for once the fixed pauses are over, and how often the
// inventory is taken again meanwhile. A first boot of a fresh image or a slow driver brings the
// volume up late; the bound keeps a unit whose volume never comes from holding the line.
constexpr std::uint32_t kDataVolumeLookMs = 1000;
constexpr std::uint32_t kDataVolumeWaitMs = 60000;

bool SameCandidates(const std::vector<DiskRecord>& a, const std::vector<DiskRecord>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].Index != b[i].Index || a[i].PNPDeviceID != b[i].PNPDeviceID ||
        a[i].Size != b[i].Size || a[i].Partitions != b[i].Partitions) {
      return false;
    }
  }
  return true;
}

// After the cache is made: the inventory again, until two looks in a row show the same disks fit
// the cache's data volume, and the create script on the one disk they show. A look that finds
// one disk is checked at once by another; a look that finds none (with Rapid Start) is taken
// again each kDataVolumeLookMs up to kDataVolumeWaitMs, so a timely unit waits no longer than
// the fixed pauses.
RunOutcome AimAndCreatePartition(const RunEnvironment& env, LogWriter& runLog,
                                 const DataVolumeSearch& search, int bIsSupportIFFS) {
  std::vector<DiskRecord> previous;
  bool looked = false;
  bool atOnce = false;  // the last look was the check of a look before it
  for (std::uint32_t waited = 0;;) {
    DiskList after;
    if (!QueryDiskInventory(&after)) {
      runLog.WriteStamped(
          L"[Debug]: Disk inventory after the cache failed, IntelRST partition not created: the "
          L"unit needs rework");
      return RunOutcome::kNeedsRework;
    }
    std::vector<DiskRecord> volumes = FindDataVolumes(search, after);
    const bool settled = looked && SameCandidates(previous, volumes);
    looked = true;
    previous = std::move(volumes);
    if (settled && previous.size() == 1) {
      const std::uint32_t exitCode =
          CreateRapidStartPartition(env, runLog, static_cast<int>(previous[0].Index));
      if (exitCode != 0) return StepFailed(runLog, L"diskpart TScriptCreate2ndHDD.txt", exitCode);
      return RunOutcome::kReachedEnd;
    }
    // A cache over the whole SSD leaves no data volume, and without Rapid Start none is needed.
    if (previous.empty() && bIsSupportIFFS == 0) {
      runLog.WriteStamped(
          L"No data volume after the cache, bIsSupportIFFS = FALSE: skip IntelRST partition");
      return RunOutcome::kReachedEnd;
    }
    if (settled && previous.size() > 1) break;
    if (previous.size() == 1 && !atOnce) {
      atOnce = true;
      continue;
    }
    atOnce = false;
    if (waited >= kDataVolumeWaitMs) break;
    os::Sleep(kDataVolumeLookMs);
    waited += kDataVolumeLookMs;
  }
  if (previous.size() > 1) {
    runLog.WriteStamped(textout::Format(
        L"[Debug]: %d disks fit the cache's data volume, IntelRST partition not created: the "
        L"unit needs rework",
        static_cast<int>(previous.size())));
  } else {
    runLog.WriteStamped(textout::Format(
        L"[Debug]: No one disk fit the cache's data volume in two looks in a row within %u s, "
        L"IntelRST partition not created: the unit needs rework",
        static_cast<unsigned>(kDataVolumeWaitMs / 1000)));
  }
  return RunOutcome::kNeedsRework;
}

// The provisioning branch: the storage tool's information and report, the proof that its
// devices are the role disks, the clean script, the cache volume and acceleration mode, and the
// script that creates the Rapid Start partition, in this fixed order with the pauses the tool
// needs between them. Every disk-changing step must succeed before the next one runs.
RunOutcome ProvisionSecondDisk(const RunEnvironment& env, LogWriter& runLog,
                               const DiskList& diskList, const DiskRecord& MasterHDD,
                               const DiskRecord& SecondHDD, int bIsSupportIFFS,
                               std::uint32_t nInstalledMemoryMB) {
  const wchar_t* dir = env.szWindowsDir.c_str();
  const std::wstring toolLog = textout::Format(L"\"%ls\\Temp\\IntelRSTCli.log\"", dir);

  runLog.WriteStamped(
      L"Two Storages: small 2ndHDD, bIsSupportISRT = TRUE & bIsSupportIFFS =TRUE, create 2ndHDD "
      L"disk layout...");
  runLog.WriteStamped(L"Run Intel RSTCli Tool... Get system infomation to IntelRSTCli.log");
  RunStorageTool(env, L"-V > " + toolLog);
  RunStorageTool(env, L"-I >> " + toolLog);

  RstDeviceList rstDevices;
  std::string report;
  ReadRstDeviceReport(rstDevices, &report);  // an unreadable report lists no device: no proof
  std::uint32_t smallestSize = 0;
  const std::wstring cacheDeviceId = SelectCacheDevice(rstDevices, &smallestSize);
  const std::wstring diskToAccelerateId = SelectDiskToAccelerate(rstDevices);
  const std::wstring cacheSizeText =
      FormatCacheSize(ComputeCacheSize(smallestSize, nInstalledMemoryMB, env.bIs64BitOS));

  // The Windows volume's disks, where they can be had; the evidence below refuses without them.
  const std::vector<std::uint32_t> windowsDisks =
      WindowsVolumeDisks(env.szWindowsDir).value_or(std::vector<std::uint32_t>{});
  const ExistingCache existing =
      CheckExistingCache(report, rstDevices,
                         ExistingCacheCheck{diskList, MasterHDD, bIsSupportIFFS != 0,
                                            env.bIsMaximizedMode != 0 ? L"maximized" : L"enhanced",
                                            windowsDisks, HoldsOnlyIntelRstPartition});
  if (existing.state == ExistingCache::State::kInPlace) {
    runLog.WriteStamped(L"[Debug]: The unit is already provisioned, no disk changed: " +
                        existing.what);
    return RunOutcome::kReachedEnd;
  }
  if (existing.state == ExistingCache::State::kIncomplete) {
    runLog.WriteStamped(L"[Debug]: The unit already holds " + existing.what +
                        L", no disk changed: the unit needs rework");
    return RunOutcome::kNeedsRework;
  }

  const IdentityProof proof = ProveDiskIdentity(diskList, MasterHDD, SecondHDD, rstDevices,
                                                cacheDeviceId, diskToAccelerateId);
  if (!proof.holds) {
    runLog.WriteStamped(L"[Debug]: Disk identity not proven, no disk changed: " + proof.mismatch);
    return RunOutcome::kRefused;
  }
  const DiskEvidence evidence = CheckSecondDiskEvidence(env.szWindowsDir, MasterHDD, SecondHDD);
  if (!evidence.holds) {
    runLog.WriteStamped(
        L"[Debug]: SecondHDD not cleaned, Windows shows it in use, no disk changed: " +
        evidence.found);
    return RunOutcome::kRefused;
  }

  // The clean script's writer lives to the end of the branch, as the create script's does.
  LogWriter cleanScript;
  const std::wstring cleanPath = textout::Format(L"%ls\\Temp\\TScriptClean2ndHDD.txt", dir);
  cleanScript.Open(cleanPath);
  cleanScript.WriteLine(textout::Format(L"sel disk %d", static_cast<int>(SecondHDD.Index)));
  cleanScript.WriteLine(L"clean");
  if (const std::uint32_t code = RunDiskpartScript(env, cleanPath); code != 0) {
    return StepFailed(runLog, L"diskpart TScriptClean2ndHDD.txt", code);
  }

  runLog.WriteStamped(L"Run Intel RSTCli Tool... Delete all metadata...");
  const std::uint32_t deleted = RunStorageTool(env, L"-M --delete-all-metadata");
  os::Sleep(2000);
  // A tool may answer non-zero when there was nothing to delete. Metadata that is really left
  // makes the cache creation fail, and that is checked, so the run goes on.
  if (deleted != 0) {
    runLog.WriteStamped(textout::Format(
        L"[Debug]: Delete all metadata gave exit code %u, going on to create the cache", deleted));
  }

  runLog.WriteStamped(L"Run Intel RSTCli Tool... Create cache volume...");
  const std::uint32_t created =
      bIsSupportIFFS != 0
          ? RunStorageTool(env,
                           textout::Format(L"--accelerate --createCache --SSD %ls --cache-size %ls",
                                           cacheDeviceId.c_str(), cacheSizeText.c_str()))
          : RunStorageTool(env, L"--accelerate --createCache --SSD " + cacheDeviceId);
  if (created != 0) return StepFailed(runLog, L"RSTCli --createCache", created);

  runLog.WriteStamped(L"Run Intel RSTCli Tool... Set accelerate mode...");
  os::Sleep(2000);
  const std::uint32_t accelerated = RunStorageTool(
      env, textout::Format(L"--accelerate --setAccelConfig --disk-to-accel %ls --mode %ls",
                           diskToAccelerateId.c_str(),
                           env.bIsMaximizedMode != 0 ? L"maximized" : L"enhanced"));
  if (accelerated != 0) return StepFailed(runLog, L"RSTCli --setAccelConfig", accelerated);
  RunProgram(env.szCmdExePath,
             L"/c echo #======= AFTER RSTCLI ACCELERATE COMMAND =======# >> " + toolLog);
  RunStorageTool(env, L"-I >> " + toolLog);
  os::Sleep(5000);

  // The create script's writer closes before the clean script's, which lives to here.
  DataVolumeSearch search{
      diskList,
      MasterHDD,
      SecondHDD,
      bIsSupportIFFS != 0 ? cacheSizeText : std::wstring(),
      WindowsVolumeDisks(env.szWindowsDir).value_or(windowsDisks),
      [](const DiskRecord& disk) { return HoldsOnlyIntelRstPartition(disk.Index); }};
  return AimAndCreatePartition(env, runLog, search, bIsSupportIFFS);
}

std::wstring RunLogPath(const RunEnvironment& env) {
  return textout::Format(L"%ls\\Temp\\TempProc.log", env.szWindowsDir.c_str());
}

}  // namespace

RunOutcome RunProvisioning() {
  const RunEnvironment& env = g_RunEnvironment;
  constexpr RunOutcome kStoppedEarly = RunOutcome::kStoppedEarly;

  LogWriter runLog;
  runLog.Open(RunLogPath(env));

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
      // A refused or failed branch ends here: "End process..." means the run went through.
      const RunOutcome outcome = ProvisionSecondDisk(env, runLog, diskList, MasterHDD, SecondHDD,
                                                     bIsSupportIFFS, nInstalledMemoryMB);
      if (outcome != RunOutcome::kReachedEnd) return outcome;
    }
  }

  runLog.WriteStamped(L"End process...");
  return RunOutcome::kReachedEnd;
}

RunOutcome RefuseWithoutCom(std::int32_t hresult) {
  LogWriter runLog;
  runLog.Open(RunLogPath(g_RunEnvironment));
  runLog.WriteStamped(
      textout::Format(L"[Debug]: COM initialization failed, HRESULT = 0x%08X, no disk changed",
                      static_cast<unsigned>(hresult)));
  return RunOutcome::kRefused;
}
