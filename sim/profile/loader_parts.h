// The profile loader's parts, one file per concern. Each reads its keys through a JsonReader,
// which throws ProfileError naming the file and the key:
//   profile.cpp           the document, its top-level keys, windows, clock, temp_files
//   profile_disks.cpp     disks[], and what must differ from one disk to another
//   profile_captured.cpp  disks[].captured
//   profile_storage.cpp   storage_config and the disks' roles in the cache
//   input_files.cpp       the files a profile names
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sim/core/profile_model.h"
#include "sim/profile/json_reader.h"

namespace sim {

// disks[i]; `r` names the disk.
Disk ParseDisk(const JsonReader& r, const nlohmann::json& object,
               const std::filesystem::path& base);
// Refuses two disks Windows sees with one WMI Index or one physical drive number, and one drive
// letter given twice, across disks and partitions.
void CheckDisksDiffer(const JsonReader& r, const Profile& p);

// disks[i].captured; `r` names it.
CapturedDisk ParseCapturedDisk(const JsonReader& r, const nlohmann::json& object,
                               const std::filesystem::path& base);

// storage_config, against the disks already read.
StorageConfig ParseStorageConfig(const JsonReader& r, const nlohmann::json& object,
                                 const Profile& p);
// Marks the cache's device, and checks that a data volume stands beside a cache that leaves one.
void CheckCacheRoles(const JsonReader& r, Profile& p);

// Every file a profile names is checked before anything runs: it exists, is a regular file (not
// a folder, nor a device such as /dev/zero, which never ends), can be opened for reading and
// holds `least` to `most` bytes.
// Files read whole into memory (the storage report, the Temp folder's files, the pieces of a
// captured disk, the profile itself): a report is a few KB of text and a capture's pieces a few
// KB of sectors, so 16 MiB is generous and still keeps a wrong file from filling the memory.
inline constexpr std::uint64_t kWholeFileLimit = 16ULL << 20;
// A Temp folder's file: a run's IntelRSTCli.log holds the tool's whole report and more, so the
// machine a run over the largest report leaves (after-machine.json) must load with its Temp files
// again.
inline constexpr std::uint64_t kTempFileLimit = 64ULL << 20;
// A disk image: at least one sector, at most the largest disk a profile lays out (2^24 MiB).
inline constexpr std::uint64_t kSectorBytes = 512;
inline constexpr std::uint64_t kLargestDiskBytes = 1ULL << 44;

// Why `path` cannot be such a file, or empty when it can; *size gets its length.
std::string InputFileProblem(const std::filesystem::path& path, std::uint64_t least,
                             std::uint64_t most, std::uint64_t* size);
// The bytes of a file of at most `most` bytes; nullopt with *problem set when it cannot be one.
std::optional<std::string> ReadInputFile(const std::filesystem::path& path, std::uint64_t most,
                                         std::string* problem);
// The same, refused as the value of `key`.
std::string ReadInputFile(const JsonReader& r, const std::string& key,
                          const std::filesystem::path& path, std::uint64_t most);
void CheckInputFile(const JsonReader& r, const std::string& key, const std::filesystem::path& path,
                    std::uint64_t least, std::uint64_t most);

}  // namespace sim
