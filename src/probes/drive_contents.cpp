#include "probes/drive_contents.h"

#include <string>

#include "probes/volume_label.h"
#include "textout/format.h"

namespace {

// The type GUIDs the product tells apart, as textout::GuidText prints them.
constexpr char kGptEfiSystem[] = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr char kGptWindowsRecovery[] = "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC";
constexpr char kGptIntelRst[] = "D3BFE2DE-3DAF-11DF-BA40-E3A556D89593";
constexpr std::uint8_t kMbrEfiSystem = 0xEF;
constexpr std::uint8_t kMbrWindowsRecovery = 0x27;
constexpr std::uint8_t kMbrIntelRst = 0x84;

bool IsZero(const std::array<std::uint8_t, drive_layout::kGuidBytes>& guid) {
  for (std::uint8_t b : guid) {
    if (b != 0) return false;
  }
  return true;
}

}  // namespace

std::optional<DriveContents> ReadDriveContents(std::uint32_t driveNumber) {
  os::UniqueHandle drive(os::CreateFileW(textout::Format(L"\\\\.\\PHYSICALDRIVE%u", driveNumber),
                                         os::kGenericRead, os::kFileShareRead | os::kFileShareWrite,
                                         os::kOpenExisting, os::kFileAttributeNormal));
  if (!drive) return std::nullopt;
  const std::optional<DriveLayout> layout = QueryDriveLayout(drive.get());
  if (!layout) return std::nullopt;
  DriveContents contents;
  contents.style = layout->style;
  for (const DriveLayoutEntry& e : layout->entries) {
    DrivePartition p;
    if (layout->style == drive_layout::kStyleMbr) {
      if (e.mbrType == 0) continue;  // an empty slot
      p.mbrType = e.mbrType;
    } else if (layout->style == drive_layout::kStyleGpt) {
      if (IsZero(e.gptType)) continue;
      p.gptType = e.gptType;
    } else {
      continue;
    }
    p.number = e.number;
    p.start = e.start;
    // Labels are read where the locator reads them: MBR entries whose type Windows recognises.
    if (layout->style == drive_layout::kStyleGpt || e.recognized) {
      std::wstring label;
      if (ReadVolumeLabel(drive.get(), &label, static_cast<std::int64_t>(e.start)) ==
          kLocatorFound) {
        p.label = label;
      }
    }
    contents.partitions.push_back(p);
  }
  return contents;
}

PartitionKind KindOfPartition(std::uint32_t style, const DrivePartition& partition) {
  if (style == drive_layout::kStyleMbr) {
    switch (partition.mbrType) {
      case kMbrEfiSystem:
        return PartitionKind::kEfiSystem;
      case kMbrWindowsRecovery:
        return PartitionKind::kWindowsRecovery;
      case kMbrIntelRst:
        return PartitionKind::kIntelRst;
      default:
        return PartitionKind::kOther;
    }
  }
  if (style != drive_layout::kStyleGpt) return PartitionKind::kOther;
  const std::string type = textout::GuidText(partition.gptType);
  if (type == kGptEfiSystem) return PartitionKind::kEfiSystem;
  if (type == kGptWindowsRecovery) return PartitionKind::kWindowsRecovery;
  // The create script formats its GPT partition and labels it (FAT keeps labels upper-cased by
  // some tools); the MBR one it leaves bare.
  if (type == kGptIntelRst && EqualsIgnoringCase(partition.label, L"IntelRST")) {
    return PartitionKind::kIntelRst;
  }
  return PartitionKind::kOther;
}

const wchar_t* PartitionKindName(PartitionKind kind) {
  switch (kind) {
    case PartitionKind::kEfiSystem:
      return L"EFI system partition";
    case PartitionKind::kWindowsRecovery:
      return L"Windows recovery partition";
    case PartitionKind::kIntelRst:
      return L"IntelRST partition";
    case PartitionKind::kOther:
      break;
  }
  return L"partition";
}
