// The latency figures of one run, against a far end: round trips call by call (p50, p99), the
// mean of blocks of blocking calls, and the context switches per call of each end; each for a job
// over TLS, a job over plaintext and a raw TCP echo. The benchmark runs it unpinned and pinned.
#pragma once

#include <string>

class FarEnd;

// Prints the figures; every phase lasts about `seconds`. Throws std::runtime_error on a failure.
void RunRoundTripSection(FarEnd &far, const std::string &knownServersFile, double seconds);
