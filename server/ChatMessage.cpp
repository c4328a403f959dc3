#include "ChatMessage.h"

#include <cstring>

namespace {
void putInt32(std::vector<uint8_t> &out, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

std::vector<uint8_t> EncodeStreamedMessage(std::string_view sender, std::string_view text) {
    const size_t s = sender.size() + 1, t = text.size() + 1;
    std::vector<uint8_t> out(InboxBytes(sender.size(), text.size()), 0);
    putInt32(out, 0, static_cast<uint32_t>(s));
    putInt32(out, 4, static_cast<uint32_t>(t));
    if (!sender.empty())
        std::memcpy(out.data() + 8, sender.data(), sender.size());
    if (!text.empty())
        std::memcpy(out.data() + 8 + s, text.data(), text.size());
    return out;
}

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
