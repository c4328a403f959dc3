#include "RateLimit.h"

#include <algorithm>

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

FailureThrottle::FailureThrottle(int maxFailures, std::chrono::seconds block, size_t maxAddresses)
    : maxFailures_(maxFailures), block_(block), maxAddresses_(maxAddresses) {}

bool FailureThrottle::blocked(const std::string &address, SteadyTime now) {
    std::lock_guard guard(mutex_);
    auto it = entries_.find(address);
    return it != entries_.end() && now < it->second.blockedUntil;
}

bool FailureThrottle::fail(const std::string &address, SteadyTime now) {
    std::lock_guard guard(mutex_);
    auto it = entries_.find(address);
    if (it == entries_.end()) {
        makeRoom(now);
        it = entries_.emplace(address, Entry{}).first;
    }
    Entry &e = it->second;
    // Failures long ago, or before a block that has run out, start a new count.
    if (now - e.last > block_ || (e.failures >= maxFailures_ && now >= e.blockedUntil))
        e.failures = 0;
    e.last = now;
    if (++e.failures >= maxFailures_) {
        e.blockedUntil = now + block_;
        return true;
    }
    return false;
}

void FailureThrottle::succeed(const std::string &address) {
    std::lock_guard guard(mutex_);
    entries_.erase(address);
}

void FailureThrottle::makeRoom(SteadyTime now) {
    if (entries_.size() < maxAddresses_)
        return;
    std::erase_if(entries_, [&](const auto &item) {
        return now >= item.second.blockedUntil && now - item.second.last > block_;
    });
    if (entries_.size() < maxAddresses_)
        return;
    // Still full of recent failures: forget the address that failed longest ago.
    auto oldest = std::min_element(
        entries_.begin(), entries_.end(),
        [](const auto &a, const auto &b) { return a.second.last < b.second.last; });
    entries_.erase(oldest);
}
