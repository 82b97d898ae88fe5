#include "sim/core/host_file.h"

#include <fstream>
#include <sstream>

namespace sim {

std::optional<std::string> ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace sim
