#include "sim/programs/diskpart_commands.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/core/windows_path.h"
#include "sim/devices/physical_drive.h"
#include "sim/devices/volumes.h"
#include "sim/disks/disk_image.h"
#include "sim/disks/file_systems.h"
#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"
#include "sim/programs/diskpart_script.h"

namespace sim {

namespace {

using diskpart_script::Is;
using diskpart_script::IsGuidText;
using diskpart_script::Lower;
using diskpart_script::Number;
using diskpart_script::Parameter;
using diskpart_script::Split;
using diskpart_script::Words;

// A partition id that is the same on every run, from the disk and the partition's place.
Guid NewPartitionId(int disk, std::uint64_t offset) {
  Guid g{};
  std::uint64_t x = 0xD15C9A27ull ^ (static_cast<std::uint64_t>(disk + 1) << 40) ^ offset;
  for (std::size_t i = 0; i < g.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    g[i] = static_cast<std::uint8_t>(x >> 24);
  }
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);
  return g;
}

struct Session {
  Session(Machine& m, DiskpartRun& r) : machine(m), run(r) {}
  Machine& machine;
  DiskpartRun& run;
  int disk = -1;                           // profile index of the selected disk
  int drive = -1;                          // its drive number
  std::optional<std::uint64_t> partition;  // offset of the selected partition

  void Say(const std::string& text) { run.output += "\r\n" + text + "\r\n"; }
  std::uint32_t Fail(std::uint32_t code, const std::string& text) {
    Say(text);
    run.error = text;
    return code;
  }
  std::uint32_t BadArguments(const std::string& command) {
    return Fail(kDiskpartSyntaxError,
                "The arguments specified for this command are not valid.\r\n"
                "For more information on the command type: HELP " +
                    command);
  }
  std::uint32_t ServiceError(const std::string& text) {
    return Fail(kDiskpartServiceError, "Virtual Disk Service error:\r\n" + text);
  }
  std::uint32_t NoDisk() {
    return Fail(kDiskpartSyntaxError,
                "There is no disk selected.\r\nPlease select a disk and try again.");
  }
  std::uint32_t NoPartition() {
    return Fail(kDiskpartSyntaxError,
                "There is no partition selected.\r\nPlease select a partition and try again.");
  }

  // The selected partition's entry in the layout, or nullptr.
  LayoutEntry* Selected(DiskLayout& layout) {
    if (!partition) return nullptr;
    for (LayoutEntry& e : layout.entries) {
      if (e.number != 0 && e.offset == *partition) return &e;
    }
    return nullptr;
  }

  std::uint32_t Select(const std::vector<std::string>& w) {
    if (w.size() == 3 && Is(w[1], "disk")) {
      const auto n = Number(w[2], 10, 0x7FFFFFFF);
      const int found = n ? FindDriveDisk(machine, static_cast<int>(*n)) : -1;
      if (found < 0) {
        disk = drive = -1;
        partition.reset();
        return Fail(kDiskpartSyntaxError,
                    "The disk you specified is not valid.\r\n\r\nThere is no disk selected.");
      }
      disk = found;
      drive = static_cast<int>(*n);
      partition.reset();
      Say("Disk " + std::to_string(drive) + " is now the selected disk.");
      return 0;
    }
    if (w.size() == 3 && Is(w[1], "partition")) {
      if (disk < 0) return NoDisk();
      const auto n = Number(w[2], 10, 0xFFFFFFFF);
      for (const LayoutEntry& e : ReadDiskLayout(machine, disk).entries) {
        if (n && e.number != 0 && e.number == *n) {
          partition = e.offset;
          Say("Partition " + std::to_string(*n) + " is now the selected partition.");
          return 0;
        }
      }
      partition.reset();
      return Fail(kDiskpartSyntaxError,
                  "The partition you specified is not valid.\r\n"
                  "Please select a valid partition.\r\n\r\nThere is no partition selected.");
    }
    return BadArguments("SELECT");
  }

