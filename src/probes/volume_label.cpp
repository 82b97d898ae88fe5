#include "probes/volume_label.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "platform/bytes.h"

namespace {

constexpr std::uint32_t kBootSectorBytes = 512;

// Boot sector (offsets from the partition's first byte).
constexpr std::size_t kOemId = 0x03;                  // 8 bytes
constexpr std::size_t kBytesPerSector = 0x0B;         // u16
constexpr std::size_t kSectorsPerCluster = 0x0D;      // u8
constexpr std::size_t kFatReservedSectors = 0x0E;     // u16
constexpr std::size_t kFat32SectorsPerFat = 0x24;     // u32
constexpr std::size_t kFat32RootCluster = 0x2C;       // u32
constexpr std::size_t kFat32FsType = 0x52;            // 8 bytes
constexpr std::size_t kNtfsMftCluster = 0x30;         // u64
constexpr std::size_t kNtfsClustersPerRecord = 0x40;  // s8, or u32 when not negative

// FAT32 directory entry (32 bytes).
constexpr std::size_t kDirEntryBytes = 32;
constexpr std::size_t kDirEntryAttributes = 11;  // u8
constexpr std::uint8_t kDeletedEntry = 0xE5;
constexpr std::uint8_t kVolumeLabelAttribute = 0x08;
constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

// NTFS file record and attribute.
constexpr std::size_t kRecordFirstAttribute = 0x14;  // u16
constexpr std::size_t kAttributeType = 0x00;         // u32
constexpr std::size_t kAttributeLength = 0x04;       // u32
constexpr std::size_t kAttributeValueLength = 0x10;  // u32
constexpr std::size_t kAttributeValue = 0x18;        // the value is always taken here
constexpr std::uint32_t kVolumeNameType = 0x60;
constexpr std::uint32_t kEndOfAttributes = 0xFFFFFFFF;
constexpr std::size_t kVolumeFileRecord = 3;

// Bounds on damaged structures.
// Cluster numbers have 28 bits, so no table the format allows has more than 2^28 entries of 4
// bytes (1 GiB, e.g. a 128 GiB volume of 512-byte clusters); a larger one is damage.
constexpr std::uint64_t kMaxFatBytes = (1ull << 28) * 4;
// The table is read whole, but in pieces of about this size, one held at a time: a 32-bit
// process rarely finds 1 GiB of free address space in one piece.
constexpr std::uint32_t kFatPieceBytes = 64 * 1024;
// File records are 1 KiB or 4 KiB in practice; anything beyond 1 MiB is damage.
constexpr std::uint64_t kMaxRecordBytes = 1024 * 1024;
// The volume name is copied through a 1024-byte buffer that keeps a terminator.
constexpr std::size_t kNameBufferBytes = 1024;

// A buffer that may be large: allocated without throwing, empty when memory is short.
struct ByteBuffer {
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t size = 0;
  // Only the bytes a read filled are ever looked at, so only `cleared` buffers are zeroed.
  bool Allocate(std::uint32_t bytes, bool cleared = false) {
    data.reset(new (std::nothrow) std::uint8_t[bytes == 0 ? 1 : bytes]);
    size = data ? bytes : 0;
    if (data && cleared) std::memset(data.get(), 0, bytes);
    return static_cast<bool>(data);
  }
  std::span<const std::uint8_t> span(std::uint32_t length) const {
    return {data.get(), length < size ? length : size};
  }
};

// a + b without leaving the signed 64-bit range.
bool AddOffset(std::int64_t a, std::uint64_t b, std::int64_t* sum) {
  if (a < 0 || b > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - a)) {
    return false;
  }
  *sum = a + static_cast<std::int64_t>(b);
  return true;
}

// a * b, false when it would not fit in 64 bits.
bool Multiply(std::uint64_t a, std::uint64_t b, std::uint64_t* product) {
  if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return false;
  *product = a * b;
  return true;
}

