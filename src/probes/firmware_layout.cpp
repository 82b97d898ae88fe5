// Byte layouts of the firmware method call: the argument record, the request in its two forms
// and the returned argument in the result buffer. All little-endian, built and read field by
// field.
#include "platform/bytes.h"
#include "probes/firmware.h"

namespace {

// Argument record: 0x0 u16 type, 0x2 u16 data length, 0x4 data.
constexpr std::size_t kArgType = 0x0;
constexpr std::size_t kArgData = 0x4;
// Both the type and the length go in as one word: type 0 (integer), length 4.
constexpr std::uint32_t kIntegerArgumentHead = 0x00040000;

// Request: 0x0 u32 request code, 0x4 method name, 0x8 u32 argument count, 0xC u32 size of the
// arguments, 0x10 the argument (64-bit Windows) or its u32 address (32-bit Windows).
constexpr std::size_t kReqCode = 0x0;
constexpr std::size_t kReqName = 0x4;
constexpr std::size_t kReqCount = 0x8;
constexpr std::size_t kReqArgsSize = 0xC;
constexpr std::size_t kReqArgument = 0x10;

// Result: 0x0 header (12 bytes, not read), 0xC u16 type, 0xE u16 data length, 0x10 data.
constexpr std::size_t kResArgument = 0xC;
constexpr std::size_t kResDataLength = 0xE;
constexpr std::size_t kResHeadAndWord = 8;  // type, length and the first data word

}  // namespace

bool WriteFirmwareMethodArgument(std::span<std::uint8_t> record, std::uint32_t featureId) {
  if (!bytes::InRange(record.size(), 0, kFirmwareMethodArgumentSize)) return false;
  bytes::WriteU32(record, kArgType, kIntegerArgumentHead);
  bytes::WriteU32(record, kArgData, featureId);
  return true;
}

std::size_t BuildFirmwareMethodRequest(std::span<std::uint8_t> request, bool is64BitWindows,
                                       std::uint32_t featureId, std::uint32_t argumentAddress) {
  const std::size_t size =
      is64BitWindows ? kFirmwareMethodRequestSize64 : kFirmwareMethodRequestSize32;
  if (request.size() < size) return 0;
  bytes::WriteU32(request, kReqCode, kFirmwareMethodRequestCode);
  bytes::WriteU32(request, kReqName, kFirmwareMethodNameDsts);
  bytes::WriteU32(request, kReqCount, 1);
  bytes::WriteU32(request, kReqArgsSize, kFirmwareMethodArgumentSize);
  if (is64BitWindows) {
    WriteFirmwareMethodArgument(request.subspan(kReqArgument), featureId);
  } else {
    bytes::WriteU32(request, kReqArgument, argumentAddress);
  }
  return size;
}

std::uint32_t TakeFirmwareMethodResult(std::span<const std::uint8_t> result,
                                       std::span<std::uint8_t> record) {
  std::uint16_t length = 0;
  if (!bytes::ReadU16(result, kResDataLength, &length)) return 0;
  if (length > kFirmwareMaxCopiedDataLength) return 0;
  // Short answers still bring their whole first data word along.
  const std::size_t copy = length <= 4 ? kResHeadAndWord : std::size_t{length} + 4;
  if (!bytes::InRange(result.size(), kResArgument, copy)) return 0;
  if (!bytes::WriteBytes(record, 0, result.data() + kResArgument, copy)) return 0;
  return bytes::U32(record, kArgData);
}
