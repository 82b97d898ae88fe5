#include "probes/disk_inventory.h"

#include <string>

#include "environment/run_environment.h"
#include "platform/os.h"
#include "probes/media_rotation.h"

namespace {

constexpr std::int32_t kWbemFlagForwardOnly = 0x20;        // WBEM_FLAG_FORWARD_ONLY
constexpr std::int32_t kWbemFlagReturnImmediately = 0x10;  // WBEM_FLAG_RETURN_IMMEDIATELY
constexpr std::int32_t kWbemInfinite = -1;                 // WBEM_INFINITE

// Ends COM on every way out of the query when the query started it.
class ComSession {
 public:
  ComSession() = default;
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;
  ~ComSession() { End(); }
  void Started() { started_ = true; }
  void End() {
    if (started_) os::CoUninitialize();
    started_ = false;
  }

 private:
  bool started_ = false;
};

// The property's value, or null when Get fails (the value is then left null by the seam).
os::WmiValue Get(const os::ComRef& object, const wchar_t* name) {
  os::WmiValue value;
  if (os::Failed(os::WmiGet(object, name, &value))) value = os::WmiValue{};
  return value;
}

// A text property up to its terminating zero; `null` for a null value or one of another type.
std::wstring Text(const os::ComRef& object, const wchar_t* name, const wchar_t* null = L"") {
  const os::WmiValue value = Get(object, name);
  if (value.kind != os::WmiValue::Kind::Text) return null;
  return value.text.substr(0, value.text.find(L'\0'));
}

// A uint32 property (WMI delivers it as a 32-bit signed integer); 0 when null.
std::uint32_t Unsigned(const os::ComRef& object, const wchar_t* name) {
  const os::WmiValue value = Get(object, name);
  if (value.kind != os::WmiValue::Kind::Int32) return 0;
  return static_cast<std::uint32_t>(value.i32);
}

std::uint16_t Low16(const os::ComRef& object, const wchar_t* name) {
  return static_cast<std::uint16_t>(Unsigned(object, name) & 0xFFFF);
}

// A boolean as -1 for true and 0 for false; 0 when null.
std::int32_t Boolean(const os::ComRef& object, const wchar_t* name) {
  const os::WmiValue value = Get(object, name);
  return value.kind == os::WmiValue::Kind::Bool && value.boolean ? -1 : 0;
}

void ReadDisk(const os::ComRef& object, DiskRecord* r) {
  r->Reserved = 0;
  r->Description = Text(object, L"Description");
  r->DeviceID = Text(object, L"DeviceID");
  r->Index = Unsigned(object, L"Index");
  r->InterfaceType = Text(object, L"InterfaceType");
  r->Manufacturer = Text(object, L"Manufacturer");
  r->MediaLoaded = Boolean(object, L"MediaLoaded");
  r->MediaType = Text(object, L"MediaType", L"Unknown");
  r->Model = Text(object, L"Model");
  r->Partitions = Unsigned(object, L"Partitions");
  r->PNPDeviceID = Text(object, L"PNPDeviceID");
  r->SCSIBus = Unsigned(object, L"SCSIBus");
  r->SCSILogicalUnit = Low16(object, L"SCSILogicalUnit");
  r->SCSIPort = Low16(object, L"SCSIPort");
  r->SCSITargetId = Low16(object, L"SCSITargetId");
  r->SerialNumber = Text(object, L"SerialNumber");
  r->Signature = Unsigned(object, L"Signature");
  r->Size = Text(object, L"Size", L"0");
  r->Status = Text(object, L"Status");
  r->SystemCreationClassName = Text(object, L"SystemCreationClassName");
  r->SystemName = Text(object, L"SystemName");
}

}  // namespace

bool QueryDiskInventory(DiskList* list) {
  DiskRecord record;

  // Declared so that leaving early releases the services, the locator and the enumerator in
  // that order, and only then ends COM.
  ComSession com;
  os::ComRef enumerator;
  os::ComRef locator;
  os::ComRef services;

  if (!g_RunEnvironment.bIsComInitialized) {
    if (os::Failed(os::CoInitializeEx(os::kCoinitMultithreaded))) return false;
    com.Started();
    if (os::Failed(os::CoInitializeSecurity(os::kRpcCAuthnLevelDefault,
                                            os::kRpcCImpLevelImpersonate, os::kEoacNone))) {
      return false;
    }
  }
  if (os::Failed(os::CoCreateWbemLocator(&locator))) return false;
  if (os::Failed(os::ConnectServer(locator, L"ROOT\\CIMV2", &services))) return false;
  if (os::Failed(os::CoSetProxyBlanket(services, os::kRpcCAuthnWinNT, os::kRpcCAuthzNone,
                                       os::kRpcCAuthnLevelCall, os::kRpcCImpLevelImpersonate,
                                       os::kEoacNone))) {
    return false;
  }
  if (os::Failed(os::ExecQuery(services, L"WQL", L"SELECT * FROM Win32_DiskDrive",
                               kWbemFlagForwardOnly | kWbemFlagReturnImmediately, &enumerator))) {
    return false;
  }

  for (;;) {
    os::ComRef object;
    std::uint32_t returned = 0;
    const os::HResult hr = os::EnumNext(enumerator, kWbemInfinite, &object, &returned);
    // A failing fetch ends the list like its end: the disks read so far stand.
    if (os::Failed(hr) || returned == 0 || !object.valid()) break;
    ReadDisk(object, &record);
    record.MediaKind = ProbeMediaRotation(static_cast<int>(record.Index));
    list->push_back(record);
  }

  services.Release();
  locator.Release();
  enumerator.Release();
  com.End();
  return true;
}
