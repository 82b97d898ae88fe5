// The pieces file of a captured disk over arbitrary bytes: the reader accepts a file or says why
// not, never reads outside it, and what it accepts keeps the promises the disk image relies on
// (pieces in ascending order, apart, not empty, inside the disk). Seeds: the default notebook's
// SSD as `cachesetup-sim --capture` writes it, and a file of no pieces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/pieces_file.h"

namespace {

constexpr std::uint64_t kDiskBytes = 1 << 20;

[[noreturn]] void Broken(const char* what, std::size_t piece) {
  std::fprintf(stderr, "pieces_fuzz: piece %zu: %s\n", piece, what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto pieces = pieces_file::Decode(file, kDiskBytes, &error);
  if (!pieces) {
    if (error.empty()) Broken("refused without a reason", 0);
    return 0;
  }
  std::uint64_t end = 0;
  std::size_t held = pieces_file::kHeaderBytes;
  for (std::size_t i = 0; i < pieces->size(); ++i) {
    const pieces_file::Piece& p = (*pieces)[i];
    if (p.bytes.empty()) Broken("empty", i);
    if (i != 0 && p.offset < end) Broken("overlaps the one before", i);
    if (p.offset > kDiskBytes || p.bytes.size() > kDiskBytes - p.offset) Broken("past the disk", i);
    end = p.offset + p.bytes.size();
    held += pieces_file::kRecordHeadBytes + p.bytes.size();
  }
  if (held != size) Broken("the records do not add up to the file", pieces->size());
  return 0;
}
