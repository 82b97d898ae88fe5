#include "sim/core/captured_disk.h"

namespace sim {

namespace {

std::uint64_t Le(const std::string& file, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(file[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

}  // namespace

std::optional<std::vector<DiskPiece>> ParsePieces(const std::string& file, std::uint64_t diskBytes,
                                                  std::string* error) {
  constexpr std::size_t kHeader = 12, kRecordHead = 12;
  if (file.size() < kHeader || file.compare(0, 8, "CSPIECES") != 0 || Le(file, 8, 4) != 1) {
    *error = "is not a pieces file (it starts with \"CSPIECES\" and version 1)";
    return std::nullopt;
  }
  std::vector<DiskPiece> pieces;
  std::uint64_t end = 0;  // of the previous piece
  for (std::size_t at = kHeader; at < file.size();) {
    const std::string where =
        "piece " + std::to_string(pieces.size() + 1) + " (file byte " + std::to_string(at) + ")";
    if (file.size() - at < kRecordHead) {
      *error = where + " is cut short";
      return std::nullopt;
    }
    const std::uint64_t offset = Le(file, at, 8);
    const std::uint64_t length = Le(file, at + 8, 4);
    if (length == 0 || length > file.size() - at - kRecordHead) {
      *error =
          where + " has a length of " + std::to_string(length) + " that the file does not hold";
      return std::nullopt;
    }
    if (!pieces.empty() && offset < end) {
      *error =
          where + " starts at " + std::to_string(offset) + ", before the end of the one before";
      return std::nullopt;
    }
    if (offset > diskBytes || length > diskBytes - offset) {
      *error = where + " reaches past the disk's " + std::to_string(diskBytes) + " bytes";
      return std::nullopt;
    }
    pieces.push_back(DiskPiece{offset, file.substr(at + kRecordHead, length)});
    end = offset + length;
    at += kRecordHead + length;
  }
  return pieces;
}

}  // namespace sim
