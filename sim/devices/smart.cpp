#include "sim/devices/smart.h"

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "sim/devices/disk_probes.h"
#include "sim/devices/windows_codes.h"

namespace sim {

namespace {

// The IDENTIFY DEVICE block the drive accepts: every register as an ATA host sends IDENTIFY
// to the master device (features 0xD0, sector count 1, sector number 1, cylinder 0, drive/head
// 0xA0, command ID_CMD), buffer size, drive number and reserved 0.
bool ValidIdentifyBlock(const std::uint8_t* in, std::uint32_t inSize) {
  if (in == nullptr || inSize < kSendCmdInParamsSize) return false;
  std::uint8_t expected[kSendCmdInParamsSize] = {};
  expected[sendcmd_fields::kInFeatures] = 0xD0;
  expected[sendcmd_fields::kInSectorCount] = 1;
  expected[sendcmd_fields::kInSectorNumber] = 1;
  expected[sendcmd_fields::kInDriveHead] = 0xA0;
  expected[sendcmd_fields::kInCommand] = sendcmd_fields::kIdCmd;
  return std::memcmp(in, expected, kSendCmdInParamsSize) == 0;
}

void PutAtaString(std::span<std::uint8_t> data, std::size_t word, std::size_t words,
                  const std::string& text) {
  // ATA strings: space-padded, two characters per word, the first in the high byte.
  for (std::size_t i = 0; i < words * 2; ++i) {
    const std::uint8_t c = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    bytes::WriteU8(data, word * 2 + (i ^ 1), c);
  }
}

}  // namespace

bool SmartIoctl(Machine& machine, int disk, std::uint32_t code, const void* in,
                std::uint32_t inSize, void* out, std::uint32_t outSize, std::uint32_t* returned,
                std::uint32_t* error) {
  *returned = 0;
  const Disk& d = machine.profile().disks.at(static_cast<std::size_t>(disk));
  const int drive = d.drive ? *d.drive : -1;
  DiskProbeState& probes = DiskProbes(machine);

  if (code == kSmartGetVersion) {
    probes.trace.push_back(L"SMART_GET_VERSION " + std::to_wstring(drive));
    if (d.rotation.kind == Rotation::Kind::NoSmart) {
      *error = os::kErrorInvalidFunction;
      return false;
    }
    if (out == nullptr || outSize < kGetVersionInParamsSize) {
      *error = os::kErrorInsufficientBuffer;
      return false;
    }
    std::span<std::uint8_t> v(static_cast<std::uint8_t*>(out), kGetVersionInParamsSize);
    std::memset(v.data(), 0, v.size());
    namespace vf = version_fields;
    bytes::WriteU8(v, vf::kVersion, 1);
    bytes::WriteU8(v, vf::kRevision, 1);
    bytes::WriteU8(v, vf::kIdeDeviceMap,
                   static_cast<std::uint8_t>(drive >= 0 && drive < 8 ? 1u << drive : 0));
    bytes::WriteU32(v, vf::kCapabilities, vf::kCapAtaIdCmd | vf::kCapSmartCmd);
    *returned = kGetVersionInParamsSize;
    return true;
  }

  if (code != kSmartRcvDriveData) {
    *error = os::kErrorInvalidFunction;
    return false;
  }
  probes.trace.push_back(L"SMART_RCV_DRIVE_DATA " + std::to_wstring(drive));
  const auto* block = static_cast<const std::uint8_t*>(in);
  DiskProbeState::IdentifyRequest request;
  request.drive = drive;
  if (block != nullptr) request.block.assign(block, block + inSize);
  probes.identify_requests.push_back(std::move(request));

  if (d.rotation.kind == Rotation::Kind::NoSmart) {
    *error = os::kErrorInvalidFunction;
    return false;
  }
  if (!ValidIdentifyBlock(block, inSize) || out == nullptr ||
      outSize < kSendCmdOutHeaderSize + kIdentifyDataSize) {
    *error = os::kErrorInvalidParameter;
    return false;
  }
  if (d.rotation.kind == Rotation::Kind::IdentifyFails) {
    *error = kErrorIoDevice;  // the drive aborted the command
    return false;
  }

  std::span<std::uint8_t> reply(static_cast<std::uint8_t*>(out),
                                kSendCmdOutHeaderSize + kIdentifyDataSize);
  std::memset(reply.data(), 0, reply.size());
  bytes::WriteU32(reply, sendcmd_fields::kOutBufferSize, kIdentifyDataSize);  // DRIVERSTATUS: 0
  std::span<std::uint8_t> data = reply.subspan(kSendCmdOutHeaderSize);
  bytes::WriteU16(data, 0 * 2, 0x0040);  // general configuration: fixed ATA device
  PutAtaString(data, 10, 10, WmiText(d, L"SerialNumber"));
  PutAtaString(data, 23, 4, "SIM1");
  PutAtaString(data, 27, 20, WmiText(d, L"Model"));
  bytes::WriteU16(data, sendcmd_fields::kIdentifyRotationRateWord * 2, d.rotation.rate);
  *returned = kSendCmdOutHeaderSize + kIdentifyDataSize;
  return true;
}

}  // namespace sim
