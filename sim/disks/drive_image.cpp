// The disk images behind the simulated drives: storage (sparse files, copy-on-write overlays),
// raw reads and the disk requests of the physical drive, and the partition tables.
#include "sim/disks/drive_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <span>
#include <system_error>

#include "platform/bytes.h"
#include "sim/devices/physical_drive.h"

namespace sim {

namespace {

constexpr std::uint32_t kIoctlDiskGetDriveLayoutEx = 0x00070050;
constexpr std::uint32_t kIoctlDiskGetLengthInfo = 0x0007405C;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kBlock = 4096;  // overlay granularity

// ---- Storage -------------------------------------------------------------------------------

struct DiskImage {
  std::filesystem::path base;     // the profile's image, read-only; empty for laid-out disks
  std::filesystem::path overlay;  // <root>/disks/diskN.img
  std::uint64_t size = 0;
  std::ifstream base_file;
  std::fstream overlay_file;
  bool overlay_open = false;
  std::set<std::uint64_t> dirty;  // overlay blocks that hold written bytes (image disks)

  bool OpenOverlay() {
    if (overlay_open) return true;
    std::error_code ec;
    std::filesystem::create_directories(overlay.parent_path(), ec);
    { std::ofstream create(overlay, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(overlay, size, ec);  // sparse where the host allows
    overlay_file.open(overlay, std::ios::binary | std::ios::in | std::ios::out);
    if (ec && size != 0 && overlay_file) {
      // Some C runtimes cannot truncate beyond 32 bits: write the last byte instead, which
      // leaves the same hole on a host that keeps files sparse.
      overlay_file.seekp(static_cast<std::streamoff>(size - 1));
      overlay_file.put('\0');
      overlay_file.flush();
    }
    overlay_open = static_cast<bool>(overlay_file);
    return overlay_open;
  }
  static std::size_t ReadFrom(std::istream& in, std::uint64_t offset, char* out, std::size_t n) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(out, static_cast<std::streamsize>(n));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    in.clear();
    return got;
  }
  std::size_t Read(std::uint64_t offset, char* out, std::size_t n) {
    if (offset >= size) return 0;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size - offset));
    if (base.empty()) {
      if (!OpenOverlay()) return 0;
      const std::size_t got = ReadFrom(overlay_file, offset, out, n);
      std::memset(out + got, 0, n - got);
      return n;
    }
    if (dirty.empty()) {
      const std::size_t got = ReadFrom(base_file, offset, out, n);
      std::memset(out + got, 0, n - got);
      return n;
    }
    std::size_t done = 0;
    while (done < n) {
      const std::uint64_t at = offset + done;
      const std::uint64_t block = at / kBlock;
      const std::size_t piece =
          static_cast<std::size_t>(std::min<std::uint64_t>(n - done, (block + 1) * kBlock - at));
      std::istream& from = dirty.count(block) != 0 ? static_cast<std::istream&>(overlay_file)
                                                   : static_cast<std::istream&>(base_file);
      const std::size_t got = ReadFrom(from, at, out + done, piece);
      std::memset(out + done + got, 0, piece - got);
      done += piece;
    }
    return n;
  }
  bool Write(std::uint64_t offset, const char* data, std::size_t n) {
    if (offset > size || n > size - offset || !OpenOverlay()) return false;
    if (!base.empty()) {
      // Copy-on-write: a block takes the original's bytes before its first change.
      for (std::uint64_t b = offset / kBlock; n != 0 && b <= (offset + n - 1) / kBlock; ++b) {
        if (!dirty.insert(b).second) continue;
        char buffer[kBlock];
        const std::size_t len =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size - b * kBlock));
        const std::size_t got = ReadFrom(base_file, b * kBlock, buffer, len);
        std::memset(buffer + got, 0, len - got);
        overlay_file.clear();
        overlay_file.seekp(static_cast<std::streamoff>(b * kBlock));
        overlay_file.write(buffer, static_cast<std::streamsize>(len));
      }
    }
    overlay_file.clear();
    overlay_file.seekp(static_cast<std::streamoff>(offset));
    overlay_file.write(data, static_cast<std::streamsize>(n));
    overlay_file.flush();
    return static_cast<bool>(overlay_file);
  }
};

