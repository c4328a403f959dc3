// Flood control for senders and a throttle for addresses that guess passwords.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

using SteadyTime = std::chrono::steady_clock::time_point;

// A token bucket: `burst` tokens at most, refilled at `ratePerSecond`. Not locked: its owner
// (a session) guards it.
class TokenBucket {
public:
    TokenBucket(double burst, double ratePerSecond);
    // Takes a token when one is there.
    bool take(SteadyTime now);

private:
    double burst_, rate_, tokens_;
    SteadyTime last_{};
    bool started_ = false;
};

// Counts failures per address: after `maxFailures` in a row the address is refused for
// `block`. A success clears the count. Remembers at most `maxAddresses` addresses.
class FailureThrottle {
public:
    FailureThrottle(int maxFailures, std::chrono::seconds block, size_t maxAddresses = 65536);

    bool blocked(const std::string &address, SteadyTime now);
    // Records a failure; true when the address is now refused.
    bool fail(const std::string &address, SteadyTime now);
    void succeed(const std::string &address);

private:
    struct Entry {
        int failures = 0;
        SteadyTime last{};
        SteadyTime blockedUntil{};
    };
    void makeRoom(SteadyTime now);

    std::mutex mutex_;
    int maxFailures_;
    std::chrono::seconds block_;
    size_t maxAddresses_;
    std::unordered_map<std::string, Entry> entries_;
};
