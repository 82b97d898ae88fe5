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

}  // namespace testing_support
