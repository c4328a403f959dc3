#include "protocol/WireValues.h"

#include <algorithm>

int32_t ReadLittleEndian32(std::span<const uint8_t> bytes) {
    const uint32_t value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                           uint32_t{bytes[3]} << 24;
    return static_cast<int32_t>(value);
}

void WriteLittleEndian32(std::span<uint8_t> bytes, int32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

std::string ReadBoundedText(std::span<const uint8_t> part) {
    const auto end = std::find(part.begin(), part.end(), uint8_t{0});
    return std::string(part.begin(), end);
}
