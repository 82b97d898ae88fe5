// Whole files of the host that the simulator reads: profiles, reports, disk images' neighbours.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sim {

// The file's bytes, or nullopt when it cannot be opened.
std::optional<std::string> ReadHostFile(const std::filesystem::path& path);

}  // namespace sim
