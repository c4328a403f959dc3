#include "ChatMessage.h"

#include <utility>

ChatMessagePtr MakeChatMessage(std::string sender, std::string text, int64_t storeId) {
    auto message = std::make_shared<ChatMessage>();
    message->id = storeId;
    message->streamed = EncodeStreamedMessage(sender, text);
    message->sender = std::move(sender);
    message->text = std::move(text);
    return message;
}

bool Inbox::fits(const ChatMessage &message) const {
    return messages_.size() < limits_.messages && bytes_ + message.streamed.size() <= limits_.bytes;
}

void Inbox::push(ChatMessagePtr message) {
    bytes_ += message->streamed.size();
    messages_.push_back(std::move(message));
}

bool Inbox::offerPrivate(ChatMessagePtr message) {
    if (message->id <= windowEnd_)
        return true;  // read from the store already
    if (storeAhead_)
        return false;  // behind older ones, which come first
    if (!fits(*message)) {
        storeAhead_ = true;
        return false;
    }
    windowEnd_ = message->id;
    push(std::move(message));
    return true;
}

bool Inbox::pushGlobal(ChatMessagePtr message) {
    if (!fits(*message)) {
        ++dropped_;
        return false;
    }
    push(std::move(message));
    return true;
}

void Inbox::fill(std::vector<ChatMessagePtr> messages, bool complete) {
    for (ChatMessagePtr &m : messages) {
        windowEnd_ = m->id;
        push(std::move(m));
    }
    storeAhead_ = !complete;
}

void Inbox::popStreamed() {
    const ChatMessagePtr &m = messages_.front();
    if (m->isPrivate())
        streamed_.push_back(m->id);
    bytes_ -= m->streamed.size();
    messages_.pop_front();
}

std::vector<int64_t> Inbox::takeStreamed() {
    return std::exchange(streamed_, {});
}

void Inbox::reset() {
    messages_.clear();
    bytes_ = 0;
    windowEnd_ = 0;
    storeAhead_ = true;
    streamed_.clear();
    removal_ = 0;
}
