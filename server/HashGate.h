// Bounds the password hashes that run at once. Hashing is slow by design and runs on job threads,
// so without a bound a burst of logins or registrations would hold every job thread and every
// other user would wait behind it. At most `slots` hashes run; at most `queue` more jobs wait for
// a slot, each for at most `wait`; any job beyond that is refused at once, before hashing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

class HashGate {
public:
    HashGate(size_t slots, size_t queue, std::chrono::milliseconds wait);

    // A held slot, released when it goes out of scope; false when none could be had.
    class Slot {
    public:
        explicit Slot(HashGate *gate) : gate_(gate) {}
        Slot(Slot &&other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
        Slot(const Slot &) = delete;
        Slot &operator=(const Slot &) = delete;
        Slot &operator=(Slot &&) = delete;
        ~Slot() {
            if (gate_)
                gate_->release();
        }
        explicit operator bool() const { return gate_ != nullptr; }

    private:
        HashGate *gate_;
    };

    Slot enter();

private:
    void release();

    std::mutex mutex_;
    std::condition_variable freed_;
    size_t slots_, queue_;
    std::chrono::milliseconds wait_;
    size_t running_ = 0, waiting_ = 0;
};
