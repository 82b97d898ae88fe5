// How long LocateRecoveryDisk takes and how many bytes it reads from the drives, for GPT disks
// with more and more partitions and for single FAT32 partitions of growing size (sparse disk
// images laid out by the simulator). Run by hand: build/host/tests/locator_bench
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "probes/recovery_locator.h"
#include "sim/core/profile_model.h"
#include "sim/devices/physical_drive.h"
#include "sim/disks/disk_image.h"
#include "sim/harness/notebook.h"

namespace {

struct Figures {
  double milliseconds = 0;
  std::uint64_t bytes = 0;
  std::int32_t result = -1;
};

Figures Measure(sim::Profile profile, const std::filesystem::path& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Figures f;
  {
    sim::Notebook machine(std::move(profile), dir);
    sim::DiskBytes(machine, 0);  // lays the disk out before the clock starts
    const std::uint64_t before = sim::DiskBytesReadByProduct(machine);
    std::int32_t disk = 0, partition = 0;
    std::wstring root;
    const auto start = std::chrono::steady_clock::now();
    f.result = LocateRecoveryDisk(&disk, &partition, &root);
    const auto end = std::chrono::steady_clock::now();
    f.milliseconds = std::chrono::duration<double, std::milli>(end - start).count();
    f.bytes = sim::DiskBytesReadByProduct(machine) - before;
  }
  std::filesystem::remove_all(dir);
  return f;
}

sim::Partition Part(const std::string& fs, const std::wstring& label, std::uint64_t mb) {
  sim::Partition p;
  p.fs = fs;
  p.label = label;
  p.size_mb = mb;
  return p;
}

}  // namespace

int main() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / "cachesetup-locator-bench";
  std::printf("GPT disk, NTFS partitions of 1 MiB, \"Recovery\" last\n");
  std::printf("%12s %12s %14s %8s\n", "partitions", "time ms", "bytes read", "result");
  for (int count : {1, 10, 50, 100}) {
    sim::Profile p;
    sim::Disk d;
    d.drive = 0;
    d.style = "gpt";
    for (int i = 0; i < count; ++i)
      d.partitions.push_back(Part("ntfs", i + 1 == count ? L"Recovery" : L"Data", 1));
    d.size_mb = static_cast<std::uint64_t>(count) + 2;
    p.disks.push_back(d);
    const Figures f = Measure(p, dir);
    std::printf("%12d %12.3f %14llu %8d\n", count, f.milliseconds,
                static_cast<unsigned long long>(f.bytes), f.result);
  }
  std::printf(
      "\nOne FAT32 partition labelled \"RECOVERY\" (clusters as Windows' format picks them)\n");
  std::printf("%12s %12s %14s %8s\n", "size MiB", "time ms", "bytes read", "result");
  for (std::uint64_t mb : {1024ull, 4096ull, 16384ull, 32768ull}) {
    sim::Profile p;
    sim::Disk d;
    d.drive = 0;
    d.style = "mbr";
    d.partitions.push_back(Part("fat32", L"RECOVERY", mb));
    d.size_mb = mb + 2;
    p.disks.push_back(d);
    const Figures f = Measure(p, dir);
    std::printf("%12llu %12.3f %14llu %8d\n", static_cast<unsigned long long>(mb), f.milliseconds,
                static_cast<unsigned long long>(f.bytes), f.result);
  }
  return 0;
}
