#include "sim/core/text.h"

#include <cstdint>
#include <cwctype>

#include "textout/format.h"
#include "textout/utf8.h"

namespace sim {

std::string ToUtf8(const std::wstring& text) { return textout::ToUtf8(text); }

std::wstring FromUtf8(const std::string& text) {
  auto byte = [&](std::size_t k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[k]));
  };
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const std::uint32_t c = byte(i);
    std::uint32_t cp = 0xFFFD;
    std::size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      cp = ((c & 0x1F) << 6) | (byte(i + 1) & 0x3F);
      n = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
      cp = ((c & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
      n = 3;
    } else if ((c & 0xF8) == 0xF0 && i + 3 < text.size()) {
      cp = ((c & 0x07) << 18) | ((byte(i + 1) & 0x3F) << 12) | ((byte(i + 2) & 0x3F) << 6) |
           (byte(i + 3) & 0x3F);
      n = 4;
    }
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += n;
  }
  return out;
}

std::wstring UpperPath(const std::wstring& path) {
  std::wstring out = path;
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c == L'/') c = L'\\';
  }
  return out;
}

std::wstring UpperCase(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return out;
}

}  // namespace sim
