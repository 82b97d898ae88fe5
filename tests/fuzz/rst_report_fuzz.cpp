// The storage tool's device report from arbitrary bytes: the byte reader and the wide-text
// reader must agree on the records wherever the text holds no zero byte, and every record
// comes from a block that ends in a "Model:" line. (The file reader feeds the byte reader in
// chunks; the unit tests compare the two.) The capture's reading of the same report carries a
// cache only on the one device marked "Array member", and keeps only plain-text sizes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "environment/run_environment.h"
#include "tests/support/fuzz_machine.h"
#include "tools/rst_report.h"
#include "tools/rst_report_cache.h"

namespace {

fuzzing::FuzzMachine& Machine() {
  static fuzzing::FuzzMachine machine;
  return machine;
}

void Check(bool ok, const char* what) { fuzzing::Check(ok, "rst_report_fuzz", what); }

bool Same(const RstDeviceList& a, const RstDeviceList& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const RstDeviceRecord& x = a[i];
    const RstDeviceRecord& y = b[i];
    if (x.ID != y.ID || x.Type != y.Type || x.DiskType != y.DiskType || x.State != y.State ||
        x.Size != y.Size || x.FreeSize != y.FreeSize || x.SystemDisk != y.SystemDisk ||
        x.Usage != y.Usage || x.SerialNumber != y.SerialNumber || x.Model != y.Model) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Machine();  // the code page conversion goes through the seam
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  RstDeviceList fromBytes;
  ParseRstReportBytes(bytes, fromBytes);
  std::size_t models = 0;
  for (std::size_t at = bytes.find("Model:"); at != std::string::npos;
       at = bytes.find("Model:", at + 1)) {
    ++models;
  }
  Check(fromBytes.size() <= models, "more records than \"Model:\" lines");
  for (const RstDeviceRecord& r : fromBytes) {
    Check(r.SystemDisk == 0 || r.SystemDisk == 1, "a System Disk flag that is neither 0 nor 1");
  }

  const ReportCacheReading reading = ReadReportCache(bytes, fromBytes);
  if (reading.cache) {
    std::size_t members = 0;
    for (const RstDeviceRecord& r : fromBytes) {
      if (r.Usage == L"Array member") {
        ++members;
        Check(r.ID == reading.cache->device, "a carried cache on a device not marked a member");
      }
    }
    Check(members == 1, "a carried cache with other than one \"Array member\"");
    Check(reading.cache->cacheGiB > 0 && reading.why.empty(), "a carried cache without a size");
  }
  for (const ReportDeviceSizes& s : ReadDeviceSizes(bytes)) {
    for (const std::wstring* text : {&s.id, &s.size, &s.freeSize}) {
      for (const wchar_t c : *text)
        Check(c >= 0x20 && c <= 0x7E, "a kept size that is not plain text");
    }
  }

  if (bytes.find('\0') == std::string::npos) {
    RstDeviceList fromText;
    ParseRstReportText(os::MultiByteToWideChar(os::kCpAcp, bytes), fromText);
    Check(Same(fromBytes, fromText), "the text reader and the byte reader disagree");
  }
  return 0;
}
