#include "textout/log_writer.h"

#include <cstdint>

#include "textout/format.h"

namespace {

constexpr std::uint32_t kShareReadWrite = os::kFileShareRead | os::kFileShareWrite;

}  // namespace

std::string LogWriter::EncodeLine(const std::wstring& line) {
  std::string out;
  out.reserve(line.size() + 2);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const std::uint32_t c = textout::CodeUnit(line[i]);
    if (c == L'\n') {
      out += "\r\n";
    } else if (c <= 0xFF) {
      out.push_back(static_cast<char>(c));
    } else {
      // A character that has no single byte is written as '?' and the line goes on: dropping
      // the rest of the line would run the next line into it. A UTF-16 surrogate pair is one
      // character, so it gives one '?' on every platform.
      out.push_back('?');
      if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < line.size()) {
        const std::uint32_t next = textout::CodeUnit(line[i + 1]);
        if (next >= 0xDC00 && next <= 0xDFFF) ++i;
      }
    }
  }
  return out;
}

void LogWriter::Open(const std::wstring& path) {
  path_ = path;
  // Create or empty the file, then close it again; a failure leaves nothing behind and every
  // later line tries again.
  os::UniqueHandle file(os::CreateFileW(path_, os::kGenericWrite, kShareReadWrite,
                                        os::kCreateAlways, os::kFileAttributeNormal));
}

void LogWriter::AppendBytes(const std::string& bytes) {
  if (path_.empty()) return;  // a writer never opened keeps its lines to itself
  os::UniqueHandle file(os::CreateFileW(path_, os::kGenericWrite, kShareReadWrite, os::kOpenAlways,
                                        os::kFileAttributeNormal));
  if (!file) return;  // this line is dropped; the next call tries again
  if (!os::SetFilePointerEx(file.get(), 0, os::kFileEnd)) return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = bytes.size() - done;
    const std::uint32_t ask = chunk > 0x10000000u ? 0x10000000u : static_cast<std::uint32_t>(chunk);
    std::uint32_t written = 0;
    if (!os::WriteFile(file.get(), bytes.data() + done, ask, &written) || written == 0) return;
    done += written;
  }
}

void LogWriter::WriteStamped(const wchar_t* text) {
  os::LockGuard guard(lock_);
  const os::LocalTime t = os::GetLocalTime();
  std::wstring line = textout::Format(L"[%04d/%02d/%02d %02d:%02d:%02d]\t", t.year, t.month, t.day,
                                      t.hour, t.minute, t.second);
  if (text != nullptr) line += text;
  line += L'\n';
  AppendBytes(EncodeLine(line));
}

void LogWriter::WriteLine(const wchar_t* text) {
  os::LockGuard guard(lock_);
  std::wstring line = text != nullptr ? std::wstring(text) : std::wstring();
  line += L'\n';
  AppendBytes(EncodeLine(line));
}
