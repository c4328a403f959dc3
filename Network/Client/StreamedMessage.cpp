#include "Network/Client/StreamedMessage.h"

#include <algorithm>

namespace {
constexpr size_t HeaderSize = 8;
}

int32_t ReadLittleEndian32(std::span<const uint8_t> bytes) {
    const uint32_t value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                           uint32_t{bytes[3]} << 24;
    return static_cast<int32_t>(value);
}

std::string ReadBoundedText(std::span<const uint8_t> part) {
    const auto end = std::find(part.begin(), part.end(), uint8_t{0});
    return std::string(part.begin(), end);
}

bool DecodeStreamedMessage(std::span<const uint8_t> block, IncomingMessage &message) {
    if (block.size() < HeaderSize)
        return false;
    const int32_t senderLength = ReadLittleEndian32(block.subspan(0, 4));
    const int32_t textLength = ReadLittleEndian32(block.subspan(4, 4));
    if (senderLength < 0 || textLength < 0)
        return false;
    // In 64 bits, two 31-bit lengths and the header cannot overflow.
    const uint64_t needed = HeaderSize + uint64_t(senderLength) + uint64_t(textLength);
    if (needed > block.size())
        return false;
    const auto sender = block.subspan(HeaderSize, size_t(senderLength));
    const auto text = block.subspan(HeaderSize + size_t(senderLength), size_t(textLength));
    message.Sender = ReadBoundedText(sender);
    message.Text = ReadBoundedText(text);
    return true;
}
