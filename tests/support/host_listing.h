// What a host folder holds, to show that a run changed nothing outside its own folder.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "sim/core/host_file.h"

namespace testing_support {

// Every entry below `dir` by its path relative to `dir` ('/' between names): a file's bytes
// (a large one's size), "<folder>" or "<link>". Links are not followed.
inline std::map<std::string, std::string> HostListing(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> listing;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().lexically_relative(dir).generic_string();
    if (it->is_symlink(ec)) {
      listing[name] = "<link>";
    } else if (it->is_directory(ec)) {
      listing[name] = "<folder>";
    } else if (it->file_size(ec) > (1u << 16)) {
      listing[name] = std::to_string(it->file_size(ec)) + " bytes";
    } else {
      listing[name] = sim::ReadHostFile(it->path()).value_or("<unreadable>");
    }
  }
  return listing;
}

}  // namespace testing_support
