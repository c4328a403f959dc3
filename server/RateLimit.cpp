#include "RateLimit.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <iterator>

TokenBucket::TokenBucket(double burst, double ratePerSecond)
    : burst_(burst), rate_(ratePerSecond), tokens_(burst) {}

bool TokenBucket::take(SteadyTime now) {
    if (started_) {
        double elapsed = std::chrono::duration<double>(now - last_).count();
        if (elapsed > 0)
            tokens_ = std::min(burst_, tokens_ + elapsed * rate_);
    }
    started_ = true;
    last_ = now;
    if (tokens_ < 1.0)
        return false;
    tokens_ -= 1.0;
    return true;
}

void TokenBucket::giveBack() {
    tokens_ = std::min(burst_, tokens_ + 1.0);
}

void KeyedRateLimit::giveBack(const std::string &key) {
    std::lock_guard guard(mutex_);
    if (auto it = entries_.find(key); it != entries_.end())
        it->second.bucket.giveBack();
}

KeyedRateLimit::KeyedRateLimit(double burst, double ratePerSecond, size_t maxKeys)
    : burst_(burst), rate_(ratePerSecond), maxKeys_(maxKeys) {}

bool KeyedRateLimit::take(const std::string &key, SteadyTime now) {
    std::lock_guard guard(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        // A bucket idle for as long as a full refill takes is full again: forgetting it changes
        // nothing.
        const auto refill = std::chrono::duration<double>(rate_ > 0 ? burst_ / rate_ : 1e9);
        MakeRoomForOneMore(entries_, maxKeys_, now,
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(refill));
        it = entries_.emplace(key, Entry{TokenBucket(burst_, rate_), now}).first;
    }
    it->second.last = now;
    return it->second.bucket.take(now);
}

std::string AddressKey(const std::string &ip) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, ip.c_str(), &v6) != 1)
        return ip;  // IPv4 (or no address at all)
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        return text;
    }
    std::fill(std::begin(v6.s6_addr) + 8, std::end(v6.s6_addr), uint8_t{0});
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6, text, sizeof text);
    return std::string(text) + "/64";
}
