#include "PasswordThrottle.h"

#include <algorithm>

PasswordThrottle::PasswordThrottle(Limits limits) : limits_(limits) {}

std::chrono::steady_clock::duration PasswordThrottle::forgotten() const {
    return std::max<std::chrono::steady_clock::duration>(limits_.addressBlock,
                                                         10 * limits_.accountMaxDelay);
}

std::chrono::steady_clock::duration PasswordThrottle::accountDelay(const AccountEntry &e) const {
    const int over = e.failures - limits_.accountFailures;
    if (over < 0)
        return {};
    // 1 s, 2 s, 4 s, ... up to the cap.
    const auto delay = std::chrono::seconds(int64_t{1} << std::min(over, 30));
    return std::min<std::chrono::steady_clock::duration>(delay, limits_.accountMaxDelay);
}

PasswordThrottle::Admission PasswordThrottle::admit(const std::string &address,
                                                    const std::string &account, SteadyTime now) {
    const std::string key = AddressKey(address);
    std::lock_guard guard(mutex_);
    auto a = addresses_.find(key);
    if (a != addresses_.end()) {
        AddressEntry &e = a->second;
        if (now < e.blockedUntil)
            return Admission::AddressBlocked;
        // Failures long ago, or before a block that has run out, are forgotten.
        if (now - e.last > limits_.addressBlock || e.blockedUntil != SteadyTime{}) {
            e.failures = 0;
            e.blockedUntil = {};
        }
        if (e.failures >= limits_.addressFailures)
            return Admission::AddressBlocked;  // the checks in flight would reach the limit
    }
    AccountEntry *slowed = nullptr;
    if (!account.empty()) {
        auto it = accounts_.find(account);
        if (it != accounts_.end()) {
            AccountEntry &e = it->second;
            if (e.pending == 0 && now - e.last > 10 * limits_.accountMaxDelay) {
                e.failuresByAddress.clear();
                e.failures = 0;
            }
            // Beyond the free failures: one check at a time, each after the delay.
            if (e.failures >= limits_.accountFailures &&
                (e.pending > 0 || now < e.last + accountDelay(e)))
                return Admission::AccountSlowed;
            slowed = &e;
        }
    }
    if (a == addresses_.end()) {
        MakeRoomForOneMore(addresses_, limits_.maxEntries, now, forgotten());
        a = addresses_.emplace(key, AddressEntry{}).first;
    }
    ++a->second.failures;
    a->second.last = now;
    if (!account.empty()) {
        if (slowed == nullptr) {
            MakeRoomForOneMore(accounts_, limits_.maxEntries, now, forgotten());
            slowed = &accounts_[account];
        }
        ++slowed->failures;
        ++slowed->failuresByAddress[key];
        ++slowed->pending;
        slowed->last = now;
    }
    return Admission::Check;
}

bool PasswordThrottle::blocked(const std::string &address, SteadyTime now) {
    std::lock_guard guard(mutex_);
    auto a = addresses_.find(AddressKey(address));
    return a != addresses_.end() && now < a->second.blockedUntil;
}

bool PasswordThrottle::finish(const std::string &address, const std::string &account,
                              Outcome outcome, SteadyTime now) {
    const bool succeeded = outcome != Outcome::Wrong;
    const std::string key = AddressKey(address);
    std::lock_guard guard(mutex_);
    bool blockedNow = false;
    if (auto a = addresses_.find(key); a != addresses_.end()) {
        AddressEntry &e = a->second;
        if (succeeded) {
            e.failures = std::max(0, e.failures - 1);  // only this check was no failure
        } else if (e.failures >= limits_.addressFailures && e.blockedUntil == SteadyTime{}) {
            e.blockedUntil = now + limits_.addressBlock;
            blockedNow = true;
        }
        e.last = now;
    }
    if (!account.empty()) {
        if (auto it = accounts_.find(account); it != accounts_.end()) {
            AccountEntry &e = it->second;
            e.pending = std::max(0, e.pending - 1);
            if (outcome == Outcome::NotChecked) {
                if (auto f = e.failuresByAddress.find(key); f != e.failuresByAddress.end()) {
                    --e.failures;
                    if (--f->second <= 0)
                        e.failuresByAddress.erase(f);
                }
            } else if (succeeded) {
                // The owner proved the password from here: this address's failures go, others'
                // stay.
                if (auto f = e.failuresByAddress.find(key); f != e.failuresByAddress.end()) {
                    e.failures -= f->second;
                    e.failuresByAddress.erase(f);
                }
                if (e.failures <= 0 && e.pending == 0)
                    accounts_.erase(it);
            } else {
                e.last = now;
            }
        }
    }
    return blockedNow;
}
