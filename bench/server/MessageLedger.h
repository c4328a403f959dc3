// What happened to every message a load worker's clients sent: acknowledged by the server,
// delivered to a recipient, delivered twice. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

class MessageLedger {
public:
    // The text of private message `id`, which the ledger recognises when it is delivered.
    static std::string privateText(uint64_t id);

    void acknowledgedPrivate(uint64_t id);
    void acknowledgedGlobal(const std::string &text);
    // A streamed message's text arrived at one of the clients.
    void delivered(const std::string &text);

    // Messages acknowledged by the server that have not yet reached every recipient among
    // `localClients` (each global message is for all of them).
    uint64_t outstanding(uint64_t localClients);

    // Writes the figures as "C name value" and "G text acked deliveries" lines.
    void report(const std::function<void(const std::string &)> &writeLine);

private:
    enum : uint8_t { kAcked = 1, kDelivered = 2 };
    struct Global {
        bool acked = false;
        uint64_t deliveries = 0;
    };
    std::mutex mutex_;
    std::unordered_map<uint64_t, uint8_t> private_;  // by id: sender index << 32 | count
    std::map<std::string, Global> globals_;          // by text
    uint64_t duplicates_ = 0, unknown_ = 0;
};
