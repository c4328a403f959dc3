// Shared by the library's tests: a recorder of every callback the library makes, raw loopback
// sockets for peers that misbehave, and small helpers to build frames.
#pragma once

#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "drovik.h"

namespace drovik_test {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Generous: only a hang should ever reach it.
constexpr auto kWait = 20s;

struct Event {
    intptr_t master = 0;
    intptr_t slave = 0;
    intptr_t jobId = 0;
    int32_t event = 0;
    bool hadData = false;
    Bytes data;
    int32_t size = 0;
    int32_t type = 0;
};

// Every callback of every master in the process, by job id; connection events by slave.
class Recorder {
public:
    static Recorder &instance() {
        static Recorder r;
        return r;
    }

    void add(const Event &e) {
        std::lock_guard guard(lock_);
        if (e.jobId == 0)
            connectionEvents_[e.slave].push_back(e);
        else
            jobEvents_[e.jobId].push_back(e);
        changed_.notify_all();
    }

    // The job's events once its final event (anything but STREAM) has arrived; nullopt on time-out.
    std::optional<std::vector<Event>> waitFinal(intptr_t jobId,
                                                std::chrono::milliseconds limit = kWait) {
        std::unique_lock guard(lock_);
        bool done = changed_.wait_for(guard, limit, [&] {
            auto it = jobEvents_.find(jobId);
            return it != jobEvents_.end() && !it->second.empty() &&
                   it->second.back().event != DROVIK_EVENT_STREAM;
        });
        if (!done)
            return std::nullopt;
        return jobEvents_[jobId];
    }

    std::optional<Event> waitConnectionEvent(intptr_t slave,
                                             std::chrono::milliseconds limit = kWait) {
        std::unique_lock guard(lock_);
        bool done =
            changed_.wait_for(guard, limit, [&] { return !connectionEvents_[slave].empty(); });
        if (!done)
            return std::nullopt;
        return connectionEvents_[slave].front();
    }

