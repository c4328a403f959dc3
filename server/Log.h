// The server's log: one line per significant event on stderr, with the time. Thread-safe.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

void LogLine(const std::string &line);

// True for the 1st, 10th, 100th, ... occurrence of something: what a client can repeat at will
// is logged that often only, so that it cannot flood the log.
bool IsLoggedOccurrence(uint64_t count);

// LogEvent("login ", name, " from ", address) writes the pieces as one line.
template <typename... Parts>
void LogEvent(const Parts &...parts) {
    std::ostringstream out;
    (out << ... << parts);
    LogLine(out.str());
}
