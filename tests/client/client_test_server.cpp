// A server for the tests that must kill one: it prints its port, answers Test_Hold by holding the
// job, and lives until it is killed or its standard input closes.
#include "drovik.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

int main() {
    drovik::Slave server("127.0.0.1", 0, 2);
    if (!server.ok())
        return 1;
    server.addJob("Test_Hold", "", [](const drovik::Job &) {
        std::this_thread::sleep_for(std::chrono::seconds(30));
        return DROVIK_EVENT_FAILED;
    });
    std::printf("%d\n", server.port());
    std::fflush(stdout);
    char c = 0;
    while (read(0, &c, 1) > 0) {
    }
    _exit(0);  // without waiting for a held job
}