    std::vector<Event> jobEvents(intptr_t jobId) {
        std::lock_guard guard(lock_);
        return jobEvents_[jobId];
    }
    std::vector<Event> connectionEvents(intptr_t slave) {
        std::lock_guard guard(lock_);
        return connectionEvents_[slave];
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<intptr_t, std::vector<Event>> jobEvents_;
    std::map<intptr_t, std::vector<Event>> connectionEvents_;
};

inline int32_t DROVIK_CALL recordCallback(intptr_t master, intptr_t slave, intptr_t jobId,
                                          int32_t event, void *data, int32_t size, int32_t type) {
    Event e{master, slave, jobId, event, data != nullptr, {}, size, type};
    if (data != nullptr && size > 0)
        e.data.assign(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    Drovik_FreeMemory(data);
    Recorder::instance().add(e);
    return 0;
}

// Tests that speak the wire protocol themselves (raw peers, fake slaves) do so in plaintext, to
// slaves and masters told to speak plaintext: the frame checks behind TLS are the same.
constexpr int32_t kPlain = DROVIK_TRANSPORT_PLAINTEXT;
// What the other tests use: TLS, unless the library was built without it (Windows cross build).
#ifdef DROVIK_TEST_WITHOUT_TLS
constexpr int32_t kTransport = DROVIK_TRANSPORT_PLAINTEXT;
#else
constexpr int32_t kTransport = DROVIK_TRANSPORT_TLS;
#endif

// A slave with the tests' transport.
inline intptr_t initSlave(const char *bindAddress, int32_t port, Drovik_LogCallback log,
                          int32_t workers, int32_t *boundPort) {
    return Drovik_Slave_InitTransport(bindAddress, port, log, workers, boundPort, kTransport, "",
                                      "", 0);
}

// A master with the recorder as its connection callback and short heartbeats.
class TestMaster {
public:
    explicit TestMaster(int32_t intervalMs = 100, int32_t timeoutMs = 1000)
        : handle_(Drovik_Master_Init(nullptr)) {
        Drovik_Master_SetCallback(handle_, &recordCallback, 0);
        Drovik_Master_SetStreamOptions(handle_, intervalMs, timeoutMs);
    }
    ~TestMaster() { Drovik_Master_DeInit(handle_); }
    TestMaster(const TestMaster &) = delete;
    TestMaster &operator=(const TestMaster &) = delete;

    intptr_t handle() const { return handle_; }
    intptr_t connect(int32_t port, int32_t timeoutSeconds = 5, int32_t transport = kTransport) {
        return Drovik_Master_AddSlave(handle_, "127.0.0.1", port, "test", transport, "", "", 0,
                                      timeoutSeconds);
    }
    std::string lastError() const {
        const char *t = Drovik_Master_GetLastError(handle_);
        return t ? t : "";
    }

private:
    intptr_t handle_;
};

inline intptr_t listOf(std::initializer_list<std::string> texts) {
    intptr_t list = Drovik_Parameter_New();
    for (const auto &t : texts)
        Drovik_Parameter_AddString(list, t.c_str());
    return list;
}

inline intptr_t submit(intptr_t master, intptr_t slave, const char *job, intptr_t list,
                       int32_t replyType = DROVIK_TYPE_LONG) {
    return Drovik_Master_DoJob(master, job, slave, list, &recordCallback, replyType, 0, 0, 0, 0, 0,
                               0, 1);
}

inline std::string textOf(const Event &e) {
    return std::string(e.data.begin(), e.data.end());
}

inline int32_t longOf(const Event &e) {
    int32_t v = 0;
    if (e.data.size() == 4)
        std::memcpy(&v, e.data.data(), 4);
    return v;
}

// Helpers for writing frames by hand.
inline void putU32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void putU16(Bytes &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline Bytes frame(uint8_t type, const Bytes &body) {
    Bytes f;
    putU32(f, static_cast<uint32_t>(body.size() + 1));
    f.push_back(type);
    f.insert(f.end(), body.begin(), body.end());
    return f;
}
// A HELLO that promises a ping every 100 ms and asks to be dropped after timeoutMs of silence.
inline Bytes helloFrame(uint32_t timeoutMs = 1000) {
    Bytes body;
    putU32(body, 0x4B565244);  // "DRVK"
    putU16(body, 1);
    putU32(body, 100);
    putU32(body, timeoutMs);
    putU16(body, 0);
    return frame(1, body);
}
inline Bytes welcomeFrame() {
    Bytes body;
    putU32(body, 0x4B565244);
    putU16(body, 1);
    return frame(2, body);
}

// A plain TCP peer on loopback for tests that need a slave or master that misbehaves.
class RawPeer {
public:
    RawPeer() : socket_(io_) {}
    explicit RawPeer(int32_t port) : socket_(io_) {
        socket_.connect({asio::ip::address_v4::loopback(), static_cast<uint16_t>(port)});
    }
    // Connects from another loopback address (127.0.0.0/8 is all loopback), so that the slave
    // sees a peer of its own.
    RawPeer(int32_t port, const char *from) : socket_(io_) {
        socket_.open(asio::ip::tcp::v4());
        socket_.bind({asio::ip::make_address(from), 0});
        socket_.connect({asio::ip::address_v4::loopback(), static_cast<uint16_t>(port)});
    }
    asio::ip::tcp::socket &socket() { return socket_; }

    void send(const Bytes &bytes) {
        asio::error_code ec;
        asio::write(socket_, asio::buffer(bytes), ec);
    }
    // True when the peer closed the connection (end of stream or reset) within the limit; bytes
    // that arrive before are skipped.
    bool closedByPeer(std::chrono::milliseconds limit = kWait) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        socket_.non_blocking(true);
        uint8_t buf[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            asio::error_code ec;
            socket_.read_some(asio::buffer(buf), ec);
            if (ec == asio::error::would_block || ec == asio::error::try_again) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            if (ec)
                return true;
        }
        return false;
    }
    // Reads exactly n bytes, or fewer when the connection ends first.
    Bytes read(size_t n) {
        Bytes b(n);
        asio::error_code ec;
        size_t got = asio::read(socket_, asio::buffer(b), ec);
        b.resize(got);
        return b;
    }

private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
};

// A listening socket on a free loopback port that accepts connections but speaks no protocol.
class RawListener {
public:
    RawListener() : acceptor_(io_, {asio::ip::address_v4::loopback(), 0}) {}
    int32_t port() const { return acceptor_.local_endpoint().port(); }
    asio::ip::tcp::socket accept() { return acceptor_.accept(); }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
};

}  // namespace drovik_test
