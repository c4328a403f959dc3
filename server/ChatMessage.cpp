#include "ChatMessage.h"

ChatMessagePtr MakeChatMessage(std::string sender, std::string text, bool isPrivate) {
    auto message = std::make_shared<ChatMessage>();
    message->streamed = EncodeStreamedMessage(sender, text);
    message->sender = std::move(sender);
    message->text = std::move(text);
    message->isPrivate = isPrivate;
    return message;
}

bool Inbox::push(ChatMessagePtr message) {
    bool dropped = false;
    const size_t size = message->streamed.size();
    while (!messages_.empty() &&
           (messages_.size() >= limits_.messages || bytes_ + size > limits_.bytes)) {
        pop();
        ++dropped_;
        dropped = true;
    }
    bytes_ += size;
    messages_.push_back(std::move(message));
    return dropped;
}

void Inbox::pop() {
    bytes_ -= messages_.front()->streamed.size();
    messages_.pop_front();
}

std::vector<ChatMessagePtr> Inbox::takePrivate() {
    std::vector<ChatMessagePtr> kept;
    for (auto &m : messages_)
        if (m->isPrivate)
            kept.push_back(std::move(m));
    messages_.clear();
    bytes_ = 0;
    return kept;
}
