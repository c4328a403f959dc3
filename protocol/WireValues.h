// The two kinds of value inside the blocks that client and server exchange: signed 32-bit
// integers, little-endian, and 8-bit texts that end at their first zero byte or at the end of
// their part.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// A signed 32-bit little-endian value from the first four bytes of `bytes` (which must hold them).
int32_t ReadLittleEndian32(std::span<const uint8_t> bytes);

// Writes `value` little-endian into the first four bytes of `bytes` (which must hold them).
void WriteLittleEndian32(std::span<uint8_t> bytes, int32_t value);

// The text in a part: up to its first zero byte, or the whole part when it has none.
std::string ReadBoundedText(std::span<const uint8_t> part);