VolumeReadObserver g_pfnVolumeReadObserver = nullptr;
void* g_pVolumeReadObserverContext = nullptr;

// Positions at an absolute byte offset of the drive and reads `size` bytes. *read receives
// how many arrived.
bool ReadAt(os::RawHandle hDrive, std::int64_t offset, std::uint8_t* buffer, std::uint32_t size,
            std::uint32_t* read) {
  *read = 0;
  if (!os::SetFilePointerEx(hDrive, offset, os::kFileBegin)) return false;
  const bool ok = os::ReadFile(hDrive, buffer, size, read);
  if (ok && g_pfnVolumeReadObserver != nullptr) {
    g_pfnVolumeReadObserver(g_pVolumeReadObserverContext, offset, buffer, *read);
  }
  return ok;
}

// The allocation table, read whole a piece at a time before the chain is walked, then again
// a piece at a time around the entries the walk asks for. The pieces are whole sectors of the
// table, so raw drive reads stay aligned, and whole entries, so no entry spans two pieces.
struct FatPieces {
  os::RawHandle drive;
  std::int64_t offset = 0;  // of the table on the drive
  std::uint32_t bytes = 0;  // the whole table
  std::uint32_t pieceBytes = 0;
  ByteBuffer piece;
  std::uint32_t pieceStart = 0, pieceLength = 0;  // which bytes of the table `piece` holds

  bool Init(os::RawHandle hDrive, std::int64_t tableOffset, std::uint32_t tableBytes,
            std::uint32_t bytesPerSector) {
    drive = hDrive;
    offset = tableOffset;
    bytes = tableBytes;
    // The least common multiple of the sector size and 4 (at most 4 x 65535); a unit larger
    // than kFatPieceBytes makes the piece one unit, so a piece is always more than 2^15 bytes.
    const std::uint32_t unit = bytesPerSector % 4 == 0   ? bytesPerSector
                               : bytesPerSector % 2 == 0 ? 2 * bytesPerSector
                                                         : 4 * bytesPerSector;
    pieceBytes = unit >= kFatPieceBytes ? unit : kFatPieceBytes / unit * unit;
    return piece.Allocate(pieceBytes);
  }
  // Reads every piece of the table, as a read of the whole table in one would, and fails on
  // the first read that fails or ends early. The piece that holds entry `keep` comes last and
  // stays loaded, so a walk from there reads nothing again until it leaves that piece. At
  // most 2^15 pieces: tables are at most 2^30 bytes, pieces more than 2^15.
  bool ReadAll(std::uint32_t keep) {
    const std::uint32_t count = bytes / pieceBytes + (bytes % pieceBytes != 0 ? 1 : 0);
    const std::uint32_t last = keep / (pieceBytes / 4);
    for (std::uint32_t k = 1; k <= count; ++k) {
      if (!Load((last + k) % count * pieceBytes)) return false;
    }
    return true;
  }
  // Reads the piece that holds table byte `at`; a read that fails or ends early fails.
  bool Load(std::uint32_t at) {
    const std::uint32_t start = at / pieceBytes * pieceBytes;
    const std::uint32_t length = bytes - start < pieceBytes ? bytes - start : pieceBytes;
    std::uint32_t read = 0;
    std::int64_t position = 0;
    pieceLength = 0;
    if (!AddOffset(offset, start, &position) ||
        !ReadAt(drive, position, piece.data.get(), length, &read) || read < length) {
      return false;
    }
    pieceStart = start;
    pieceLength = length;
    return true;
  }
  // Entry `index` (< bytes / 4); false when its piece cannot be read.
  bool Entry(std::uint32_t index, std::uint32_t* value) {
    const std::uint32_t at = index * 4;
    if (pieceLength == 0 || at < pieceStart || at - pieceStart + 4 > pieceLength) {
      if (!Load(at)) return false;
    }
    return bytes::ReadU32(piece.span(pieceLength), at - pieceStart, value);
  }
};

