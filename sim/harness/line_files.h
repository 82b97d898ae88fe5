// The files a run leaves in the Temp folder, as a unit on the line leaves them and a replay
// writes them: found whatever letter case Windows or a copy gave their names, and the run log
// read as its texts.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sim {

inline constexpr std::array<const char*, 5> kLineFiles = {"TempProc.log", "TScriptClean2ndHDD.txt",
                                                          "TScriptCreate2ndHDD.txt",
                                                          "IntelRSTCli.log", "TRSTCliLog.txt"};

// The five names above, for messages: "TempProc.log, TScriptClean2ndHDD.txt, ... or
// TRSTCliLog.txt".
std::string LineFileNames();

// The regular file called `name` in `folder`, in any letter case; nullopt when there is none.
std::optional<std::filesystem::path> FindNamed(const std::filesystem::path& folder,
                                               const std::string& name);

// The bytes of the file called `name` in `folder`, in any letter case; nullopt when there is
// none (or it cannot be read).
std::optional<std::string> ReadNamed(const std::filesystem::path& folder, const std::string& name);

// Whether `folder` holds at least one of kLineFiles.
bool HoldsLineFiles(const std::filesystem::path& folder);

// Where a simulator run folder keeps its Temp files ("DIR/C/Windows/Temp"), when `folder` is
// one: a run folder handed over instead of the Temp folder inside it.
std::optional<std::filesystem::path> RunFolderTemp(const std::filesystem::path& folder);

// The text without the blanks and tabs around it.
std::string TrimBlanks(const std::string& text);

// The file's lines without their line ends (CR LF or LF); with `stamped`, each run-log line also
// without its "[YYYY/MM/DD hh:mm:ss]<TAB>" time stamp.
std::vector<std::string> FileLines(const std::string& bytes, bool stamped);

}  // namespace sim
