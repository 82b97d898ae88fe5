#include "probes/drive_length.h"

#include <array>

#include "platform/bytes.h"
#include "probes/control_codes.h"

std::optional<std::uint64_t> QueryDriveLength(os::RawHandle drive) {
  std::array<std::uint8_t, drive_length::kBytes> info{};
  std::uint32_t returned = 0;
  if (!os::DeviceIoControl(drive, control_codes::kIoctlDiskGetLengthInfo, nullptr, 0, info.data(),
                           drive_length::kBytes, &returned) ||
      returned < drive_length::kBytes) {
    return std::nullopt;
  }
  return bytes::U64(info, drive_length::kLength);
}