  // The volume the running Windows lives on is the one of its folder's drive.
  bool HoldsSystemVolume() {
    if (!machine.profile().diskpart_refuses_system_disk) return false;
    const wchar_t system = SystemDrive(machine.profile().windows_dir);
    for (const Volume& v : ListVolumes(machine)) {
      if (v.letter == system && v.disk == disk) return true;
    }
    return false;
  }

  std::uint32_t Clean(const std::vector<std::string>& w) {
    if (w.size() != 1) return BadArguments("CLEAN");
    if (disk < 0) return NoDisk();
    if (HoldsSystemVolume()) {
      return ServiceError(
          "Clean is not allowed on the disk containing the current boot,\r\n"
          "system, pagefile, crashdump or hibernation volume.");
    }
    if (!LayOutDisk(machine, disk, "", {})) return ServiceError("The device is not ready.");
    partition.reset();
    Say("DiskPart succeeded in cleaning the disk.");
    return 0;
  }

  std::uint32_t Convert(const std::vector<std::string>& w) {
    if (w.size() != 2 || (!Is(w[1], "gpt") && !Is(w[1], "mbr"))) return BadArguments("CONVERT");
    if (disk < 0) return NoDisk();
    const bool gpt = Is(w[1], "gpt");
    const DiskLayout layout = ReadDiskLayout(machine, disk);
    const bool empty = std::none_of(layout.entries.begin(), layout.entries.end(),
                                    [](const LayoutEntry& e) { return e.length != 0; });
    if (!empty || layout.style == (gpt ? DiskLayout::kGpt : DiskLayout::kMbr)) {
      return ServiceError(
          "The specified disk is not convertible. CDROMs and DVDs\r\n"
          "are examples of disks that are not convertible.");
    }
    if (!LayOutDisk(machine, disk, gpt ? "gpt" : "mbr", {})) {
      return ServiceError("The device is not ready.");
    }
    partition.reset();
    Say(std::string("DiskPart successfully converted the selected disk to ") +
        (gpt ? "GPT" : "MBR") + " format.");
    return 0;
  }

