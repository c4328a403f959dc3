#include "protocol/StreamedMessage.h"

#include <cstring>

#include "protocol/WireValues.h"

namespace {
constexpr size_t HeaderSize = 8;
}

std::vector<uint8_t> EncodeStreamedMessage(std::string_view sender, std::string_view text) {
    const size_t s = sender.size() + 1, t = text.size() + 1;
    std::vector<uint8_t> out(StreamedMessageSize(sender.size(), text.size()), 0);
    WriteLittleEndian32(std::span(out).subspan(0, 4), static_cast<int32_t>(s));
    WriteLittleEndian32(std::span(out).subspan(4, 4), static_cast<int32_t>(t));
    if (!sender.empty())
        std::memcpy(out.data() + HeaderSize, sender.data(), sender.size());
    if (!text.empty())
        std::memcpy(out.data() + HeaderSize + s, text.data(), text.size());
    return out;
}

bool DecodeStreamedMessage(std::span<const uint8_t> block, std::string &sender, std::string &text) {
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
    sender = ReadBoundedText(block.subspan(HeaderSize, size_t(senderLength)));
    text = ReadBoundedText(block.subspan(HeaderSize + size_t(senderLength), size_t(textLength)));
    return true;
}