struct DriveStore : Machine::State {
  std::map<int, std::unique_ptr<DiskImage>> images;
  std::uint64_t product_bytes_read = 0;
};

std::vector<PartitionSpec> SpecsFromProfile(const Disk& d) {
  std::vector<PartitionSpec> wanted;
  for (const Partition& p : d.partitions) {
    PartitionSpec s;
    s.fs = p.fs;
    s.label = p.label;
    s.bytes = p.size_mb * kMiB;
    wanted.push_back(s);
  }
  return wanted;
}

DiskImage& Image(Machine& machine, int disk) {
  DriveStore& store = machine.state<DriveStore>("drive_image");
  auto it = store.images.find(disk);
  if (it != store.images.end()) return *it->second;
  auto image = std::make_unique<DiskImage>();
  const Disk& d = machine.profile().disks.at(static_cast<std::size_t>(disk));
  image->overlay = machine.root() / "disks" / ("disk" + std::to_string(disk) + ".img");
  DiskImage& ref = *image;
  store.images.emplace(disk, std::move(image));
  if (!d.image.empty()) {
    ref.base = d.image;
    std::error_code ec;
    ref.size = std::filesystem::file_size(d.image, ec);
    if (ec) ref.size = 0;
    ref.base_file.open(d.image, std::ios::binary);
  } else {
    ref.size = d.size_mb * kMiB;
    ref.OpenOverlay();
    LayOutDisk(machine, disk, d.style, SpecsFromProfile(d));
  }
  return ref;
}

// ---- Checksums and GUIDs -----------------------------------------------------------------

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A GUID that is the same on every run: made from the disk, the slot and a purpose.
Guid StableGuid(int disk, std::uint32_t slot, std::uint8_t purpose) {
  Guid g{};
  std::uint32_t x =
      0x9E3779B9u * static_cast<std::uint32_t>(disk + 1) + slot * 0x85EBCA6Bu + purpose;
  for (std::size_t i = 0; i < g.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    g[i] = static_cast<std::uint8_t>(x);
  }
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);  // version 4
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);
  return g;
}

// ---- Table reading ---------------------------------------------------------------------------

bool IsContainerType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

LayoutEntry MbrEntry(std::span<const std::uint8_t> sector, int slot, std::uint64_t base) {
  const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
  LayoutEntry e;
  e.boot_indicator = sector[at] == 0x80;
  e.mbr_type = sector[at + 4];
  const std::uint32_t start = bytes::U32(sector, at + 8);  // LBA, relative
  const std::uint32_t count = bytes::U32(sector, at + 12);
  if (e.mbr_type != 0) {
    e.offset = (base + start) * kSectorBytes;
    e.length = static_cast<std::uint64_t>(count) * kSectorBytes;
    e.hidden_sectors = start;
  }
  e.recognized = IsRecognizedMbrType(e.mbr_type);
  return e;
}