  // The first free space of the disk, from a 1 MiB boundary on, of at least `wanted` bytes
  // (0: any, all of it).
  std::optional<std::pair<std::uint64_t, std::uint64_t>> FreeSpace(const DiskLayout& layout,
                                                                   std::uint64_t wanted) {
    std::uint64_t begin = 0, end = 0;
    if (layout.style == DiskLayout::kGpt) {
      begin = layout.first_usable;
      // A damaged header may claim more than the disk holds.
      end = std::min(layout.first_usable + layout.usable_length, DiskBytes(machine, disk));
    } else {
      begin = kSectorBytes;
      end = std::min<std::uint64_t>(DiskBytes(machine, disk) / kSectorBytes * kSectorBytes,
                                    0xFFFFFFFFull * kSectorBytes);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> used;
    for (const LayoutEntry& e : layout.entries) {
      if (e.length != 0) used.emplace_back(e.offset, e.offset + e.length);
    }
    std::sort(used.begin(), used.end());
    std::uint64_t at = begin;
    auto fits = [&](std::uint64_t from,
                    std::uint64_t to) -> std::optional<std::pair<std::uint64_t, std::uint64_t>> {
      const std::uint64_t start = (from + kMiB - 1) / kMiB * kMiB;
      if (start >= to) return std::nullopt;
      const std::uint64_t room = to - start;
      if (wanted != 0) {
        if (room < wanted) return std::nullopt;
        return std::make_pair(start, wanted);
      }
      if (room < kMiB) return std::nullopt;
      return std::make_pair(start, room);
    };
    for (const auto& [from, to] : used) {
      if (from > at) {
        if (auto space = fits(at, std::min(from, end))) return space;
      }
      at = std::max(at, to);
    }
    return fits(at, end);
  }

  std::uint32_t Create(const std::vector<std::string>& w) {
    if (w.size() < 3 || !Is(w[1], "partition") || (!Is(w[2], "efi") && !Is(w[2], "primary"))) {
      return BadArguments("CREATE");
    }
    const bool efi = Is(w[2], "efi");
    std::uint64_t wanted = 0;
    std::optional<std::string> id;
    for (std::size_t i = 3; i < w.size(); ++i) {
      const Parameter p = Split(w[i]);
      if (p.key == "size" && p.hasValue) {
        const auto mb = Number(p.value, 10, 0xFFFFFFFFFFFull);
        if (!mb || *mb == 0) return BadArguments("CREATE");
        wanted = *mb * kMiB;
      } else if (p.key == "id" && p.hasValue && !efi) {
        id = p.value;
      } else if (p.key != "noerr") {
        return BadArguments("CREATE");
      }
    }
    if (disk < 0) return NoDisk();
    DiskLayout layout = ReadDiskLayout(machine, disk);
    if (layout.style == DiskLayout::kRaw && !efi) {
      // A disk without a table is initialised as MBR first.
      if (!LayOutDisk(machine, disk, "mbr", {})) return ServiceError("The device is not ready.");
      layout = ReadDiskLayout(machine, disk);
    }
    if (efi && layout.style != DiskLayout::kGpt) {
      return ServiceError("The operation is not supported by the object.");
    }
    std::optional<std::uint8_t> mbrType;
    std::optional<Guid> gptType;
    if (id && layout.style == DiskLayout::kMbr) {
      const auto byte = Number(*id, 16, 0xFF);
      if (!byte || *byte == 0) return BadArguments("CREATE");
      mbrType = static_cast<std::uint8_t>(*byte);
    } else if (id) {
      if (!IsGuidText(*id)) return BadArguments("CREATE");
      gptType = ParseGuid(*id);
    }
    const auto space = FreeSpace(layout, wanted);
    if (!space) return ServiceError("There is not enough usable space for this operation.");
    LayoutEntry e;
    e.offset = space->first;
    e.length = space->second / kSectorBytes * kSectorBytes;
    if (layout.style == DiskLayout::kGpt) {
      e.gpt_type = gptType ? *gptType : ParseGuid(efi ? kGptEfiSystem : kGptBasicData);
      e.gpt_id = NewPartitionId(disk, e.offset);
      const std::string name = efi ? "EFI system partition" : "Basic data partition";
      e.gpt_name.assign(name.begin(), name.end());
      layout.entries.push_back(e);
    } else {
      e.mbr_type = mbrType ? *mbrType : 0x07;
      auto slot = std::find_if(layout.entries.begin(), layout.entries.begin() + 4,
                               [](const LayoutEntry& x) { return x.mbr_type == 0; });
      if (slot == layout.entries.begin() + 4) {
        return ServiceError("The disk has reached the maximum number of partitions.");
      }
      *slot = e;
    }
    if (!WritePartitionTable(machine, disk, layout)) {
      return ServiceError("The device is not ready.");
    }
    partition = e.offset;
    Say("DiskPart succeeded in creating the specified partition.");
    return 0;
  }

  std::uint32_t Format(const std::vector<std::string>& w) {
    std::string fs = "ntfs";
    std::wstring label;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const Parameter p = Split(w[i]);
      if (p.key == "fs" && p.hasValue && (Lower(p.value) == "fat32" || Lower(p.value) == "ntfs")) {
        fs = Lower(p.value);
      } else if (p.key == "label" && p.hasValue) {
        label = FromUtf8(p.value);
      } else if (p.hasValue || (!Is(p.key, "quick") && !Is(p.key, "override") && p.key != "noerr" &&
                                p.key != "nowait")) {
        return BadArguments("FORMAT");
      }
    }
    if (disk < 0 || !partition) {
      return Fail(kDiskpartSyntaxError,
                  "There is no volume selected.\r\nPlease select a volume and try again.");
    }
    DiskLayout layout = ReadDiskLayout(machine, disk);
    const LayoutEntry* e = Selected(layout);
    if (e == nullptr) return NoPartition();
    if (!FormatPartition(machine, disk, e->offset, e->length, fs, label)) {
      return ServiceError("The volume size is too small.");
    }
    Say("  100 percent completed\r\n\r\nDiskPart successfully formatted the volume.");
    return 0;
  }

