#include "probes/firmware_request.h"

#include "platform/bytes.h"

using namespace firmware_request;

namespace {

// Both the type and the length go in as one word: type 0 (integer), length 4.
constexpr std::uint32_t kIntegerArgumentHead = 0x00040000;
// Short answers still bring their whole first data word along: type, length and that word.
constexpr std::size_t kResHeadAndWord = 8;

}  // namespace

bool WriteFirmwareMethodArgument(std::span<std::uint8_t> record, std::uint32_t featureId) {
  if (!bytes::InRange(record.size(), 0, kArgumentSize)) return false;
  bytes::WriteU32(record, kArgType, kIntegerArgumentHead);
  bytes::WriteU32(record, kArgData, featureId);
  return true;
}

std::size_t BuildFirmwareMethodRequest(std::span<std::uint8_t> request, bool is64BitWindows,
                                       std::uint32_t featureId, std::uint32_t argumentAddress) {
  const std::size_t size = is64BitWindows ? kRequestSize64 : kRequestSize32;
  if (request.size() < size) return 0;
  bytes::WriteU32(request, kReqCode, kRequestCode);
  bytes::WriteU32(request, kReqName, kMethodNameDsts);
  bytes::WriteU32(request, kReqCount, 1);
  bytes::WriteU32(request, kReqArgsSize, kArgumentSize);
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
  if (length > kMaxCopiedDataLength) return 0;
  const std::size_t copy = length <= 4 ? kResHeadAndWord : std::size_t{length} + 4;
  if (!bytes::InRange(result.size(), kResArgument, copy)) return 0;
  if (!bytes::WriteBytes(record, 0, result.data() + kResArgument, copy)) return 0;
  return bytes::U32(record, kArgData);
}
