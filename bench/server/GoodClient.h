// The well-behaved user of the attack harness: the library's own master, connecting from the
// address the system picks for loopback (127.0.0.1), at the client's rates: messages polled every
// 500 ms, the online list every 2.5 s, a private message now and then, and a fresh login every
// few seconds, since getting in is what a flood takes away first.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "BenchServer.h"

struct GoodFigures {
    uint64_t jobs = 0;  // round trips: connects, logins, polls, messages, logouts
    uint64_t failures = 0;
    std::vector<double> latencyMs;           // of every round trip that succeeded
    std::vector<std::string> firstFailures;  // what went wrong, the first few times
};

class GoodClient {
public:
    GoodClient(BenchEndpoint server, std::string name)
        : server_(std::move(server)), name_(std::move(name)) {}

    // Creates the account; before the attack.
    bool registerAccount();
    // Uses the server until `until`.
    GoodFigures run(std::chrono::steady_clock::time_point until);

private:
    intptr_t connect(drovik::Master &master) const;

    BenchEndpoint server_;
    std::string name_;
};
