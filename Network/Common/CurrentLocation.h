// The source location of the statement the program ran last, recorded at the points that matter
// (every handler, worker procedure and start-up step, every step of a request's round trip and
// every callback on a library thread), so that a fault report can name it.
#pragma once

#include <source_location>

// Records the caller's file and line for the calling thread and as the program's last location.
void RecordLocation(std::source_location where = std::source_location::current());

// The last location recorded by the calling thread, or by any thread when the calling thread has
// recorded none. Safe to call from a fault handler.
std::source_location CurrentLocation();
