// A master with one connection and one waiting caller, as the client works: it submits a blocking
// job with a 4-byte reply, looks for the outcome for up to 50 us, then sleeps until the outcome's
// callback wakes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <semaphore>
#include <string>

class JobClient {
public:
    using Clock = std::chrono::steady_clock;

    // Connects a master of its own to the slave at 127.0.0.1:port with the given transport,
    // pinning keys in knownServersFile. Throws std::runtime_error with the library's text.
    // lookFirst: the short look before sleeping that one client's requests take; false for many
    // masters in one process, which would only take each other's cores.
    JobClient(int32_t port, int32_t transport, const std::string &knownServersFile,
              bool lookFirst = true);
    ~JobClient();
    JobClient(const JobClient &) = delete;
    JobClient &operator=(const JobClient &) = delete;

    // One blocking job: submits it and waits for its outcome. Returns the moment the library
    // called back; the caller's own clock after the return is when a waiting thread is awake
    // again. Throws when the job is refused, fails or has no outcome within 5 s.
    Clock::time_point call();

    // What the reply callback fills in; public for the callback only.
    struct Waiter {
        std::binary_semaphore done{0};
        Clock::time_point calledBack;
        int32_t event = 0;
    };

private:
    intptr_t master_ = 0, slave_ = 0;
    bool lookFirst_ = true;
    Waiter waiter_;
};