void ReadGpt(Machine& machine, int disk, DiskLayout* layout) {
  std::uint8_t header[kSectorBytes] = {};
  std::size_t got = 0;
  ReadImage(machine, disk, kSectorBytes, header, kSectorBytes, &got);
  const std::span<const std::uint8_t> h(header);
  if (!bytes::Equals(h, 0, "EFI PART", 8)) return;  // protective MBR without a GPT: RAW
  layout->style = DiskLayout::kGpt;
  std::copy(header + 0x38, header + 0x48, layout->disk_id.begin());
  const std::uint64_t first = bytes::U64(h, 0x28), last = bytes::U64(h, 0x30);
  layout->first_usable = first * kSectorBytes;
  layout->usable_length = last >= first ? (last - first + 1) * kSectorBytes : 0;
  const std::uint64_t entriesLba = bytes::U64(h, 0x48);
  std::uint32_t count = bytes::U32(h, 0x50);
  const std::uint32_t size = bytes::U32(h, 0x54);
  layout->max_partitions = count;
  if (size < 128 || size > 4096) return;
  count = std::min<std::uint32_t>(count, 1024);  // a table beyond this is damage
  std::vector<std::uint8_t> table(static_cast<std::size_t>(count) * size);
  ReadImage(machine, disk, entriesLba * kSectorBytes, table.data(), table.size(), &got);
  const std::span<const std::uint8_t> t(table.data(), got);
  std::uint32_t number = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(i) * size;
    if (!bytes::InRange(t.size(), at, 128)) break;
    LayoutEntry e;
    std::copy(t.begin() + static_cast<std::ptrdiff_t>(at),
              t.begin() + static_cast<std::ptrdiff_t>(at + 16), e.gpt_type.begin());
    if (e.gpt_type == Guid{}) continue;  // unused entry
    std::copy(t.begin() + static_cast<std::ptrdiff_t>(at + 16),
              t.begin() + static_cast<std::ptrdiff_t>(at + 32), e.gpt_id.begin());
    const std::uint64_t a = bytes::U64(t, at + 32), b = bytes::U64(t, at + 40);
    e.offset = a * kSectorBytes;
    e.length = b >= a ? (b - a + 1) * kSectorBytes : 0;
    e.gpt_attributes = bytes::U64(t, at + 48);
    for (std::size_t c = 0; c < 36; ++c) {
      const std::uint16_t unit = bytes::U16(t, at + 56 + 2 * c);
      if (unit == 0) break;
      e.gpt_name.push_back(static_cast<char16_t>(unit));
    }
    e.number = ++number;  // used entries are numbered in entry order
    layout->entries.push_back(e);
  }
}

// ---- Table writing ---------------------------------------------------------------------------

void PutMbrEntry(std::span<std::uint8_t> sector, int slot, std::uint8_t type, std::uint64_t lba,
                 std::uint64_t sectors) {
  const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
  // CHS fields hold the "beyond 8 GB" values that LBA-only tables carry.
  const std::uint8_t chs[3] = {0xFE, 0xFF, 0xFF};
  bytes::WriteBytes(sector, at + 1, chs, 3);
  bytes::WriteU8(sector, at + 4, type);
  bytes::WriteBytes(sector, at + 5, chs, 3);
  bytes::WriteU32(sector, at + 8, static_cast<std::uint32_t>(lba));
  bytes::WriteU32(sector, at + 12, static_cast<std::uint32_t>(sectors));
}

void Signature(std::span<std::uint8_t> sector) {
  bytes::WriteU8(sector, 510, 0x55);
  bytes::WriteU8(sector, 511, 0xAA);
}

bool WriteGptCopy(Machine& machine, int disk, std::uint64_t headerLba, std::uint64_t otherLba,
                  std::uint64_t entriesLba, std::uint64_t firstUsable, std::uint64_t lastUsable,
                  const Guid& diskId, const std::vector<std::uint8_t>& entries) {
  std::uint8_t header[kSectorBytes] = {};
  std::span<std::uint8_t> h(header);
  bytes::WriteBytes(h, 0, "EFI PART", 8);
  bytes::WriteU32(h, 0x08, 0x00010000);  // revision 1.0
  bytes::WriteU32(h, 0x0C, 92);          // header size
  bytes::WriteU64(h, 0x18, headerLba);
  bytes::WriteU64(h, 0x20, otherLba);
  bytes::WriteU64(h, 0x28, firstUsable);
  bytes::WriteU64(h, 0x30, lastUsable);
  bytes::WriteBytes(h, 0x38, diskId.data(), 16);
  bytes::WriteU64(h, 0x48, entriesLba);
  bytes::WriteU32(h, 0x50, 128);
  bytes::WriteU32(h, 0x54, 128);
  bytes::WriteU32(h, 0x58, Crc32(entries.data(), entries.size()));
  bytes::WriteU32(h, 0x10, Crc32(header, 92));
  return WriteImage(machine, disk, entriesLba * kSectorBytes, entries.data(), entries.size()) &&
         WriteImage(machine, disk, headerLba * kSectorBytes, header, kSectorBytes);
}

}  // namespace

