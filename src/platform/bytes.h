// Little-endian reads and writes on byte buffers, always bounds-checked. Every byte the
// product parses from a disk, a device or a file goes through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace bytes {

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
inline bool InRange(std::size_t size, std::size_t offset, std::size_t length) {
  return offset <= size && length <= size - offset;
}

// Reads return false and leave *value untouched when the field lies outside the buffer.
inline bool ReadU8(std::span<const std::uint8_t> buf, std::size_t offset, std::uint8_t* value) {
  if (!InRange(buf.size(), offset, 1)) return false;
  *value = buf[offset];
  return true;
}
inline bool ReadU16(std::span<const std::uint8_t> buf, std::size_t offset, std::uint16_t* value) {
  if (!InRange(buf.size(), offset, 2)) return false;
  *value = static_cast<std::uint16_t>(buf[offset] | (buf[offset + 1] << 8));
  return true;
}
inline bool ReadU32(std::span<const std::uint8_t> buf, std::size_t offset, std::uint32_t* value) {
  if (!InRange(buf.size(), offset, 4)) return false;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | buf[offset + static_cast<std::size_t>(i)];
  *value = v;
  return true;
}
inline bool ReadU64(std::span<const std::uint8_t> buf, std::size_t offset, std::uint64_t* value) {
  if (!InRange(buf.size(), offset, 8)) return false;
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | buf[offset + static_cast<std::size_t>(i)];
  *value = v;
  return true;
}

// Convenience forms that give 0 for a field outside the buffer.
inline std::uint16_t U16(std::span<const std::uint8_t> buf, std::size_t offset) {
  std::uint16_t v = 0;
  ReadU16(buf, offset, &v);
  return v;
}
inline std::uint32_t U32(std::span<const std::uint8_t> buf, std::size_t offset) {
  std::uint32_t v = 0;
  ReadU32(buf, offset, &v);
  return v;
}
inline std::uint64_t U64(std::span<const std::uint8_t> buf, std::size_t offset) {
  std::uint64_t v = 0;
  ReadU64(buf, offset, &v);
  return v;
}

// Writes return false and write nothing when the field lies outside the buffer.
inline bool WriteU8(std::span<std::uint8_t> buf, std::size_t offset, std::uint8_t value) {
  if (!InRange(buf.size(), offset, 1)) return false;
  buf[offset] = value;
  return true;
}
inline bool WriteU16(std::span<std::uint8_t> buf, std::size_t offset, std::uint16_t value) {
  if (!InRange(buf.size(), offset, 2)) return false;
  buf[offset] = static_cast<std::uint8_t>(value);
  buf[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  return true;
}
inline bool WriteU32(std::span<std::uint8_t> buf, std::size_t offset, std::uint32_t value) {
  if (!InRange(buf.size(), offset, 4)) return false;
  for (std::size_t i = 0; i < 4; ++i) buf[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return true;
}
inline bool WriteU64(std::span<std::uint8_t> buf, std::size_t offset, std::uint64_t value) {
  if (!InRange(buf.size(), offset, 8)) return false;
  for (std::size_t i = 0; i < 8; ++i) buf[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return true;
}
inline bool WriteBytes(std::span<std::uint8_t> buf, std::size_t offset, const void* data,
                       std::size_t length) {
  if (!InRange(buf.size(), offset, length)) return false;
  if (length != 0) std::memcpy(buf.data() + offset, data, length);
  return true;
}
// True when the bytes at offset equal `text` (without its terminator).
inline bool Equals(std::span<const std::uint8_t> buf, std::size_t offset, const char* text,
                   std::size_t length) {
  return InRange(buf.size(), offset, length) && std::memcmp(buf.data() + offset, text, length) == 0;
}

}  // namespace bytes
