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

// The property values of one disk, read through `property`.
class Properties {
 public:
  explicit Properties(const std::function<os::WmiValue(const wchar_t*)>& property)
      : property_(property) {}

  // A text up to its terminating zero; `null` for a null value or one of another type.
  std::wstring Text(const wchar_t* name, const wchar_t* null = L"") const {
    const os::WmiValue value = property_(name);
    if (value.kind != os::WmiValue::Kind::Text) return null;
    return value.text.substr(0, value.text.find(L'\0'));
  }
  // A uint32 (WMI delivers it as a 32-bit signed integer); 0 when null.
  std::uint32_t Unsigned(const wchar_t* name) const {
    const os::WmiValue value = property_(name);
    if (value.kind != os::WmiValue::Kind::Int32) return 0;
    return static_cast<std::uint32_t>(value.i32);
  }
  std::uint16_t Low16(const wchar_t* name) const {
    return static_cast<std::uint16_t>(Unsigned(name) & 0xFFFF);
  }
  // A boolean as -1 for true and 0 for false; 0 when null.
  std::int32_t Boolean(const wchar_t* name) const {
    const os::WmiValue value = property_(name);
    return value.kind == os::WmiValue::Kind::Bool && value.boolean ? -1 : 0;
  }

 private:
  const std::function<os::WmiValue(const wchar_t*)>& property_;
};

}  // namespace

DiskRecord DiskRecordFromProperties(
    const std::function<os::WmiValue(const wchar_t* name)>& property) {
  const Properties p(property);
  DiskRecord r;
  // In the order of kDiskInventoryProperties.
  r.Description = p.Text(L"Description");
  r.DeviceID = p.Text(L"DeviceID");
  r.Index = p.Unsigned(L"Index");
  r.InterfaceType = p.Text(L"InterfaceType");
  r.Manufacturer = p.Text(L"Manufacturer");
  r.MediaLoaded = p.Boolean(L"MediaLoaded");
  r.MediaType = p.Text(L"MediaType", L"Unknown");
  r.Model = p.Text(L"Model");
  r.Partitions = p.Unsigned(L"Partitions");
  r.PNPDeviceID = p.Text(L"PNPDeviceID");
  r.SCSIBus = p.Unsigned(L"SCSIBus");
  r.SCSILogicalUnit = p.Low16(L"SCSILogicalUnit");
  r.SCSIPort = p.Low16(L"SCSIPort");
  r.SCSITargetId = p.Low16(L"SCSITargetId");
  r.SerialNumber = p.Text(L"SerialNumber");
  r.Signature = p.Unsigned(L"Signature");
  r.Size = p.Text(L"Size", L"0");
  r.Status = p.Text(L"Status");
  r.SystemCreationClassName = p.Text(L"SystemCreationClassName");
  r.SystemName = p.Text(L"SystemName");
  return r;
}

DiskQueryStep EnumerateDiskDrives(const std::function<void(const os::ComRef& object)>& each) {
  // Declared so that leaving releases the services, the locator and the enumerator in that
  // order.
  os::ComRef enumerator;
  os::ComRef locator;
  os::ComRef services;

  if (os::Failed(os::CoCreateWbemLocator(&locator))) return DiskQueryStep::kCreateLocator;
  if (os::Failed(os::ConnectServer(locator, L"ROOT\\CIMV2", &services))) {
    return DiskQueryStep::kConnectServer;
  }
  if (os::Failed(os::CoSetProxyBlanket(services, os::kRpcCAuthnWinNT, os::kRpcCAuthzNone,
                                       os::kRpcCAuthnLevelCall, os::kRpcCImpLevelImpersonate,
                                       os::kEoacNone))) {
    return DiskQueryStep::kProxyBlanket;
  }
  if (os::Failed(os::ExecQuery(services, L"WQL", L"SELECT * FROM Win32_DiskDrive",
                               kWbemFlagForwardOnly | kWbemFlagReturnImmediately, &enumerator))) {
    return DiskQueryStep::kExecQuery;
  }

  DiskQueryStep end = DiskQueryStep::kNone;
  for (;;) {
    os::ComRef object;
    std::uint32_t returned = 0;
    const os::HResult hr = os::EnumNext(enumerator, kWbemInfinite, &object, &returned);
    if (os::Failed(hr)) {
      end = DiskQueryStep::kNext;
      break;
    }
    if (returned == 0 || !object.valid()) break;
    each(object);
  }

  services.Release();
  locator.Release();
  enumerator.Release();
  return end;
}

bool QueryDiskInventory(DiskList* list) {
  // Ends COM after the query's interfaces are released, when the query started it.
  ComSession com;
  if (!g_RunEnvironment.bIsComInitialized) {
    if (os::Failed(os::CoInitializeEx(os::kCoinitMultithreaded))) return false;
    com.Started();
    if (os::Failed(os::CoInitializeSecurity(os::kRpcCAuthnLevelDefault,
                                            os::kRpcCImpLevelImpersonate, os::kEoacNone))) {
      return false;
    }
  }
  const DiskQueryStep failed = EnumerateDiskDrives([list](const os::ComRef& object) {
    DiskRecord record = DiskRecordFromProperties([&object](const wchar_t* name) {
      os::WmiValue value;
      // A failing Get leaves the value null.
      if (os::Failed(os::WmiGet(object, name, &value))) value = os::WmiValue{};
      return value;
    });
    record.MediaKind = ProbeMediaRotation(static_cast<int>(record.Index));
    list->push_back(record);
  });
  // A failing fetch ends the list like its end: the disks read so far stand.
  if (failed != DiskQueryStep::kNone && failed != DiskQueryStep::kNext) return false;
  com.End();
  return true;
}
