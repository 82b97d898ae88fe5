#include "tools/rst_report.h"

#include <cstring>
#include <string_view>

#include "environment/run_environment.h"
#include "platform/os.h"
#include "textout/format.h"
#include "tools/process_runner.h"

namespace {

constexpr std::wstring_view kSectionMarker = L"--END DEVICE INFORMATION--";
// Every value starts here, wherever its key stands in the line.
constexpr std::size_t kValueColumn = 19;
constexpr std::uint32_t kReadChunk = 64 * 1024;

// One call's reading state. The working record lives for the whole report: a field that a
// later block leaves out keeps the value an earlier block gave it.
struct ReportReader {
  RstDeviceRecord working;
  bool inSection = false;
  bool inBlock = false;
  std::string pending;  // bytes of the line not yet ended by an LF
};

bool Contains(std::wstring_view line, std::wstring_view key) {
  return line.find(key) != std::wstring_view::npos;
}

// A key line shorter than the value column has no value text.
std::wstring ValueText(std::wstring_view line) {
  return line.size() > kValueColumn ? std::wstring(line.substr(kValueColumn)) : std::wstring();
}

bool IsCSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// The part of the value before its last blank, read like strtol in base 10 and clamped to the
// signed 32-bit range: "465.76 GB" gives 465.
std::int32_t ValueNumber(std::wstring_view line) {
  std::wstring_view value =
      line.size() > kValueColumn ? line.substr(kValueColumn) : std::wstring_view();
  const std::size_t blank = value.rfind(L' ');
  if (blank != std::wstring_view::npos) value = value.substr(0, blank);
  std::size_t i = 0;
  while (i < value.size() && IsCSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) {
    negative = value[i] == L'-';
    ++i;
  }
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // magnitude of INT32_MIN
  std::int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
    magnitude = magnitude * 10 + (value[i] - L'0');
    if (magnitude > kLimit) magnitude = kLimit;  // keeps the product far from overflowing
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return magnitude >= kLimit ? INT32_MAX : static_cast<std::int32_t>(magnitude);
}

// 1 when the text after the line's last blank (the whole line without one) contains "True".
std::int32_t LineFlag(std::wstring_view line) {
  const std::size_t blank = line.rfind(L' ');
  const std::wstring_view word = blank == std::wstring_view::npos ? line : line.substr(blank + 1);
  return Contains(word, L"True") ? 1 : 0;
}

void ReadLine(ReportReader& reader, std::wstring_view line, RstDeviceList& devices) {
  if (!reader.inSection) {
    if (!Contains(line, kSectionMarker)) return;
    reader.inSection = true;  // the marker line itself goes on to the block gate
  }
  if (Contains(line, L"ID:")) reader.inBlock = true;
  if (!reader.inBlock) return;

  RstDeviceRecord& r = reader.working;
  // The first key the line contains decides; the order keeps "Disk Type:" away from Type and
  // "Free Size:" away from Size.
  if (Contains(line, L"ID:")) {
    r.ID = ValueText(line);
  } else if (Contains(line, L"Disk Type:")) {
    r.DiskType = ValueText(line);
  } else if (Contains(line, L"Type:")) {
    r.Type = ValueText(line);
  } else if (Contains(line, L"State:")) {
    r.State = ValueText(line);
  } else if (Contains(line, L"Free Size:")) {
    r.FreeSize = ValueNumber(line);
  } else if (Contains(line, L"Size:")) {
    r.Size = ValueNumber(line);
  } else if (Contains(line, L"System Disk:")) {
    r.SystemDisk = LineFlag(line);
  } else if (Contains(line, L"Usage:")) {
    r.Usage = ValueText(line);
  } else if (Contains(line, L"Serial Number:")) {
    r.SerialNumber = ValueText(line);
  } else if (Contains(line, L"Model:")) {
    r.Model = ValueText(line);
    devices.push_back(r);
    reader.inBlock = false;
  }
}

// ANSI code page to wide text. A zero byte stays in the line as U+0000, so that the bytes after
// it are converted too (the conversion call itself stops at a zero byte).
std::wstring DecodeLine(const std::string& bytes) {
  if (bytes.find('\0') == std::string::npos) return os::MultiByteToWideChar(os::kCpAcp, bytes);
  std::wstring out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t zero = bytes.find('\0', start);
    const std::size_t end = zero == std::string::npos ? bytes.size() : zero;
    if (end > start) out += os::MultiByteToWideChar(os::kCpAcp, bytes.substr(start, end - start));
    if (zero == std::string::npos) return out;
    out.push_back(L'\0');
    start = zero + 1;
  }
}

