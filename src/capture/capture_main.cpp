#include "capture/capture_main.h"

#include <string>
#include <vector>

#include "app/disk_roles.h"
#include "capture/machine_capture.h"
#include "capture/profile_writer.h"
#include "probes/recovery_locator.h"
#include "textout/format.h"

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

// The gate's three inputs and where the locator finds "Recovery", in one line.
std::wstring Summary(const MachineRecord& record, const std::vector<ProfileDisk>& disks) {
  DiskList list;
  for (const CapturedWmiDisk& wmi : record.wmiDisks) {
    DiskRecord r;
    r.MediaType = L"Unknown";  // as the inventory reads a missing media type
    for (const CapturedProperty& p : wmi) {
      if (p.name == L"MediaType" && p.value.kind == os::WmiValue::Kind::Text) {
        r.MediaType = p.value.text.substr(0, p.value.text.find(L'\0'));
      }
    }
    list.push_back(r);
  }
  std::int32_t disk = 0, partition = 0;
  std::wstring root;
  const std::int32_t found = LocateRecoveryDisk(&disk, &partition, &root);
  const std::wstring recovery =
      found == kLocatorFound ? textout::Format(L"\"Recovery\" on disk %d partition %d%ls%ls", disk,
                                               partition, root.empty() ? L"" : L" ", root.c_str())
      : found == kLocatorFailed ? textout::Format(L"layout of disk %d unreadable", disk)
                                : std::wstring(L"no \"Recovery\" partition");
  auto flag = [&record](std::size_t i) {
    const CapturedFeature& f = record.features[i];
    return f.reading == FirmwareReading::kAnswered && ((f.value >> 16) & 1u) != 0 ? L"on" : L"off";
  };
  return textout::Format(
      L"%d disks (%d in WMI, %d drives); %ls; gate: %d fixed disks, RAID0 %ls, "
      L"ISRT %ls\n",
      static_cast<int>(disks.size()), static_cast<int>(record.wmiDisks.size()),
      static_cast<int>(record.drives.size()), recovery.c_str(), CountFixedDisks(list), flag(1),
      flag(2));
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
  const std::vector<ProfileDisk> disks = AssembleDisks(record);
  if (!WriteProfileFolder(outDir, record, disks)) {
    os::PrintStdout(textout::Format(L"cachesetup-capture: cannot write the profile into %ls\n",
                                    outDir.c_str()));
    return 1;
  }
  os::PrintStdout(
      textout::Format(L"cachesetup-capture: wrote %ls\\machine.json\n", outDir.c_str()));
  os::PrintStdout(Summary(record, disks));
  return 0;
}
