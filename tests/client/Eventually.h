// Waiting in tests for what arrives on another thread.
#pragma once

#include <chrono>
#include <thread>

// Waits up to a generous limit for a condition: a guard against hangs, never a timing check.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