// ---- Public helpers ------------------------------------------------------------------------

Guid ParseGuid(const std::string& text) {
  Guid g{};
  std::uint8_t raw[16] = {};
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < text.size() && n < 16;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    raw[n++] = static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16));
    i += 2;
  }
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g[static_cast<std::size_t>(i)] = raw[order[i]];
  return g;
}

std::string GuidText(const Guid& g) {
  char out[40];
  std::snprintf(out, sizeof(out),
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                g[15]);
  return out;
}

bool IsRecognizedMbrType(std::uint8_t type) {
  // FAT12, FAT16, HUGE, IFS, FAT32, FAT32 (XINT13), XINT13; with the NTFT bit all but FAT16.
  const auto plain = [](std::uint8_t t) {
    return t == 0x01 || t == 0x06 || t == 0x07 || t == 0x0B || t == 0x0C || t == 0x0E;
  };
  if (plain(type) || type == 0x04) return true;
  return (type & 0x80) != 0 && plain(static_cast<std::uint8_t>(type & ~0xC0));
}

std::filesystem::path DiskImagePath(Machine& machine, int disk) {
  DiskImage& image = Image(machine, disk);
  return image.dirty.empty() && !image.base.empty() ? image.base : image.overlay;
}

bool ReadImage(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::size_t size,
               std::size_t* read) {
  *read = Image(machine, disk).Read(offset, static_cast<char*>(buffer), size);
  return true;
}

bool WriteImage(Machine& machine, int disk, std::uint64_t offset, const void* data,
                std::size_t size) {
  return Image(machine, disk).Write(offset, static_cast<const char*>(data), size);
}

DiskLayout ReadDiskLayout(Machine& machine, int disk) {
  DiskLayout layout;
  std::uint8_t mbr[kSectorBytes] = {};
  std::size_t got = 0;
  ReadImage(machine, disk, 0, mbr, kSectorBytes, &got);
  const std::span<const std::uint8_t> m(mbr);
  if (got < kSectorBytes || mbr[510] != 0x55 || mbr[511] != 0xAA) return layout;
  for (int slot = 0; slot < 4; ++slot) {
    if (mbr[0x1BE + slot * 16 + 4] == 0xEE) {
      ReadGpt(machine, disk, &layout);
      return layout;
    }
  }
  layout.style = DiskLayout::kMbr;
  layout.mbr_signature = bytes::U32(m, 0x1B8);
  std::uint32_t number = 0;
  std::uint64_t extendedLba = 0;
  for (int slot = 0; slot < 4; ++slot) {
    LayoutEntry e = MbrEntry(m, slot, 0);
    if (e.mbr_type != 0 && !IsContainerType(e.mbr_type)) e.number = ++number;
    if (IsContainerType(e.mbr_type) && extendedLba == 0) extendedLba = e.offset / kSectorBytes;
    layout.entries.push_back(e);
  }
  // The chain of extended boot records: each holds a logical partition (relative to itself)
  // and a link to the next (relative to the extended partition). Bounded against loops.
  std::set<std::uint64_t> seen;
  std::uint64_t ebr = extendedLba;
  while (ebr != 0 && seen.insert(ebr).second && seen.size() <= 128) {
    std::uint8_t sector[kSectorBytes] = {};
    ReadImage(machine, disk, ebr * kSectorBytes, sector, kSectorBytes, &got);
    const std::span<const std::uint8_t> s(sector);
    if (sector[510] != 0x55 || sector[511] != 0xAA) break;
    std::uint64_t next = 0;
    for (int slot = 0; slot < 4; ++slot) {
      const bool link = IsContainerType(sector[0x1BE + slot * 16 + 4]);
      LayoutEntry e = MbrEntry(s, slot, link ? extendedLba : ebr);
      if (link) {
        if (next == 0) next = e.offset / kSectorBytes;
      } else if (e.mbr_type != 0) {
        e.number = ++number;
      }
      layout.entries.push_back(e);
    }
    ebr = next;
  }
  return layout;
}