bool ReadBootSector(os::RawHandle hDrive, std::int64_t offset, std::uint8_t (&sector)[512]) {
  std::memset(sector, 0, sizeof(sector));
  std::uint32_t read = 0;
  return ReadAt(hDrive, offset, sector, kBootSectorBytes, &read);
}

// Geometry every reader needs: 0 in either field makes every position meaningless.
bool ReadGeometry(std::span<const std::uint8_t> boot, std::uint32_t* bytesPerSector,
                  std::uint32_t* sectorsPerCluster) {
  *bytesPerSector = bytes::U16(boot, kBytesPerSector);
  std::uint8_t spc = 0;
  bytes::ReadU8(boot, kSectorsPerCluster, &spc);
  *sectorsPerCluster = spc;
  return *bytesPerSector != 0 && *sectorsPerCluster != 0;
}

// One UTF-16 code unit sequence as wchar_t: unchanged where wchar_t is 16 bits, with
// surrogate pairs joined where it is 32 bits.
void AppendUtf16(std::wstring* out, const std::uint16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t c = units[i];
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c < 0xDC00 && i + 1 < count &&
        units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    }
    out->push_back(static_cast<wchar_t>(c));
  }
}

void StoreLabel(std::wstring* szLabel, std::wstring label) {
  // The caller's buffer keeps a terminator.
  if (label.size() > kLabelBufferChars - 1) label.resize(kLabelBufferChars - 1);
  *szLabel = std::move(label);
}

}  // namespace

void SetVolumeReadObserver(VolumeReadObserver observer, void* context) {
  g_pfnVolumeReadObserver = observer;
  g_pVolumeReadObserverContext = context;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

std::int32_t ReadVolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                             std::int64_t llStartingOffset) {
  if (hDrive == os::kInvalidHandle || hDrive == 0 || szLabel == nullptr) return kLocatorNoHandle;
  std::uint8_t boot[512];
  if (!ReadBootSector(hDrive, llStartingOffset, boot)) return kLocatorFailed;
  const std::span<const std::uint8_t> sector(boot);
  if (bytes::Equals(sector, kOemId, "-FVE-FS-", 8)) return kLocatorNotFound;
  if (bytes::Equals(sector, kOemId, "NTFS    ", 8)) {
    return ReadNtfsVolumeLabel(hDrive, szLabel, llStartingOffset);
  }
  if (bytes::Equals(sector, kFat32FsType, "FAT32   ", 8)) {
    return ReadFat32VolumeLabel(hDrive, szLabel, llStartingOffset);
  }
  return kLocatorNotFound;
}

