#include "Network/CT/Clock.h"

#include <chrono>
#include <cmath>

namespace {
using MonotonicClock = std::chrono::steady_clock;

int64_t MonotonicTicks() {
    return MonotonicClock::now().time_since_epoch().count();
}

// Keeps the low 32 bits: the documented wrap of the clock, without the undefined conversion of an
// out-of-range value.
int32_t WrapToClock(int64_t milliseconds) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(milliseconds)));
}
}  // namespace

std::atomic<int64_t> ClockStart{0};
std::atomic<double> ClockFactor{0.0};
int32_t (*Milliseconds)() = &TickMilliseconds;

int32_t InitPerformanceClock() {
    constexpr double ticksPerSecond =
        static_cast<double>(MonotonicClock::period::den) / MonotonicClock::period::num;
    if (!(ticksPerSecond > 0.0))
        return 0;
    ClockStart.store(MonotonicTicks());
    ClockFactor.store(1000.0 / ticksPerSecond);
    return 1;
}

int32_t PerformanceMilliseconds() {
    // 64-bit tick difference; the product stays far inside the range of a 64-bit integer for any
    // run time, and only the final step wraps to 32 bits.
    const int64_t ticks = MonotonicTicks() - ClockStart.load(std::memory_order_relaxed);
    const double milliseconds =
        std::nearbyint(static_cast<double>(ticks) * ClockFactor.load(std::memory_order_relaxed));
    return WrapToClock(static_cast<int64_t>(milliseconds));
}

int32_t TickMilliseconds() {
    const auto since = MonotonicClock::now().time_since_epoch();
    return WrapToClock(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void ChooseMillisecondsClock() {
    Milliseconds = InitPerformanceClock() != 0 ? &PerformanceMilliseconds : &TickMilliseconds;
}
