// Text split into lines, for checks that go through output line by line.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The pieces of `text` between the separators; bytes after the last separator come back as a
// last piece.
inline std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    pieces.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return pieces;
}

// The lines of `text`, split at each LF; a CR before the LF is dropped.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = SplitAt(text, "\n");
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

// The lines of a file the product writes with CR LF line ends (the run log, the scripts), split
// only at CR LF, so that a lone CR or LF stays inside its line.
inline std::vector<std::string> CrLfLines(const std::string& bytes) {
  return SplitAt(bytes, "\r\n");
}

}  // namespace testing_support
