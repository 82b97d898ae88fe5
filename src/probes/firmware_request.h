// The firmware method call's bytes, all little-endian: the argument record, the request in its
// two forms (the argument inline on 64-bit Windows, by 32-bit address on 32-bit Windows) and
// the returned argument in the result buffer. The control code is in probes/control_codes.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace firmware_request {

inline constexpr std::uint32_t kRequestCode = 2;
inline constexpr std::uint32_t kMethodNameDsts = 0x53545344;  // "DSTS", little-endian

// Argument record: u16 type, u16 data length, then the data.
inline constexpr std::size_t kArgType = 0x0;
inline constexpr std::size_t kArgLength = 0x2;
inline constexpr std::size_t kArgData = 0x4;
inline constexpr std::size_t kArgumentSize = 8;  // type 0 (integer), length 4, one word
// The record takes back up to 96 data bytes plus its 4-byte head.
inline constexpr std::size_t kArgumentStorageSize = 100;
inline constexpr std::uint16_t kMaxCopiedDataLength = 96;

// Request: u32 request code, the method name, u32 argument count, u32 size of the arguments,
// then the argument (64-bit Windows) or its u32 address (32-bit Windows).
inline constexpr std::size_t kReqCode = 0x0;
inline constexpr std::size_t kReqName = 0x4;
inline constexpr std::size_t kReqCount = 0x8;
inline constexpr std::size_t kReqArgsSize = 0xC;
inline constexpr std::size_t kReqArgument = 0x10;
inline constexpr std::size_t kRequestSize64 = kReqArgument + kArgumentSize;  // 24
inline constexpr std::size_t kRequestSize32 = kReqArgument + 4;              // 20

// Result: a 12-byte header (not read), then the returned argument: u16 type, u16 data length,
// the data.
inline constexpr std::size_t kResArgument = 0xC;
inline constexpr std::size_t kResDataLength = kResArgument + kArgLength;  // 0xE
inline constexpr std::size_t kResultSize = 768;

}  // namespace firmware_request

// The 8-byte argument: type 0 (integer), length 4, the feature id. False if `record` is short.
bool WriteFirmwareMethodArgument(std::span<std::uint8_t> record, std::uint32_t featureId);

// Builds the request into `request`: 24 bytes with the argument inline on 64-bit Windows, 20
// bytes ending in `argumentAddress` on 32-bit Windows. Returns the length, 0 if it does not fit.
std::size_t BuildFirmwareMethodRequest(std::span<std::uint8_t> request, bool is64BitWindows,
                                       std::uint32_t featureId, std::uint32_t argumentAddress);

// Takes the returned argument from a result buffer over the argument record, by the returned
// data length L at offset 14: L 0-4 copies 8 bytes, L 5-96 copies L + 4 bytes, 97 or more copies
// nothing and gives 0. Returns the record's data word after the copy. Nothing outside either
// span is read or written; a copy that would not fit in both is not made and gives 0.
std::uint32_t TakeFirmwareMethodResult(std::span<const std::uint8_t> result,
                                       std::span<std::uint8_t> record);
