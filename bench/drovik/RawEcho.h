// A raw TCP echo of 4 bytes on loopback with Nagle's delay off, both ends: what a round trip
// through the kernel costs without the library, the yardstick of every job figure.
#pragma once

#include <cstdint>
#include <string>

// Listens on 127.0.0.1 at a free port, written to *port; the socket, or -1 with the reason in
// error.
int ListenOnLoopback(int32_t *port, std::string &error);
// Answers every 4 bytes at once, one connection after the other, until the listener fails. A
// thread blocked in read answers, as a thread blocked on a job's outcome wakes.
void ServeEcho(int listener);

// The calling end: one connection, one blocking round trip at a time.
class EchoClient {
public:
    // Throws std::runtime_error when it cannot connect.
    explicit EchoClient(int32_t port);
    ~EchoClient();
    EchoClient(const EchoClient &) = delete;
    EchoClient &operator=(const EchoClient &) = delete;

    // Writes 4 bytes and reads them back. Throws when the echo does not come within 5 s.
    void roundTrip();

private:
    int socket_ = -1;
};
