#include "HashGate.h"

HashGate::HashGate(size_t slots, size_t queue, std::chrono::milliseconds wait)
    : slots_(slots < 1 ? 1 : slots), queue_(queue), wait_(wait) {}

HashGate::Slot HashGate::enter() {
    std::unique_lock lock(mutex_);
    if (running_ >= slots_) {
        if (waiting_ >= queue_)
            return Slot(nullptr);
        ++waiting_;
        const bool got = freed_.wait_for(lock, wait_, [this] { return running_ < slots_; });
        --waiting_;
        if (!got)
            return Slot(nullptr);
    }
    ++running_;
    return Slot(this);
}

void HashGate::release() {
    {
        std::lock_guard guard(mutex_);
        --running_;
    }
    freed_.notify_one();
}