std::vector<std::uint8_t> EncodeDriveLayout(const DiskLayout& layout, std::size_t capacity) {
  const std::size_t need = 48 + layout.entries.size() * 144;
  if (need > capacity) return {};
  std::vector<std::uint8_t> out(need, 0);
  std::span<std::uint8_t> o(out);
  bytes::WriteU32(o, 0x00, layout.style);                                       // PartitionStyle
  bytes::WriteU32(o, 0x04, static_cast<std::uint32_t>(layout.entries.size()));  // PartitionCount
  if (layout.style == DiskLayout::kMbr) {
    bytes::WriteU32(o, 0x08, layout.mbr_signature);  // Mbr.Signature
  } else if (layout.style == DiskLayout::kGpt) {
    bytes::WriteBytes(o, 0x08, layout.disk_id.data(), 16);  // Gpt.DiskId
    bytes::WriteU64(o, 0x18, layout.first_usable);          // Gpt.StartingUsableOffset
    bytes::WriteU64(o, 0x20, layout.usable_length);         // Gpt.UsableLength
    bytes::WriteU32(o, 0x28, layout.max_partitions);        // Gpt.MaxPartitionCount
  }
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    const LayoutEntry& e = layout.entries[i];
    const std::size_t at = 48 + i * 144;
    bytes::WriteU32(o, at + 0x00, layout.style);  // PartitionStyle
    bytes::WriteU64(o, at + 0x08, e.offset);      // StartingOffset
    bytes::WriteU64(o, at + 0x10, e.length);      // PartitionLength
    bytes::WriteU32(o, at + 0x18, e.number);      // PartitionNumber
    if (layout.style == DiskLayout::kMbr) {
      bytes::WriteU8(o, at + 0x20, e.mbr_type);                // Mbr.PartitionType
      bytes::WriteU8(o, at + 0x21, e.boot_indicator ? 1 : 0);  // Mbr.BootIndicator
      bytes::WriteU8(o, at + 0x22, e.recognized ? 1 : 0);      // Mbr.RecognizedPartition
      bytes::WriteU32(o, at + 0x24, e.hidden_sectors);         // Mbr.HiddenSectors
    } else if (layout.style == DiskLayout::kGpt) {
      bytes::WriteBytes(o, at + 0x20, e.gpt_type.data(), 16);  // Gpt.PartitionType
      bytes::WriteBytes(o, at + 0x30, e.gpt_id.data(), 16);    // Gpt.PartitionId
      bytes::WriteU64(o, at + 0x40, e.gpt_attributes);         // Gpt.Attributes
      for (std::size_t c = 0; c < e.gpt_name.size() && c < 36; ++c) {
        bytes::WriteU16(o, at + 0x48 + 2 * c, e.gpt_name[c]);  // Gpt.Name[36]
      }
    }
  }
  return out;
}

