// Allowances: token buckets, alone or by key, and the key of an address.
#pragma once

#include <algorithm>
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
    // Gives back a token taken for work that was not done after all.
    void giveBack();

private:
    double burst_, rate_, tokens_;
    SteadyTime last_{};
    bool started_ = false;
};

// Token buckets by key (an account, an address): the allowance belongs to the key, not to a
// connection, so that reconnecting or opening more connections does not refill it. Remembers at
// most `maxKeys` keys; keys whose bucket has refilled are forgotten first. Locked.
class KeyedRateLimit {
public:
    KeyedRateLimit(double burst, double ratePerSecond, size_t maxKeys = 65536);
    // Takes a token of the key's bucket when one is there.
    bool take(const std::string &key, SteadyTime now);
    // Gives back a token that take() gave for work that was not done after all.
    void giveBack(const std::string &key);

private:
    struct Entry {
        TokenBucket bucket;
        SteadyTime last;
    };

    std::mutex mutex_;
    double burst_, rate_;
    size_t maxKeys_;
    std::unordered_map<std::string, Entry> entries_;
};

// Makes room for one more entry in a map of entries that remember when they were `last` used:
// once it holds `maxEntries`, those idle for longer than `forgotten` go, and if none is, the one
// idle longest.
template <class Map>
void MakeRoomForOneMore(Map &map, size_t maxEntries, SteadyTime now,
                        std::chrono::steady_clock::duration forgotten) {
    if (map.size() < maxEntries)
        return;
    std::erase_if(map, [&](const auto &item) { return now - item.second.last > forgotten; });
    if (map.size() < maxEntries)
        return;
    auto oldest = std::min_element(map.begin(), map.end(), [](const auto &x, const auto &y) {
        return x.second.last < y.second.last;
    });
    map.erase(oldest);
}

// The key under which an address is limited: an IPv4 address as it is (also when written as an
// IPv4-mapped IPv6 address), an IPv6 address by its /64 network, since one host commonly holds a
// whole /64. Text that is no address is its own key.
std::string AddressKey(const std::string &ip);
