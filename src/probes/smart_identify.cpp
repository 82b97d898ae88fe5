#include "probes/smart_identify.h"

#include "platform/bytes.h"

using namespace smart_identify;

std::array<std::uint8_t, kSendCmdInSize> IdentifyCommandBlock() {
  std::array<std::uint8_t, kSendCmdInSize> block{};  // cBufferSize, drive number, reserved: 0
  bytes::WriteU32(block, kInBufferSize, 0);
  bytes::WriteU8(block, kInFeatures, kIdentifyFeatures);
  bytes::WriteU8(block, kInSectorCount, 1);
  bytes::WriteU8(block, kInSectorNumber, 1);
  bytes::WriteU8(block, kInCylLow, 0);
  bytes::WriteU8(block, kInCylHigh, 0);
  bytes::WriteU8(block, kInDriveHead, kIdentifyDriveHead);
  bytes::WriteU8(block, kInCommand, kIdentifyCommand);
  bytes::WriteU8(block, kInDriveNumber, 0);
  return block;
}

std::uint16_t IdentifyRotationRate(std::span<const std::uint8_t> reply) {
  return bytes::U16(reply, kRotationRateOffset);
}
