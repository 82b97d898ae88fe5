#include "capture/capture_main.h"

#include <string>
#include <vector>

#include "app/disk_evidence.h"
#include "app/disk_identity.h"
#include "app/disk_roles.h"
#include "app/existing_cache.h"
#include "capture/disk_pairing.h"
#include "capture/machine_capture.h"
#include "capture/profile_writer.h"
#include "probes/firmware.h"
#include "probes/recovery_locator.h"
#include "textout/format.h"
#include "textout/log_writer.h"
#include "tools/rst_report.h"

namespace {

// Splits a command line at blanks; double quotes group blanks into one argument.
std::vector<std::wstring> Arguments(const wchar_t* commandLine) {
  std::vector<std::wstring> args;
  std::wstring current;
  bool quoted = false, any = false;
  for (const wchar_t* c = commandLine; c != nullptr && *c != 0; ++c) {
    if (*c == L'"') {
      quoted = !quoted;
      any = true;
    } else if ((*c == L' ' || *c == L'\t') && !quoted) {
      if (any) args.push_back(current);
      current.clear();
      any = false;
    } else {
      current.push_back(*c);
      any = true;
    }
  }
  if (any) args.push_back(current);
  return args;
}

// What the product would decide here before its first disk change, and the exit code that
// follows: the roles, which report device is which disk, and whether that is proven.
std::wstring Verdict(const MachineRecord& record, const DiskList& list, std::int32_t found,
                     std::int32_t recoveryDisk, bool iffs, bool raid0, bool isrt) {
  if (list.empty()) return L"product: exit 1, no disk listed";
  if (found != kLocatorFound) return L"product: exit 1, no \"Recovery\" partition";
  DiskRecord MasterHDD, SecondHDD;
  LogWriter unopened;  // the role lines are the run's, not the capture's
  const bool master = AssignDiskRoles(list, recoveryDisk, MasterHDD, SecondHDD, unopened);
  if (CountFixedDisks(list) != 2 || raid0 || !isrt || !master ||
      static_cast<std::int64_t>(SecondHDD.Index) == recoveryDisk) {
    return L"product: exit 0, the gate is shut";
  }
  if (!record.storageReport) return L"identity: no storage-tool report captured";
  RstDeviceList devices;
  ParseRstReportBytes(*record.storageReport, devices);
  // A run with no arguments: maximized mode.
  const std::vector<std::uint32_t> windowsDisks =
      WindowsVolumeDisks(record.windowsDir).value_or(std::vector<std::uint32_t>{});
  const ExistingCache existing =
      CheckExistingCache(*record.storageReport, devices,
                         ExistingCacheCheck{list, MasterHDD, iffs, L"maximized", windowsDisks,
                                            HoldsOnlyIntelRstPartition});
  if (existing.state == ExistingCache::State::kInPlace) {
    return L"already provisioned (" + existing.what + L"); product: exit 0, changes nothing";
  }
  if (existing.state == ExistingCache::State::kIncomplete) {
    return L"the unit already holds " + existing.what +
           L"; product: exit 3, changes nothing, the unit needs rework";
  }
  std::uint32_t smallest = 0;
  const std::wstring cache = SelectCacheDevice(devices, &smallest);
  const std::wstring accel = SelectDiskToAccelerate(devices);
  const IdentityProof proof = ProveDiskIdentity(list, MasterHDD, SecondHDD, devices, cache, accel);
  if (!proof.holds) {
    return L"identity does not hold (" + proof.mismatch +
           L"); product: exit 2, refused before any disk changes";
  }
  const DiskEvidence evidence = CheckSecondDiskEvidence(record.windowsDir, MasterHDD, SecondHDD);
  if (!evidence.holds) {
    return L"identity holds, but Windows shows SecondHDD in use (" + evidence.found +
           L"); product: exit 2, refused before any disk changes";
  }
  return textout::Format(
      L"identity holds: cache device %ls is SecondHDD disk %d, disk to accelerate %ls is "
      L"MasterHDD disk %d; product: exit 0 when every disk step succeeds, 3 when one fails",
      cache.c_str(), static_cast<int>(SecondHDD.Index), accel.c_str(),
      static_cast<int>(MasterHDD.Index));
}

// The gate's three inputs, where the locator finds "Recovery" and what the product would decide,
// in one line.
// What the replay makes of a cache the report shows: carried, or what stands in the way.
std::wstring CacheClause(const ReportCacheReading& reading) {
  if (!reading.shown) return std::wstring();
  if (!reading.cache) {
    return L"; the report shows a cache volume, which the replay cannot carry: " + reading.why;
  }
  const ReportCache& c = *reading.cache;
  const std::wstring accel = c.acceleratedDisk.empty()
                                 ? std::wstring(L"no disk accelerated")
                                 : L"accelerating " + c.acceleratedDisk + L" " + c.mode;
  return textout::Format(
      L"; the replay carries the report's cache volume on device %ls (%ls GB, %ls), the device "
      L"blank since Windows does not see it",
      c.device.c_str(), c.cacheSizeText.c_str(), accel.c_str());
}

// What the replay cannot read as the notebook did: a drive whose first sector failed (every
// read of it fails in the replay), or a partition-table read that failed.
std::wstring ReadsClause(const MachineRecord& record) {
  std::wstring clause;
  for (const CapturedDrive& d : record.drives) {
    if (d.readsFail) {
      clause += textout::Format(
          L"; drive %d's first sector could not be read, so the replay fails every read of it "
          L"(fault ReadFile:%d) and may decide otherwise than the notebook",
          d.number, d.number);
    } else if (d.tableReadFailedAt) {
      const auto sector = static_cast<unsigned long long>(*d.tableReadFailedAt);
      clause += textout::Format(
          L"; a read of drive %d's partition table failed at sector %llu (fault ReadFile:%d@%llu): "
          L"the replay is refused if the table is incomplete",
          d.number, sector, d.number, sector);
    }
  }
  return clause;
}

std::wstring Summary(const MachineRecord& record, const PairedDisks& paired) {
  const DiskList& list = record.inventory;
  std::int32_t disk = 0, partition = 0;
  std::wstring root;
  const std::int32_t found = LocateRecoveryDisk(&disk, &partition, &root);
  const std::wstring recovery =
      found == kLocatorFound ? textout::Format(L"\"Recovery\" on disk %d partition %d%ls%ls", disk,
                                               partition, root.empty() ? L"" : L" ", root.c_str())
      : found == kLocatorFailed ? textout::Format(L"layout of disk %d unreadable", disk)
                                : std::wstring(L"no \"Recovery\" partition");
  auto on = [&record](std::size_t i) {
    return FirmwareFeatureFlag(record.features[i].reading, record.features[i].value) != 0;
  };
  return textout::Format(
      L"%d disks (%d in WMI, %d drives); %ls; gate: %d fixed disk%ls, RAID0 %ls, "
      L"ISRT %ls; %ls%ls%ls\n",
      static_cast<int>(paired.disks.size()), static_cast<int>(record.wmiDisks.size()),
      static_cast<int>(record.drives.size()), recovery.c_str(), CountFixedDisks(list),
      CountFixedDisks(list) == 1 ? L"" : L"s", on(1) ? L"on" : L"off", on(2) ? L"on" : L"off",
      Verdict(record, list, found, disk, on(0), on(1), on(2)).c_str(),
      CacheClause(paired.cache).c_str(), ReadsClause(record).c_str());
}

}  // namespace

