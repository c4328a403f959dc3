// A chat message on its way to one or many inboxes, already laid out as it is streamed.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kMaxMessageLength = 4096;

struct ChatMessage {
    std::string sender;
    std::string text;
    bool isPrivate = false;         // private messages are kept in the store when undelivered
    std::vector<uint8_t> streamed;  // the layout of EncodeStreamedMessage
};

using ChatMessagePtr = std::shared_ptr<const ChatMessage>;

ChatMessagePtr MakeChatMessage(std::string sender, std::string text, bool isPrivate);

// The block of one streamed message, integers little-endian: sender length S (int32), text length
// T (int32), S bytes of sender, T bytes of text. Each part ends with its zero byte, which its
// length counts.
std::vector<uint8_t> EncodeStreamedMessage(std::string_view sender, std::string_view text);

// A bounded queue of messages, oldest first. When full, a new message pushes out the oldest.
// Not locked: its session guards it.
class Inbox {
public:
    explicit Inbox(size_t limit) : limit_(limit) {}

    // Adds the message; true when the oldest one had to be dropped for it.
    bool push(ChatMessagePtr message);
    const ChatMessagePtr &front() const { return messages_.front(); }
    void pop() { messages_.pop_front(); }
    bool empty() const { return messages_.empty(); }
    size_t size() const { return messages_.size(); }
    size_t limit() const { return limit_; }
    size_t room() const { return limit_ - messages_.size(); }
    uint64_t dropped() const { return dropped_; }
    // Empties the inbox and returns its private messages, oldest first.
    std::vector<ChatMessagePtr> takePrivate();

private:
    size_t limit_;
    std::deque<ChatMessagePtr> messages_;
    uint64_t dropped_ = 0;
};
