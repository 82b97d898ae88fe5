// The four firmware feature bits, read through the vendor's ACPI control device "\\.\QORACPI":
// one method call of the firmware method "DSTS" with the feature id as its only argument.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"
#include "probes/firmware_request.h"

// ---- The device ---------------------------------------------------------------------------------

inline constexpr const wchar_t* kFirmwareControlDeviceName = L"\\\\.\\QORACPI";

// ---- The feature table --------------------------------------------------------------------------

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

// ---- Process-wide state -------------------------------------------------------------------------

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

// ---- Operations ---------------------------------------------------------------------------------

// Sets the 64-bit flag, opens the device into g_FirmwareControlDevice, returns whether it is open.
bool OpenFirmwareControlDevice();

// One method call with the feature id. Returns the device call's success; *value receives the
// returned data word. With no open device it returns false at once and leaves *value alone.
bool CallFirmwareMethod(std::uint32_t featureId, std::uint32_t* value);

// Runs the service installer when present, opens the device, calls the method, closes the
// device again. *value receives the answer's data word when the call succeeds.
enum class FirmwareReading { kAnswered, kNoDevice, kCallFailed };
FirmwareReading ReadFirmwareFeature(std::uint32_t featureId, std::uint32_t* value);

// The same, as the feature's flag: FirmwareFeatureFlag of the reading.
int QueryFirmwareFeature(std::uint32_t featureId);

// A feature's flag from a reading: 1 when the device answered and bit 16 of the answer's data
// word is set, else 0 (a missing device or a failed call holds nothing the device wrote).
int FirmwareFeatureFlag(FirmwareReading reading, std::uint32_t value);

// The firmware service's installer, <system>\InstQORWMIACPISrv64.exe, run before each query
// when present.
std::wstring FirmwareInstallerPath();
