#include "sim/harness/line_files.h"

#include "sim/core/host_file.h"
#include "sim/core/run_folder.h"
#include "sim/core/text.h"

namespace sim {

namespace {

// "[YYYY/MM/DD hh:mm:ss]" and a tab: 22 characters, digits where the clock's are.
bool IsStamp(const std::string& line) {
  static const char kShape[] = "[dddd/dd/dd dd:dd:dd]\t";
  if (line.size() < sizeof(kShape) - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof(kShape); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::string LineFileNames() {
  std::string names;
  for (std::size_t i = 0; i < kLineFiles.size(); ++i) {
    names += (i == 0                       ? ""
              : i + 1 == kLineFiles.size() ? " or "
                                           : ", ") +
             std::string(kLineFiles[i]);
  }
  return names;
}

std::optional<std::filesystem::path> FindNamed(const std::filesystem::path& folder,
                                               const std::string& name) {
  std::error_code ec;
  const std::wstring wanted = UpperPath(FromUtf8(name));
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (UpperPath(FromUtf8(entry.path().filename().string())) == wanted &&
        entry.is_regular_file(ec)) {
      return entry.path();
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadNamed(const std::filesystem::path& folder, const std::string& name) {
  const std::optional<std::filesystem::path> file = FindNamed(folder, name);
  return file ? ReadHostFile(*file) : std::nullopt;
}

bool HoldsLineFiles(const std::filesystem::path& folder) {
  for (const char* name : kLineFiles) {
    if (FindNamed(folder, name)) return true;
  }
  return false;
}

std::optional<std::filesystem::path> RunFolderTemp(const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::exists(folder / kRunMarker, ec)) return std::nullopt;
  for (const auto& drive : std::filesystem::directory_iterator(folder, ec)) {
    if (drive.path().filename().string().size() != 1) continue;
    const std::filesystem::path temp = drive.path() / "Windows" / "Temp";
    if (HoldsLineFiles(temp)) return temp;
  }
  return std::nullopt;
}

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

std::vector<std::string> FileLines(const std::string& bytes, bool stamped) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(stamped && IsStamp(line) ? line.substr(22) : line);
    start = end + 1;
  }
  return lines;
}

}  // namespace sim
