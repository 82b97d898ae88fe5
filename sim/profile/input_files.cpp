// The files a profile names, checked before anything runs: a wrong path gives one message
// naming the key, not a blank disk, an empty report or a read that never ends.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "sim/profile/loader_parts.h"

namespace sim {

namespace fs = std::filesystem;

std::string InputFileProblem(const fs::path& path, std::uint64_t least, std::uint64_t most,
                             std::uint64_t* size) {
  *size = 0;
  const std::string cannot = "cannot read " + path.string() + ": ";
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return cannot + "it does not exist";
  if (ec) return cannot + ec.message();
  if (status.type() == fs::file_type::directory) return cannot + "it is a folder, not a file";
  if (status.type() != fs::file_type::regular)
    return cannot + "it is not a regular file (a device, a pipe or a socket)";
  *size = fs::file_size(path, ec);
  if (ec) return cannot + ec.message();
  if (*size < least) {
    return cannot + "it holds " + std::to_string(*size) + " bytes, less than the " +
           std::to_string(least) + " it needs";
  }
  if (*size > most) {
    return cannot + "it holds " + std::to_string(*size) + " bytes, more than the " +
           std::to_string(most) + " it may";
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return cannot + std::strerror(errno);
  return std::string();
}

std::optional<std::string> ReadInputFile(const fs::path& path, std::uint64_t most,
                                         std::string* problem) {
  std::uint64_t size = 0;
  *problem = InputFileProblem(path, 0, most, &size);
  if (!problem->empty()) return std::nullopt;
  // Read no more than the bound, even from a file that grew since it was examined.
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  char chunk[65536];
  while (bytes.size() <= most && in.read(chunk, sizeof(chunk)).gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (bytes.size() > most) {
    *problem = "cannot read " + path.string() + ": it holds more than the " + std::to_string(most) +
               " bytes it may";
    return std::nullopt;
  }
  if (in.bad()) {
    *problem = "cannot read " + path.string();
    return std::nullopt;
  }
  return bytes;
}

std::string ReadInputFile(const JsonReader& r, const std::string& key, const fs::path& path,
                          std::uint64_t most) {
  std::string problem;
  std::optional<std::string> bytes = ReadInputFile(path, most, &problem);
  if (!bytes) r.Fail(key, problem);
  return std::move(*bytes);
}

void CheckInputFile(const JsonReader& r, const std::string& key, const fs::path& path,
                    std::uint64_t least, std::uint64_t most) {
  std::uint64_t size = 0;
  const std::string problem = InputFileProblem(path, least, most, &size);
  if (!problem.empty()) r.Fail(key, problem);
}

}  // namespace sim
