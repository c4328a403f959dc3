// A message received from the server while a message-fetching job runs.
#pragma once

#include <cstddef>
#include <string>

struct IncomingMessage {
    std::string Text;    // 8-bit text, up to the first zero byte of its part; empty for none
    std::string Sender;  // likewise, the sender's user name
};

// What one queued message counts against the queue's byte bound: its record and its two texts.
inline size_t QueuedMessageBytes(const IncomingMessage &message) {
    return sizeof(IncomingMessage) + message.Text.size() + message.Sender.size();
}
