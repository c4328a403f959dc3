// The layout of a message that a running job streams to the client (little-endian):
//   offset 0: signed 32-bit sender length S; offset 4: signed 32-bit text length T;
//   offset 8: S bytes of the sender's name; offset 8 + S: T bytes of the message text.
// Each part is 8-bit text that ends at its first zero byte or at the end of the part. The server
// writes each part with its zero byte, which its length counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The size of the block EncodeStreamedMessage makes for a sender and a text of these lengths.
constexpr size_t StreamedMessageSize(size_t senderLength, size_t textLength) {
    return 8 + senderLength + 1 + textLength + 1;
}

std::vector<uint8_t> EncodeStreamedMessage(std::string_view sender, std::string_view text);

// Decodes one streamed message. False, leaving `sender` and `text` unchanged, when the block is
// shorter than its header, a length is negative, or the parts reach past the end of the block;
// nothing outside the block is read.
bool DecodeStreamedMessage(std::span<const uint8_t> block, std::string &sender, std::string &text);
