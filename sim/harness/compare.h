// --compare: the files a unit left in its Temp folder on the line against the replay of its
// capture, file by file, time stamps aside.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

namespace sim {

// Why `lineTemp` cannot be compared (it does not exist, is not a folder, or holds none of the
// files a run leaves in Temp), naming what was expected where; empty when it can.
std::string CompareFolderProblem(const std::filesystem::path& lineTemp);

// Compares TempProc.log (without its time stamps), both diskpart scripts, IntelRSTCli.log and
// TRSTCliLog.txt in `lineTemp` (names in any letter case) with those in `replayTemp`. Prints one
// line per file; a difference names its first differing line on both sides. The closing line
// repeats `replayVerdict` (the replay's exit code and what it means). Returns 0 when every file
// agrees (absent on both sides counts as agreeing), 1 when one differs.
int CompareWithLine(const std::filesystem::path& lineTemp, const std::filesystem::path& replayTemp,
                    const std::string& replayVerdict, std::ostream& out);

}  // namespace sim
