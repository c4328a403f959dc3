// Builds the bytes of a streamed message as a server sends them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

inline std::vector<uint8_t> StreamedBlock(int32_t senderLength, int32_t textLength,
                                          const std::string &payload) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &senderLength, 4);  // the build hosts are little-endian
    std::memcpy(bytes.data() + 4, &textLength, 4);
    bytes += payload;
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
