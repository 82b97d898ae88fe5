#include "capture/drive_capture.h"

#include <span>

#include "app/disk_evidence.h"
#include "platform/bytes.h"
#include "probes/disk_extents.h"
#include "probes/drive_layout.h"
#include "probes/drive_length.h"
#include "probes/drive_roots.h"
#include "probes/volume_label.h"
#include "textout/format.h"

namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kMaxGptEntries = 1024;
constexpr int kMaxLogicalPartitions = 128;

// The MBR's (and each extended boot record's) four partition slots.
constexpr std::size_t kMbrSlots = 0x1BE;
constexpr std::size_t kMbrSlotBytes = 16;
constexpr std::size_t kMbrSlotType = 0x04;      // u8
constexpr std::size_t kMbrSlotFirstLba = 0x08;  // u32, from the table's own origin
// The GPT header.
constexpr std::size_t kGptAlternateLba = 0x20;  // u64: the other copy's header
constexpr std::size_t kGptEntriesLba = 0x48;    // u64
constexpr std::size_t kGptEntryCount = 0x50;    // u32
constexpr std::size_t kGptEntrySize = 0x54;     // u32

os::RawHandle OpenForReading(const std::wstring& path) {
  return os::CreateFileW(path, os::kGenericRead, os::kFileShareRead | os::kFileShareWrite,
                         os::kOpenExisting, os::kFileAttributeNormal);
}

os::RawHandle OpenDrive(int number) {
  return OpenForReading(textout::Format(L"\\\\.\\PHYSICALDRIVE%d", number));
}

// Keeps bytes the label readers (or the table reads) received, in 512-byte pieces.
void Keep(void* context, std::int64_t offset, const std::uint8_t* data, std::uint32_t length) {
  auto& sectors = static_cast<CapturedDrive*>(context)->sectors;
  for (std::uint32_t at = 0; at < length; at += kSector) {
    const std::uint32_t n = length - at < kSector ? length - at : kSector;
    sectors[static_cast<std::uint64_t>(offset) + at] =
        std::string(reinterpret_cast<const char*>(data) + at, n);
  }
}

// Reads and keeps `length` bytes at `offset`; the bytes, empty when the read fails.
std::vector<std::uint8_t> ReadKept(os::RawHandle drive, CapturedDrive* record, std::uint64_t offset,
                                   std::uint32_t length) {
  std::vector<std::uint8_t> buffer(length, 0);
  std::uint32_t read = 0;
  if (!os::SetFilePointerEx(drive, static_cast<std::int64_t>(offset), os::kFileBegin) ||
      !os::ReadFile(drive, buffer.data(), length, &read)) {
    if (!record->tableReadFailedAt) record->tableReadFailedAt = offset / kSector;
    return {};
  }
  buffer.resize(read);
  Keep(record, static_cast<std::int64_t>(offset), buffer.data(), read);
  return buffer;
}

bool IsContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// The first LBA of the first extended container in a table sector that names one, relative to
// the table's origin; 0 when there is none.
std::uint64_t ContainerStart(std::span<const std::uint8_t> sector) {
  for (std::size_t slot = 0; slot < 4; ++slot) {
    const std::size_t at = kMbrSlots + slot * kMbrSlotBytes;
    std::uint8_t type = 0;
    const std::uint32_t start = bytes::U32(sector, at + kMbrSlotFirstLba);
    if (bytes::ReadU8(sector, at + kMbrSlotType, &type) && IsContainer(type) && start != 0) {
      return start;
    }
  }
  return 0;
}

// A GPT header at `lba` and the entry array it names.
std::vector<std::uint8_t> ReadGptCopy(os::RawHandle drive, CapturedDrive* record,
                                      std::uint64_t lba) {
  const std::vector<std::uint8_t> header = ReadKept(drive, record, lba * kSector, kSector);
  if (header.size() < kSector || !bytes::Equals(header, 0, "EFI PART", 8)) return {};
  std::uint32_t count = bytes::U32(header, kGptEntryCount);
  const std::uint32_t size = bytes::U32(header, kGptEntrySize);
  if (size < 128 || size > 4096) return header;
  if (count > kMaxGptEntries) count = kMaxGptEntries;
  const std::uint32_t tableBytes = (count * size + kSector - 1) / kSector * kSector;
  ReadKept(drive, record, bytes::U64(header, kGptEntriesLba) * kSector, tableBytes);
  return header;
}

