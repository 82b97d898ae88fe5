#include "sim/harness/compare.h"

#include <optional>
#include <string>
#include <vector>

#include "sim/harness/account_text.h"
#include "sim/harness/line_files.h"

namespace sim {

std::string CompareFolderProblem(const std::filesystem::path& lineTemp) {
  const std::string expected = "the files a unit leaves in its %WINDIR%\\Temp folder (" +
                               LineFileNames() + "), copied from the line";
  std::error_code ec;
  if (!std::filesystem::exists(lineTemp, ec)) {
    return "--compare needs a folder holding " + expected + ": " + lineTemp.string() +
           " does not exist";
  }
  if (!std::filesystem::is_directory(lineTemp, ec)) {
    return "--compare needs a folder holding " + expected + ": " + lineTemp.string() + " is a file";
  }
  if (HoldsLineFiles(lineTemp)) return std::string();
  std::string problem = "--compare needs a folder holding " + expected + ": " + lineTemp.string() +
                        " holds none of them";
  if (const auto temp = RunFolderTemp(lineTemp)) {
    problem += " (it is a simulator run folder: its Temp files are in " + temp->string() + ")";
  }
  return problem;
}

int CompareWithLine(const std::filesystem::path& lineTemp, const std::filesystem::path& replayTemp,
                    const std::string& replayVerdict, std::ostream& out) {
  int differ = 0;
  // Logs that agree line for line mean the line's run took the replay's path; a file that path
  // does not write was left in Temp by an earlier run.
  const std::optional<std::string> lineLog = ReadNamed(lineTemp, "TempProc.log");
  const std::optional<std::string> replayLog = ReadNamed(replayTemp, "TempProc.log");
  const bool logsAgree =
      lineLog && replayLog && FileLines(*lineLog, true) == FileLines(*replayLog, true);
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
    const std::vector<std::string> a = FileLines(*line, stamped), b = FileLines(*replay, stamped);
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) {
      out << "agrees (" << a.size() << (a.size() == 1 ? " line" : " lines")
          << (stamped ? ", time stamps aside" : "") << ")\n";
      continue;
    }
    ++differ;
    // A line that differs by a control character shows it, and the terminal does not act on it.
    out << "DIFFERS at line " << i + 1
        << "\n  line:   " << (i < a.size() ? Printable(a[i]) : std::string("(ends)"))
        << "\n  replay: " << (i < b.size() ? Printable(b[i]) : std::string("(ends)")) << "\n";
  }
  if (differ == 0) {
    out << "The line's files agree with the replay, which " << replayVerdict << ".\n";
  } else {
    out << differ << " of " << kLineFiles.size() << " files differ; the replay " << replayVerdict
        << ".\n";
  }
  return differ == 0 ? 0 : 1;
}

}  // namespace sim
