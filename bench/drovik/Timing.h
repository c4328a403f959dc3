// The clock of the round-trip benchmark and its conversions.
#pragma once

#include <chrono>

using Clock = std::chrono::steady_clock;

inline double Microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

inline Clock::duration Seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}
