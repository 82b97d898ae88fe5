// A disk captured from a real notebook (cachesetup-capture): its length, the bytes that were
// read from it, and the layout the system reported for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/pieces_file.h"

namespace sim {

// A run of bytes at an offset of the disk; everything outside the pieces reads as zeros.
using DiskPiece = pieces_file::Piece;

// One partition entry of the recorded layout. `type` is "0xNN" (MBR) or a GUID (GPT);
// `recognised` is given for MBR entries only.
struct RecordedEntry {
  std::uint32_t number = 0;
  std::uint64_t start = 0, length = 0;
  std::string type;
  std::optional<bool> recognised;
};

struct RecordedLayout {
  std::string style;  // "mbr", "gpt" or "raw"
  std::vector<RecordedEntry> entries;
};

struct CapturedDisk {
  std::uint64_t bytes = 0;
  std::filesystem::path pieces_file;
  std::vector<DiskPiece> pieces;         // ascending, apart, inside `bytes` (pieces_file.h)
  std::optional<RecordedLayout> layout;  // nullopt: the layout query failed on capture
};

}  // namespace sim
