// The throttle of password guessing, for logins and for administrator mode.
//
// Wrong passwords count per address (IPv6 by /64) and per account. An address with too many is
// refused for a while, and nothing but time lifts that: a good login never does. An account that
// is being guessed, from however many addresses, is slowed: beyond a few failures each further
// check waits a delay that doubles up to a cap, so its owner is never locked out for long. A good
// login clears that account's failures from that address only.
//
// Checking and counting are one step: a check counts as a failure from the moment it is admitted
// until its success is reported, so parallel guesses cannot run more checks than the limits allow.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "RateLimit.h"

class PasswordThrottle {
public:
    struct Limits {
        int addressFailures = 10;  // wrong passwords before the address is refused
        std::chrono::seconds addressBlock{
            60};                  // for this long; failures older than it are forgotten
        int accountFailures = 5;  // wrong passwords for an account before it is slowed
        std::chrono::seconds accountMaxDelay{30};  // the longest delay between its checks
        size_t maxEntries = 65536;                 // addresses and accounts remembered, each
    };
    explicit PasswordThrottle(Limits limits);

    enum class Admission { Check, AddressBlocked, AccountSlowed };
    // Whether a password for `account` (may be empty: the administrator password) may be checked
    // now for `address`. Check counts as a failure until finish() reports otherwise.
    Admission admit(const std::string &address, const std::string &account, SteadyTime now);
    // True while the address is refused, without counting anything.
    bool blocked(const std::string &address, SteadyTime now);

    enum class Outcome { Right, Wrong, NotChecked };
    // The outcome of an admitted check (NotChecked: it was given up before the password was
    // compared). True when the address became refused by this failure.
    bool finish(const std::string &address, const std::string &account, Outcome outcome,
                SteadyTime now);

private:
    struct AddressEntry {
        int failures = 0;  // wrong passwords, admitted checks included
        SteadyTime last{};
        SteadyTime blockedUntil{};
    };
    struct AccountEntry {
        std::map<std::string, int> failuresByAddress;
        int failures = 0;  // their sum
        int pending = 0;   // checks admitted and not finished
        SteadyTime last{};
    };
    std::chrono::steady_clock::duration accountDelay(const AccountEntry &entry) const;
    // How long an entry stays idle before it is forgotten when room is needed.
    std::chrono::steady_clock::duration forgotten() const;

    std::mutex mutex_;
    Limits limits_;
    std::unordered_map<std::string, AddressEntry> addresses_;
    std::unordered_map<std::string, AccountEntry> accounts_;
};
