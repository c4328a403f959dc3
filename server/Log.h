// The server's log: one line per significant event on stderr, with the time. Thread-safe.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

void LogLine(const std::string &line);

// True for the 1st, 10th, 100th, ... occurrence of something: what a client can repeat at will
// is logged that often only, so that it cannot flood the log.
bool IsLoggedOccurrence(uint64_t count);

// Lines about what any client can cause, from however many connections, share a budget of about
// `perSecond` a second (a burst of ten times that), so that no flood fills the disk. True when
// this line may be written; `skipped` then tells how many were left out since the last one.
bool AdmitFloodableLine(uint64_t &skipped, double perSecond = 20.0);

// LogEvent("login ", name, " from ", address) writes the pieces as one line.
template <typename... Parts>
void LogEvent(const Parts &...parts) {
    std::ostringstream out;
    (out << ... << parts);
    LogLine(out.str());
}