bool LayOutDisk(Machine& machine, int disk, const std::string& style,
                const std::vector<PartitionSpec>& partitions) {
  const std::uint64_t size = Image(machine, disk).size;
  const std::uint64_t sectors = size / kSectorBytes;
  std::uint64_t total = 0;
  for (const PartitionSpec& p : partitions) total += (p.bytes + kSectorBytes - 1) / kSectorBytes;
  if (sectors < 2 * 2048 || total > sectors - 2 * 2048) return false;  // 1 MiB kept at each end
  // Clear the old tables: the first MiB and the last MiB.
  const std::vector<std::uint8_t> zeros(kMiB, 0);
  WriteImage(machine, disk, 0, zeros.data(), zeros.size());
  WriteImage(machine, disk, size - kMiB, zeros.data(), zeros.size());
  if (style != "mbr" && style != "gpt") return partitions.empty();

  struct Placed {
    std::uint64_t lba, count;
  };
  std::vector<Placed> placed;
  std::uint64_t lba = 2048;
  for (const PartitionSpec& p : partitions) {
    const std::uint64_t count = (p.bytes + kSectorBytes - 1) / kSectorBytes;
    placed.push_back({lba, count});
    lba += count;
  }

  std::uint8_t mbr[kSectorBytes] = {};
  std::span<std::uint8_t> m(mbr);
  Signature(m);
  if (style == "gpt") {
    // Protective MBR, then the table at the front and its copy at the back.
    PutMbrEntry(m, 0, 0xEE, 1, std::min<std::uint64_t>(sectors - 1, 0xFFFFFFFF));
    const std::uint8_t firstChs[3] = {0x00, 0x02, 0x00};
    bytes::WriteBytes(m, 0x1BE + 1, firstChs, 3);
    if (!WriteImage(machine, disk, 0, mbr, kSectorBytes)) return false;
    if (partitions.size() > 128) return false;
    std::vector<std::uint8_t> entries(128 * 128, 0);
    std::span<std::uint8_t> t(entries);
    for (std::size_t i = 0; i < partitions.size(); ++i) {
      const PartitionSpec& p = partitions[i];
      const std::size_t at = i * 128;
      const Guid type = p.gpt_type
                            ? *p.gpt_type
                            : ParseGuid(p.fs == "raw" ? kGptMicrosoftReserved : kGptBasicData);
      const Guid id = StableGuid(disk, static_cast<std::uint32_t>(i), 1);
      bytes::WriteBytes(t, at, type.data(), 16);
      bytes::WriteBytes(t, at + 16, id.data(), 16);
      bytes::WriteU64(t, at + 32, placed[i].lba);
      bytes::WriteU64(t, at + 40, placed[i].lba + placed[i].count - 1);
      bytes::WriteU64(t, at + 48, p.gpt_attributes);
      const std::string name =
          p.fs == "raw" && !p.gpt_type ? "Microsoft reserved partition" : "Basic data partition";
      for (std::size_t c = 0; c < name.size(); ++c) {
        bytes::WriteU16(t, at + 56 + 2 * c, static_cast<std::uint8_t>(name[c]));
      }
    }
    const Guid diskId = StableGuid(disk, 0xFFFF, 2);
    const std::uint64_t last = sectors - 1;
    if (!WriteGptCopy(machine, disk, 1, last, 2, 34, last - 33, diskId, entries) ||
        !WriteGptCopy(machine, disk, last, 1, last - 32, 34, last - 33, diskId, entries)) {
      return false;
    }
  } else {
    const std::uint32_t signature = 0x1000000u * static_cast<std::uint32_t>(disk + 1) + 0x5A17;
    bytes::WriteU32(m, 0x1B8, signature);
    const std::size_t primaries = partitions.size() <= 4 ? partitions.size() : 3;
    auto mbrType = [](const PartitionSpec& p) -> std::uint8_t {
      return p.mbr_type ? *p.mbr_type : p.fs == "fat32" ? 0x0C : 0x07;
    };
    for (std::size_t i = 0; i < primaries; ++i) {
      if (placed[i].lba + placed[i].count > 0xFFFFFFFFull) return false;
      PutMbrEntry(m, static_cast<int>(i), mbrType(partitions[i]), placed[i].lba, placed[i].count);
    }
    if (partitions.size() > 4) {
      const std::uint64_t extStart = placed[3].lba;
      const std::uint64_t extEnd = placed.back().lba + placed.back().count;
      if (extEnd > 0xFFFFFFFFull) return false;
      PutMbrEntry(m, 3, 0x0F, extStart, extEnd - extStart);
      for (std::size_t i = 3; i < partitions.size(); ++i) {
        // The logical's own region begins with its extended boot record.
        const std::uint64_t gap = placed[i].count >= 4096 ? 2048 : 1;
        std::uint8_t ebr[kSectorBytes] = {};
        std::span<std::uint8_t> e(ebr);
        Signature(e);
        PutMbrEntry(e, 0, mbrType(partitions[i]), gap, placed[i].count - gap);
        if (i + 1 < partitions.size()) {
          PutMbrEntry(e, 1, 0x05, placed[i + 1].lba - extStart, placed[i + 1].count);
        }
        if (!WriteImage(machine, disk, placed[i].lba * kSectorBytes, ebr, kSectorBytes))
          return false;
        placed[i].lba += gap;
        placed[i].count -= gap;
      }
    }
    if (!WriteImage(machine, disk, 0, mbr, kSectorBytes)) return false;
  }
  for (std::size_t i = 0; i < partitions.size(); ++i) {
    if (!FormatPartition(machine, disk, placed[i].lba * kSectorBytes,
                         placed[i].count * kSectorBytes, partitions[i].fs, partitions[i].label)) {
      return false;
    }
  }
  return true;
}

