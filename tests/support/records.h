// How failing checks print the product's records: every member, so that a comparison shows
// where two records differ. Portable: the Windows tests use it too.
#pragma once

#include <gmock/gmock.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "probes/disk_record.h"
#include "tools/rst_report.h"

namespace testing_support {

// Wide text for messages: ASCII as it is, a zero character as <NUL>, anything else as \u{hex}.
inline std::string Printable(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == 0) {
      out += "<NUL>";
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      char code[16];
      std::snprintf(code, sizeof(code), "\\u{%x}", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

}  // namespace testing_support

// One "Member=value" line per member, in declaration order.
inline void PrintTo(const DiskRecord& r, std::ostream* out) {
  auto text = [out](const char* name, const std::wstring& v) {
    *out << name << "=" << testing_support::Printable(v) << "\n";
  };
  auto num = [out](const char* name, long long v) { *out << name << "=" << v << "\n"; };
  num("Reserved", r.Reserved);
  text("Description", r.Description);
  text("DeviceID", r.DeviceID);
  num("Index", r.Index);
  text("InterfaceType", r.InterfaceType);
  text("Manufacturer", r.Manufacturer);
  num("MediaLoaded", r.MediaLoaded);
  text("MediaType", r.MediaType);
  num("MinBlockSize", static_cast<long long>(r.MinBlockSize));
  text("Model", r.Model);
  text("Name", r.Name);
  num("NeedsCleaning", r.NeedsCleaning);
  num("NumberOfMediaSupported", r.NumberOfMediaSupported);
  num("Partitions", r.Partitions);
  text("PNPDeviceID", r.PNPDeviceID);
  num("SCSIBus", r.SCSIBus);
  num("SCSILogicalUnit", r.SCSILogicalUnit);
  num("SCSIPort", r.SCSIPort);
  num("SCSITargetId", r.SCSITargetId);
  num("SectorsPerTrack", r.SectorsPerTrack);
  text("SerialNumber", r.SerialNumber);
  num("Signature", r.Signature);
  text("Size", r.Size);
  text("Status", r.Status);
  text("SystemCreationClassName", r.SystemCreationClassName);
  text("SystemName", r.SystemName);
  num("MediaKind", r.MediaKind);
}

// {ID|Type|DiskType|State|Size|FreeSize|SystemDisk|Usage|SerialNumber|Model}
inline void PrintTo(const RstDeviceRecord& r, std::ostream* out) {
  using testing_support::Printable;
  *out << "{" << Printable(r.ID) << "|" << Printable(r.Type) << "|" << Printable(r.DiskType) << "|"
       << Printable(r.State) << "|" << r.Size << "|" << r.FreeSize << "|" << r.SystemDisk << "|"
       << Printable(r.Usage) << "|" << Printable(r.SerialNumber) << "|" << Printable(r.Model)
       << "}";
}

namespace testing_support {

// The system disk of the default notebook's storage report: the simulator's default profile
// and the Windows tests' stand-in tool both print this block.
inline auto IsDefaultNotebookSystemDisk() {
  return ::testing::FieldsAre(L"0-0-0-0", L"Disk", L"SATA", L"Normal", 465, 0, 1, L"Available",
                              L"TE85113Q0V8K3R", L"HGST HTS545050A7E380");
}

// A disk record with an index, a media type and a model named after the index.
inline DiskRecord Disk(std::uint32_t index, const std::wstring& mediaType) {
  DiskRecord d;
  d.Index = index;
  d.MediaType = mediaType;
  d.Model = L"Model " + std::to_wstring(index);
  return d;
}

}  // namespace testing_support
