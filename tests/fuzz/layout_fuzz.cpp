// The recovery locator over an arbitrary DRIVE_LAYOUT_INFORMATION_EX: physical drive 0
// answers the layout request with the input (the bytes returned are the input's length, at
// most the buffer's 14592), and its raw reads come from a fixed disk that holds a FAT32
// "RECOVERY" volume at 1 MiB and an NTFS "Recovery" volume at 2 MiB, so that entries which
// point at them reach the drive-root search.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "probes/control_codes.h"
#include "probes/recovery_locator.h"
#include "sim/core/machine.h"
#include "tests/support/fuzz_machine.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
std::vector<std::uint8_t> g_disk;
std::vector<std::uint8_t> g_layout;
std::function<bool(std::uint32_t, void*, std::uint32_t, std::uint32_t*)> g_ioctl =
    [](std::uint32_t code, void* out, std::uint32_t outSize, std::uint32_t* returned) {
      if (code != control_codes::kIoctlDiskGetDriveLayoutEx) return false;
      const std::size_t n = g_layout.size() < outSize ? g_layout.size() : outSize;
      if (n != 0) std::memcpy(out, g_layout.data(), n);
      *returned = static_cast<std::uint32_t>(n);
      return true;
    };

fuzzing::FuzzMachine& Machine() {
  static fuzzing::FuzzMachine machine;
  static const bool added = [] {
    const std::vector<std::uint8_t> fat =
        fuzzing::SeedBytes("tests/fuzz/corpus/label_fuzz/fat32-recovery");
    const std::vector<std::uint8_t> ntfs =
        fuzzing::SeedBytes("tests/fuzz/corpus/label_fuzz/ntfs-recovery");
    g_disk.assign(3 * kMiB, 0);
    std::memcpy(g_disk.data() + kMiB, fat.data(), fat.size() < kMiB ? fat.size() : kMiB);
    std::memcpy(g_disk.data() + 2 * kMiB, ntfs.data(), ntfs.size() < kMiB ? ntfs.size() : kMiB);
    machine.AddDevice(L"\\\\.\\PHYSICALDRIVE0", &g_disk, &g_ioctl);
    return true;
  }();
  (void)added;
  return machine;
}

void Check(bool ok, const char* what) { fuzzing::Check(ok, "layout_fuzz", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Machine& m = Machine().machine();
  g_layout.assign(data, data + size);
  const std::size_t handles = m.open_handles();

  std::int32_t disk = -7, partition = -7;
  std::wstring root = L"<before>";
  const std::int32_t result = LocateRecoveryDisk(&disk, &partition, &root);
  Check(result == kLocatorFound || result == kLocatorNotFound, "a result code outside 0 and 4");
  Check(m.open_handles() == handles, "a handle left open");
  if (result == kLocatorNotFound) {
    Check(disk == 0 && partition == 0, "a disk or partition number after a search that failed");
  } else {
    Check(disk == 0, "a disk other than the only drive");
  }
  return 0;
}
