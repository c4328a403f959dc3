#include "Log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>

bool IsLoggedOccurrence(uint64_t count) {
    while (count >= 10 && count % 10 == 0)
        count /= 10;
    return count == 1;
}

bool AdmitFloodableLine(uint64_t &skipped, double perSecond) {
    static std::mutex mutex;
    static double tokens = -1;
    static std::chrono::steady_clock::time_point last;
    static uint64_t left = 0;
    const double burst = perSecond * 10;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(mutex);
    if (tokens < 0)
        tokens = burst;
    else
        tokens =
            std::min(burst, tokens + std::chrono::duration<double>(now - last).count() * perSecond);
    last = now;
    if (tokens < 1) {
        ++left;
        return false;
    }
    tokens -= 1;
    skipped = std::exchange(left, 0);
    return true;
}

void LogLine(const std::string &line) {
    static std::mutex mutex;
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::lock_guard guard(mutex);
    std::fprintf(stderr, "%s.%03dZ %s\n", stamp, static_cast<int>(millis), line.c_str());
    std::fflush(stderr);
}