std::int32_t ReadFat32VolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                                  std::int64_t llStartingOffset) {
  std::uint8_t bootBytes[512];
  if (!ReadBootSector(hDrive, llStartingOffset, bootBytes)) return kLocatorFailed;
  const std::span<const std::uint8_t> boot(bootBytes);
  std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0;
  if (!ReadGeometry(boot, &bytesPerSector, &sectorsPerCluster)) return kLocatorNotFound;
  const std::uint32_t reserved = bytes::U16(boot, kFatReservedSectors);
  const std::uint32_t sectorsPerFat = bytes::U32(boot, kFat32SectorsPerFat);
  const std::uint32_t rootCluster = bytes::U32(boot, kFat32RootCluster);

  // The second copy of the table, its size and position in 32 bits. A size of zero or over
  // kMaxFatBytes, or a position that does not fit in 32 bits, is not read.
  const std::uint64_t fatBytes64 = static_cast<std::uint64_t>(sectorsPerFat) * bytesPerSector;
  const std::uint64_t fatPosition64 =
      (static_cast<std::uint64_t>(reserved) + sectorsPerFat) * bytesPerSector;
  if (fatBytes64 == 0 || fatBytes64 > kMaxFatBytes || fatPosition64 == 0 ||
      fatPosition64 > std::numeric_limits<std::uint32_t>::max()) {
    return kLocatorFailed;
  }
  const std::uint32_t fatBytes = sectorsPerFat * bytesPerSector;
  const std::uint32_t fatPosition = (reserved + sectorsPerFat) * bytesPerSector;
  std::int64_t fatOffset = 0;
  if (!AddOffset(llStartingOffset, fatPosition, &fatOffset)) return kLocatorFailed;
  const std::uint32_t entries = fatBytes / 4;
  // Every piece of the table is read before any cluster is looked at: a sector that cannot be
  // read anywhere in it fails the label, as a read of the whole table in one would.
  FatPieces table;
  if (!table.Init(hDrive, fatOffset, fatBytes, bytesPerSector) ||
      !table.ReadAll(rootCluster < entries ? rootCluster : 0)) {
    return kLocatorFailed;
  }

  // The chain never holds more clusters than the table has entries: each cluster is visited
  // once, so a chain that loops ends where it would come back. The bit map takes at most
  // 32 MiB (for the largest table); like every buffer here, memory that cannot be had fails
  // the read, and the partition is skipped.
  ByteBuffer visited;
  if (!visited.Allocate(entries / 8 + 1, true)) return kLocatorFailed;
  const std::uint32_t clusterBytes = sectorsPerCluster * bytesPerSector;  // < 2^24
  ByteBuffer cluster;
  if (!cluster.Allocate(clusterBytes)) return kLocatorFailed;
  std::uint32_t read = 0;

  // The root cluster is always taken; clusters 0 and 1 name no data, and a root beyond the
  // table names no cluster the table describes: such a root holds no label.
  if (rootCluster < 2 || rootCluster >= entries) return kLocatorNotFound;
  std::uint32_t current = rootCluster;
  for (;;) {
    visited.data[current / 8] =
        static_cast<std::uint8_t>(visited.data[current / 8] | (1u << (current % 8)));
    // (cluster - 2) * sectors per cluster + reserved + 2 * sectors per FAT, in 64 bits: at
    // most about 2^40 sectors, times at most 2^16 bytes, well inside 63 bits.
    const std::int64_t sector = (static_cast<std::int64_t>(current) - 2) * sectorsPerCluster +
                                reserved + 2 * static_cast<std::int64_t>(sectorsPerFat);
    std::int64_t offset = 0;
    if (!AddOffset(llStartingOffset, static_cast<std::uint64_t>(sector) * bytesPerSector,
                   &offset)) {
      return kLocatorFailed;
    }
    if (!ReadAt(hDrive, offset, cluster.data.get(), clusterBytes, &read)) return kLocatorFailed;
    // Only entries inside the bytes that arrived are looked at.
    const std::span<const std::uint8_t> dir = cluster.span(read);
    for (std::size_t at = 0; bytes::InRange(dir.size(), at, kDirEntryBytes); at += kDirEntryBytes) {
      if (dir[at] == kDeletedEntry || dir[at + kDirEntryAttributes] != kVolumeLabelAttribute) {
        continue;
      }
      std::size_t length = 11;
      while (length > 1 && dir[at + length - 1] == ' ') --length;  // never the first character
      const std::string name(reinterpret_cast<const char*>(dir.data() + at), length);
      StoreLabel(szLabel, os::MultiByteToWideChar(os::kCpOemcp, name));
      return kLocatorFound;
    }
    std::uint32_t next = 0;
    if (!table.Entry(current, &next)) return kLocatorFailed;
    // The chain goes on while the next cluster lies in the table, is not the end mark and
    // was not visited before.
    if (next >= entries || next == kEndOfChain) break;
    if ((visited.data[next / 8] & (1u << (next % 8))) != 0) break;
    current = next;
  }
  return kLocatorNotFound;
}

