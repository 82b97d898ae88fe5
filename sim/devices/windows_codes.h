// The Windows control codes the simulated devices answer, the sizes of the structures they
// exchange, and the Windows error codes the simulation gives beyond those of platform/os.h.
// One place, so that a device and the seam's side never spell a number twice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// ---- Control codes --------------------------------------------------------------------------

inline constexpr std::uint32_t kIoctlDiskGetDriveLayoutEx = 0x00070050;
inline constexpr std::uint32_t kIoctlDiskGetLengthInfo = 0x0007405C;
inline constexpr std::uint32_t kSmartGetVersion = 0x00074080;
inline constexpr std::uint32_t kSmartRcvDriveData = 0x0007C088;
inline constexpr std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
// The vendor's ACPI control device: evaluate a firmware method.
inline constexpr std::uint32_t kIoctlFirmwareMethod = 0x00222404;

// ---- Structure sizes ------------------------------------------------------------------------

inline constexpr std::uint32_t kGetVersionInParamsSize = 24;  // GETVERSIONINPARAMS
inline constexpr std::uint32_t kSendCmdInParamsSize = 32;     // SENDCMDINPARAMS without bBuffer
inline constexpr std::uint32_t kSendCmdOutHeaderSize = 16;    // SENDCMDOUTPARAMS up to bBuffer
inline constexpr std::uint32_t kIdentifyDataSize = 512;       // ATA IDENTIFY DEVICE data
// DRIVE_LAYOUT_INFORMATION_EX up to PartitionEntry, and one PARTITION_INFORMATION_EX.
inline constexpr std::size_t kDriveLayoutHeaderSize = 48;
inline constexpr std::size_t kPartitionInformationExSize = 144;
// VOLUME_DISK_EXTENTS up to Extents, and one DISK_EXTENT.
inline constexpr std::uint32_t kVolumeDiskExtentsHeaderSize = 8;
inline constexpr std::uint32_t kDiskExtentSize = 24;

// ---- Error codes ----------------------------------------------------------------------------

inline constexpr std::uint32_t kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
inline constexpr std::uint32_t kErrorMoreData = 234;             // ERROR_MORE_DATA
inline constexpr std::uint32_t kErrorNoAccess = 998;             // ERROR_NOACCESS
inline constexpr std::uint32_t kErrorUnrecognizedVolume = 1005;  // ERROR_UNRECOGNIZED_VOLUME
inline constexpr std::uint32_t kErrorIoDevice = 1117;            // ERROR_IO_DEVICE

}  // namespace sim
