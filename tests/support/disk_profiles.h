// Profiles of simulated disks for the locator and drive tests, built in code.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "probes/recovery_locator.h"
#include "sim/core/machine.h"

namespace testing_support {

inline sim::Partition Part(const std::string& fs, const std::wstring& label, std::uint64_t mb,
                           wchar_t letter = 0) {
  sim::Partition p;
  p.fs = fs;
  p.label = label;
  p.size_mb = mb;
  p.letter = letter;
  return p;
}

// A disk the simulator lays out: 1 MiB at each end plus the partitions.
inline sim::Disk LaidOutDisk(int drive, const std::string& style,
                             std::vector<sim::Partition> partitions) {
  sim::Disk d;
  d.drive = drive;
  d.style = style;
  d.size_mb = 2;
  for (const auto& p : partitions) d.size_mb += p.size_mb;
  d.partitions = std::move(partitions);
  return d;
}

inline sim::Disk ImageDisk(int drive, const std::filesystem::path& image,
                           std::map<wchar_t, int> letters = {}) {
  sim::Disk d;
  d.drive = drive;
  d.image = image;
  d.letters = std::move(letters);
  return d;
}

inline sim::Profile DisksProfile(std::vector<sim::Disk> disks) {
  sim::Profile p;
  p.disks = std::move(disks);
  return p;
}

// What LocateRecoveryDisk gave, with its outputs pre-filled so that unwritten ones show.
struct Located {
  std::int32_t result = -1;
  std::int32_t disk = -7;
  std::int32_t partition = -7;
  std::wstring root;
};

inline Located Locate(const std::wstring& rootBefore = L"<unset>") {
  Located l;
  l.root = rootBefore;
  l.result = LocateRecoveryDisk(&l.disk, &l.partition, &l.root);
  return l;
}

// The images made by tests/make-images.sh.
inline std::filesystem::path ImagePath(const std::string& name) {
  return std::filesystem::path(CS_BINARY_DIR) / "images" / name;
}

// The default notebook with Windows and "Recovery" on a 119 GiB SSD and the larger hard disk
// blank: the storage tool's smallest device, the would-be cache, is the system disk.
inline void SystemOnTheSmallerDisk(sim::Profile& p) {
  p.disks[1].partitions = p.disks[0].partitions;
  p.disks[1].partitions[2].size_mb = 100000;  // Windows, to fit the SSD
  p.disks[1].size_mb = 121856;
  p.disks[1].wmi = p.disks[0].wmi;
  for (sim::WmiProperty& w : p.disks[1].wmi) {
    if (w.name == L"Index") w.value.i32 = 1;
    if (w.name == L"SerialNumber") w.value.text = L"SSD119";
    if (w.name == L"Size") w.value.text = L"127772792832";
  }
  p.disks[1].rst->size = "119.00 GB";
  p.disks[1].rst->serial = "SSD119";
  p.disks[1].rst->system_disk = "True";
  p.disks[0].partitions.clear();
  p.disks[0].rst->system_disk = "False";
}

// One physical drive of that number whose SMART answers give `rotation`.
inline sim::Profile OneDrive(int drive, sim::Rotation rotation) {
  sim::Profile p;
  sim::Disk d;
  d.drive = drive;
  d.rotation = rotation;
  p.disks.push_back(d);
  return p;
}

inline sim::Rotation Rate(std::uint16_t rate) {
  return sim::Rotation{sim::Rotation::Kind::Rate, rate};
}

}  // namespace testing_support
