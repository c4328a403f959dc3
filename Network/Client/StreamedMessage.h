// The layout of a message that a running job streams to the client (little-endian):
//   offset 0: signed 32-bit sender length S; offset 4: signed 32-bit text length T;
//   offset 8: S bytes of the sender's name; offset 8 + S: T bytes of the message text.
// Each part is 8-bit text that ends at its first zero byte or at the end of the part.
#pragma once

#include "Network/Common/IncomingMessage.h"

#include <cstdint>
#include <span>
#include <string>

// Decodes one streamed message. False, leaving `message` unchanged, when the block is shorter than
// its header, a length is negative, or the parts reach past the end of the block; nothing outside
// the block is read.
bool DecodeStreamedMessage(std::span<const uint8_t> block, IncomingMessage &message);

// The text in a part: up to its first zero byte, or the whole part when it has none.
std::string ReadBoundedText(std::span<const uint8_t> part);

// A signed 32-bit little-endian value from the first four bytes of `bytes` (which must hold them).
int32_t ReadLittleEndian32(std::span<const uint8_t> bytes);
