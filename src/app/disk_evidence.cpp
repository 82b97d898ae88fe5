#include "app/disk_evidence.h"

#include <algorithm>

#include "platform/os.h"
#include "probes/disk_extents.h"
#include "probes/drive_contents.h"
#include "probes/drive_roots.h"
#include "probes/media_rotation.h"
#include "probes/volume_label.h"
#include "textout/format.h"

namespace {

// IDENTIFY word 217: 0x0401-0xFFFE is a nominal rotation rate in rpm.
constexpr std::uint16_t kLowestRotationRate = 0x0401;
constexpr std::uint16_t kHighestRotationRate = 0xFFFE;

std::optional<std::vector<DiskExtent>> RootExtents(const std::wstring& root) {
  os::UniqueHandle volume(OpenRootVolume(root));
  if (!volume) return std::nullopt;
  return QueryDiskExtents(volume.get());
}

bool OnDisk(const std::vector<DiskExtent>& extents, std::uint32_t disk) {
  return std::any_of(extents.begin(), extents.end(),
                     [disk](const DiskExtent& e) { return e.disk == disk; });
}

std::wstring WindowsRoot(const std::wstring& windowsDir) {
  if (windowsDir.size() < 2 || windowsDir[1] != L':') return std::wstring();
  return windowsDir.substr(0, 2) + L"\\";
}

void CheckWindowsVolume(const std::wstring& windowsDir, const DiskRecord& MasterHDD,
                        std::vector<std::wstring>& found) {
  const std::optional<std::vector<std::uint32_t>> disks = WindowsVolumeDisks(windowsDir);
  if (!disks) {
    found.push_back(textout::Format(
        L"the volume of the Windows folder %ls lies on no disk it can name", windowsDir.c_str()));
    return;
  }
  for (const std::uint32_t disk : *disks) {
    if (disk != MasterHDD.Index) {
      found.push_back(textout::Format(L"the Windows volume %ls lies on Disk[%u]",
                                      WindowsRoot(windowsDir).c_str(), disk));
    }
  }
}

void CheckLayout(const DiskRecord& SecondHDD, std::vector<std::wstring>& found) {
  const std::optional<DriveContents> contents = ReadDriveContents(SecondHDD.Index);
  if (!contents) {
    found.push_back(textout::Format(L"Disk[%u]'s partitions cannot be read", SecondHDD.Index));
    return;
  }
  for (const DrivePartition& p : contents->partitions) {
    const PartitionKind kind = KindOfPartition(contents->style, p);
    if (kind == PartitionKind::kEfiSystem || kind == PartitionKind::kWindowsRecovery) {
      found.push_back(textout::Format(L"Disk[%u] holds %ls %ls (partition %u)", SecondHDD.Index,
                                      kind == PartitionKind::kEfiSystem ? L"an" : L"a",
                                      PartitionKindName(kind), p.number));
    } else if (EqualsIgnoringCase(p.label, L"Recovery")) {
      found.push_back(textout::Format(L"Disk[%u] holds a partition labelled '%ls' (partition %u)",
                                      SecondHDD.Index, p.label.c_str(), p.number));
    }
  }
}

// Only volumes with a drive letter are seen, and only files at their roots: a page file on a
// volume mounted in a folder, or one the registry names elsewhere, is not.
void CheckSystemFiles(const DiskRecord& SecondHDD, std::vector<std::wstring>& found) {
  const std::optional<std::vector<std::wstring>> roots = ListDriveRoots();
  if (!roots) return;
  for (const std::wstring& root : *roots) {
    const std::optional<std::vector<DiskExtent>> extents = RootExtents(root);
    if (!extents || !OnDisk(*extents, SecondHDD.Index)) continue;
    for (const wchar_t* name : kRootSystemFiles) {
      if (os::FindFirstFileW(root + name)) {
        found.push_back(
            textout::Format(L"%ls on Disk[%u] holds %ls", root.c_str(), SecondHDD.Index, name));
      }
    }
  }
}

// A probe that fails, or a rate not reported, says nothing either way.
void CheckRotation(const DiskRecord& SecondHDD, std::vector<std::wstring>& found) {
  const MediaRotationReading reading = ReadMediaRotation(static_cast<int>(SecondHDD.Index));
  if (reading.failedStep != MediaRotationReading::Step::kNone) return;
  if (reading.rate >= kLowestRotationRate && reading.rate <= kHighestRotationRate) {
    found.push_back(textout::Format(L"Disk[%u] spins at %u rpm", SecondHDD.Index,
                                    static_cast<unsigned>(reading.rate)));
  }
}

}  // namespace

std::optional<std::vector<std::uint32_t>> WindowsVolumeDisks(const std::wstring& windowsDir) {
  const std::wstring root = WindowsRoot(windowsDir);
  if (root.empty()) return std::nullopt;
  const std::optional<std::vector<DiskExtent>> extents = RootExtents(root);
  if (!extents || extents->empty()) return std::nullopt;
  std::vector<std::uint32_t> disks;
  for (const DiskExtent& e : *extents) {
    if (std::find(disks.begin(), disks.end(), e.disk) == disks.end()) disks.push_back(e.disk);
  }
  return disks;
}

DiskEvidence CheckSecondDiskEvidence(const std::wstring& windowsDir, const DiskRecord& MasterHDD,
                                     const DiskRecord& SecondHDD) {
  std::vector<std::wstring> found;
  CheckWindowsVolume(windowsDir, MasterHDD, found);
  CheckLayout(SecondHDD, found);
  CheckSystemFiles(SecondHDD, found);
  CheckRotation(SecondHDD, found);
  DiskEvidence evidence;
  evidence.holds = found.empty();
  for (const std::wstring& f : found) evidence.found += (evidence.found.empty() ? L"" : L", ") + f;
  return evidence;
}

bool HoldsOnlyIntelRstPartition(std::uint32_t driveNumber) {
  const std::optional<DriveContents> contents = ReadDriveContents(driveNumber);
  return contents && contents->partitions.size() == 1 &&
         KindOfPartition(contents->style, contents->partitions[0]) == PartitionKind::kIntelRst;
}
