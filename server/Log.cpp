#include "Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

bool IsLoggedOccurrence(uint64_t count) {
    while (count >= 10 && count % 10 == 0)
        count /= 10;
    return count == 1;
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
