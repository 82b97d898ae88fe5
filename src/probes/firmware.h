// The four firmware feature bits, read through the vendor's ACPI control device "\\.\QORACPI":
// one method call of the firmware method "DSTS" with the feature id as its only argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/os.h"

// ---- Device and request constants ------------------------------------------------------------

inline constexpr const wchar_t* kFirmwareControlDeviceName = L"\\\\.\\QORACPI";
// Device type 0x22, function 0x901, buffered transfer, any access.
inline constexpr std::uint32_t kFirmwareMethodControlCode = 0x00222404;
inline constexpr std::uint32_t kFirmwareMethodRequestCode = 2;
inline constexpr std::uint32_t kFirmwareMethodNameDsts = 0x53545344;  // "DSTS", little-endian
inline constexpr std::size_t kFirmwareMethodArgumentSize = 8;
inline constexpr std::size_t kFirmwareMethodRequestSize64 = 24;  // argument inline
inline constexpr std::size_t kFirmwareMethodRequestSize32 = 20;  // argument by 32-bit address
inline constexpr std::size_t kFirmwareMethodResultSize = 768;
// The argument record takes back up to 96 data bytes plus its 4-byte head.
inline constexpr std::size_t kFirmwareArgumentStorageSize = 100;
inline constexpr std::uint16_t kFirmwareMaxCopiedDataLength = 96;

// ---- The feature table -----------------------------------------------------------------------

inline constexpr std::uint32_t kFeatureIdIFFS = 0x00080041;  // Intel Rapid Start
inline constexpr std::uint32_t kFeatureIdRAID0 = 0x00080042;
inline constexpr std::uint32_t kFeatureIdISRT = 0x00080043;  // Intel Smart Response
inline constexpr std::uint32_t kFeatureIdDiskeeper = 0x00080044;

struct FirmwareFeature {
  const wchar_t* szLogName;  // the name the run log shows the result under
  std::uint32_t nFeatureId;
};

// In the order the provisioning sequence queries them.
inline constexpr FirmwareFeature kFirmwareFeatures[] = {
    {L"bIsSupportIFFS", kFeatureIdIFFS},
    {L"bIsSupportRAID0", kFeatureIdRAID0},
    {L"bIsSupportISRT", kFeatureIdISRT},
    {L"bIsSupportDiskeeper", kFeatureIdDiskeeper},
};

// ---- Process-wide state ------------------------------------------------------------------------

// The control device handle: none between queries, open only during one, invalid after an
// open that failed (until the next open replaces it).
struct FirmwareControlDevice {
  enum class State { kNone, kInvalid, kOpen };
  State state = State::kNone;
  os::UniqueHandle handle;  // holds a handle only in State::kOpen
};
extern FirmwareControlDevice g_FirmwareControlDevice;

// Whether the last open found 64-bit Windows (the process under WOW64); it selects the request
// layout. Recomputed at every open, independent of the run environment's flag.
extern bool g_bFirmwareOn64BitWindows;

// ---- Operations
// ----------------------------------------------------------------------------------

// Sets the 64-bit flag, opens the device into g_FirmwareControlDevice, returns whether it is open.
bool OpenFirmwareControlDevice();

// One method call with the feature id. Returns the device call's success; *value receives the
// returned data word. With no open device it returns false at once and leaves *value alone.
bool CallFirmwareMethod(std::uint32_t featureId, std::uint32_t* value);

// Runs the service installer when present, opens the device, calls the method, closes the
// device again. *value receives the answer's data word when the call succeeds.
enum class FirmwareReading { kAnswered, kNoDevice, kCallFailed };
FirmwareReading ReadFirmwareFeature(std::uint32_t featureId, std::uint32_t* value);

// The same, as the feature's flag. 1 when bit 16 of the answer is set, else 0 (also when the device
// is missing or the call fails).
int QueryFirmwareFeature(std::uint32_t featureId);

// ---- Byte layouts (used by the operations above; exposed so tests can check them)
// ----------------

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
