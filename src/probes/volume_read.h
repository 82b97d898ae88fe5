// What the NTFS and FAT32 label readers share: raw reads at an absolute drive offset (seen by
// the capture's observer), buffers allocated without throwing, checked offset arithmetic and
// the two sizes every boot sector gives.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/os.h"

// Called after every raw read the label readers make that succeeds, with the drive offset and
// the bytes that arrived; the machine capture keeps them so that a replay reads the same.
using VolumeReadObserver = void (*)(void* context, std::int64_t offset, const std::uint8_t* bytes,
                                    std::uint32_t length);
// Installs the observer (nullptr: none, the default).
void SetVolumeReadObserver(VolumeReadObserver observer, void* context);

namespace volume_read {

inline constexpr std::uint32_t kBootSectorBytes = 512;

// A buffer that may be large: allocated without throwing, empty when memory is short.
struct ByteBuffer {
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t size = 0;
  // Only the bytes a read filled are ever looked at, so only `cleared` buffers are zeroed.
  bool Allocate(std::uint32_t bytes, bool cleared = false);
  // The first `length` bytes, cut to the buffer.
  std::span<const std::uint8_t> span(std::uint32_t length) const {
    return {data.get(), length < size ? length : size};
  }
};

// a + b without leaving the signed 64-bit range (false when it would, or when a < 0).
bool AddOffset(std::int64_t a, std::uint64_t b, std::int64_t* sum);

// Positions at an absolute byte offset of the drive and reads `size` bytes. *read receives
// how many arrived.
bool ReadAt(os::RawHandle hDrive, std::int64_t offset, std::uint8_t* buffer, std::uint32_t size,
            std::uint32_t* read);

// The 512 bytes at `offset`, zeros where the read gave fewer; false when the read fails.
bool ReadBootSector(os::RawHandle hDrive, std::int64_t offset,
                    std::uint8_t (&sector)[kBootSectorBytes]);

// Bytes per sector (u16 at 0x0B) and sectors per cluster (u8 at 0x0D); false when either is
// 0, which makes every position meaningless.
bool ReadSectorSizes(std::span<const std::uint8_t> boot, std::uint32_t* bytesPerSector,
                     std::uint32_t* sectorsPerCluster);

}  // namespace volume_read
