// A chat message on its way to one or many inboxes, already laid out as it is streamed.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/StreamedMessage.h"

constexpr size_t kMaxMessageLength = 4096;

struct ChatMessage {
    std::string sender;
    std::string text;
    bool isPrivate = false;         // private messages are kept in the store when undelivered
    std::vector<uint8_t> streamed;  // the layout of EncodeStreamedMessage
};

using ChatMessagePtr = std::shared_ptr<const ChatMessage>;

ChatMessagePtr MakeChatMessage(std::string sender, std::string text, bool isPrivate);

struct InboxLimits {
    size_t messages = 10000;
    size_t bytes = 4u << 20;  // counted as streamed; at least one message of the largest size
};

// The bytes a message takes in an inbox: its streamed block.
inline size_t InboxBytes(size_t senderLength, size_t textLength) {
    return StreamedMessageSize(senderLength, textLength);
}

// A bounded queue of messages, oldest first. When full, a new message pushes out the oldest.
// Not locked: its session guards it.
class Inbox {
public:
    explicit Inbox(InboxLimits limits) : limits_(limits) {}

    // Adds the message; true when older ones had to be dropped for it.
    bool push(ChatMessagePtr message);
    const ChatMessagePtr &front() const { return messages_.front(); }
    void pop();
    bool empty() const { return messages_.empty(); }
    size_t size() const { return messages_.size(); }
    // How many more messages, and how many more bytes, fit without dropping any.
    size_t room() const { return limits_.messages - messages_.size(); }
    size_t byteRoom() const { return limits_.bytes - bytes_; }
    uint64_t dropped() const { return dropped_; }
    // Empties the inbox and returns its private messages, oldest first.
    std::vector<ChatMessagePtr> takePrivate();

private:
    InboxLimits limits_;
    std::deque<ChatMessagePtr> messages_;
    size_t bytes_ = 0;
    uint64_t dropped_ = 0;
};
