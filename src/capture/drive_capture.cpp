#include "capture/drive_capture.h"

#include <span>

#include "platform/bytes.h"
#include "probes/recovery_locator.h"
#include "probes/volume_label.h"
#include "textout/format.h"

namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kIoctlDiskGetLengthInfo = 0x0007405C;
constexpr std::uint32_t kMaxGptEntries = 1024;
constexpr int kMaxLogicalPartitions = 128;
// Room for every drive root and the list's end, as the locator asks.
constexpr std::uint32_t kRootListChars = 4 * 26 + 1;

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
    return {};
  }
  buffer.resize(read);
  Keep(record, static_cast<std::int64_t>(offset), buffer.data(), read);
  return buffer;
}

bool IsContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// A GPT header at `lba` and the entry array it names.
std::vector<std::uint8_t> ReadGptCopy(os::RawHandle drive, CapturedDrive* record,
                                      std::uint64_t lba) {
  const std::vector<std::uint8_t> header = ReadKept(drive, record, lba * kSector, kSector);
  if (header.size() < kSector || !bytes::Equals(header, 0, "EFI PART", 8)) return {};
  std::uint32_t count = bytes::U32(header, 0x50);
  const std::uint32_t size = bytes::U32(header, 0x54);
  if (size < 128 || size > 4096) return header;
  if (count > kMaxGptEntries) count = kMaxGptEntries;
  const std::uint32_t tableBytes = (count * size + kSector - 1) / kSector * kSector;
  ReadKept(drive, record, bytes::U64(header, 0x48) * kSector, tableBytes);
  return header;
}

// The partition-table sectors: the MBR and its chain of extended boot records, and both GPT
// copies with their entry arrays. A replay's layout is read back from these.
void ReadTableSectors(os::RawHandle drive, CapturedDrive* record) {
  const std::vector<std::uint8_t> mbr = ReadKept(drive, record, 0, kSector);
  if (mbr.size() < kSector) return;
  const std::vector<std::uint8_t> primary = ReadGptCopy(drive, record, 1);
  if (!primary.empty()) ReadGptCopy(drive, record, bytes::U64(primary, 0x20));
  std::uint64_t extended = 0;
  for (int slot = 0; slot < 4 && extended == 0; ++slot) {
    const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
    if (IsContainer(mbr[at + 4])) extended = bytes::U32(mbr, at + 8);
  }
  std::uint64_t ebr = extended;
  std::set<std::uint64_t> seen;
  while (ebr != 0 && seen.insert(ebr).second && seen.size() <= kMaxLogicalPartitions) {
    const std::vector<std::uint8_t> sector = ReadKept(drive, record, ebr * kSector, kSector);
    if (sector.size() < kSector) break;
    std::uint64_t next = 0;
    for (int slot = 0; slot < 4 && next == 0; ++slot) {
      const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
      if (IsContainer(sector[at + 4])) next = extended + bytes::U32(sector, at + 8);
    }
    ebr = next;
  }
}

