// Storage of the disk images: sparse files and copy-on-write overlays.
#include "sim/disks/disk_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "sim/disks/partition_table.h"

namespace sim {

namespace {

constexpr std::uint64_t kBlock = 4096;  // overlay granularity

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
  DriveStore& store = machine.state<DriveStore>();
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

}  // namespace

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

std::vector<std::uint8_t> ReadImageBytes(Machine& machine, int disk, std::uint64_t offset,
                                         std::size_t size) {
  std::vector<std::uint8_t> out(size, 0);
  std::size_t got = 0;
  ReadImage(machine, disk, offset, out.data(), size, &got);
  out.resize(got);
  return out;
}

std::uint64_t DiskBytes(Machine& machine, int disk) { return Image(machine, disk).size; }

}  // namespace sim
