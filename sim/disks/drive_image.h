// The bytes behind the simulated physical drives, and the partition tables in them.
//
// Every profile disk has one disk image:
// - a disk with `image`: the file named by the profile, opened read-only; writes go to a
//   sparse overlay in the run folder (<root>/disks/diskN.img, N the profile index), so the
//   original is never changed;
// - a disk with `size_mb`: a sparse file <root>/disks/diskN.img laid out by the simulator
//   from `style` and `partitions` (MBR or GPT tables, NTFS/FAT32 structures, BitLocker marks),
//   on first use. Only what is written costs space.
//
// Other parts of the simulator (diskpart, after.json) use the functions below; all of them take
// the profile index of the disk (not its drive number).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/machine.h"

namespace sim {

inline constexpr std::uint32_t kSectorBytes = 512;

using Guid = std::array<std::uint8_t, 16>;  // in its on-disk byte order
// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" to on-disk bytes (first three groups little-endian).
Guid ParseGuid(const std::string& text);
std::string GuidText(const Guid& guid);
inline constexpr const char* kGptBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
inline constexpr const char* kGptMicrosoftReserved = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";

// One PARTITION_INFORMATION_EX as Windows reports it for the disk's table.
struct LayoutEntry {
  std::uint64_t offset = 0;  // bytes from the start of the disk
  std::uint64_t length = 0;
  std::uint32_t number = 0;  // PartitionNumber (MBR: 0 for empty slots and containers)
  // MBR
  std::uint8_t mbr_type = 0;
  bool boot_indicator = false;
  bool recognized = false;  // RecognizedPartition
  std::uint32_t hidden_sectors = 0;
  // GPT
  Guid gpt_type{};
  Guid gpt_id{};
  std::uint64_t gpt_attributes = 0;
  std::u16string gpt_name;
};

struct DiskLayout {
  enum Style : std::uint32_t { kMbr = 0, kGpt = 1, kRaw = 2 };
  Style style = kRaw;
  std::uint32_t mbr_signature = 0;
  Guid disk_id{};
  std::uint64_t first_usable = 0;  // bytes
  std::uint64_t usable_length = 0;
  std::uint32_t max_partitions = 0;
  // MBR: four entries per table (the MBR, then each extended boot record), the way Windows
  // lists them; GPT: every used entry, in entry order.
  std::vector<LayoutEntry> entries;
};

// Windows' test of whether an MBR partition type holds a volume it mounts.
bool IsRecognizedMbrType(std::uint8_t type);

// The layout read from the disk's own table (a disk without a valid table is kRaw).
DiskLayout ReadDiskLayout(Machine& machine, int disk);
// DRIVE_LAYOUT_INFORMATION_EX bytes for a layout; empty when it needs more than `capacity`.
std::vector<std::uint8_t> EncodeDriveLayout(const DiskLayout& layout, std::size_t capacity);

// Raw access to a disk image, without faults or alignment rules. Reads past the end give fewer
// bytes; writes past the end fail.
bool ReadImage(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::size_t size,
               std::size_t* read);
bool WriteImage(Machine& machine, int disk, std::uint64_t offset, const void* data,
                std::size_t size);
std::filesystem::path DiskImagePath(Machine& machine, int disk);

// A partition to lay out: what it holds and how large it is.
struct PartitionSpec {
  std::string fs = "raw";  // "ntfs", "fat32", "bitlocker" (NTFS marked as encrypted), "raw"
  std::wstring label;
  std::uint64_t bytes = 0;
  std::optional<Guid> gpt_type;          // default: basic data (raw: Microsoft reserved)
  std::optional<std::uint8_t> mbr_type;  // default: 0x07 (fat32: 0x0C)
  std::uint64_t gpt_attributes = 0;
};

// Rewrites the disk's partition table from scratch ("mbr", "gpt", or "" for none), with the
// partitions placed one after another from 1 MiB on, and writes their file systems. On MBR,
// a fifth partition and those after it become logical partitions in an extended partition
// that fills the fourth slot; each logical gives its first MiB (or, when smaller than 2 MiB,
// its first sector) to its extended boot record. Returns false when they do not fit.
bool LayOutDisk(Machine& machine, int disk, const std::string& style,
                const std::vector<PartitionSpec>& partitions);

// Rewrites the entries of the disk's existing table from `layout` (as ReadDiskLayout gave it,
// with entries changed, added or removed), leaving everything else of the disk alone: on GPT
// the used entries are written in order into both copies of the entry array and both headers'
// checksums are renewed; on MBR the four slots of the MBR itself are written (entries[0..3],
// type 0 for an empty slot; extended boot records are not touched). Returns false when the
// disk has no table of that style or the entries do not fit it.
bool WritePartitionTable(Machine& machine, int disk, const DiskLayout& layout);

// Writes a file system over [offset, offset + length) of the disk: what `fs` names, with
// `label` (FAT32: cut to 11 OEM bytes). "raw" clears the first sector.
bool FormatPartition(Machine& machine, int disk, std::uint64_t offset, std::uint64_t length,
                     const std::string& fs, const std::wstring& label);

// The file system at an offset, as Windows' drivers see it: "NTFS", "FAT32", "BitLocker" or
// "RAW", and its label (nullopt when the file system is not mounted: BitLocker, RAW).
struct VolumeInfo {
  std::string fs = "RAW";
  std::optional<std::wstring> label;
};
VolumeInfo ReadVolumeInfo(Machine& machine, int disk, std::uint64_t offset);

// For after.json and the account: the partitions that hold something (MBR containers and empty
// slots left out), with their file system and label.
struct PartitionSummary {
  std::uint32_t number = 0;
  std::uint64_t offset = 0, length = 0;
  std::string type;  // "0x07" on MBR, the type GUID on GPT
  VolumeInfo volume;
};
std::vector<PartitionSummary> ListPartitions(Machine& machine, int disk);

// Bytes the product has read from all physical drives of the machine (ReadDisk).
std::uint64_t DiskBytesReadByProduct(Machine& machine);

}  // namespace sim
