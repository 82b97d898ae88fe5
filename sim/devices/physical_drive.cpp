#include "sim/devices/physical_drive.h"

#include <charconv>
#include <string>
#include <system_error>

#include "sim/core/text.h"
#include "sim/devices/disk_control.h"
#include "sim/devices/smart.h"
#include "sim/devices/windows_codes.h"
#include "sim/disks/disk_image.h"

namespace sim {

namespace {

struct DriveReads : Machine::State {
  std::uint64_t product_bytes_read = 0;
};

struct PhysicalDriveObject : Machine::Object {
  Machine* machine = nullptr;
  int disk = -1;
  std::uint64_t position = 0;

  bool Seek(std::int64_t offset, std::uint32_t method, std::uint32_t* error) override {
    return MovePosition(
        &position, offset, method, [this] { return DiskBytes(*machine, disk); }, error);
  }
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read, std::uint32_t* error) override {
    const bool ok = ReadDisk(*machine, disk, position, buffer, size, read, error);
    if (ok) position += *read;
    return ok;
  }
  bool Ioctl(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
             std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) override {
    if (code == kSmartGetVersion || code == kSmartRcvDriveData) {
      return SmartIoctl(*machine, disk, code, in, inSize, out, outSize, returned, error);
    }
    return DiskIoctl(*machine, disk, code, in, inSize, out, outSize, returned, error);
  }
};

// "\\.\PHYSICALDRIVE" followed by a decimal number, in any letter case.
int ParseDriveNumber(const std::wstring& name) {
  const std::wstring prefix = L"\\\\.\\PHYSICALDRIVE";
  if (name.size() <= prefix.size() || UpperPath(name.substr(0, prefix.size())) != prefix) return -1;
  int n = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9' || n > 100000) return -1;
    n = n * 10 + (name[i] - L'0');
  }
  return n;
}

// "ReadFile" and "ReadFile:N" fail every read of drive N; "ReadFile:N@S" only the reads
// whose bytes include sector S (512-byte sectors counted from the drive's first byte), so a
// test can fail one sector of a file system the product must read whole.
bool ReadFaulted(const Machine& machine, int drive, std::uint64_t offset, std::uint32_t size) {
  const std::string name = std::to_string(drive);
  if (machine.Faulted("ReadFile", name)) return true;
  const std::string prefix = "ReadFile:" + name + "@";
  for (const std::string& fault : machine.profile().faults) {
    if (fault.compare(0, prefix.size(), prefix) != 0) continue;
    std::uint64_t sector = 0;
    const char* end = fault.data() + fault.size();
    const auto [stop, problem] = std::from_chars(fault.data() + prefix.size(), end, sector);
    if (problem != std::errc() || stop != end) continue;
    // The read covers sectors offset / 512 to (offset + size - 1) / 512.
    if (size != 0 && sector >= offset / kSectorBytes &&
        sector <= (offset + size - 1) / kSectorBytes) {
      return true;
    }
  }
  return false;
}

}  // namespace

int FindDriveDisk(const Machine& machine, int drive) {
  const auto& disks = machine.profile().disks;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    if (SeenByWindows(disks[i]) && disks[i].drive && *disks[i].drive == drive)
      return static_cast<int>(i);
  }
  return -1;
}

bool ReadDisk(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read, std::uint32_t* error) {
  *read = 0;
  const int drive = machine.profile().disks[static_cast<std::size_t>(disk)].drive.value_or(-1);
  if (ReadFaulted(machine, drive, offset, size)) {
    *error = os::kErrorCrc;
    return false;
  }
  // A raw device reads whole sectors at sector positions only.
  if (offset % kSectorBytes != 0 || size % kSectorBytes != 0) {
    *error = os::kErrorInvalidParameter;
    return false;
  }
  std::size_t got = 0;
  ReadImage(machine, disk, offset, buffer, size, &got);
  *read = static_cast<std::uint32_t>(got);
  machine.state<DriveReads>().product_bytes_read += got;
  return true;
}

std::uint64_t DiskBytesReadByProduct(Machine& machine) {
  return machine.state<DriveReads>().product_bytes_read;
}

void SetUpPhysicalDrives(Machine& machine) {
  machine.RegisterDevice([](Machine& m, const std::wstring& name, std::uint32_t access,
                            std::uint32_t,
                            std::uint32_t* error) -> std::unique_ptr<Machine::Object> {
    const int drive = ParseDriveNumber(name);
    if (drive < 0) return nullptr;
    const int disk = FindDriveDisk(m, drive);
    if (disk < 0) {
      *error = os::kErrorFileNotFound;
      return nullptr;
    }
    // "no-open": the drive refuses read-write opens (as the SMART probe makes them); a
    // read-only open, as the recovery locator makes it, still succeeds.
    if (m.profile().disks[static_cast<std::size_t>(disk)].rotation.kind == Rotation::Kind::NoOpen &&
        (access & os::kGenericWrite) != 0) {
      *error = os::kErrorAccessDenied;
      return nullptr;
    }
    auto object = std::make_unique<PhysicalDriveObject>();
    object->machine = &m;
    object->disk = disk;
    return object;
  });
}

}  // namespace sim
