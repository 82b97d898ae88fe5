// Parses generated device reports of 5, 10 and 20 MB through ReadRstReportFile on the simulated
// notebook and prints throughput and peak memory. Each measurement runs in a fresh process so
// that its peak resident size is its own.
//
//   rst_report_bench                 all measurements
//   rst_report_bench --one KIND MB   one measurement (KIND: devices or filler)
//
// "devices": the report is all device blocks, so the records grow with it; the figure to watch
// is the peak less the records. "filler": the same bytes before the marker, one record at the
// end, so the peak should not move at all.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/core/profile_model.h"
#include "sim/harness/notebook.h"
#include "tools/rst_report.h"

namespace {

constexpr const wchar_t* kReport = L"C:\\Windows\\Temp\\TRSTCliLog.txt";

std::string Field(const std::string& key, const std::string& value) {
  std::string line = key;
  line.append(19 - key.size(), ' ');
  return line + value + "\r\n";
}

std::string DeviceBlock(long n) {
  const std::string id = "0-" + std::to_string(n % 8) + "-" + std::to_string(n) + "-0";
  return Field("ID:", id) + Field("Type:", "Disk") + Field("Disk Type:", "SATA") +
         Field("State:", "Normal") + Field("Size:", std::to_string(n % 2000) + ".76 GB") +
         Field("Free Size:", "0 GB") + Field("System Disk:", n % 2 ? "True" : "False") +
         Field("Usage:", "Available") + Field("Serial Number:", "SN" + std::to_string(n)) +
         Field("Model:", "Model of device " + std::to_string(n)) + "\r\n";
}

// Writes the report straight to the file, a block at a time, so generating it costs no memory.
void WriteReport(const std::filesystem::path& file, bool devices, std::size_t bytes) {
  std::ofstream out(file, std::ios::binary);
  std::size_t written = 0;
  auto put = [&](const std::string& s) {
    out << s;
    written += s.size();
  };
  put("--CONTROLLER INFORMATION--\r\n\r\n" + Field("ID:", "0") + Field("Type:", "SATA") + "\r\n");
  if (devices) {
    put("--END DEVICE INFORMATION--\r\n\r\n");
    for (long n = 0; written < bytes; ++n) put(DeviceBlock(n));
  } else {
    const std::string filler = Field("Name:", "controller property line of filler text");
    while (written + 400 < bytes) put(filler);
    put("--END DEVICE INFORMATION--\r\n\r\n" + DeviceBlock(0));
  }
}

std::size_t RecordBytes(const RstDeviceList& list) {
  std::size_t total = list.capacity() * sizeof(RstDeviceRecord);
  for (const RstDeviceRecord& r : list) {
    for (const std::wstring* s :
         {&r.ID, &r.Type, &r.DiskType, &r.State, &r.Usage, &r.SerialNumber, &r.Model}) {
      // Beyond the in-place buffer a string has its own block, with the allocator's header.
      if (s->capacity() > 15 / sizeof(wchar_t)) total += (s->capacity() + 1) * sizeof(wchar_t) + 16;
    }
  }
  return total;
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int MeasureOne(const std::string& kind, int megabytes) {
  namespace fs = std::filesystem;
  const fs::path root =
      fs::temp_directory_path() / ("rst_report_bench-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  int status = 0;
  {
    sim::Notebook machine(sim::Profile{}, root);
    const fs::path file = machine.HostPath(kReport).value();
    WriteReport(file, kind == "devices", static_cast<std::size_t>(megabytes) << 20);
    const double size_mb = static_cast<double>(fs::file_size(file)) / (1 << 20);
    const long before = PeakKb();

    RstDeviceList devices;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ReadRstReportFile(kReport, devices);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peak = PeakKb();
    const long records_kb = static_cast<long>(RecordBytes(devices) / 1024);
    std::printf(
        "%-8s %6.1f MB %8zu records %7.3f s %8.1f MB/s  peak %7ld KB (before %6ld KB)"
        "  records ~%7ld KB  peak less records %7ld KB\n",
        kind.c_str(), size_mb, devices.size(), seconds, size_mb / seconds, peak, before, records_kb,
        peak - records_kb);
    status = ok ? 0 : 1;
  }
  fs::remove_all(root);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--one") == 0)
    return MeasureOne(argv[2], std::atoi(argv[3]));
  if (argc != 1) {
    std::fprintf(stderr, "usage: rst_report_bench [--one devices|filler MB]\n");
    return 2;
  }
  std::printf("ReadRstReportFile, one process per figure (build type %s)\n", CS_BUILD_TYPE);
  int failures = 0;
  for (const char* kind : {"devices", "filler"}) {
    for (const char* mb : {"5", "10", "20"}) {
      std::fflush(stdout);
      char* child[] = {argv[0], const_cast<char*>("--one"), const_cast<char*>(kind),
                       const_cast<char*>(mb), nullptr};
      pid_t pid = 0;
      if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, child, environ) != 0) return 1;
      int status = 0;
      waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