std::int32_t ReadNtfsVolumeLabel(os::RawHandle hDrive, std::wstring* szLabel,
                                 std::int64_t llStartingOffset) {
  std::uint8_t bootBytes[512];
  if (!ReadBootSector(hDrive, llStartingOffset, bootBytes)) return kLocatorFailed;
  const std::span<const std::uint8_t> boot(bootBytes);
  std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0;
  if (!ReadGeometry(boot, &bytesPerSector, &sectorsPerCluster)) return kLocatorNotFound;
  const std::uint64_t clusterBytes = static_cast<std::uint64_t>(bytesPerSector) * sectorsPerCluster;

  // Record size: 2^-v bytes for a negative byte v, else clusters per record x cluster bytes.
  // Records of 0 bytes or over kMaxRecordBytes are damage.
  const auto clustersPerRecord = static_cast<std::int8_t>(boot[kNtfsClustersPerRecord]);
  std::uint64_t recordBytes = 0;
  if (clustersPerRecord < 0) {
    if (-clustersPerRecord > 20) return kLocatorNotFound;  // 2^20 = kMaxRecordBytes
    recordBytes = 1ull << (-clustersPerRecord);
  } else if (!Multiply(bytes::U32(boot, kNtfsClustersPerRecord), clusterBytes, &recordBytes)) {
    return kLocatorNotFound;
  }
  if (recordBytes == 0 || recordBytes > kMaxRecordBytes) return kLocatorNotFound;

  // Record 3 of the master file table; a position outside 63 bits lies beyond any drive.
  std::uint64_t mftBytes = 0;
  std::int64_t mftOffset = 0, recordOffset = 0;
  if (!Multiply(bytes::U64(boot, kNtfsMftCluster), clusterBytes, &mftBytes) ||
      !AddOffset(llStartingOffset, mftBytes, &mftOffset) ||
      !AddOffset(mftOffset, kVolumeFileRecord * recordBytes, &recordOffset)) {
    return kLocatorFailed;
  }
  ByteBuffer record;
  if (!record.Allocate(static_cast<std::uint32_t>(recordBytes))) return kLocatorFailed;
  std::uint32_t read = 0;
  if (!ReadAt(hDrive, recordOffset, record.data.get(), static_cast<std::uint32_t>(recordBytes),
              &read)) {
    return kLocatorFailed;
  }
  // The walk stays inside the bytes that arrived; every step moves forward by a non-zero
  // length, so it ends.
  const std::span<const std::uint8_t> rec = record.span(read);
  std::size_t at = bytes::U16(rec, kRecordFirstAttribute);
  for (;;) {
    std::uint32_t type = 0, length = 0;
    if (!bytes::ReadU32(rec, at + kAttributeType, &type)) return kLocatorNotFound;
    if (type == kEndOfAttributes) return kLocatorNotFound;
    if (type == kVolumeNameType) break;
    if (!bytes::ReadU32(rec, at + kAttributeLength, &length) || length == 0) {
      return kLocatorNotFound;
    }
    // A length that reaches the end of the record or beyond ends the walk (compared before
    // adding, so a 32-bit size_t cannot wrap).
    if (length >= rec.size() - at) return kLocatorNotFound;
    at += length;
  }
  std::uint32_t valueLength = 0;
  if (!bytes::ReadU32(rec, at + kAttributeValueLength, &valueLength)) return kLocatorNotFound;
  if (!bytes::InRange(rec.size(), at + kAttributeValue, 0)) return kLocatorNotFound;

  // The value is cut to what the record holds and to the name buffer, which keeps a
  // terminator; the label ends at the first zero character or after value-length / 2.
  std::size_t copy = valueLength;
  const std::size_t inRecord = rec.size() - (at + kAttributeValue);
  if (copy > inRecord) copy = inRecord;
  if (copy > kNameBufferBytes - 2) copy = kNameBufferBytes - 2;
  std::uint16_t units[kNameBufferBytes / 2] = {};
  for (std::size_t i = 0; i < copy / 2; ++i)
    units[i] = bytes::U16(rec, at + kAttributeValue + 2 * i);
  std::size_t count = 0;
  while (count < copy / 2 && units[count] != 0) ++count;
  std::wstring label;
  AppendUtf16(&label, units, count);
  StoreLabel(szLabel, std::move(label));
  return kLocatorFound;
}
