// A short look before a sleep. The reply to a small request on a fast link comes within tens of
// microseconds, and waking a thread that sleeps costs about as much again on another core; so a
// waiting thread first watches for its reply for a bounded moment without sleeping. It never spins
// longer than the limit, and only while something it waits for is outstanding.
#pragma once

#include <chrono>

// Calls done() until it gives true or `limit` has passed; its last answer.
template <typename Done>
bool SpinBriefly(Done done, std::chrono::microseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (done())
                return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();  // spares the sibling hardware thread while we look
#endif
        }
        if (std::chrono::steady_clock::now() >= until)
            return done();
    }
}
