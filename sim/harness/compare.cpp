#include "sim/harness/compare.h"

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "sim/core/host_file.h"
#include "sim/core/text.h"
#include "sim/harness/account_text.h"

namespace sim {

namespace {

const char* const kLineFiles[] = {"TempProc.log", "TScriptClean2ndHDD.txt",
                                  "TScriptCreate2ndHDD.txt", "IntelRSTCli.log", "TRSTCliLog.txt"};

// The file of that name in `folder`, whatever the letter case Windows or a copy gave it.
std::optional<std::string> ReadNamed(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (UpperPath(FromUtf8(entry.path().filename().string())) == UpperPath(FromUtf8(name)) &&
        entry.is_regular_file(ec)) {
      return ReadHostFile(entry.path());
    }
  }
  return std::nullopt;
}

// The file's lines without their line ends; the run log's without their time stamps.
std::vector<std::string> Lines(const std::string& bytes, bool stamped) {
  static const std::regex stamp(R"(^\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\]\t)");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(stamped ? std::regex_replace(line, stamp, "") : line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

int CompareWithLine(const std::filesystem::path& lineTemp, const std::filesystem::path& replayTemp,
                    std::ostream& out) {
  int differ = 0;
  // Logs that agree line for line mean the line's run took the replay's path; a file that path
  // does not write was left in Temp by an earlier run.
  const std::optional<std::string> lineLog = ReadNamed(lineTemp, "TempProc.log");
  const std::optional<std::string> replayLog = ReadNamed(replayTemp, "TempProc.log");
  const bool logsAgree = lineLog && replayLog && Lines(*lineLog, true) == Lines(*replayLog, true);
  for (const std::string name : kLineFiles) {
    const std::optional<std::string> line = ReadNamed(lineTemp, name);
    const std::optional<std::string> replay = ReadNamed(replayTemp, name);
    out << name << ": ";
    if (!line && !replay) {
      out << "agrees (written on neither side)\n";
      continue;
    }
    if (line && !replay && logsAgree) {
      out << "agrees: an earlier run's (the run logs agree, and this run's path writes no such "
             "file)\n";
      continue;
    }
    if (!line || !replay) {
      out << "DIFFERS: written " << (line ? "on the line only" : "by the replay only") << "\n";
      ++differ;
      continue;
    }
    const bool stamped = name == "TempProc.log";
    const std::vector<std::string> a = Lines(*line, stamped), b = Lines(*replay, stamped);
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) {
      out << "agrees (" << a.size() << " lines" << (stamped ? ", time stamps aside" : "") << ")\n";
      continue;
    }
    ++differ;
    // A line that differs by a control character shows it, and the terminal does not act on it.
    out << "DIFFERS at line " << i + 1
        << "\n  line:   " << (i < a.size() ? Printable(a[i]) : std::string("(ends)"))
        << "\n  replay: " << (i < b.size() ? Printable(b[i]) : std::string("(ends)")) << "\n";
  }
  out << (differ == 0 ? "The line's files agree with the replay.\n"
                      : std::to_string(differ) + " of 5 files differ.\n");
  return differ == 0 ? 0 : 1;
}

}  // namespace sim
