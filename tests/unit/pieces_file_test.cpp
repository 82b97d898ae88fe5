// The pieces file codec: what the capture writes reads back as the same pieces, and each kind
// of damage is refused with the piece and the file byte named.
#include "platform/pieces_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using pieces_file::Piece;

// One record as the file holds it.
std::string Record(std::uint64_t offset, std::uint32_t length, const std::string& bytes) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(offset >> (8 * i)));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(length >> (8 * i)));
  return out + bytes;
}

const std::string kHeader("CSPIECES\x01\x00\x00\x00", 12);

TEST(PiecesFile, WhatIsWrittenReadsBackAsTheSamePieces) {
  const std::vector<Piece> pieces = {{0, std::string("\x55\xAA", 2)},
                                     {512, std::string(1024, '\0') + "x"},
                                     {(1ull << 40) - 3, "end"}};
  const std::string file = pieces_file::Encode(pieces);
  EXPECT_EQ(file, kHeader + Record(0, 2, pieces[0].bytes) + Record(512, 1025, pieces[1].bytes) +
                      Record((1ull << 40) - 3, 3, "end"));
  std::string error;
  const auto read = pieces_file::Decode(file, 1ull << 40, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(*read, pieces);
  EXPECT_EQ(pieces_file::Decode(pieces_file::Encode({}), 512, &error)->size(), 0u);
}

TEST(PiecesFile, DamageIsRefusedNamingThePieceAndWhy) {
  const struct {
    const char* what;
    std::string file;
    const char* says;
  } cases[] = {
      {"empty", "", "is not a pieces file"},
      {"other magic", "CSPIECEZ" + kHeader.substr(8), "is not a pieces file"},
      {"version 2", kHeader.substr(0, 8) + std::string("\x02\0\0\0", 4), "is not a pieces file"},
      {"record head cut", kHeader + Record(0, 1, "a").substr(0, 11),
       "piece 1 (file byte 12) is cut"},
      {"bytes cut", kHeader + Record(0, 4, "abc"), "piece 1 (file byte 12) has a length of 4"},
      {"zero length", kHeader + Record(0, 0, ""), "has a length of 0"},
      {"overlap", kHeader + Record(0, 4, "abcd") + Record(3, 1, "e"),
       "piece 2 (file byte 28) starts at 3, before the end"},
      {"out of order", kHeader + Record(8, 1, "a") + Record(0, 1, "b"), "starts at 0, before"},
      {"past the disk", kHeader + Record(1023, 2, "ab"), "reaches past the disk's 1024 bytes"},
      {"offset past the disk", kHeader + Record(1ull << 63, 1, "a"), "reaches past"},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto read = pieces_file::Decode(c.file, 1024, &error);
    EXPECT_FALSE(read) << c.what;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
  }
}

}  // namespace
