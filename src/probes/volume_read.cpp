#include "probes/volume_read.h"

#include <cstring>
#include <limits>
#include <new>

#include "platform/bytes.h"

namespace {

// Boot sector fields both file systems keep in the same place.
constexpr std::size_t kBytesPerSector = 0x0B;     // u16
constexpr std::size_t kSectorsPerCluster = 0x0D;  // u8

VolumeReadObserver g_pfnVolumeReadObserver = nullptr;
void* g_pVolumeReadObserverContext = nullptr;

}  // namespace

void SetVolumeReadObserver(VolumeReadObserver observer, void* context) {
  g_pfnVolumeReadObserver = observer;
  g_pVolumeReadObserverContext = context;
}

namespace volume_read {

bool ByteBuffer::Allocate(std::uint32_t bytes, bool cleared) {
  data.reset(new (std::nothrow) std::uint8_t[bytes == 0 ? 1 : bytes]);
  size = data ? bytes : 0;
  if (data && cleared) std::memset(data.get(), 0, bytes);
  return static_cast<bool>(data);
}

bool AddOffset(std::int64_t a, std::uint64_t b, std::int64_t* sum) {
  if (a < 0 || b > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - a)) {
    return false;
  }
  *sum = a + static_cast<std::int64_t>(b);
  return true;
}

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

bool ReadBootSector(os::RawHandle hDrive, std::int64_t offset,
                    std::uint8_t (&sector)[kBootSectorBytes]) {
  std::memset(sector, 0, sizeof(sector));
  std::uint32_t read = 0;
  return ReadAt(hDrive, offset, sector, kBootSectorBytes, &read);
}

bool ReadSectorSizes(std::span<const std::uint8_t> boot, std::uint32_t* bytesPerSector,
                     std::uint32_t* sectorsPerCluster) {
  *bytesPerSector = bytes::U16(boot, kBytesPerSector);
  std::uint8_t spc = 0;
  bytes::ReadU8(boot, kSectorsPerCluster, &spc);
  *sectorsPerCluster = spc;
  return *bytesPerSector != 0 && *sectorsPerCluster != 0;
}

}  // namespace volume_read
