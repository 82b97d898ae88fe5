// --compare: the files a unit left in its Temp folder on the line against the replay of its
// capture, file by file, time stamps aside.
#pragma once

#include <filesystem>
#include <ostream>

namespace sim {

// Compares TempProc.log (without its time stamps), both diskpart scripts, IntelRSTCli.log and
// TRSTCliLog.txt in `lineTemp` (names in any letter case) with those in `replayTemp`. Prints one
// line per file; a difference names its first differing line on both sides. Returns 0 when every
// file agrees (absent on both sides counts as agreeing), 1 when one differs.
int CompareWithLine(const std::filesystem::path& lineTemp, const std::filesystem::path& replayTemp,
                    std::ostream& out);

}  // namespace sim