// The partition-table sectors: the MBR and its chain of extended boot records, and both GPT
// copies with their entry arrays. A replay's layout is read back from these.
void ReadTableSectors(os::RawHandle drive, CapturedDrive* record) {
  const std::vector<std::uint8_t> mbr = ReadKept(drive, record, 0, kSector);
  if (mbr.size() < kSector) return;
  const std::vector<std::uint8_t> primary = ReadGptCopy(drive, record, 1);
  if (!primary.empty()) ReadGptCopy(drive, record, bytes::U64(primary, kGptAlternateLba));
  const std::uint64_t extended = ContainerStart(mbr);
  std::uint64_t ebr = extended;
  std::set<std::uint64_t> seen;
  while (ebr != 0 && seen.insert(ebr).second && seen.size() <= kMaxLogicalPartitions) {
    const std::vector<std::uint8_t> sector = ReadKept(drive, record, ebr * kSector, kSector);
    if (sector.size() < kSector) break;
    // Each link names the next record from the first container's start.
    const std::uint64_t next = ContainerStart(sector);
    ebr = next == 0 ? 0 : extended + next;
  }
}

// Runs the label reader at `offset` with its reads kept in `record`.
void ReadLabelKept(os::RawHandle drive, CapturedDrive* record, std::int64_t offset) {
  std::wstring label;
  SetVolumeReadObserver(&Keep, record);
  ReadVolumeLabel(drive, &label, offset);
  SetVolumeReadObserver(nullptr, nullptr);
}

std::optional<CapturedDrive> CaptureDrive(int number, std::vector<std::string>* faults) {
  os::UniqueHandle drive(OpenDrive(number));
  if (!drive) return std::nullopt;
  CapturedDrive record;
  record.number = number;
  // A length the drive does not give stays 0 here; the caller takes it from elsewhere.
  record.bytes = QueryDriveLength(drive.get()).value_or(0);
  const std::string driveName = std::to_string(number);
  std::uint8_t first[kSector] = {};
  std::uint32_t read = 0;
  if (!os::SetFilePointerEx(drive.get(), 0, os::kFileBegin) ||
      !os::ReadFile(drive.get(), first, kSector, &read)) {
    record.readsFail = true;
    faults->push_back("ReadFile:" + driveName);
  } else {
    ReadTableSectors(drive.get(), &record);
    if (record.tableReadFailedAt) {
      faults->push_back("ReadFile:" + driveName + "@" + std::to_string(*record.tableReadFailedAt));
    }
  }
  record.layout = QueryDriveLayout(drive.get());
  if (!record.layout) {
    faults->push_back("DriveLayout:" + driveName);
  } else if (!record.readsFail) {
    // Every partition the locator would read a label from.
    const std::uint32_t style = record.layout->style;
    for (const DriveLayoutEntry& e : record.layout->entries) {
      if ((style == drive_layout::kStyleMbr && e.recognized) || style == drive_layout::kStyleGpt) {
        ReadLabelKept(drive.get(), &record, static_cast<std::int64_t>(e.start));
      }
    }
  }
  drive.reset();
  record.rotation = ReadMediaRotation(number);
  return record;
}

}  // namespace

std::vector<CapturedDrive> CaptureDrives(const std::set<int>& numbers,
                                         std::vector<std::string>* faults) {
  std::vector<CapturedDrive> drives;
  for (const int n : numbers) {
    if (std::optional<CapturedDrive> d = CaptureDrive(n, faults)) drives.push_back(std::move(*d));
  }
  return drives;
}

std::vector<CapturedLetter> CaptureLetters(const std::wstring& windowsDir,
                                           std::vector<std::string>* faults) {
  std::vector<CapturedLetter> letters;
  std::optional<std::vector<std::wstring>> roots = ListDriveRoots();
  if (!roots) {
    faults->push_back("GetLogicalDriveStringsW");
    // The product opens the Windows folder's volume by its letter, without the list.
    roots.emplace();
    if (windowsDir.size() >= 2 && windowsDir[1] == L':')
      roots->push_back(windowsDir.substr(0, 2) + L"\\");
  }
  for (const std::wstring& root : *roots) {
    CapturedLetter letter;
    letter.letter = root[0];
    std::wstring label;
    if (os::GetVolumeInformationW(root, &label)) letter.label = label;
    os::UniqueHandle volume(OpenRootVolume(root));
    if (volume) {
      letter.extents = QueryDiskExtents(volume.get());
      if (!letter.extents) {
        faults->push_back("VolumeDiskExtents:" + std::string(1, static_cast<char>(root[0])));
      }
    }
    for (const wchar_t* name : kRootSystemFiles) {
      if (os::FindFirstFileW(root + name)) letter.systemFiles.push_back(name);
    }
    letters.push_back(std::move(letter));
  }
  return letters;
}

void CaptureLetterVolumes(const std::vector<CapturedLetter>& letters,
                          std::vector<CapturedDrive>* drives) {
  for (const CapturedLetter& letter : letters) {
    if (!letter.extents) continue;
    for (const DiskExtent& extent : *letter.extents) {
      for (CapturedDrive& d : *drives) {
        if (d.number != static_cast<int>(extent.disk) || d.readsFail) continue;
        os::UniqueHandle drive(OpenDrive(d.number));
        if (drive) ReadLabelKept(drive.get(), &d, static_cast<std::int64_t>(extent.start));
      }
    }
  }
}
