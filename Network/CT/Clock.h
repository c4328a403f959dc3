// The millisecond clock of the program. The monotonic clock of the C++ library stands in for the
// performance counter, so the performance clock is usable wherever the program runs.
//
// Milliseconds values are 32-bit and wrap around about 24.8 days after start (the tick clock wraps
// likewise); compare them only through ElapsedMilliseconds, which is right across a wrap for any
// span shorter than that.
#pragma once

#include <atomic>
#include <cstdint>

// Monotonic-clock reading at start, in the clock's ticks, and milliseconds per tick. Set by
// InitPerformanceClock.
extern std::atomic<int64_t> ClockStart;
extern std::atomic<double> ClockFactor;

// The clock in use: PerformanceMilliseconds after ChooseMillisecondsClock found the performance
// clock usable, else TickMilliseconds. Never null. Chosen once at start, before any worker runs.
extern int32_t (*Milliseconds)();

// Reads the start of the performance clock; 1 when it is usable, else 0.
int32_t InitPerformanceClock();
// Milliseconds since ClockStart, rounded to the nearest, wrapped to 32 bits.
int32_t PerformanceMilliseconds();
// The system's millisecond tick count (time since an unspecified start), wrapped to 32 bits.
int32_t TickMilliseconds();
// The start-up choice: the performance clock when InitPerformanceClock gives 1, else the ticks.
void ChooseMillisecondsClock();
// Milliseconds from `from` to `to`, right across the wrap of the 32-bit clock.
inline int32_t ElapsedMilliseconds(int32_t from, int32_t to) {
    return static_cast<int32_t>(static_cast<uint32_t>(to) - static_cast<uint32_t>(from));
}