std::optional<CapturedLayout> ReadLayout(os::RawHandle drive) {
  std::vector<std::uint8_t> buffer(kDriveLayoutBufferBytes, 0);
  std::uint32_t returned = 0;
  if (!os::DeviceIoControl(drive, kIoctlDiskGetDriveLayoutEx, nullptr, 0, buffer.data(),
                           kDriveLayoutBufferBytes, &returned)) {
    return std::nullopt;
  }
  const std::span<const std::uint8_t> info(buffer.data(),
                                           returned < buffer.size() ? returned : buffer.size());
  CapturedLayout layout;
  layout.style = bytes::U32(info, 0x00);
  const std::uint32_t count = bytes::U32(info, 0x04);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at =
        kDriveLayoutHeaderBytes + static_cast<std::size_t>(i) * kPartitionEntryBytes;
    if (!bytes::InRange(info.size(), at, kPartitionEntryBytes)) break;
    CapturedLayoutEntry e;
    e.start = bytes::U64(info, at + 0x08);
    e.length = bytes::U64(info, at + 0x10);
    e.number = bytes::U32(info, at + 0x18);
    if (layout.style == 0) {
      e.mbrType = info[at + 0x20];
      e.recognized = info[at + 0x22] != 0;
    } else if (layout.style == 1) {
      std::copy(info.begin() + static_cast<std::ptrdiff_t>(at + 0x20),
                info.begin() + static_cast<std::ptrdiff_t>(at + 0x30), e.gptType.begin());
    }
    layout.entries.push_back(e);
  }
  return layout;
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
  std::uint8_t length[8] = {};
  std::uint32_t returned = 0;
  // A length the drive does not give stays 0 here; the caller takes it from elsewhere.
  if (os::DeviceIoControl(drive.get(), kIoctlDiskGetLengthInfo, nullptr, 0, length, sizeof(length),
                          &returned) &&
      returned >= sizeof(length)) {
    record.bytes = bytes::U64(length, 0);
  }
  const std::string driveName = std::to_string(number);
  std::uint8_t first[kSector] = {};
  std::uint32_t read = 0;
  if (!os::SetFilePointerEx(drive.get(), 0, os::kFileBegin) ||
      !os::ReadFile(drive.get(), first, kSector, &read)) {
    record.readsFail = true;
    faults->push_back("ReadFile:" + driveName);
  } else {
    ReadTableSectors(drive.get(), &record);
  }
  record.layout = ReadLayout(drive.get());
  if (!record.layout) {
    faults->push_back("DriveLayout:" + driveName);
  } else if (!record.readsFail) {
    // Every partition the locator would read a label from.
    for (const CapturedLayoutEntry& e : record.layout->entries) {
      if ((record.layout->style == 0 && e.recognized) || record.layout->style == 1) {
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

std::vector<CapturedLetter> CaptureLetters(std::vector<std::string>* faults) {
  std::vector<CapturedLetter> letters;
  std::vector<wchar_t> roots;
  std::uint32_t length = os::GetLogicalDriveStringsW(kRootListChars, &roots);
  if (length > kRootListChars) length = os::GetLogicalDriveStringsW(length, &roots);
  if (length == 0) {
    faults->push_back("GetLogicalDriveStringsW");
    return letters;
  }
  const std::size_t end = length < roots.size() ? length : roots.size();
  for (std::size_t at = 0; at + 3 <= end; at += 4) {
    const std::wstring root(roots.data() + at, 3);
    CapturedLetter letter;
    letter.letter = root[0];
    std::wstring label;
    if (os::GetVolumeInformationW(root, &label)) letter.label = label;
    std::wstring volume = L"\\\\.\\C:";
    volume[4] = root[0];
    os::UniqueHandle handle(OpenForReading(volume));
    std::vector<std::uint8_t> buffer(kDiskExtentsBufferBytes, 0);
    std::uint32_t returned = 0;
    if (handle && os::DeviceIoControl(handle.get(), kIoctlVolumeGetVolumeDiskExtents, nullptr, 0,
                                      buffer.data(), kDiskExtentsBufferBytes, &returned)) {
      const std::span<const std::uint8_t> info(buffer.data(),
                                               returned < buffer.size() ? returned : buffer.size());
      letter.extents.emplace();
      const std::uint32_t count = bytes::U32(info, 0);
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t e =
            kDiskExtentsHeaderBytes + static_cast<std::size_t>(i) * kDiskExtentBytes;
        if (!bytes::InRange(info.size(), e, kDiskExtentBytes)) break;
        letter.extents->push_back(CapturedExtent{bytes::U32(info, e), bytes::U64(info, e + 8)});
      }
    } else if (handle) {
      faults->push_back("VolumeDiskExtents:" + std::string(1, static_cast<char>(root[0])));
    }
    letters.push_back(std::move(letter));
  }
  return letters;
}

void CaptureLetterVolumes(const std::vector<CapturedLetter>& letters,
                          std::vector<CapturedDrive>* drives) {
  for (const CapturedLetter& letter : letters) {
    if (!letter.extents) continue;
    for (const CapturedExtent& extent : *letter.extents) {
      for (CapturedDrive& d : *drives) {
        if (d.number != static_cast<int>(extent.disk) || d.readsFail) continue;
        os::UniqueHandle drive(OpenDrive(d.number));
        if (drive) ReadLabelKept(drive.get(), &d, static_cast<std::int64_t>(extent.start));
      }
    }
  }
}