int CaptureMain(const wchar_t* commandLine) {
  bool runStorageTool = true;
  std::wstring outDir;
  for (const std::wstring& arg : Arguments(commandLine)) {
    if (arg == L"--no-storage-tool") {
      runStorageTool = false;
    } else if (outDir.empty() && !arg.empty() && arg[0] != L'-') {
      outDir = arg;
    } else {
      outDir.clear();
      break;
    }
  }
  if (outDir.empty()) {
    os::PrintStdout(L"usage: cachesetup-capture [--no-storage-tool] OUTDIR\n");
    return 2;
  }
  while (outDir.size() > 3 && (outDir.back() == L'\\' || outDir.back() == L'/')) outDir.pop_back();
  if (!os::CreateDirectoryW(outDir)) {
    os::PrintStdout(textout::Format(L"cachesetup-capture: cannot create %ls (error %u)\n",
                                    outDir.c_str(), os::GetLastError()));
    return 1;
  }
  const MachineRecord record = CaptureMachine(outDir, runStorageTool);
  const PairedDisks paired = PairDisks(record);
  if (!WriteProfileFolder(outDir, record, paired)) {
    os::PrintStdout(textout::Format(L"cachesetup-capture: cannot write the profile into %ls\n",
                                    outDir.c_str()));
    return 1;
  }
  os::PrintStdout(
      textout::Format(L"cachesetup-capture: wrote %ls\\machine.json\n", outDir.c_str()));
  os::PrintStdout(Summary(record, paired));
  return 0;
}