bool WritePartitionTable(Machine& machine, int disk, const DiskLayout& layout) {
  if (layout.style != ReadDiskLayout(machine, disk).style) return false;
  std::size_t got = 0;
  if (layout.style == DiskLayout::kMbr) {
    std::uint8_t mbr[kSectorBytes] = {};
    ReadImage(machine, disk, 0, mbr, kSectorBytes, &got);
    std::span<std::uint8_t> m(mbr);
    for (int slot = 0; slot < 4; ++slot) {
      const std::size_t at = 0x1BE + static_cast<std::size_t>(slot) * 16;
      const LayoutEntry* e =
          static_cast<std::size_t>(slot) < layout.entries.size() ? &layout.entries[slot] : nullptr;
      if (e == nullptr || e->mbr_type == 0) {
        std::memset(mbr + at, 0, 16);
        continue;
      }
      const std::uint64_t lba = e->offset / kSectorBytes, count = e->length / kSectorBytes;
      if (lba + count > 0xFFFFFFFFull) return false;
      PutMbrEntry(m, slot, e->mbr_type, lba, count);
      bytes::WriteU8(m, at, e->boot_indicator ? 0x80 : 0x00);
    }
    return WriteImage(machine, disk, 0, mbr, kSectorBytes);
  }
  if (layout.style != DiskLayout::kGpt) return false;
  std::uint8_t primary[kSectorBytes] = {};
  ReadImage(machine, disk, kSectorBytes, primary, kSectorBytes, &got);
  const std::span<const std::uint8_t> p(primary);
  const std::uint32_t count = bytes::U32(p, 0x50), size = bytes::U32(p, 0x54);
  if (size < 128 || size > 4096 || count > 1024 || layout.entries.size() > count) return false;
  std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * size, 0);
  std::span<std::uint8_t> t(entries);
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    const LayoutEntry& e = layout.entries[i];
    const std::size_t at = i * size;
    if (e.length < kSectorBytes) return false;
    bytes::WriteBytes(t, at, e.gpt_type.data(), 16);
    bytes::WriteBytes(t, at + 16, e.gpt_id.data(), 16);
    bytes::WriteU64(t, at + 32, e.offset / kSectorBytes);
    bytes::WriteU64(t, at + 40, (e.offset + e.length) / kSectorBytes - 1);
    bytes::WriteU64(t, at + 48, e.gpt_attributes);
    for (std::size_t c = 0; c < e.gpt_name.size() && c < 36; ++c) {
      bytes::WriteU16(t, at + 56 + 2 * c, e.gpt_name[c]);
    }
  }
  const std::uint32_t entriesCrc = Crc32(entries.data(), entries.size());
  // The primary header, then the backup header it names.
  for (const std::uint64_t lba : {std::uint64_t{1}, bytes::U64(p, 0x20)}) {
    std::uint8_t header[kSectorBytes] = {};
    ReadImage(machine, disk, lba * kSectorBytes, header, kSectorBytes, &got);
    std::span<std::uint8_t> h(header);
    const std::uint32_t headerSize = bytes::U32(h, 0x0C);
    if (!bytes::Equals(h, 0, "EFI PART", 8) || headerSize < 92 || headerSize > kSectorBytes) {
      return false;
    }
    bytes::WriteU32(h, 0x58, entriesCrc);
    bytes::WriteU32(h, 0x10, 0);
    bytes::WriteU32(h, 0x10, Crc32(header, headerSize));
    if (!WriteImage(machine, disk, bytes::U64(h, 0x48) * kSectorBytes, entries.data(),
                    entries.size()) ||
        !WriteImage(machine, disk, lba * kSectorBytes, header, kSectorBytes)) {
      return false;
    }
  }
  return true;
}

