#include "sim/devices/volumes.h"

#include <cstring>
#include <cwctype>
#include <map>
#include <span>
#include <string>

#include "platform/bytes.h"
#include "platform/os.h"
#include "sim/devices/windows_codes.h"
#include "sim/disks/partition_table.h"

namespace sim {

namespace {

std::vector<Volume> Collect(Machine& machine) {
  std::map<wchar_t, Volume> byLetter;
  const auto& disks = machine.profile().disks;
  for (std::size_t d = 0; d < disks.size(); ++d) {
    const Disk& disk = disks[d];
    if (!disk.drive || !SeenByWindows(disk)) continue;
    std::map<wchar_t, int> letters = disk.letters;
    if (disk.image.empty()) {
      // A laid-out disk numbers its partitions 1, 2, ... in profile order.
      for (std::size_t p = 0; p < disk.partitions.size(); ++p) {
        if (disk.partitions[p].letter != 0)
          letters[disk.partitions[p].letter] = static_cast<int>(p + 1);
      }
    }
    if (letters.empty()) continue;
    const DiskLayout layout = ReadDiskLayout(machine, static_cast<int>(d));
    for (const auto& [letter, number] : letters) {
      if (byLetter.count(letter) != 0) continue;
      for (const LayoutEntry& e : layout.entries) {
        if (e.number != static_cast<std::uint32_t>(number)) continue;
        byLetter[letter] = Volume{letter, static_cast<int>(d), e.number, e.offset, e.length};
        break;
      }
    }
  }
  if (byLetter.count(L'C') == 0) byLetter[L'C'] = Volume{L'C', -1, 0, 0, 0};
  std::vector<Volume> out;
  for (const auto& [letter, volume] : byLetter) out.push_back(volume);
  return out;
}

struct VolumeObject : Machine::Object {
  Machine* machine = nullptr;
  Volume volume;

  bool Ioctl(std::uint32_t code, const void*, std::uint32_t, void* out, std::uint32_t outSize,
             std::uint32_t* returned, std::uint32_t* error) override {
    *returned = 0;
    if (code != kIoctlVolumeGetVolumeDiskExtents) {
      *error = os::kErrorInvalidFunction;
      return false;
    }
    if (machine->Faulted("VolumeDiskExtents", std::string(1, static_cast<char>(volume.letter)))) {
      *error = os::kErrorGenFailure;
      return false;
    }
    const std::uint32_t count = volume.disk < 0 ? 0 : 1;
    const std::uint32_t need =
        kVolumeDiskExtentsHeaderSize + kDiskExtentSize * (count == 0 ? 1 : count);
    if (outSize < need) {
      *error =
          outSize < kVolumeDiskExtentsHeaderSize ? os::kErrorInsufficientBuffer : kErrorMoreData;
      return false;
    }
    std::span<std::uint8_t> o(static_cast<std::uint8_t*>(out), outSize);
    std::memset(out, 0, need);
    bytes::WriteU32(o, extent_fields::kNumberOfDiskExtents, count);
    if (count == 1) {
      const int drive = *machine->profile().disks[static_cast<std::size_t>(volume.disk)].drive;
      const std::span<std::uint8_t> extent = o.subspan(kVolumeDiskExtentsHeaderSize);
      bytes::WriteU32(extent, extent_fields::kDiskNumber, static_cast<std::uint32_t>(drive));
      bytes::WriteU64(extent, extent_fields::kStartingOffset, volume.offset);
      bytes::WriteU64(extent, extent_fields::kExtentLength, volume.length);
    }
    *returned = need;
    return true;
  }
};

}  // namespace

std::vector<Volume> ListVolumes(Machine& machine) { return Collect(machine); }

const Volume* FindVolume(const std::vector<Volume>& volumes, const std::wstring& root) {
  if (root.size() < 2 || root[1] != L':' || root.size() > 3 ||
      (root.size() == 3 && root[2] != L'\\')) {
    return nullptr;
  }
  wchar_t letter = root[0];
  if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
  for (const Volume& v : volumes) {
    if (v.letter == letter) return &v;
  }
  return nullptr;
}

void SetUpVolumes(Machine& machine) {
  machine.RegisterDevice([](Machine& m, const std::wstring& name, std::uint32_t, std::uint32_t,
                            std::uint32_t* error) -> std::unique_ptr<Machine::Object> {
    // "\\.\X:"
    if (name.size() != 6 || name.compare(0, 4, L"\\\\.\\") != 0 || name[5] != L':') return nullptr;
    const std::vector<Volume> volumes = Collect(m);
    const Volume* volume = FindVolume(volumes, name.substr(4));
    if (volume == nullptr) {
      *error = os::kErrorFileNotFound;
      return nullptr;
    }
    auto object = std::make_unique<VolumeObject>();
    object->machine = &m;
    object->volume = *volume;
    return object;
  });
}

bool FindVolumeFile(Machine& machine, const std::wstring& path) {
  if (path.size() < 4 || path[1] != L':' || path[2] != L'\\') return false;
  const wchar_t letter = static_cast<wchar_t>(std::towupper(path[0]));
  const auto files = machine.profile().volume_files.find(letter);
  if (files == machine.profile().volume_files.end()) return false;
  const std::vector<Volume> volumes = ListVolumes(machine);
  const Volume* volume = FindVolume(volumes, path.substr(0, 3));
  if (volume == nullptr || volume->disk < 0) return false;
  const std::wstring name = path.substr(3);
  for (const std::wstring& file : files->second) {
    if (file.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i) {
      same = same && std::towupper(file[i]) == std::towupper(name[i]);
    }
    if (same) return true;
  }
  return false;
}

}  // namespace sim
