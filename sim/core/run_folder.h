// The run folder: the host folder a simulated notebook lives in (its system drive's files and
// its disks' overlays), where cachesetup-sim also leaves the run's files. A run writes only the
// names below, so that a later run can take away exactly what an earlier one made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace sim {

// The marker file that marks a folder as one laid out by the simulator.
inline constexpr const char* kRunMarker = ".cachesetup-sim-run";
// Besides the system drive's folder (its letter, "C"), a run writes these at the top of its
// folder: the disks' overlays, the transcript, after.json, after-machine.json with the folder of
// the images and report copy it names, result.json and account.txt; a summary writes
// summary.csv, summary.html and its runs' folders.
inline constexpr const char* kDisksFolder = "disks";
inline constexpr const char* kResultFile = "result.json";
inline constexpr const char* kAccountFile = "account.txt";
inline constexpr const char* kSummaryFile = "summary.csv";
inline constexpr const char* kSummaryPage = "summary.html";
inline constexpr const char* kSummaryRunsFolder = "runs";
inline constexpr const char* kTranscriptFile = "transcript.tsv";
inline constexpr const char* kAfterJsonFile = "after.json";
inline constexpr const char* kAfterMachineFile = "after-machine.json";
inline constexpr const char* kAfterMachineFolder = "after-machine";

// Whether a run makes an entry of this name at the top of its folder.
bool IsRunFolderName(const std::string& name);

// Prepares `dir` for a run: creates it, or, when it holds the marker, removes what an earlier
// run made there. A folder that holds anything else, or anything at all but no marker, is left
// as it is and refused. Returns an error message (empty on success) that names the folder and,
// for a refusal, its first entry (by name) that no run makes.
std::string PrepareRunFolder(const std::filesystem::path& dir);

// Why a file of `bytes` cannot be made at `file` (a name in the run folder that does not
// exist), or empty when it can. The disks live in sparse files of their full length, so a disk
// longer than the file system's largest file would fail at its first write at the end. Probed
// on the host by making such a sparse file and removing it again: the limit depends on the file
// system and its block size (ext4 with 4 KiB blocks: 16 TiB less 4 KiB), which
// pathconf(_PC_FILESIZEBITS) does not tell (it answers 64 bits for ext4). Windows builds, whose C
// runtime cannot always size a file beyond 4 GiB, take a fixed bound instead: 16 TiB less
// 64 KiB, NTFS's largest file with 4 KiB clusters before Windows 10 and below ext4's, where Wine
// keeps its files.
std::string FileSizeProblem(const std::filesystem::path& file, std::uint64_t bytes);

}  // namespace sim
