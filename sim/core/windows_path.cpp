#include "sim/core/windows_path.h"

#include "platform/os.h"
#include "sim/core/text.h"

namespace sim {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool IsLetter(wchar_t c) { return Upper(c) >= L'A' && Upper(c) <= L'Z'; }

// Control characters and <>:"|?* are not allowed in a Windows file name; ':' would also name
// a stream of the file, which the simulation does not hold.
bool IsForbiddenInName(wchar_t c) {
  return c < 32 || std::wstring(L"<>:\"|?*").find(c) != std::wstring::npos;
}

// 'text' in UTF-8, built by appending: g++ 12 at -O3 warns wrongly of overlapping copies in
// "literal" + temporary string.
std::string Quoted(const std::wstring& text) {
  std::string out(1, '\'');
  out += ToUtf8(text);
  out += '\'';
  return out;
}

}  // namespace

bool IsDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = Upper(c);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$")
    return true;
  // COM1-COM9 and LPT1-LPT9; Windows takes the superscript digits 1-3 as well.
  if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0))
    return false;
  const wchar_t digit = base[3];
  return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
         digit == L'\u00B3';
}

wchar_t SystemDrive(const std::wstring& windowsDir) {
  return windowsDir.size() >= 2 && windowsDir[1] == L':' && IsLetter(windowsDir[0])
             ? Upper(windowsDir[0])
             : L'C';
}

WindowsPath SplitWindowsPath(const std::wstring& path, wchar_t systemDrive) {
  WindowsPath out;
  auto refuse = [&out](std::uint32_t error, const std::string& problem) {
    out.parts.clear();
    out.error = error;
    out.problem = problem;
    return out;
  };
  if (path.empty()) return refuse(os::kErrorPathNotFound, "it is empty");
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    if (path.size() >= 3 && (path[2] == L'?' || path[2] == L'.') &&
        (path.size() == 3 || IsSeparator(path[3])))
      return refuse(kErrorInvalidName, "a \\\\?\\ or \\\\.\\ prefix names a device, not a file");
    return refuse(kErrorBadNetPath, "it is a network path");
  }
  std::size_t at = 0;
  if (path.size() >= 2 && path[1] == L':') {
    if (!IsLetter(path[0]))
      return refuse(kErrorInvalidName, Quoted(path.substr(0, 1)) + " is no drive letter");
    if (Upper(path[0]) != Upper(systemDrive)) {
      std::string problem = "it is on drive ";
      problem += static_cast<char>(Upper(path[0]));
      problem += ":, not on the system drive ";
      problem += static_cast<char>(Upper(systemDrive));
      problem += ':';
      return refuse(os::kErrorPathNotFound, problem);
    }
    at = 2;
  }
  std::wstring part;
  for (std::size_t i = at; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) {
      part.push_back(path[i]);
      continue;
    }
    if (part.empty() || part == L".") {
      part.clear();
      continue;
    }
    if (part == L"..") return refuse(os::kErrorPathNotFound, "a '..' component leads upwards");
    for (wchar_t c : part) {
      if (IsForbiddenInName(c)) {
        return refuse(kErrorInvalidName,
                      Quoted(part) + " holds a character Windows does not allow in a name");
      }
    }
    if (IsDeviceName(part))
      return refuse(kErrorInvalidName, Quoted(part) + " is a device name, not a file");
    out.parts.push_back(part);
    part.clear();
  }
  return out;
}

}  // namespace sim