// Text mode: every LF ends a line, a CR right before it is dropped.
void FeedBytes(ReportReader& reader, const char* data, std::size_t size, RstDeviceList& devices) {
  std::size_t start = 0;
  while (start < size) {
    const void* lf = std::memchr(data + start, '\n', size - start);
    if (lf == nullptr) {
      reader.pending.append(data + start, size - start);
      return;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
    reader.pending.append(data + start, end - start);
    if (!reader.pending.empty() && reader.pending.back() == '\r') reader.pending.pop_back();
    ReadLine(reader, DecodeLine(reader.pending), devices);
    reader.pending.clear();
    start = end + 1;
  }
}

// A last line without an LF is still a line.
void FinishBytes(ReportReader& reader, RstDeviceList& devices) {
  if (!reader.pending.empty()) ReadLine(reader, DecodeLine(reader.pending), devices);
  reader.pending.clear();
}

}  // namespace

void ParseRstReportText(const std::wstring& text, RstDeviceList& devices) {
  ReportReader reader;
  const std::wstring_view all(text);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find(L'\n', start);
    const bool ended = end != std::wstring_view::npos;
    if (!ended) end = all.size();
    std::wstring_view line = all.substr(start, end - start);
    if (ended && !line.empty() && line.back() == L'\r') line.remove_suffix(1);
    ReadLine(reader, line, devices);
    start = end + 1;
  }
}

void ParseRstReportBytes(const std::string& bytes, RstDeviceList& devices) {
  ReportReader reader;
  FeedBytes(reader, bytes.data(), bytes.size(), devices);
  FinishBytes(reader, devices);
}

bool ReadRstReportFile(const std::wstring& path, RstDeviceList& devices, std::string* bytes) {
  os::UniqueHandle file(os::CreateFileW(path, os::kGenericRead,
                                        os::kFileShareRead | os::kFileShareWrite, os::kOpenExisting,
                                        os::kFileAttributeNormal));
  if (!file) return false;
  ReportReader reader;
  std::string chunk(kReadChunk, '\0');
  for (;;) {
    std::uint32_t read = 0;
    if (!os::ReadFile(file.get(), chunk.data(), kReadChunk, &read)) {
      // The line in hand may be cut anywhere; a cut "Size:" line would give a wrong number.
      return true;
    }
    if (read == 0) break;
    FeedBytes(reader, chunk.data(), read, devices);
    if (bytes != nullptr) bytes->append(chunk.data(), read);
  }
  FinishBytes(reader, devices);
  return true;  // a failure to close the file changes nothing
}

std::wstring StorageToolReportParameters(const std::wstring& reportPath) {
  const RunEnvironment& env = g_RunEnvironment;
  return textout::Format(L"/c %ls\\Temp\\%ls -I > \"%ls\"", env.szWindowsDir.c_str(),
                         StorageToolName(env), reportPath.c_str());
}

bool ReadRstDeviceReport(RstDeviceList& devices, std::string* bytes) {
  const RunEnvironment& env = g_RunEnvironment;
  // Composed at full length: a shortened command line could name another program or file.
  const std::wstring reportPath =
      textout::Format(L"%ls\\Temp\\TRSTCliLog.txt", env.szWindowsDir.c_str());
  RunProgram(env.szCmdExePath, StorageToolReportParameters(reportPath));
  return ReadRstReportFile(reportPath, devices, bytes);
}
