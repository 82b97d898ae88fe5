// Simulated backend of the WMI seam: the Win32_DiskDrive objects of the profile's disks, in
// profile order, with the types WMI gives them. Every step can be failed by a fault; every
// interface handed out is counted until it is released.
#include <set>
#include <string>

#include "platform/os.h"
#include "sim/core/text.h"
#include "sim/devices/disk_probes.h"
#include "textout/format.h"

namespace sim {

namespace {

constexpr os::HResult kCoENotInitialized = static_cast<os::HResult>(0x800401F0);
constexpr os::HResult kEInvalidArg = static_cast<os::HResult>(0x80070057);
constexpr os::HResult kEPointer = static_cast<os::HResult>(0x80004003);
constexpr os::HResult kWbemEFailed = static_cast<os::HResult>(0x80041001);
constexpr os::HResult kWbemENotFound = static_cast<os::HResult>(0x80041002);
constexpr os::HResult kWbemEInvalidNamespace = static_cast<os::HResult>(0x8004100E);
constexpr os::HResult kWbemEInvalidQuery = static_cast<os::HResult>(0x80041017);
constexpr os::HResult kWbemEInvalidQueryType = static_cast<os::HResult>(0x80041018);
constexpr os::HResult kRpcEDisconnected = static_cast<os::HResult>(0x80010108);

// The properties of class Win32_DiskDrive; one the profile leaves out is null.
const std::set<std::wstring>& DiskDriveProperties() {
  static const std::set<std::wstring> names = {L"AVAILABILITY",
                                               L"BYTESPERSECTOR",
                                               L"CAPABILITIES",
                                               L"CAPABILITYDESCRIPTIONS",
                                               L"CAPTION",
                                               L"COMPRESSIONMETHOD",
                                               L"CONFIGMANAGERERRORCODE",
                                               L"CONFIGMANAGERUSERCONFIG",
                                               L"CREATIONCLASSNAME",
                                               L"DEFAULTBLOCKSIZE",
                                               L"DESCRIPTION",
                                               L"DEVICEID",
                                               L"ERRORCLEARED",
                                               L"ERRORDESCRIPTION",
                                               L"ERRORMETHODOLOGY",
                                               L"FIRMWAREREVISION",
                                               L"INDEX",
                                               L"INSTALLDATE",
                                               L"INTERFACETYPE",
                                               L"LASTERRORCODE",
                                               L"MANUFACTURER",
                                               L"MAXBLOCKSIZE",
                                               L"MAXMEDIASIZE",
                                               L"MEDIALOADED",
                                               L"MEDIATYPE",
                                               L"MINBLOCKSIZE",
                                               L"MODEL",
                                               L"NAME",
                                               L"NEEDSCLEANING",
                                               L"NUMBEROFMEDIASUPPORTED",
                                               L"PARTITIONS",
                                               L"PNPDEVICEID",
                                               L"POWERMANAGEMENTCAPABILITIES",
                                               L"POWERMANAGEMENTSUPPORTED",
                                               L"SCSIBUS",
                                               L"SCSILOGICALUNIT",
                                               L"SCSIPORT",
                                               L"SCSITARGETID",
                                               L"SECTORSPERTRACK",
                                               L"SERIALNUMBER",
                                               L"SIGNATURE",
                                               L"SIZE",
                                               L"STATUS",
                                               L"STATUSINFO",
                                               L"SYSTEMCREATIONCLASSNAME",
                                               L"SYSTEMNAME",
                                               L"TOTALCYLINDERS",
                                               L"TOTALHEADS",
                                               L"TOTALSECTORS",
                                               L"TOTALTRACKS",
                                               L"TRACKSPERCYLINDER"};
  return names;
}

// Collapses runs of white space, so the query compares as WQL reads it.
std::wstring NormalizedQuery(const std::wstring& query) {
  std::wstring out;
  for (wchar_t c : UpperCase(query)) {
    const bool space = c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
    if (space) {
      if (!out.empty() && out.back() != L' ') out.push_back(L' ');
    } else {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == L' ') out.pop_back();
  return out;
}

// Hands out a new interface of `kind` into *slot.
void HandOut(Machine& m, DiskProbeState::Interface kind, std::size_t index, std::uintptr_t* slot) {
  DiskProbeState& probes = DiskProbes(m);
  const std::uintptr_t ref = probes.next_ref;
  probes.next_ref += 0x10;
  probes.live[ref] = DiskProbeState::LiveRef{kind, index};
  ++m.com_live_refs;
  ++m.com_refs_acquired;
  *slot = ref;
}

// The live interface behind a reference, when it is of `kind`.
DiskProbeState::LiveRef* Find(Machine& m, const os::ComRef& ref, DiskProbeState::Interface kind) {
  DiskProbeState& probes = DiskProbes(m);
  auto it = probes.live.find(ref.get());
  if (it == probes.live.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

}  // namespace
}  // namespace sim

namespace os {

using sim::DiskProbeState;

void ComRef::Release() {
  if (ptr_ == 0) return;
  const std::uintptr_t ref = ptr_;
  ptr_ = 0;
  if (!sim::HasCurrent()) return;
  sim::Machine& m = sim::Current();
  DiskProbeState& probes = sim::DiskProbes(m);
  auto it = probes.live.find(ref);
  if (it == probes.live.end()) return;
  const std::wstring name = sim::InterfaceName(it->second.kind);
  probes.live.erase(it);
  --m.com_live_refs;
  probes.releases.push_back(name);
  probes.trace.push_back(L"Release " + name);
  if (m.com_initialized <= 0) ++probes.releases_without_com;
}

HResult CoCreateWbemLocator(ComRef* locator) {
  sim::Machine& m = sim::Current();
  sim::DiskProbes(m).trace.push_back(L"CoCreateInstance");
  if (locator == nullptr) return sim::kEPointer;
  locator->Release();
  if (m.com_initialized <= 0) return sim::kCoENotInitialized;
  if (m.Faulted("CoCreateInstance")) return kEFail;
  sim::HandOut(m, DiskProbeState::Interface::Locator, 0, locator->put());
  return kSOk;
}

HResult ConnectServer(const ComRef& locator, const wchar_t* ns, ComRef* services) {
  sim::Machine& m = sim::Current();
  const std::wstring space = ns != nullptr ? ns : L"";
  sim::DiskProbes(m).trace.push_back(L"ConnectServer " + space);
  if (services == nullptr) return sim::kEPointer;
  services->Release();
  if (sim::Find(m, locator, DiskProbeState::Interface::Locator) == nullptr) {
    return sim::kEInvalidArg;
  }
  if (m.Faulted("ConnectServer")) return sim::kWbemEFailed;
  if (sim::UpperCase(space) != L"ROOT\\CIMV2") return sim::kWbemEInvalidNamespace;
  sim::HandOut(m, DiskProbeState::Interface::Services, 0, services->put());
  return kSOk;
}

HResult CoSetProxyBlanket(const ComRef& services, std::uint32_t authnSvc, std::uint32_t authzSvc,
                          std::uint32_t authnLevel, std::uint32_t impLevel,
                          std::uint32_t capabilities) {
  sim::Machine& m = sim::Current();
  sim::DiskProbes(m).trace.push_back(textout::Format(L"CoSetProxyBlanket %u %u %u %u %u", authnSvc,
                                                     authzSvc, authnLevel, impLevel, capabilities));
  if (sim::Find(m, services, DiskProbeState::Interface::Services) == nullptr) {
    return sim::kEInvalidArg;
  }
  if (m.Faulted("CoSetProxyBlanket")) return kEFail;
  if (authnSvc != kRpcCAuthnWinNT || authzSvc != kRpcCAuthzNone ||
      authnLevel != kRpcCAuthnLevelCall || impLevel != kRpcCImpLevelImpersonate ||
      capabilities != kEoacNone) {
    return sim::kEInvalidArg;  // the simulated service accepts only the product's blanket
  }
  return kSOk;
}

HResult ExecQuery(const ComRef& services, const wchar_t* language, const wchar_t* query,
                  std::int32_t flags, ComRef* enumerator) {
  sim::Machine& m = sim::Current();
  const std::wstring lang = language != nullptr ? language : L"";
  const std::wstring text = query != nullptr ? query : L"";
  sim::DiskProbes(m).trace.push_back(textout::Format(L"ExecQuery %ls %ls 0x%X", lang.c_str(),
                                                     text.c_str(), static_cast<unsigned>(flags)));
  if (enumerator == nullptr) return sim::kEPointer;
  enumerator->Release();
  if (sim::Find(m, services, DiskProbeState::Interface::Services) == nullptr) {
    return sim::kEInvalidArg;
  }
  if (m.Faulted("ExecQuery")) return sim::kWbemEFailed;
  if (sim::UpperCase(lang) != L"WQL") return sim::kWbemEInvalidQueryType;
  if (sim::NormalizedQuery(text) != L"SELECT * FROM WIN32_DISKDRIVE") {
    return sim::kWbemEInvalidQuery;
  }
  sim::HandOut(m, DiskProbeState::Interface::Enumerator, 0, enumerator->put());
  return kSOk;
}

HResult EnumNext(const ComRef& enumerator, std::int32_t timeout, ComRef* object,
                 std::uint32_t* returned) {
  sim::Machine& m = sim::Current();
  sim::DiskProbes(m).trace.push_back(textout::Format(L"Next %d", static_cast<int>(timeout)));
  if (returned != nullptr) *returned = 0;
  if (object == nullptr || returned == nullptr) return sim::kEPointer;
  object->Release();
  DiskProbeState::LiveRef* e = sim::Find(m, enumerator, DiskProbeState::Interface::Enumerator);
  if (e == nullptr) return sim::kEInvalidArg;
  const std::size_t position = e->index;
  // "Next:N": fetching the N-th object (counted from 1) fails, as a lost connection does.
  if (m.Faulted("Next", std::to_string(position + 1))) return sim::kRpcEDisconnected;
  // The list holds the disks Windows sees, in profile order.
  std::size_t disk = 0;
  for (std::size_t seen = 0; disk < m.profile().disks.size(); ++disk) {
    if (!sim::SeenByWindows(m.profile().disks[disk])) continue;
    if (seen++ == position) break;
  }
  if (disk >= m.profile().disks.size()) return kWbemSFalse;
  e->index = position + 1;
  sim::HandOut(m, DiskProbeState::Interface::Object, disk, object->put());
  *returned = 1;
  return kSOk;
}

HResult WmiGet(const ComRef& object, const wchar_t* name, WmiValue* value) {
  sim::Machine& m = sim::Current();
  const std::wstring property = name != nullptr ? name : L"";
  sim::DiskProbes(m).trace.push_back(L"Get " + property);
  if (value == nullptr) return sim::kEPointer;
  *value = WmiValue{};
  DiskProbeState::LiveRef* o = sim::Find(m, object, DiskProbeState::Interface::Object);
  if (o == nullptr) return sim::kEInvalidArg;
  const std::wstring upper = sim::UpperCase(property);
  if (sim::DiskDriveProperties().count(upper) == 0) return sim::kWbemENotFound;
  if (m.Faulted("Get", sim::ToUtf8(property))) return sim::kWbemEFailed;
  const sim::Disk& disk = m.profile().disks.at(o->index);
  for (const sim::WmiProperty& p : disk.wmi) {
    if (sim::UpperCase(p.name) == upper) {
      *value = p.value;
      break;
    }
  }
  return kSOk;
}

}  // namespace os
