// The client against a hostile server, as figures: the time a request takes to return when the
// server keeps the connection alive but never ends its job, and the client's peak resident memory
// while one User_ReceiveMessages streams a million small messages. The server runs in a child
// process (the library's slave side), so the memory figures are the client's alone.
// Usage: bench_client_hostile_server [messages]   (default 1,000,000)
#include "Network/Client/Client.h"
#include "drovik.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {
// Peak and current resident memory of this process in KiB, from /proc/self/status.
long StatusKiB(const char *field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::char_traits<char>::length(field));
    }
    return -1;
}

// The server: a stalled job and a flood, until it is killed. Writes its port to `out`.
[[noreturn]] void RunServer(int out, int32_t messages) {
    drovik::Slave server("127.0.0.1", 0, 2);
    server.addJob("User_Login", "ss", [](const drovik::Job &) {
        std::this_thread::sleep_for(std::chrono::hours(1));  // heartbeats go on; the job never ends
        return DROVIK_EVENT_FAILED;
    });
    server.addJob("User_ReceiveMessages", "", [messages](const drovik::Job &job) {
        const uint8_t block[] = {6, 0, 0, 0, 3, 0, 0, 0, 'f', 'l', 'o', 'o', 'd', 0, 'h', 'i', 0};
        for (int32_t i = 0; i < messages; ++i)
            job.sendMessage(block);
        return job.returnLong(messages) ? DROVIK_EVENT_FINISHED : DROVIK_EVENT_FAILED;
    });
    const int32_t port = server.port();
    if (write(out, &port, sizeof port) != sizeof port)
        std::_Exit(1);
    for (;;)
        pause();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

int main(int argc, char **argv) {
    const int32_t messages = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return 1;
    const pid_t child = fork();
    if (child == 0)
        RunServer(pipeEnds[1], messages);
    int32_t port = 0;
    if (read(pipeEnds[0], &port, sizeof port) != sizeof port)
        return 1;

    ClientDeInitDelayMs = 0;
    if (LoadClusterLibrary() == 0 || ClientInit() != 1 ||
        Connect("127.0.0.1", port, "", 0, "", "", 0, 5) == 0) {
        std::fprintf(stderr, "cannot connect: %s\n", GetLastErrorText().c_str());
        kill(child, SIGKILL);
        return 1;
    }

    auto start = std::chrono::steady_clock::now();
    const int32_t login = User_Login("alice", "secret");
    std::printf("stalled request: returned %d after %.2f s (limit %d ms): %s\n", login,
                SecondsSince(start), RequestTimeoutMs, GetLastErrorText().c_str());

    const long before = StatusKiB("VmRSS:");
    start = std::chrono::steady_clock::now();
    const int32_t count = User_ReceiveMessages();
    const double streamSeconds = SecondsSince(start);
    int32_t taken = 0;
    while (TakeNextMessage() != 0)
        ++taken;
    std::printf("message flood: %d streamed in %.2f s, count %d, kept %d, dropped %lld\n", messages,
                streamSeconds, count, taken, static_cast<long long>(ClientState.DroppedMessages));
    std::printf("client memory: resident %ld KiB before the flood, peak %ld KiB\n", before,
                StatusKiB("VmHWM:"));

    ClientDeInit();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return 0;
}
