// Machine profiles: JSON files describing a simulated notebook.
#pragma once

#include <filesystem>
#include <string>

#include "sim/core/profile_model.h"

namespace sim {

// ProfileError (sim/core/profile_model.h) names the file and the key at fault.

// Parses profile text. `file` names it in messages; relative paths inside it are taken from
// `base`. Throws ProfileError.
Profile ParseProfile(const std::string& text, const std::string& file,
                     const std::filesystem::path& base);
// Reads and parses a profile file. Throws ProfileError.
Profile LoadProfile(const std::filesystem::path& path);

// The built-in default notebook (sim/profile/default_profile.h).
Profile DefaultProfile();

}  // namespace sim
