// The steps of reading a FAT32 volume's label, named as dosfstools names them: the checked
// geometry of the boot sector, one entry of the allocation table, the next cluster of a chain
// and the scan of a directory cluster for the volume-label entry. ReadFat32VolumeLabel
// (probes/volume_label.h) puts them together.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/os.h"
#include "probes/volume_read.h"

namespace fat32 {

// Where the boot sector puts the volume's parts, checked so that every size and position
// below fits the arithmetic that uses it.
struct Geometry {
  std::uint32_t bytesPerSector = 0;     // 1 to 65535
  std::uint32_t sectorsPerCluster = 0;  // 1 to 255
  std::uint32_t reservedSectors = 0;
  std::uint32_t sectorsPerFat = 0;
  std::uint32_t rootCluster = 0;   // as the boot sector gives it, not checked
  std::int64_t tableOffset = 0;    // of the second allocation table, on the drive
  std::uint32_t tableBytes = 0;    // 1 to 2^30
  std::uint32_t entries = 0;       // tableBytes / 4
  std::uint32_t clusterBytes = 0;  // below 2^24
};

// Reads the geometry of the volume whose boot sector is `boot` and whose first byte is at
// `partitionStart`: kLocatorFound; kLocatorNotFound for a sector or cluster size of 0;
// kLocatorFailed for a table of 0 bytes or larger than the format allows, or one placed
// beyond 32 bits from the partition's start or beyond 63 bits on the drive.
std::int32_t ReadGeometry(std::span<const std::uint8_t> boot, std::int64_t partitionStart,
                          Geometry* geometry);

// The drive offset of data cluster `cluster`; false when beyond 63 bits.
bool ClusterOffset(const Geometry& geometry, std::int64_t partitionStart, std::uint32_t cluster,
                   std::int64_t* offset);

// What follows a cluster in its chain.
enum class Next {
  kCluster,  // the next cluster
  kEnd,      // the end mark, a cluster outside the table, or one the chain visited before
  kFailed,   // the table's piece holding the entry could not be read
};

// The second allocation table, read whole in bounded pieces (one held at a time), and the
// clusters a chain has visited.
class Table {
 public:
  // Reads every piece of the table, as a read of the whole table in one would, and makes
  // room to mark every cluster; false on a read that fails or ends early, or on memory that
  // cannot be had. The piece holding the entry of `first` stays loaded.
  bool Read(os::RawHandle hDrive, const Geometry& geometry, std::uint32_t first);
  // get_fat: the entry of `cluster` (below the entry count), as read: the top four bits are
  // not masked. False when its piece, read again, fails.
  bool Entry(std::uint32_t cluster, std::uint32_t* value);
  // next_cluster: marks `cluster` visited and gives the one after it, so a chain that loops
  // ends where it would come back.
  Next NextCluster(std::uint32_t cluster, std::uint32_t* next);

 private:
  bool Load(std::uint32_t start);

  os::RawHandle drive_ = os::kInvalidHandle;
  std::int64_t offset_ = 0;        // of the table on the drive
  std::uint32_t bytes_ = 0;        // the whole table
  std::uint32_t entries_ = 0;      // bytes_ / 4
  std::uint32_t pieceBytes_ = 0;   // a multiple of both 4 and the sector size
  volume_read::ByteBuffer piece_;  // table bytes [start_, start_ + length_)
  std::uint32_t start_ = 0, length_ = 0;
  volume_read::ByteBuffer visited_;  // one bit per entry
};

// Scans the bytes of one directory cluster for the volume-label entry: the first whose first
// byte is not 0xE5 (deleted) and whose attributes are exactly 0x08; an entry whose first byte
// is 0 does not end the scan. Gives its 11 name bytes without the blanks at their end, but
// never without the first byte; false when no whole entry qualifies.
bool ScanDirectory(std::span<const std::uint8_t> cluster, std::string* name);

}  // namespace fat32
