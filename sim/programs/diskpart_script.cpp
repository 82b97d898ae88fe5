#include "sim/programs/diskpart_script.h"

#include <cctype>

namespace sim::diskpart_script {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Is(const std::string& word, const std::string& keyword) {
  const std::string w = Lower(word);
  return w == keyword || (w.size() >= 3 && keyword.compare(0, w.size(), w) == 0);
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> raw;
  std::string word;
  bool quoted = false, inWord = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (IsBlank(c) && !quoted) {
      if (inWord) raw.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    word.push_back(c);
    inWord = true;
  }
  if (inWord) raw.push_back(word);
  std::vector<std::string> words;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    std::string w = raw[i];
    if (w.front() == '=' && !words.empty()) {
      words.back() += w;
      w = words.back();
      words.pop_back();
    }
    while (w.back() == '=' && i + 1 < raw.size()) w += raw[++i];
    words.push_back(w);
  }
  return words;
}

Parameter Split(const std::string& word) {
  Parameter p;
  const std::size_t eq = word.find('=');
  p.key = Lower(word.substr(0, eq));
  if (eq != std::string::npos) {
    p.hasValue = true;
    p.value = word.substr(eq + 1);
    if (p.value.size() >= 2 && p.value.front() == '"' && p.value.back() == '"') {
      p.value = p.value.substr(1, p.value.size() - 2);
    }
  }
  return p;
}

std::optional<std::uint64_t> Number(const std::string& text, int base, std::uint64_t max) {
  std::string digits = text;
  if (base == 16 && digits.size() > 2 && digits[0] == '0' &&
      (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                      ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                      : -1;
    if (d < 0) return std::nullopt;
    if (value > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) {
      return std::nullopt;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  return value;
}

bool IsGuidText(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace sim::diskpart_script