  std::uint32_t SetId(const std::vector<std::string>& w) {
    std::optional<std::string> id;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const Parameter p = Split(w[i]);
      if (p.key == "id" && p.hasValue && !id) {
        id = p.value;
      } else if (p.hasValue || (!Is(p.key, "override") && p.key != "noerr")) {
        return BadArguments("SET");
      }
    }
    if (!id) return BadArguments("SET");
    if (disk < 0) return NoDisk();
    DiskLayout layout = ReadDiskLayout(machine, disk);
    LayoutEntry* e = Selected(layout);
    if (e == nullptr) return NoPartition();
    if (layout.style == DiskLayout::kGpt) {
      if (!IsGuidText(*id)) return BadArguments("SET");
      e->gpt_type = ParseGuid(*id);
    } else {
      const auto byte = Number(*id, 16, 0xFF);
      if (!byte || *byte == 0) return BadArguments("SET");
      e->mbr_type = static_cast<std::uint8_t>(*byte);
    }
    if (!WritePartitionTable(machine, disk, layout)) {
      return ServiceError("The device is not ready.");
    }
    Say("DiskPart successfully set the partition ID.");
    return 0;
  }

  std::uint32_t Attributes(const std::vector<std::string>& w) {
    const Parameter p = w.size() == 2 ? Split(w[1]) : Parameter{};
    const auto value = p.hasValue && Is(p.key, "attributes")
                           ? Number(p.value, 16, 0xFFFFFFFFFFFFFFFFull)
                           : std::nullopt;
    if (!value) return BadArguments("GPT");
    if (disk < 0) return NoDisk();
    DiskLayout layout = ReadDiskLayout(machine, disk);
    LayoutEntry* e = Selected(layout);
    if (e == nullptr) return NoPartition();
    if (layout.style != DiskLayout::kGpt) {
      return Fail(kDiskpartSyntaxError, "The selected disk is not a GPT disk.");
    }
    e->gpt_attributes = *value;
    if (!WritePartitionTable(machine, disk, layout)) {
      return ServiceError("The device is not ready.");
    }
    Say("DiskPart successfully assigned the attributes to the selected GPT partition.");
    return 0;
  }

  // Runs one line: 0, or the exit code diskpart ends with.
  std::uint32_t Line(const std::string& line, bool* leave) {
    const std::vector<std::string> w = Words(line);
    if (w.empty() || Lower(w[0]) == "rem") return 0;
    if (Is(w[0], "select")) return Select(w);
    if (Is(w[0], "clean")) return Clean(w);
    if (Is(w[0], "convert")) return Convert(w);
    if (Is(w[0], "create")) return Create(w);
    if (Is(w[0], "format")) return Format(w);
    if (Is(w[0], "set")) return SetId(w);
    if (Is(w[0], "gpt")) return Attributes(w);
    if (Is(w[0], "exit")) {
      *leave = true;
      return 0;
    }
    return Fail(kDiskpartSyntaxError,
                "Microsoft DiskPart version 6.2.9200\r\n\r\n"
                "CLEAN       - Clear the configuration information, or all information, off the\r\n"
                "              disk.\r\n"
                "CONVERT     - Convert between different disk formats.\r\n"
                "CREATE      - Create a volume, partition or virtual disk.\r\n"
                "EXIT        - Exit DiskPart.\r\n"
                "FORMAT      - Format the volume or partition.\r\n"
                "GPT         - Assign attributes to the selected GPT partition.\r\n"
                "REM         - Does nothing. This is used to comment scripts.\r\n"
                "SELECT      - Shift the focus to an object.\r\n"
                "SET         - Change the partition type.");
  }
};

}  // namespace

std::uint32_t ApplyDiskpartScript(Machine& machine, DiskpartRun* run) {
  Session session(machine, *run);
  for (const std::string& line : run->lines) {
    bool leave = false;
    const std::uint32_t code = session.Line(line, &leave);
    if (code != 0) {
      run->failed_line = line;
      return code;
    }
    run->applied.push_back(line);
    if (leave) break;
  }
  run->output += "\r\nLeaving DiskPart...\r\n";
  return 0;
}

}  // namespace sim
