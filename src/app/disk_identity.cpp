#include "app/disk_identity.h"

#include <optional>
#include <string_view>
#include <vector>

#include "app/disk_roles.h"
#include "textout/format.h"

namespace {

// One cylinder as WMI counts disks (255 heads, 63 sectors a track, 512-byte sectors): WMI's Size
// is whole cylinders, so up to this much below the device's bytes.
constexpr std::uint64_t kCylinderBytes = 255ull * 63 * 512;
constexpr std::uint64_t kGigabyte = 1000000000ull;
constexpr std::uint64_t kGibibyte = 1ull << 30;

std::wstring Trim(std::wstring_view text) {
  const std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return std::wstring();
  const std::size_t last = text.find_last_not_of(L" \t");
  return std::wstring(text.substr(first, last - first + 1));
}

// The ATA serial field holds two characters a word, the later one first.
std::wstring PairSwapped(std::wstring text) {
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
  return text;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The text a field of hexadecimal digits stands for, when every byte is printable ASCII; a
// serial that merely looks like hex (all digits) then decodes to control bytes and is not taken.
std::optional<std::wstring> HexDecoded(const std::wstring& text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    const int byte = high * 16 + low;
    if (byte < 0x20 || byte > 0x7E) return std::nullopt;
    out.push_back(static_cast<wchar_t>(byte));
  }
  return out;
}

// Serials and models go into one run-log line: a control character would break it.
std::wstring Shown(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) out.push_back(textout::CodeUnit(c) < 0x20 ? L'?' : c);
  return out;
}

// How many disks of the inventory the report's serial names.
int DisksWithSerial(const DiskList& disks, const std::wstring& reportSerial) {
  int count = 0;
  for (const DiskRecord& disk : disks) {
    if (SerialNumbersMatch(reportSerial, disk.SerialNumber)) ++count;
  }
  return count;
}

// Why `device` is not `disk`, in `reasons`; `what` names the device's role.
void CheckDevice(const DiskList& disks, const RstDeviceRecord& device, const DiskRecord& disk,
                 const wchar_t* what, const wchar_t* role, std::vector<std::wstring>& reasons) {
  if (!SerialNumbersMatch(device.SerialNumber, disk.SerialNumber)) {
    reasons.push_back(textout::Format(L"%ls serial is not %ls's", what, role));
  } else if (DisksWithSerial(disks, device.SerialNumber) != 1) {
    reasons.push_back(textout::Format(L"%ls serial names more than one disk", what));
  }
  if (!SizesAgree(static_cast<std::uint32_t>(device.Size), disk.Size)) {
    reasons.push_back(textout::Format(L"%ls size is not %ls's", what, role));
  }
}

// "<id> serial '<serial>' size <n>" as the report gives the device, or that it is missing.
std::wstring DeviceAsRead(const std::wstring& id, const RstDeviceRecord* device) {
  if (device == nullptr) return Shown(id) + L" (not once in the report)";
  return textout::Format(L"%ls serial '%ls' size %u", Shown(id).c_str(),
                         Shown(device->SerialNumber).c_str(),
                         static_cast<std::uint32_t>(device->Size));
}

std::wstring DiskAsRead(const wchar_t* role, const DiskRecord& disk) {
  return textout::Format(L"%ls Disk[%d] serial '%ls' size %ls", role, static_cast<int>(disk.Index),
                         Shown(disk.SerialNumber).c_str(), Shown(disk.Size).c_str());
}

}  // namespace

std::optional<std::uint64_t> ParseWmiSize(const std::wstring& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool SerialNumbersMatch(const std::wstring& reportSerial, const std::wstring& wmiSerial) {
  const std::wstring wanted = Trim(reportSerial);
  if (wanted.empty()) return false;
  const std::wstring trimmed = Trim(wmiSerial);
  // The swap is tried on the field as WMI gave it (with its padding) and trimmed, since a
  // driver may have dropped the padding before the swap took effect.
  std::vector<std::wstring> forms = {trimmed, PairSwapped(wmiSerial), PairSwapped(trimmed)};
  if (const std::optional<std::wstring> decoded = HexDecoded(trimmed)) {
    forms.push_back(*decoded);
    forms.push_back(PairSwapped(*decoded));
  }
  for (const std::wstring& form : forms) {
    if (Trim(form) == wanted) return true;
  }
  return false;
}

bool SizesAgree(std::uint32_t reportSize, const std::wstring& wmiSizeBytes) {
  const std::optional<std::uint64_t> bytes = ParseWmiSize(wmiSizeBytes);
  // A size of 0 says nothing about which disk it is.
  if (!bytes || reportSize == 0) return false;
  for (const std::uint64_t unit : {kGigabyte, kGibibyte}) {
    const std::uint64_t low = reportSize * unit;  // below 2^62: no overflow
    const std::uint64_t slack = kCylinderBytes + unit / 200;
    if (*bytes + slack >= low && *bytes < low + unit) return true;
  }
  return false;
}

const RstDeviceRecord* FindRstDevice(const RstDeviceList& devices, const std::wstring& id) {
  const RstDeviceRecord* found = nullptr;
  for (const RstDeviceRecord& device : devices) {
    if (device.ID != id) continue;
    if (found != nullptr) return nullptr;
    found = &device;
  }
  return found;
}

IdentityProof ProveDiskIdentity(const DiskList& disks, const DiskRecord& MasterHDD,
                                const DiskRecord& SecondHDD, const RstDeviceList& devices,
                                const std::wstring& cacheDeviceId,
                                const std::wstring& diskToAccelerateId) {
  std::vector<std::wstring> reasons;
  const RstDeviceRecord* cache = FindRstDevice(devices, cacheDeviceId);
  const RstDeviceRecord* accel = FindRstDevice(devices, diskToAccelerateId);
  if (devices.empty()) {
    reasons.push_back(L"no device in the storage tool's report");
  } else {
    if (cache == nullptr) reasons.push_back(L"cache device not once in the report");
    if (accel == nullptr) reasons.push_back(L"disk to accelerate not once in the report");
  }
  if (cacheDeviceId == diskToAccelerateId) reasons.push_back(L"one device for both roles");
  if (!IsFixedDisk(SecondHDD) || !IsFixedDisk(MasterHDD)) {
    reasons.push_back(L"a role disk is not fixed");
  }
  if (cache != nullptr) {
    if (cache->SystemDisk != 0) reasons.push_back(L"cache device is a system disk");
    CheckDevice(disks, *cache, SecondHDD, L"cache device", L"SecondHDD", reasons);
  }
  if (accel != nullptr) {
    CheckDevice(disks, *accel, MasterHDD, L"disk to accelerate", L"MasterHDD", reasons);
  }

  IdentityProof proof;
  proof.holds = reasons.empty();
  if (proof.holds) return proof;
  for (const std::wstring& reason : reasons) {
    proof.mismatch += (proof.mismatch.empty() ? L"" : L", ") + reason;
  }
  proof.mismatch += textout::Format(
      L": cache device %ls, %ls; disk to accelerate %ls, %ls",
      DeviceAsRead(cacheDeviceId, cache).c_str(), DiskAsRead(L"SecondHDD", SecondHDD).c_str(),
      DeviceAsRead(diskToAccelerateId, accel).c_str(), DiskAsRead(L"MasterHDD", MasterHDD).c_str());
  return proof;
}
