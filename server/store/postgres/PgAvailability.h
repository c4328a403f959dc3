// Whether the PostgreSQL server answers, as this process last saw it. A failed connect, or a
// connection lost during a statement, marks it down; while it is down every use of the store is
// refused at once rather than left waiting for a connection that cannot come, and a thread of
// its own connects again after a growing pause (0.5 s, doubling up to 5 s) until it answers.
// The log gets one line when an outage starts, at most one every 10 s while it lasts, and one
// with the count of refused uses when it ends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class PgAvailability {
public:
    // `name`: the store, for the log. `probe` connects once and throws when it cannot; it runs on
    // the availability's thread. `wentDown` runs (with no lock held) when an outage starts, so
    // that whoever waits for a connection can give up.
    PgAvailability(std::string name, std::function<void()> probe, std::function<void()> wentDown);
    ~PgAvailability();
    PgAvailability(const PgAvailability &) = delete;
    PgAvailability &operator=(const PgAvailability &) = delete;

    bool up() const { return up_.load(std::memory_order_acquire); }
    // Counts the outages: a connection opened before the latest one is stale, even if its
    // status still says connected, and is connected again before its next use.
    uint64_t generation() const { return generation_.load(std::memory_order_acquire); }

    // Any thread: the server did not answer. Only the first report of an outage counts.
    void markDown(const std::string &reason);
    // While down, refuses a use of the store with an Unavailable StoreError and counts it.
    void check() {
        if (!up())
            refuse();
    }
    [[noreturn]] void refuse();

private:
    void run();

    const std::string name_;
    const std::function<void()> probe_, wentDown_;
    std::atomic<bool> up_{true};
    std::atomic<uint64_t> generation_{0};
    std::atomic<uint64_t> refused_{0};  // in the current outage

    std::mutex mutex_;  // guards the fields below
    std::condition_variable wake_;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point downSince_;
    std::thread thread_;  // last: starts once everything above exists
};
