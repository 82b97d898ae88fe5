// A disk captured from a real notebook (cachesetup-capture): its length, the bytes that were
// read from it, and the layout the system reported for it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// A run of bytes at an offset of the disk; everything outside the pieces reads as zeros.
struct DiskPiece {
  std::uint64_t offset = 0;
  std::string bytes;
};

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
  std::vector<DiskPiece> pieces;         // ascending, apart, inside `bytes`
  std::optional<RecordedLayout> layout;  // nullopt: the layout query failed on capture
};

// The pieces of a pieces file ("CSPIECES", version 1, then records of offset u64, length u32
// and the bytes, little-endian). On a file that is not of this form, or whose pieces overlap,
// are out of order or reach past `diskBytes`, returns nullopt and says why in *error.
std::optional<std::vector<DiskPiece>> ParsePieces(const std::string& file, std::uint64_t diskBytes,
                                                  std::string* error);

}  // namespace sim
