// A chat message on its way to one or many inboxes, already laid out as it is streamed, and the
// inbox of a logged-in user.
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
    int64_t id = 0;  // a private message's id in the store; 0 for a global message
    std::string sender;
    std::string text;
    std::vector<uint8_t> streamed;  // the layout of EncodeStreamedMessage

    bool isPrivate() const { return id != 0; }
};

using ChatMessagePtr = std::shared_ptr<const ChatMessage>;

// `storeId` 0 makes a global message.
ChatMessagePtr MakeChatMessage(std::string sender, std::string text, int64_t storeId);

struct InboxLimits {
    size_t messages = 10000;
    size_t bytes = 4u << 20;  // counted as streamed; at least one message of the largest size
};

// The bytes a message takes in an inbox: its streamed block.
inline size_t InboxBytes(size_t senderLength, size_t textLength) {
    return StreamedMessageSize(senderLength, textLength);
}

// The messages waiting for one logged-in user, oldest first, within bounds.
//
// Private messages stay in the store until the user has certainly received them; the inbox is a
// window over them: it holds the oldest of them in the store's order, and when it is full the
// newer ones wait in the store (storeAhead) until there is room again. Messages it streamed are
// remembered until the user's next job proves that they arrived. Global messages live only here:
// one that finds the inbox full is dropped, and counted.
//
// Not locked: its session guards it.
class Inbox {
public:
    explicit Inbox(InboxLimits limits) : limits_(limits) {}

    // A private message that was just committed to the store. Returns false when it only waits
    // in the store: the inbox is full, or older messages already wait there.
    bool offerPrivate(ChatMessagePtr message);
    // False when the message was dropped for want of room.
    bool pushGlobal(ChatMessagePtr message);

    // Private messages may wait in the store beyond those held here, after windowEnd().
    bool storeAhead() const { return storeAhead_; }
    // Messages were committed to the store that this inbox has not been offered.
    void markStoreAhead() { storeAhead_ = true; }
    int64_t windowEnd() const { return windowEnd_; }
    // Adds what was read from the store after windowEnd(); `complete` when nothing more waits.
    void fill(std::vector<ChatMessagePtr> messages, bool complete);

    const ChatMessagePtr &front() const { return messages_.front(); }
    // Removes the front message, which was streamed; a private one is remembered until proven.
    void popStreamed();
    // The ids of the private messages streamed since the last call.
    std::vector<int64_t> takeStreamed();
    // The writer's ticket of the last removal of streamed messages: a later stream waits for it.
    uint64_t removal() const { return removal_; }
    void setRemoval(uint64_t ticket) { removal_ = ticket; }

    bool empty() const { return messages_.empty(); }
    size_t size() const { return messages_.size(); }
    // How many more messages, and how many more bytes, fit.
    size_t room() const { return limits_.messages - messages_.size(); }
    size_t byteRoom() const { return limits_.bytes - bytes_; }
    uint64_t dropped() const { return dropped_; }

    // Forgets everything, as at a logout: the private messages are still in the store, and all
    // of them count as waiting there.
    void reset();

private:
    bool fits(const ChatMessage &message) const;
    void push(ChatMessagePtr message);

    InboxLimits limits_;
    std::deque<ChatMessagePtr> messages_;
    size_t bytes_ = 0;
    uint64_t dropped_ = 0;
    int64_t windowEnd_ = 0;
    bool storeAhead_ = true;
    std::vector<int64_t> streamed_;
    uint64_t removal_ = 0;
};
