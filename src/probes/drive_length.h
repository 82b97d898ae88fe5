// GET_LENGTH_INFORMATION, the answer to IOCTL_DISK_GET_LENGTH_INFO: a drive's length in bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/os.h"

namespace drive_length {

inline constexpr std::size_t kLength = 0x00;  // i64
inline constexpr std::uint32_t kBytes = 8;    // the whole structure

}  // namespace drive_length

// IOCTL_DISK_GET_LENGTH_INFO on an open drive. nullopt when the call fails or returns less than
// the whole structure.
std::optional<std::uint64_t> QueryDriveLength(os::RawHandle drive);
