#include "RawEcho.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

sockaddr_in loopback(int32_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

void setNoDelay(int socket) {
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Reads or writes all of size bytes; false at end of file, on an error or on a time-out.
bool readFull(int socket, uint8_t *data, size_t size) {
    while (size > 0) {
        ssize_t n = read(socket, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeFull(int socket, const uint8_t *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(socket, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int ListenOnLoopback(int32_t *port, std::string &error) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        error = std::string("echo server: ") + std::strerror(errno);
        if (listener >= 0)
            close(listener);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

void ServeEcho(int listener) {
    for (;;) {
        int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        setNoDelay(connection);
        uint8_t bytes[4];
        while (readFull(connection, bytes, sizeof bytes) &&
               writeFull(connection, bytes, sizeof bytes)) {
        }
        close(connection);
    }
}

EchoClient::EchoClient(int32_t port) {
    socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(port);
    if (socket_ < 0 ||
        connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::string reason = std::strerror(errno);
        if (socket_ >= 0)
            close(socket_);
        throw std::runtime_error("echo client: " + reason);
    }
    setNoDelay(socket_);
    // A stalled far end must end the run, not hang it.
    timeval timeout{5, 0};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

EchoClient::~EchoClient() {
    close(socket_);
}

void EchoClient::roundTrip() {
    uint8_t out[4] = {1, 2, 3, 4}, in[4];
    if (!writeFull(socket_, out, sizeof out) || !readFull(socket_, in, sizeof in))
        throw std::runtime_error("echo: no answer within 5 s");
}
