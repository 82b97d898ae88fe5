#include "sim/harness/account_text.h"

#include <algorithm>

namespace sim {

namespace {

bool Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string Printable(std::string_view text, bool tabs) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || (c == '\t' && tabs) || (c >= 0x20 && c < 0x7F) || c >= 0x80) {
      // U+0080..U+009F, two bytes C2 80..C2 9F: controls some terminals act on.
      const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
        static const char kHex[] = "0123456789ABCDEF";
        shown += "<U+00";
        shown += kHex[next >> 4];
        shown += kHex[next & 0xF];
        shown += '>';
        ++i;
      } else {
        shown += static_cast<char>(c);
      }
      continue;
    }
    shown += '^';
    shown += c == 0x7F ? '?' : static_cast<char>(c + 0x40);
  }
  return shown;
}

std::size_t Columns(std::string_view line) {
  return static_cast<std::size_t>(
      std::count_if(line.begin(), line.end(), [](char c) { return !Continuation(c); }));
}

void WriteWrapped(std::ostream& out, std::string_view text, std::size_t columns, std::size_t hang) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t indent = std::min(line.find_first_not_of(' '), columns / 2);
    std::size_t lead = 0;  // the first piece keeps its own indent
    while (Columns(line) + lead > columns) {
      // The byte where the last column ends, and the last blank (after the indent) before it.
      std::size_t cut = 0;
      std::size_t blank = std::string_view::npos;
      for (std::size_t taken = 0; cut < line.size(); ++cut) {
        if (Continuation(line[cut])) continue;
        if (taken + lead == columns) {
          if (line[cut] == ' ') blank = cut;  // the piece fills the line exactly
          break;
        }
        // Not in the first piece's own indent (a continued piece has none: it starts at a word).
        if (line[cut] == ' ' && cut > (lead == 0 ? indent : 0)) blank = cut;
        ++taken;
      }
      const std::size_t take = blank != std::string_view::npos ? blank : cut;
      out << std::string(lead, ' ') << line.substr(0, take) << "\n";
      line.remove_prefix(take);
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
      lead = indent + hang;
    }
    out << std::string(lead, ' ') << line << "\n";
  }
}

}  // namespace sim
