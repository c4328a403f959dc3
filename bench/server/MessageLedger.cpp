#include "MessageLedger.h"

#include <cstdio>

std::string MessageLedger::privateText(uint64_t id) {
    return "P" + std::to_string(id >> 32) + ":" + std::to_string(id & 0xffffffffu);
}

void MessageLedger::acknowledgedPrivate(uint64_t id) {
    std::lock_guard guard(mutex_);
    private_[id] |= kAcked;
}

void MessageLedger::acknowledgedGlobal(const std::string &text) {
    std::lock_guard guard(mutex_);
    globals_[text].acked = true;
}

void MessageLedger::delivered(const std::string &text) {
    std::lock_guard guard(mutex_);
    unsigned sender = 0, count = 0;
    if (!text.empty() && text[0] == 'P' &&
        std::sscanf(text.c_str(), "P%u:%u", &sender, &count) == 2) {
        uint8_t &state = private_[(uint64_t(sender) << 32) | count];
        if (state & kDelivered)
            ++duplicates_;
        state |= kDelivered;
    } else if (!text.empty() && text[0] == 'G') {
        ++globals_[text].deliveries;
    } else {
        ++unknown_;
    }
}

uint64_t MessageLedger::outstanding(uint64_t localClients) {
    std::lock_guard guard(mutex_);
    uint64_t missing = 0;
    for (auto &[id, state] : private_)
        missing += ((state & kAcked) && !(state & kDelivered)) ? 1 : 0;
    for (auto &[text, g] : globals_)
        missing += g.deliveries < localClients ? localClients - g.deliveries : 0;
    return missing;
}

void MessageLedger::report(const std::function<void(const std::string &)> &writeLine) {
    std::lock_guard guard(mutex_);
    uint64_t sent = 0, acked = 0, delivered = 0, lost = 0, unacked = 0;
    for (auto &[id, state] : private_) {
        ++sent;
        acked += (state & kAcked) ? 1 : 0;
        delivered += (state & kDelivered) ? 1 : 0;
        lost += ((state & kAcked) && !(state & kDelivered)) ? 1 : 0;
        unacked += (!(state & kAcked) && (state & kDelivered)) ? 1 : 0;
    }
    const std::pair<const char *, uint64_t> counters[] = {
        {"sent", sent},       {"acked", acked},     {"delivered", delivered},
        {"lost", lost},       {"unacked", unacked}, {"duplicates", duplicates_},
        {"unknown", unknown_}};
    for (auto &[name, value] : counters)
        writeLine(std::string("C ") + name + " " + std::to_string(value));
    for (auto &[text, g] : globals_)
        writeLine("G " + text + " " + (g.acked ? "1 " : "0 ") + std::to_string(g.deliveries));
}
