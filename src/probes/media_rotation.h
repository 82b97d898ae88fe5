// Media rotation probe: asks a physical drive for ATA IDENTIFY DEVICE through the SMART
// pass-through and classifies its nominal media rotation rate (IDENTIFY word 217).
#pragma once

#include <cstddef>
#include <cstdint>

// 1: non-rotating media (solid-state); 0: anything else that was read, or the drive could not
// be opened or refused the SMART version query; -1: the IDENTIFY command failed.
int ProbeMediaRotation(int driveNumber);

// What the probe's steps gave, before it classifies and prints: the step that failed (with
// the last error right after it), or IDENTIFY word 217.
struct MediaRotationReading {
  enum class Step { kNone, kOpen, kVersion, kIdentify };
  Step failedStep = Step::kNone;
  std::uint32_t error = 0;
  std::uint16_t rate = 0;
};
// Opens the drive read-write, asks the SMART version and sends IDENTIFY; prints nothing.
MediaRotationReading ReadMediaRotation(int driveNumber);

namespace media_rotation {

inline constexpr std::uint32_t kSmartGetVersion = 0x00074080;    // SMART_GET_VERSION
inline constexpr std::uint32_t kSmartRcvDriveData = 0x0007C088;  // SMART_RCV_DRIVE_DATA
inline constexpr std::uint32_t kGetVersionSize = 24;             // GETVERSIONINPARAMS

// SENDCMDINPARAMS (byte-packed), without its one-byte data buffer at 0x20.
inline constexpr std::uint32_t kSendCmdInSize = 32;
inline constexpr std::size_t kInBufferSize = 0x00;    // DWORD cBufferSize
inline constexpr std::size_t kInFeatures = 0x04;      // IDEREGS.bFeaturesReg
inline constexpr std::size_t kInSectorCount = 0x05;   // IDEREGS.bSectorCountReg
inline constexpr std::size_t kInSectorNumber = 0x06;  // IDEREGS.bSectorNumberReg
inline constexpr std::size_t kInCylLow = 0x07;        // IDEREGS.bCylLowReg
inline constexpr std::size_t kInCylHigh = 0x08;       // IDEREGS.bCylHighReg
inline constexpr std::size_t kInDriveHead = 0x09;     // IDEREGS.bDriveHeadReg
inline constexpr std::size_t kInCommand = 0x0A;       // IDEREGS.bCommandReg
inline constexpr std::size_t kInRegsReserved = 0x0B;  // IDEREGS.bReserved
inline constexpr std::size_t kInDriveNumber = 0x0C;   // BYTE bDriveNumber
inline constexpr std::size_t kInReserved = 0x0D;      // BYTE bReserved[3]
inline constexpr std::size_t kInDwReserved = 0x10;    // DWORD dwReserved[4]

inline constexpr std::uint8_t kIdentifyFeatures = 0xD0;
inline constexpr std::uint8_t kIdentifyDriveHead = 0xA0;  // master device, CHS addressing
inline constexpr std::uint8_t kIdentifyCommand = 0xEC;    // ATA IDENTIFY DEVICE (ID_CMD)

// SENDCMDOUTPARAMS: a 16-byte header (cBufferSize, DRIVERSTATUS) and the 512 IDENTIFY bytes.
inline constexpr std::size_t kOutHeaderSize = 0x10;  // offset of SENDCMDOUTPARAMS.bBuffer
inline constexpr std::uint32_t kIdentifyDataSize = 512;
inline constexpr std::uint32_t kSendCmdOutSize = kOutHeaderSize + kIdentifyDataSize;  // 528
inline constexpr std::size_t kRotationRateOffset = kOutHeaderSize + 217 * 2;          // 450

}  // namespace media_rotation
