#include "capture/disk_pairing.h"

#include <algorithm>

#include "tools/rst_report.h"

namespace {

// The largest blank disk a profile takes (16 TiB).
constexpr std::uint64_t kLargestBlankMb = 1u << 24;

std::wstring Trimmed(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// A WMI number text (Size); 0 when it is not all digits or too long for 64 bits.
std::uint64_t DecimalOrZero(const std::wstring& text) {
  if (text.empty() || text.size() > 19) return 0;
  std::uint64_t n = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return n;
}

}  // namespace

std::vector<ProfileDisk> PairDisks(const MachineRecord& record) {
  std::vector<ProfileDisk> disks;
  std::vector<bool> used(record.drives.size(), false);
  for (const CapturedWmiDisk& wmi : record.wmiDisks) {
    ProfileDisk d;
    d.wmi = &wmi;
    const os::WmiValue* index = FindProperty(&wmi, L"Index");
    for (std::size_t i = 0;
         index != nullptr && index->kind == os::WmiValue::Kind::Int32 && i < record.drives.size();
         ++i) {
      if (!used[i] && record.drives[i].number == index->i32) {
        d.drive = &record.drives[i];
        used[i] = true;
        break;
      }
    }
    disks.push_back(d);
  }
  // Which WMI disk a drive sits behind is not visible to the product: the inventory asks the
  // drive its Index names, the locator walks drive numbers. The rest go where there is room.
  for (std::size_t i = 0; i < record.drives.size(); ++i) {
    if (used[i]) continue;
    ProfileDisk* home = nullptr;
    for (ProfileDisk& d : disks) {
      if (d.drive == nullptr) {
        home = &d;
        break;
      }
    }
    if (home == nullptr) home = &disks.emplace_back();
    home->drive = &record.drives[i];
  }
  // No drive to read: the disk's size is what WMI says, its bytes unknown (blank).
  for (ProfileDisk& d : disks) {
    const os::WmiValue* size = FindProperty(d.wmi, L"Size");
    if (d.drive != nullptr || size == nullptr || size->kind != os::WmiValue::Kind::Text) continue;
    d.blankSizeMb = std::min(DecimalOrZero(size->text) / (1024 * 1024), kLargestBlankMb);
  }
  for (const CapturedLetter& l : record.letters) {
    if (!l.extents || l.extents->empty()) continue;
    const DiskExtent& e = l.extents->front();
    for (ProfileDisk& d : disks) {
      if (d.drive == nullptr || d.drive->number != static_cast<int>(e.disk) || !d.drive->layout) {
        continue;
      }
      for (const DriveLayoutEntry& entry : d.drive->layout->entries) {
        if (entry.start == e.start && entry.number != 0) d.letters[l.letter] = entry.number;
      }
    }
  }
  if (record.storageReport) {
    RstDeviceList devices;
    ParseRstReportBytes(*record.storageReport, devices);
    for (const RstDeviceRecord& device : devices) {
      ProfileDisk* home = nullptr;
      for (ProfileDisk& d : disks) {
        const os::WmiValue* serial = FindProperty(d.wmi, L"SerialNumber");
        if (!d.rstId && serial != nullptr && serial->kind == os::WmiValue::Kind::Text &&
            !Trimmed(device.SerialNumber).empty() &&
            Trimmed(serial->text) == Trimmed(device.SerialNumber)) {
          home = &d;
          break;
        }
      }
      for (std::size_t i = 0; home == nullptr && i < disks.size(); ++i) {
        if (!disks[i].rstId) home = &disks[i];
      }
      if (home == nullptr) break;  // more devices than disks: the rest have nowhere to go
      home->rstId = device.ID;
      home->rstSize = std::to_wstring(device.Size) + L" GB";
      home->rstSystemDisk = device.SystemDisk != 0;
    }
  }
  return disks;
}
