// The pieces file of a captured disk (diskN.pieces): the bytes the capture read from a drive,
// as pieces at their offsets. The capture writes it, the simulator reads it back. The 8 bytes
// "CSPIECES", the version 1 as a u32, then to the end of the file one record per piece: its
// offset (u64), its length (u32, at least 1) and that many bytes; numbers little-endian, pieces
// ascending and apart. Plain bytes only, so that both the capture and the simulator's lowest
// layer can include it; header-only, so that it links into either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace pieces_file {

inline constexpr char kMagic[] = "CSPIECES";
inline constexpr std::size_t kMagicBytes = 8;
inline constexpr std::size_t kVersionAt = 8;  // u32
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderBytes = 12;
// Each record, from its start.
inline constexpr std::size_t kRecordOffset = 0;  // u64
inline constexpr std::size_t kRecordLength = 8;  // u32
inline constexpr std::size_t kRecordHeadBytes = 12;

// A run of bytes at an offset of the disk; everything outside the pieces reads as zeros.
struct Piece {
  std::uint64_t offset = 0;
  std::string bytes;
  friend bool operator==(const Piece&, const Piece&) = default;
};

// The file for `pieces`, which the caller gives ascending, apart and not empty. A piece longer
// than a record's length can say goes into several records.
inline std::string Encode(const std::vector<Piece>& pieces) {
  constexpr std::size_t kLongest = 0xFFFFFFFFu;
  std::uint8_t head[kHeaderBytes] = {};
  bytes::WriteBytes(head, 0, kMagic, kMagicBytes);
  bytes::WriteU32(head, kVersionAt, kVersion);
  std::string out(reinterpret_cast<const char*>(head), kHeaderBytes);
  for (const Piece& piece : pieces) {
    for (std::size_t done = 0; done < piece.bytes.size();) {
      const std::size_t length =
          piece.bytes.size() - done < kLongest ? piece.bytes.size() - done : kLongest;
      std::uint8_t record[kRecordHeadBytes] = {};
      bytes::WriteU64(record, kRecordOffset, piece.offset + done);
      bytes::WriteU32(record, kRecordLength, static_cast<std::uint32_t>(length));
      out.append(reinterpret_cast<const char*>(record), kRecordHeadBytes);
      out.append(piece.bytes, done, length);
      done += length;
    }
  }
  return out;
}

// The pieces of `file` on a disk of `diskBytes`. A file not of this form, or whose pieces are
// empty, overlap, are out of order or reach past the disk, gives nullopt and *error says why
// (naming the piece and its byte in the file).
inline std::optional<std::vector<Piece>> Decode(std::string_view file, std::uint64_t diskBytes,
                                                std::string* error) {
  const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(file.data()),
                                           file.size());
  std::uint32_t version = 0;
  if (!bytes::Equals(data, 0, kMagic, kMagicBytes) || !bytes::ReadU32(data, kVersionAt, &version) ||
      version != kVersion) {
    *error = "is not a pieces file (it starts with \"CSPIECES\" and version 1)";
    return std::nullopt;
  }
  std::vector<Piece> pieces;
  std::uint64_t end = 0;  // of the piece before
  for (std::size_t at = kHeaderBytes; at < data.size();) {
    const std::string where =
        "piece " + std::to_string(pieces.size() + 1) + " (file byte " + std::to_string(at) + ")";
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    if (!bytes::ReadU64(data, at + kRecordOffset, &offset) ||
        !bytes::ReadU32(data, at + kRecordLength, &length)) {
      *error = where + " is cut short";
      return std::nullopt;
    }
    if (length == 0 || !bytes::InRange(data.size(), at + kRecordHeadBytes, length)) {
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
    pieces.push_back(Piece{offset, std::string(file.substr(at + kRecordHeadBytes, length))});
    end = offset + length;
    at += kRecordHeadBytes + length;
  }
  return pieces;
}

}  // namespace pieces_file
