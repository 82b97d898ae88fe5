// The writer behind every text file the tool writes itself: the run log (time-stamped lines)
// and the diskpart scripts (plain lines). The file is reopened and closed for every line, so
// each line is on disk when the call returns and other programs can open the file at any time.
#pragma once

#include <string>

#include "platform/os.h"

class LogWriter {
 public:
  LogWriter() = default;
  ~LogWriter() = default;
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Remembers the path and creates the file, or empties an existing one. Until it is opened a
  // writer drops its lines.
  void Open(const std::wstring& path);
  // Appends "[YYYY/MM/DD hh:mm:ss]<TAB>text" and a line break, in local time.
  void WriteStamped(const wchar_t* text);
  void WriteStamped(const std::wstring& text) { WriteStamped(text.c_str()); }
  // Appends the text and a line break; a null text gives a bare line break.
  void WriteLine(const wchar_t* text);
  void WriteLine(const std::wstring& text) { WriteLine(text.c_str()); }

  const std::wstring& path() const { return path_; }

  // The bytes a line's text becomes on disk: one byte per character (U+0000..U+00FF as
  // themselves, anything above as '?'), every line feed as CR LF. No byte-order mark.
  static std::string EncodeLine(const std::wstring& line);

 private:
  void AppendBytes(const std::string& bytes);

  os::Lock lock_;
  std::wstring path_;
};
