// The far end of the round-trip benchmark: a child process that holds a TLS slave, a plaintext
// slave and a raw TCP echo server, so that the measured master and what it talks to run in
// separate processes (as the client and the server do), and each end's context switches can be
// counted on its own with getrusage.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

// Context switches of the calling process, all its threads together (RUSAGE_SELF).
struct Switches {
    long voluntary = 0, involuntary = 0;

    long total() const { return voluntary + involuntary; }
    Switches operator-(const Switches &before) const {
        return {voluntary - before.voluntary, involuntary - before.involuntary};
    }
    Switches &operator+=(const Switches &more) {
        voluntary += more.voluntary;
        involuntary += more.involuntary;
        return *this;
    }
};
Switches OwnSwitches();

// The child process. Every wait for it has a deadline, and it quits when this end goes away (its
// command pipe reaches end of file), so that a failed run never leaves it behind.
class FarEnd {
public:
    FarEnd() = default;
    ~FarEnd();
    FarEnd(const FarEnd &) = delete;
    FarEnd &operator=(const FarEnd &) = delete;

    // Forks the child and waits for its ports. Call it before this process starts any thread: a
    // forked child gets only the forking thread, and the library must start its own in the child.
    // Throws std::runtime_error when the child does not come up.
    void start();
    int32_t tlsPort() const { return tlsPort_; }
    int32_t plaintextPort() const { return plaintextPort_; }
    int32_t echoPort() const { return echoPort_; }
    // The child's own switch counts at the moment of the call. Throws when it does not answer.
    Switches switches();

private:
    std::string request(char command);

    pid_t pid_ = -1;
    int commandFd_ = -1, replyFd_ = -1;
    int32_t tlsPort_ = 0, plaintextPort_ = 0, echoPort_ = 0;
};
