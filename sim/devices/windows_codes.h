// The Windows control codes the simulated devices answer, the sizes and field offsets of the
// structures they exchange, and the Windows error codes the simulation gives beyond those of
// platform/os.h. One place, so that a device and the seam's side never spell a number twice.
// The simulator keeps its own numbers, apart from the product's, so that each checks the other;
// tests/win32/windows_definitions_test.cpp pins both to windows.h.
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

// ---- Structure fields ----------------------------------------------------------------------

// DRIVE_LAYOUT_INFORMATION_EX, up to its first entry at kDriveLayoutHeaderSize.
namespace layout_fields {
inline constexpr std::size_t kPartitionStyle = 0x00;
inline constexpr std::size_t kPartitionCount = 0x04;
inline constexpr std::size_t kMbrSignature = 0x08;             // Mbr.Signature
inline constexpr std::size_t kGptDiskId = 0x08;                // Gpt.DiskId
inline constexpr std::size_t kGptStartingUsableOffset = 0x18;  // Gpt.StartingUsableOffset
inline constexpr std::size_t kGptUsableLength = 0x20;          // Gpt.UsableLength
inline constexpr std::size_t kGptMaxPartitionCount = 0x28;     // Gpt.MaxPartitionCount
}  // namespace layout_fields

// PARTITION_INFORMATION_EX, kPartitionInformationExSize bytes each.
namespace partition_fields {
inline constexpr std::size_t kPartitionStyle = 0x00;
inline constexpr std::size_t kStartingOffset = 0x08;
inline constexpr std::size_t kPartitionLength = 0x10;
inline constexpr std::size_t kPartitionNumber = 0x18;
inline constexpr std::size_t kMbrPartitionType = 0x20;        // Mbr.PartitionType
inline constexpr std::size_t kMbrBootIndicator = 0x21;        // Mbr.BootIndicator
inline constexpr std::size_t kMbrRecognizedPartition = 0x22;  // Mbr.RecognizedPartition
inline constexpr std::size_t kMbrHiddenSectors = 0x24;        // Mbr.HiddenSectors
inline constexpr std::size_t kGptPartitionType = 0x20;        // Gpt.PartitionType
inline constexpr std::size_t kGptPartitionId = 0x30;          // Gpt.PartitionId
inline constexpr std::size_t kGptAttributes = 0x40;           // Gpt.Attributes
inline constexpr std::size_t kGptName = 0x48;                 // Gpt.Name
inline constexpr std::size_t kGptNameChars = 36;
}  // namespace partition_fields

// VOLUME_DISK_EXTENTS, and each DISK_EXTENT from kVolumeDiskExtentsHeaderSize on.
namespace extent_fields {
inline constexpr std::size_t kNumberOfDiskExtents = 0x00;
inline constexpr std::size_t kDiskNumber = 0x00;
inline constexpr std::size_t kStartingOffset = 0x08;
inline constexpr std::size_t kExtentLength = 0x10;
}  // namespace extent_fields

// GETVERSIONINPARAMS, and its capability bits.
namespace version_fields {
inline constexpr std::size_t kVersion = 0x00;
inline constexpr std::size_t kRevision = 0x01;
inline constexpr std::size_t kIdeDeviceMap = 0x03;
inline constexpr std::size_t kCapabilities = 0x04;
inline constexpr std::uint32_t kCapAtaIdCmd = 1;  // CAP_ATA_ID_CMD
inline constexpr std::uint32_t kCapSmartCmd = 4;  // CAP_SMART_CMD
}  // namespace version_fields

// SENDCMDINPARAMS (its IDEREGS), and SENDCMDOUTPARAMS, whose data starts at
// kSendCmdOutHeaderSize.
namespace sendcmd_fields {
inline constexpr std::size_t kInFeatures = 0x04;      // irDriveRegs.bFeaturesReg
inline constexpr std::size_t kInSectorCount = 0x05;   // irDriveRegs.bSectorCountReg
inline constexpr std::size_t kInSectorNumber = 0x06;  // irDriveRegs.bSectorNumberReg
inline constexpr std::size_t kInDriveHead = 0x09;     // irDriveRegs.bDriveHeadReg
inline constexpr std::size_t kInCommand = 0x0A;       // irDriveRegs.bCommandReg
inline constexpr std::uint8_t kIdCmd = 0xEC;          // ID_CMD: ATA IDENTIFY DEVICE
inline constexpr std::size_t kOutBufferSize = 0x00;   // cBufferSize
// IDENTIFY DEVICE data (ATA, not a Windows structure): word 217, the media rotation rate.
inline constexpr std::size_t kIdentifyRotationRateWord = 217;
}  // namespace sendcmd_fields

// ---- Error codes ----------------------------------------------------------------------------

inline constexpr std::uint32_t kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
inline constexpr std::uint32_t kErrorMoreData = 234;             // ERROR_MORE_DATA
inline constexpr std::uint32_t kErrorNoAccess = 998;             // ERROR_NOACCESS
inline constexpr std::uint32_t kErrorUnrecognizedVolume = 1005;  // ERROR_UNRECOGNIZED_VOLUME
inline constexpr std::uint32_t kErrorIoDevice = 1117;            // ERROR_IO_DEVICE

}  // namespace sim
