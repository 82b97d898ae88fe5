// The device control codes the probes and the capture send, in one place. Each keeps its
// Windows name; tests/win32 checks every one against windows.h.
#pragma once

#include <cstdint>

namespace control_codes {

// Answered by DRIVE_LAYOUT_INFORMATION_EX (drive_layout.h).
inline constexpr std::uint32_t kIoctlDiskGetDriveLayoutEx = 0x00070050;
// Answered by GET_LENGTH_INFORMATION (drive_length.h).
inline constexpr std::uint32_t kIoctlDiskGetLengthInfo = 0x0007405C;
// Answered by VOLUME_DISK_EXTENTS (disk_extents.h).
inline constexpr std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
// The SMART pass-through (smart_identify.h).
inline constexpr std::uint32_t kSmartGetVersion = 0x00074080;
inline constexpr std::uint32_t kSmartRcvDriveData = 0x0007C088;
// The vendor's ACPI control device: device type 0x22, function 0x901, buffered, any access
// (firmware_request.h).
inline constexpr std::uint32_t kFirmwareMethod = 0x00222404;

}  // namespace control_codes
