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

// Empty when every part occurs in `text`, each after the one before it (the first from `from`);
// otherwise which part is missing or out of order, for the failure message. A check such as
// EXPECT_LT(text.find(a), text.find(b)) passes when b is missing; this does not.
inline std::string OrderFault(const std::string& text, const std::vector<std::string>& parts,
                              std::size_t from = 0) {
  std::size_t at = from;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::size_t found = text.find(parts[i], at);
    if (found == std::string::npos) {
      const bool anywhere = text.find(parts[i], from) != std::string::npos;
      return "\"" + parts[i] +
             (anywhere ? "\" stands before \"" + parts[i - 1] + "\"" : "\" is missing") + " in:\n" +
             text;
    }
    at = found + parts[i].size();
  }
  return std::string();
}

}  // namespace testing_support
