// Storage of the disk images: sparse files and copy-on-write overlays.
#include "sim/disks/disk_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "sim/disks/guid.h"
#include "sim/disks/partition_table.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sim {

namespace {

constexpr std::uint64_t kBlock = 4096;  // overlay granularity

// Creates `path` as a file of `size` zero bytes, sparse where the host allows, and opens it.
bool OpenSparse(const std::filesystem::path& path, std::uint64_t size, std::fstream* file) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, size, ec);
  file->open(path, std::ios::binary | std::ios::in | std::ios::out);
  if (ec && size != 0 && *file) {
    // Some C runtimes cannot truncate beyond 32 bits: write the last byte instead, which
    // leaves the same hole on a host that keeps files sparse.
    file->seekp(static_cast<std::streamoff>(size - 1));
    file->put('\0');
    file->flush();
  }
  return static_cast<bool>(*file);
}

// The stretches of a file that hold data, as [offset, end) pairs: its holes left out where the
// host can tell them, else the whole file.
std::vector<std::pair<std::uint64_t, std::uint64_t>> DataExtents(const std::filesystem::path& path,
                                                                 std::uint64_t size) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
#ifdef SEEK_DATA
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    off_t at = 0;
    while (static_cast<std::uint64_t>(at) < size) {
      const off_t data = ::lseek(fd, at, SEEK_DATA);
      if (data < 0) break;  // no data beyond `at`
      off_t hole = ::lseek(fd, data, SEEK_HOLE);
      if (hole < 0) hole = static_cast<off_t>(size);
      extents.emplace_back(data, std::min<std::uint64_t>(hole, size));
      at = hole;
    }
    ::close(fd);
    return extents;
  }
#else
  (void)path;
#endif
  if (size != 0) extents.emplace_back(0, size);
  return extents;
}

struct DiskImage {
  std::filesystem::path base;     // the profile's image, read-only; empty for laid-out disks
  std::filesystem::path overlay;  // <root>/disks/diskN.img
  std::uint64_t size = 0;
  std::ifstream base_file;
  std::fstream overlay_file;
  bool overlay_open = false;
  std::set<std::uint64_t> dirty;  // blocks that hold written bytes

  bool OpenOverlay() {
    if (overlay_open) return true;
    overlay_open = OpenSparse(overlay, size, &overlay_file);
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
    if (base.empty()) {
      for (std::uint64_t b = offset / kBlock; n != 0 && b <= (offset + n - 1) / kBlock; ++b) {
        dirty.insert(b);
      }
    } else {
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
    // The loader has checked the type against the disk's style.
    if (!p.type.empty() && d.style == "gpt") s.gpt_type = ParseGuid(p.type);
    if (!p.type.empty() && d.style == "mbr")
      s.mbr_type = static_cast<std::uint8_t>(std::strtoul(p.type.c_str(), nullptr, 16));
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
  image->overlay = machine.root() / kDisksFolder / ("disk" + std::to_string(disk) + ".img");
  DiskImage& ref = *image;
  store.images.emplace(disk, std::move(image));
  if (!d.image.empty()) {
    ref.base = d.image;
    std::error_code ec;
    ref.size = std::filesystem::file_size(d.image, ec);
    if (ec) ref.size = 0;
    ref.base_file.open(d.image, std::ios::binary);
  } else if (d.captured) {
    // The bytes that were read on capture, over zeros.
    ref.size = d.captured->bytes;
    for (const DiskPiece& piece : d.captured->pieces) {
      ref.Write(piece.offset, piece.bytes.data(), piece.bytes.size());
    }
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

bool CopyDiskImage(Machine& machine, int disk, const std::filesystem::path& to) {
  DiskImage& image = Image(machine, disk);
  // What may hold data: the original's data and every block written since.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  if (!image.base.empty()) ranges = DataExtents(image.base, image.size);
  for (const std::uint64_t b : image.dirty) {
    ranges.emplace_back(b * kBlock, std::min<std::uint64_t>((b + 1) * kBlock, image.size));
  }
  std::fstream out;
  if (!OpenSparse(to, image.size, &out)) return false;
  std::vector<char> buffer(kBlock);
  const std::vector<char> zeros(kBlock, 0);
  for (const auto& [from, end] : ranges) {
    for (std::uint64_t at = from / kBlock * kBlock; at < end; at += kBlock) {
      const std::size_t got = image.Read(at, buffer.data(), kBlock);
      if (std::memcmp(buffer.data(), zeros.data(), got) == 0) continue;  // stays a hole
      out.seekp(static_cast<std::streamoff>(at));
      out.write(buffer.data(), static_cast<std::streamsize>(got));
    }
  }
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace sim
