#include "Network/Common/CurrentLocation.h"

#include <atomic>

namespace {

// A location is one small trivially copyable value; atomics keep a fault handler that interrupts
// a RecordLocation from reading half of it.
std::atomic<std::source_location> ProgramLocation{};
std::atomic<bool> ProgramLocationSet{false};
thread_local std::atomic<std::source_location> ThreadLocation{};
thread_local std::atomic<bool> ThreadLocationSet{false};

}  // namespace

void RecordLocation(std::source_location where) {
    ThreadLocation.store(where, std::memory_order_relaxed);
    ThreadLocationSet.store(true, std::memory_order_relaxed);
    ProgramLocation.store(where, std::memory_order_relaxed);
    ProgramLocationSet.store(true, std::memory_order_release);
}

std::source_location CurrentLocation() {
    if (ThreadLocationSet.load(std::memory_order_relaxed)) {
        return ThreadLocation.load(std::memory_order_relaxed);
    }
    if (ProgramLocationSet.load(std::memory_order_acquire)) {
        return ProgramLocation.load(std::memory_order_relaxed);
    }
    return {};
}
