// The server's log: one line per significant event on stderr, with the time. Thread-safe.
#pragma once

#include <sstream>
#include <string>

void LogLine(const std::string &line);

// LogEvent("login ", name, " from ", address) writes the pieces as one line.
template <typename... Parts>
void LogEvent(const Parts &...parts) {
    std::ostringstream out;
    (out << ... << parts);
    LogLine(out.str());
}
