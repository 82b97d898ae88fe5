// The words of a diskpart script line: keywords that may be shortened, "key=value" parameters
// and the numbers and GUIDs in them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim::diskpart_script {

std::string Lower(std::string text);
bool IsBlank(char c);

// A word of the script matches a keyword when it is the keyword or at least its first three
// letters, in any case.
bool Is(const std::string& word, const std::string& keyword);

// The words of a line; quotes group blanks, and "key = value" becomes one word "key=value".
std::vector<std::string> Words(const std::string& line);

// "key=value" with the key in lower case and the value unquoted.
struct Parameter {
  std::string key, value;
  bool hasValue = false;
};

Parameter Split(const std::string& word);

// A number in `base` (16: with or without "0x") no larger than `max`; nullopt otherwise.
std::optional<std::uint64_t> Number(const std::string& text, int base, std::uint64_t max);

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in hex digits.
bool IsGuidText(const std::string& text);

}  // namespace sim::diskpart_script
