// Helpers for the tests that run under Wine against the real Windows backend.
#pragma once

#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace win32_support {

// A path of the build host as Wine sees it (drive Z: is the host's root).
inline std::wstring HostPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return out;
}

inline std::wstring BinaryDir() { return HostPath(CS_BINARY_DIR); }

inline std::wstring WindowsDir() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetWindowsDirectoryW(buffer, MAX_PATH);
  return buffer;
}

inline std::wstring SystemDir() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetSystemDirectoryW(buffer, MAX_PATH);
  return buffer;
}

// Starts a program with a command line and waits for it; returns its exit code, or -1 when it
// did not start.
inline long RunAndWait(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi)) {
    return -1;
  }
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

// For messages and label comparisons: ASCII stays, anything else shows as '?'.
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

// The whole file's bytes, or "<missing>".
inline std::string ReadBytes(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) out.append(buffer, n);
  ::CloseHandle(file);
  return out;
}

// The texts of the run log's lines after their stamps; a line without the stamp's exact shape,
// or bytes after the last CR LF, come back marked so that the comparison shows them.
inline std::vector<std::string> LogTexts(const std::string& bytes) {
  static const std::regex stamped(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\]\t([^\r\n]*))");
  std::vector<std::string> texts;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      texts.push_back("<unterminated> " + bytes.substr(start));
      break;
    }
    const std::string line = bytes.substr(start, end - start);
    std::smatch m;
    texts.push_back(std::regex_match(line, m, stamped) ? m[1].str() : "<no stamp> " + line);
    start = end + 2;
  }
  return texts;
}

// One start of the recording helper (tests/win32/helpers/cs_record_child.cpp).
struct ChildRecord {
  std::wstring module, commandLine, folder;
  std::wstring showWindow;  // wShowWindow in decimal, or "default"
};

inline std::wstring Utf16(const std::string& bytes) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

// The records the helper appended to `path`, in order; a torn record comes back whole in
// `commandLine` with an empty module, so that a comparison shows it.
inline std::vector<ChildRecord> ReadChildRecords(const std::wstring& path) {
  const std::string bytes = ReadBytes(path);
  std::vector<ChildRecord> records;
  if (bytes == "<missing>") return records;
  const std::wstring text = Utf16(bytes);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(start, end - start);
    std::vector<std::wstring> fields;
    for (std::size_t from = 0;;) {
      const std::size_t zero = line.find(L'\0', from);
      fields.push_back(line.substr(from, zero == std::wstring::npos ? zero : zero - from));
      if (zero == std::wstring::npos) break;
      from = zero + 1;
    }
    records.push_back(fields.size() == 4 ? ChildRecord{fields[0], fields[1], fields[2], fields[3]}
                                         : ChildRecord{L"", line, L"", L""});
    start = end + 1;
  }
  return records;
}

}  // namespace win32_support
