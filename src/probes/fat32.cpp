#include "probes/fat32.h"

#include <limits>

#include "platform/bytes.h"
#include "probes/volume_label.h"

namespace fat32 {

namespace {

// Boot sector (offsets from the partition's first byte).
constexpr std::size_t kReservedSectors = 0x0E;  // u16
constexpr std::size_t kSectorsPerFat = 0x24;    // u32
constexpr std::size_t kRootCluster = 0x2C;      // u32

// Directory entry (32 bytes).
constexpr std::size_t kDirEntryBytes = 32;
constexpr std::size_t kDirEntryName = 11;        // bytes, padded with blanks
constexpr std::size_t kDirEntryAttributes = 11;  // u8
constexpr std::uint8_t kDeletedEntry = 0xE5;
constexpr std::uint8_t kVolumeLabelAttribute = 0x08;

constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

// Cluster numbers have 28 bits, so no table the format allows has more than 2^28 entries of 4
// bytes (1 GiB, e.g. a 128 GiB volume of 512-byte clusters); a larger one is damage.
constexpr std::uint64_t kMaxTableBytes = (1ull << 28) * 4;
// The table is read whole, but in pieces of about this size, one held at a time: a 32-bit
// process rarely finds 1 GiB of free address space in one piece.
constexpr std::uint32_t kPieceBytes = 64 * 1024;

}  // namespace

std::int32_t ReadGeometry(std::span<const std::uint8_t> boot, std::int64_t partitionStart,
                          Geometry* g) {
  if (!volume_read::ReadSectorSizes(boot, &g->bytesPerSector, &g->sectorsPerCluster)) {
    return kLocatorNotFound;
  }
  g->reservedSectors = bytes::U16(boot, kReservedSectors);
  g->sectorsPerFat = bytes::U32(boot, kSectorsPerFat);
  g->rootCluster = bytes::U32(boot, kRootCluster);
  // The second copy of the table, its size and position in 32 bits. A size of zero or over
  // kMaxTableBytes, or a position that does not fit in 32 bits, is not read.
  const std::uint64_t tableBytes = static_cast<std::uint64_t>(g->sectorsPerFat) * g->bytesPerSector;
  const std::uint64_t position =
      (static_cast<std::uint64_t>(g->reservedSectors) + g->sectorsPerFat) * g->bytesPerSector;
  if (tableBytes == 0 || tableBytes > kMaxTableBytes || position == 0 ||
      position > std::numeric_limits<std::uint32_t>::max() ||
      !volume_read::AddOffset(partitionStart, position, &g->tableOffset)) {
    return kLocatorFailed;
  }
  g->tableBytes = static_cast<std::uint32_t>(tableBytes);
  g->entries = g->tableBytes / 4;
  g->clusterBytes = g->sectorsPerCluster * g->bytesPerSector;  // at most 255 x 65535
  return kLocatorFound;
}

bool ClusterOffset(const Geometry& g, std::int64_t partitionStart, std::uint32_t cluster,
                   std::int64_t* offset) {
  // (cluster - 2) * sectors per cluster + reserved + 2 * sectors per FAT, in signed 64 bits: at
  // most about 2^40 sectors, times at most 2^16 bytes, well inside 63 bits. A chain may name
  // cluster 0 or 1: their sector lies before the data, and a negative one, taken unsigned,
  // lies beyond any drive.
  const std::int64_t sector = (static_cast<std::int64_t>(cluster) - 2) * g.sectorsPerCluster +
                              g.reservedSectors + 2 * static_cast<std::int64_t>(g.sectorsPerFat);
  return volume_read::AddOffset(partitionStart,
                                static_cast<std::uint64_t>(sector) * g.bytesPerSector, offset);
}

bool Table::Read(os::RawHandle hDrive, const Geometry& g, std::uint32_t first) {
  drive_ = hDrive;
  offset_ = g.tableOffset;
  bytes_ = g.tableBytes;
  entries_ = g.entries;
  // Whole sectors keep raw drive reads aligned, whole entries keep each entry in one piece:
  // the unit is the least common multiple of the sector size and 4 (at most 4 x 65535). A
  // unit above kPieceBytes makes the piece one unit, so a piece is always above 2^15 bytes.
  const std::uint32_t bps = g.bytesPerSector;
  const std::uint32_t unit = bps % 4 == 0 ? bps : bps % 2 == 0 ? 2 * bps : 4 * bps;
  pieceBytes_ = unit >= kPieceBytes ? unit : kPieceBytes / unit * unit;
  // The bit map takes at most 32 MiB (for the largest table).
  if (!piece_.Allocate(pieceBytes_) || !visited_.Allocate(entries_ / 8 + 1, true)) return false;
  // At most 2^15 pieces: tables are at most 2^30 bytes. The piece holding `first` comes last,
  // so a walk from there reads nothing again until it leaves that piece.
  const std::uint32_t count = bytes_ / pieceBytes_ + (bytes_ % pieceBytes_ != 0 ? 1 : 0);
  const std::uint32_t last = (first < entries_ ? first : 0) / (pieceBytes_ / 4);
  for (std::uint32_t k = 1; k <= count; ++k) {
    if (!Load((last + k) % count * pieceBytes_)) return false;
  }
  return true;
}

bool Table::Load(std::uint32_t start) {
  const std::uint32_t length = bytes_ - start < pieceBytes_ ? bytes_ - start : pieceBytes_;
  std::int64_t position = 0;
  std::uint32_t read = 0;
  length_ = 0;
  if (!volume_read::AddOffset(offset_, start, &position) ||
      !volume_read::ReadAt(drive_, position, piece_.data.get(), length, &read) || read < length) {
    return false;
  }
  start_ = start;
  length_ = length;
  return true;
}

bool Table::Entry(std::uint32_t cluster, std::uint32_t* value) {
  const std::uint32_t at = cluster * 4;  // below 2^30
  if (length_ == 0 || at < start_ || at - start_ >= length_) {
    if (!Load(at / pieceBytes_ * pieceBytes_)) return false;
  }
  return bytes::ReadU32(piece_.span(length_), at - start_, value);
}

Next Table::NextCluster(std::uint32_t cluster, std::uint32_t* next) {
  visited_.data[cluster / 8] =
      static_cast<std::uint8_t>(visited_.data[cluster / 8] | (1u << (cluster % 8)));
  std::uint32_t value = 0;
  if (!Entry(cluster, &value)) return Next::kFailed;
  if (value >= entries_ || value == kEndOfChain) return Next::kEnd;
  if ((visited_.data[value / 8] & (1u << (value % 8))) != 0) return Next::kEnd;
  *next = value;
  return Next::kCluster;
}

bool ScanDirectory(std::span<const std::uint8_t> cluster, std::string* name) {
  // Only whole entries inside the bytes that arrived are looked at.
  for (std::size_t at = 0; bytes::InRange(cluster.size(), at, kDirEntryBytes);
       at += kDirEntryBytes) {
    if (cluster[at] == kDeletedEntry ||
        cluster[at + kDirEntryAttributes] != kVolumeLabelAttribute) {
      continue;
    }
    std::size_t length = kDirEntryName;
    while (length > 1 && cluster[at + length - 1] == ' ') --length;  // never the first byte
    name->assign(reinterpret_cast<const char*>(cluster.data() + at), length);
    return true;
  }
  return false;
}

}  // namespace fat32
