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

// Token buckets by key (an account, an address): the allowance belongs to the key, not to a
// connection, so that reconnecting or opening more connections does not refill it. Remembers at
// most `maxKeys` keys; keys whose bucket has refilled are forgotten first. Locked.
class KeyedRateLimit {
public:
    KeyedRateLimit(double burst, double ratePerSecond, size_t maxKeys = 65536);
    // Takes a token of the key's bucket when one is there.
    bool take(const std::string &key, SteadyTime now);

private:
    struct Entry {
        TokenBucket bucket;
        SteadyTime last;
    };
    void makeRoom(SteadyTime now);

    std::mutex mutex_;
    double burst_, rate_;
    size_t maxKeys_;
    std::unordered_map<std::string, Entry> entries_;
};

// The key under which an address is limited: an IPv4 address as it is (also when written as an
// IPv4-mapped IPv6 address), an IPv6 address by its /64 network, since one host commonly holds a
// whole /64. Text that is no address is its own key.
std::string AddressKey(const std::string &ip);
