// The SMART pass-through buffers of an ATA IDENTIFY DEVICE query: GETVERSIONINPARAMS (the answer
// to SMART_GET_VERSION), SENDCMDINPARAMS and SENDCMDOUTPARAMS (SMART_RCV_DRIVE_DATA). The
// offsets of their fields, the command block the probe sends and the one reader of its reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace smart_identify {

inline constexpr std::uint32_t kGetVersionSize = 24;  // GETVERSIONINPARAMS

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
// IDENTIFY word 217: the nominal media rotation rate (1: non-rotating).
inline constexpr std::size_t kRotationRateWord = 217;
inline constexpr std::size_t kRotationRateOffset = kOutHeaderSize + kRotationRateWord * 2;  // 450

}  // namespace smart_identify

// The SENDCMDINPARAMS block that asks the master device for IDENTIFY DEVICE.
std::array<std::uint8_t, smart_identify::kSendCmdInSize> IdentifyCommandBlock();

// IDENTIFY word 217 from a SENDCMDOUTPARAMS reply; 0 (not reported) when the reply is short.
std::uint16_t IdentifyRotationRate(std::span<const std::uint8_t> reply);