std::vector<PartitionSummary> ListPartitions(Machine& machine, int disk) {
  std::vector<PartitionSummary> out;
  const DiskLayout layout = ReadDiskLayout(machine, disk);
  for (const LayoutEntry& e : layout.entries) {
    if (e.number == 0) continue;
    PartitionSummary s;
    s.number = e.number;
    s.offset = e.offset;
    s.length = e.length;
    if (layout.style == DiskLayout::kGpt) {
      s.type = GuidText(e.gpt_type);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "0x%02X", e.mbr_type);
      s.type = hex;
    }
    s.volume = ReadVolumeInfo(machine, disk, e.offset);
    out.push_back(s);
  }
  return out;
}

std::uint64_t DiskBytesReadByProduct(Machine& machine) {
  return machine.state<DriveStore>("drive_image").product_bytes_read;
}

// ---- The physical drive's side -----------------------------------------------------------

bool DiskIoctl(Machine& machine, int disk, std::uint32_t code, const void*, std::uint32_t,
               void* out, std::uint32_t outSize, std::uint32_t* returned, std::uint32_t* error) {
  *returned = 0;
  const int drive = machine.profile().disks[static_cast<std::size_t>(disk)].drive.value_or(-1);
  if (code == kIoctlDiskGetDriveLayoutEx) {
    if (machine.Faulted("DriveLayout", std::to_string(drive))) {
      *error = os::kErrorGenFailure;
      return false;
    }
    const std::vector<std::uint8_t> encoded =
        EncodeDriveLayout(ReadDiskLayout(machine, disk), outSize);
    if (encoded.empty()) {
      *error = os::kErrorInsufficientBuffer;
      return false;
    }
    std::memcpy(out, encoded.data(), encoded.size());
    *returned = static_cast<std::uint32_t>(encoded.size());
    return true;
  }
  if (code == kIoctlDiskGetLengthInfo) {
    if (outSize < 8) {
      *error = os::kErrorInsufficientBuffer;
      return false;
    }
    bytes::WriteU64(std::span<std::uint8_t>(static_cast<std::uint8_t*>(out), outSize), 0,
                    DiskBytes(machine, disk));
    *returned = 8;
    return true;
  }
  *error = os::kErrorInvalidFunction;
  return false;
}

bool ReadDisk(Machine& machine, int disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read, std::uint32_t* error) {
  *read = 0;
  const int drive = machine.profile().disks[static_cast<std::size_t>(disk)].drive.value_or(-1);
  if (machine.Faulted("ReadFile", std::to_string(drive))) {
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
  machine.state<DriveStore>("drive_image").product_bytes_read += got;
  return true;
}

std::uint64_t DiskBytes(Machine& machine, int disk) { return Image(machine, disk).size; }

}  // namespace sim
