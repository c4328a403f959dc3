// Connections that end: kick, shutdown, a slave that dies or falls silent, connections that cannot
// be made, and peers that send bytes that are not our protocol.
#include <filesystem>
#include <functional>
#include <semaphore>

#include "test_slave.h"

namespace drovik_test {
namespace {

using Connection = LoopbackTest;

intptr_t firstMaster(intptr_t slave) {
    for (int i = 0; i < 2000; ++i) {
        if (intptr_t m = Drovik_Slave_IterateMasters(slave, 0))
            return m;
        std::this_thread::sleep_for(5ms);
    }
    return 0;
}

// Records the end-of-master callbacks of every slave in the process.
struct Gone {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<intptr_t, intptr_t>> calls;  // master, xtra

    static Gone &instance() {
        static Gone g;
        return g;
    }
    static void DROVIK_CALL record(intptr_t, intptr_t master, intptr_t xtra) {
        Gone &g = instance();
        std::lock_guard guard(g.lock);
        g.calls.emplace_back(master, xtra);
        g.changed.notify_all();
    }
    int countFor(intptr_t master) {
        std::lock_guard guard(lock);
        return static_cast<int>(
            std::count_if(calls.begin(), calls.end(), [&](auto &c) { return c.first == master; }));
    }
    bool waitFor(intptr_t master) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kWait, [&] {
            return std::any_of(calls.begin(), calls.end(),
                               [&](auto &c) { return c.first == master; });
        });
    }
};

TEST_F(Connection, KickGivesKickedAndNothingAfterIt) {
    Drovik_Slave_SetMasterXtraDataDeinitCallback(slave_, &Gone::record);
    intptr_t onSlave = firstMaster(slave_);
    ASSERT_NE(onSlave, 0);
    Drovik_Slave_SetMasterXtraData(slave_, onSlave, 77);

    intptr_t blocked = submit(master_.handle(), connection_, "Block", 0);
    ASSERT_NE(blocked, 0);
    ASSERT_TRUE(gate().waitForWaiters(1));
    EXPECT_EQ(Drovik_Slave_KickMaster(slave_, onSlave), 1);

    auto event = Recorder::instance().waitConnectionEvent(connection_);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, DROVIK_EVENT_KICKED);
    EXPECT_EQ(event->master, master_.handle());
    EXPECT_FALSE(event->hadData);

    // The blocked job now ends on the slave; the end-of-master callback comes after its outcome
    // was (not) sent, so by then anything that could arrive would have.
    gate().release();
    ASSERT_TRUE(Gone::instance().waitFor(onSlave));
    EXPECT_EQ(Gone::instance().countFor(onSlave), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(Recorder::instance().jobEvents(blocked).empty());
    EXPECT_EQ(Recorder::instance().connectionEvents(connection_).size(), 1u);

    EXPECT_EQ(Drovik_Master_CountSlaves(master_.handle()), 0);
    EXPECT_EQ(submit(master_.handle(), connection_, "Long", 0), 0);
    EXPECT_FALSE(master_.lastError().empty());
    EXPECT_EQ(Drovik_Slave_KickMaster(slave_, onSlave), 0);
}

// Pings are left out while frames flow both ways; traffic that flows one way only must still show
// each end that the other is alive, for longer than both ends' limits.
TEST_F(Connection, OneWayTrafficLongerThanTheHeartbeatLimitsKeepsTheConnection) {
    // The master gives up after 150 ms without a frame, the slave after 300 ms; submissions come
    // faster than the ping interval, so only silence from the slave may bring a ping.
    TestMaster quick(50, 150);
    intptr_t slave = quick.connect(port_);
    ASSERT_NE(slave, 0) << quick.lastError();

    // The master only listens: a job streams for 450 ms.
    intptr_t list = Drovik_Parameter_New();
    Drovik_Parameter_AddLong(list, 30);
    Drovik_Parameter_AddLong(list, 15);
    intptr_t streaming = submit(quick.handle(), slave, "SlowStream", list);
    ASSERT_NE(streaming, 0) << quick.lastError();
    auto events = Recorder::instance().waitFinal(streaming);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 31u);
    EXPECT_EQ(events->back().event, DROVIK_EVENT_FINISHED);

    // The master only speaks: for 450 ms it submits jobs that do not end before it lets them.
    std::vector<intptr_t> blocked;
    for (int i = 0; i < 15; ++i) {
        blocked.push_back(submit(quick.handle(), slave, "Block", 0));
        ASSERT_NE(blocked.back(), 0) << quick.lastError();
        std::this_thread::sleep_for(30ms);
    }
    gate().release();
    for (intptr_t id : blocked) {
        events = Recorder::instance().waitFinal(id);
        ASSERT_TRUE(events);
        EXPECT_EQ(events->back().event, DROVIK_EVENT_FINISHED);
    }
    EXPECT_TRUE(Recorder::instance().connectionEvents(slave).empty());
}

TEST_F(Connection, ShutdownGivesShutdownOnceAndWaitsForRunningJobs) {
    intptr_t blocked = submit(master_.handle(), connection_, "Block", 0);
    ASSERT_TRUE(gate().waitForWaiters(1));
    std::atomic<bool> returned{false};
    std::thread stopper([&] {
        Drovik_Slave_DeInit(slave_);
        returned = true;
    });
    auto event = Recorder::instance().waitConnectionEvent(connection_);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, DROVIK_EVENT_SHUTDOWN);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned) << "DeInit returned while a job was still running";
    gate().release();
    stopper.join();
    slave_ = 0;
    EXPECT_TRUE(Recorder::instance().jobEvents(blocked).empty());
    EXPECT_EQ(Recorder::instance().connectionEvents(connection_).size(), 1u);
}

TEST_F(Connection, RemovedConnectionGetsNoEventAndRefusesJobs) {
    intptr_t id = submit(master_.handle(), connection_, "Block", 0);
    ASSERT_TRUE(gate().waitForWaiters(1));
    EXPECT_EQ(Drovik_Master_RemoveSlave(master_.handle(), connection_), 1);
    EXPECT_EQ(Drovik_Master_RemoveSlave(master_.handle(), connection_), 0);
    gate().release();
    EXPECT_EQ(submit(master_.handle(), connection_, "Long", 0), 0);
    EXPECT_FALSE(master_.lastError().empty());
    Drovik_Slave_DeInit(slave_);
    slave_ = 0;
    EXPECT_TRUE(Recorder::instance().jobEvents(id).empty());
    EXPECT_TRUE(Recorder::instance().connectionEvents(connection_).empty());
}

// A fake slave that shakes hands, takes a job and then does whatever the test says.
class FakeSlave {
public:
    FakeSlave() {
        thread_ = std::thread([this] {
            socket_ = std::make_unique<asio::ip::tcp::socket>(listener_.accept());
            uint8_t header[4];
            asio::read(*socket_, asio::buffer(header));
            uint32_t length = header[0] | header[1] << 8 | header[2] << 16 | header[3] << 24;
            Bytes hello(length);
            asio::read(*socket_, asio::buffer(hello));
            asio::write(*socket_, asio::buffer(welcomeFrame()));
            std::lock_guard guard(lock_);
            ready_ = true;
            changed_.notify_all();
        });
    }
    ~FakeSlave() {
        if (thread_.joinable())
            thread_.join();
    }
    int32_t port() const { return listener_.port(); }
    asio::ip::tcp::socket &socket() {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, kWait, [&] { return ready_; });
        return *socket_;
    }

private:
    RawListener listener_;
    std::unique_ptr<asio::ip::tcp::socket> socket_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool ready_ = false;
};

TEST(ConnectionLoss, SlaveThatFallsSilentMidJobGivesShutdown) {
    TestMaster master(20, 200);
    FakeSlave fake;
    intptr_t slave = master.connect(fake.port(), 5, kPlain);
    ASSERT_NE(slave, 0) << master.lastError();
    fake.socket();  // handshake done; from now on the fake reads nothing and answers nothing
    intptr_t id = submit(master.handle(), slave, "Anything", 0);
    ASSERT_NE(id, 0);
    auto event = Recorder::instance().waitConnectionEvent(slave);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, DROVIK_EVENT_SHUTDOWN);
    EXPECT_TRUE(Recorder::instance().jobEvents(id).empty());
    EXPECT_EQ(Drovik_Master_CountSlaveJobs(master.handle(), slave), 0);
}

TEST(ConnectionLoss, SlaveThatDiesMidJobGivesShutdown) {
    TestMaster master;
    FakeSlave fake;
    intptr_t slave = master.connect(fake.port(), 5, kPlain);
    ASSERT_NE(slave, 0) << master.lastError();
    intptr_t id = submit(master.handle(), slave, "Anything", 0);
    ASSERT_NE(id, 0);
    fake.socket().close();
    auto event = Recorder::instance().waitConnectionEvent(slave);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, DROVIK_EVENT_SHUTDOWN);
    EXPECT_TRUE(Recorder::instance().jobEvents(id).empty());
}

TEST(ConnectionLoss, GarbageFromTheSlaveEndsOnlyThatConnection) {
    TestMaster master;
    FakeSlave fake;
    intptr_t slave = master.connect(fake.port(), 5, kPlain);
    ASSERT_NE(slave, 0);
    Bytes garbage = {0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x02};  // a frame far beyond the size limit
    asio::write(fake.socket(), asio::buffer(garbage));
    auto event = Recorder::instance().waitConnectionEvent(slave);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->event, DROVIK_EVENT_SHUTDOWN);
}

TEST(Connect, RefusedWhenNothingListens) {
    int32_t port;
    {
        RawListener l;
        port = l.port();
    }
    TestMaster master;
    EXPECT_EQ(master.connect(port), 0);
    EXPECT_NE(master.lastError().find("refused"), std::string::npos) << master.lastError();
}

TEST(Connect, TimesOutWhenTheHandshakeIsNeverAnswered) {
    RawListener listener;  // the kernel accepts; nobody ever answers
    TestMaster master;
    EXPECT_EQ(master.connect(listener.port(), 1), 0);
    EXPECT_NE(master.lastError().find("Timed out"), std::string::npos) << master.lastError();
}

TEST(Connect, RefusesAPeerThatIsNotADrovikSlave) {
    RawListener listener;
    std::thread server([&] {
        auto s = listener.accept();
        std::string reply = "HTTP/1.1 400 Bad Request\r\n\r\n";
        asio::error_code ec;
        asio::write(s, asio::buffer(reply), ec);
        std::this_thread::sleep_for(200ms);
    });
    TestMaster master;
    EXPECT_EQ(master.connect(listener.port(), 5), 0);
    EXPECT_NE(master.lastError().find("not a Drovik slave"), std::string::npos)
        << master.lastError();
    server.join();
}

TEST(Connect, BadArgumentsAreRefusedWithAText) {
    TestMaster master;
    EXPECT_EQ(Drovik_Master_AddSlave(master.handle(), nullptr, 7000, "", 0, "", "", 0, 1), 0);
    EXPECT_FALSE(master.lastError().empty());
    EXPECT_EQ(Drovik_Master_AddSlave(master.handle(), "127.0.0.1", 0, "", 0, "", "", 0, 1), 0);
    EXPECT_FALSE(master.lastError().empty());
    EXPECT_EQ(Drovik_Master_AddSlave(0, "127.0.0.1", 7000, "", 0, "", "", 0, 1), 0);
}

// Bytes that are not our protocol, sent to a real slave, end only their own connection.
class Garbage : public LoopbackTest {
protected:
    Garbage() { transport_ = kPlain; }
    void expectClosedAndOthersServed(RawPeer &peer) {
        EXPECT_TRUE(peer.closedByPeer());
        auto events = run("Long", 0);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(longOf(events[0]), 42);
        EXPECT_EQ(Drovik_Slave_CountMasters(slave_), 1);
    }
};

TEST_F(Garbage, RandomBytesInsteadOfAHandshake) {
    RawPeer peer(port_);
    peer.send({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', '\r', '\n'});
    expectClosedAndOthersServed(peer);
}

TEST_F(Garbage, OversizedFrameAfterTheHandshake) {
    RawPeer peer(port_);
    peer.send(helloFrame());
    EXPECT_EQ(peer.read(11), welcomeFrame());
    peer.send({0x00, 0x00, 0x00, 0x10, 0x04});  // 256 MiB announced
    expectClosedAndOthersServed(peer);
}

TEST_F(Garbage, TruncatedFrameThenEndOfStream) {
    RawPeer peer(port_);
    peer.send(helloFrame());
    EXPECT_EQ(peer.read(11), welcomeFrame());
    Bytes partial = frame(4, Bytes(40, 0x01));
    partial.resize(20);
    peer.send(partial);
    peer.socket().shutdown(asio::ip::tcp::socket::shutdown_send);
    expectClosedAndOthersServed(peer);
}

TEST_F(Garbage, MalformedJobFrames) {
    const std::vector<Bytes> bodies = {
        {},                   // nothing at all
        {1, 2, 3},            // shorter than a job id
        Bytes(8 + 4 + 2, 0),  // empty job name
        {1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4, 0, 'L', 'o', 'n', 'g', 0xFF, 0xFF, 0xFF, 0xFF},
        {1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 200, 0, 'L'},  // name longer than the frame
    };
    for (const Bytes &body : bodies) {
        RawPeer peer(port_);
        peer.send(helloFrame());
        EXPECT_EQ(peer.read(11), welcomeFrame());
        peer.send(frame(4, body));
        expectClosedAndOthersServed(peer);
    }
}

TEST_F(Garbage, FramesOnlyASlaveMaySend) {
    RawPeer peer(port_);
    peer.send(helloFrame());
    EXPECT_EQ(peer.read(11), welcomeFrame());
    peer.send(frame(6, Bytes(16, 0)));  // a RESULT, from a master
    expectClosedAndOthersServed(peer);
}

TEST_F(Garbage, SilentMasterIsDroppedAfterItsHeartbeatTimeout) {
    Drovik_Slave_SetMasterXtraDataDeinitCallback(slave_, &Gone::record);
    RawPeer peer(port_);
    peer.send(helloFrame());  // promises a ping every 100 ms, then never sends one
    EXPECT_EQ(peer.read(11), welcomeFrame());
    intptr_t silent = 0;
    for (intptr_t m = Drovik_Slave_IterateMasters(slave_, 0); m;
         m = Drovik_Slave_IterateMasters(slave_, m))
        if (Drovik_Slave_GetMasterPort(slave_, m) == peer.socket().local_endpoint().port())
            silent = m;
    ASSERT_NE(silent, 0);
    expectClosedAndOthersServed(peer);
    EXPECT_TRUE(Gone::instance().waitFor(silent));  // cleaned up, with its end-of-master callback
}

}  // namespace
}  // namespace drovik_test

namespace drovik_test {
namespace {

#ifdef __linux__
size_t threadsOfThisProcess() {
    size_t n = 0;
    for ([[maybe_unused]] auto &entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}
#endif

struct NestedConnect {
    int32_t port = 0;
    std::atomic<intptr_t> made{0};
    std::binary_semaphore done{0};
};
NestedConnect nested;

int32_t DROVIK_CALL connectFromCallback(intptr_t master, intptr_t, intptr_t, int32_t event,
                                        void *data, int32_t, int32_t) {
    Drovik_FreeMemory(data);
    if (event == DROVIK_EVENT_STREAM)
        return 0;
    nested.made = Drovik_Master_AddSlave(master, "127.0.0.1", nested.port, "nested", kTransport, "",
                                         "", 0, 5);
    nested.done.release();
    return 0;
}

// A master's connections share its few network threads, so a master of many connections costs
// no more threads than one of two; and a callback, running on one of them, may still connect.
TEST_F(Connection, ManyConnectionsShareAFewThreadsAndACallbackMayConnect) {
    TestMaster many;
    ASSERT_NE(many.connect(port_), 0) << many.lastError();
    ASSERT_NE(many.connect(port_), 0) << many.lastError();
#ifdef __linux__
    const size_t before = threadsOfThisProcess();
#endif
    std::vector<intptr_t> connections;
    for (int i = 0; i < 24; ++i) {  // within the slave's 32 connections per address
        connections.push_back(many.connect(port_));
        ASSERT_NE(connections.back(), 0) << many.lastError();
    }
#ifdef __linux__
    // Two threads more at most: a master never has more than four.
    EXPECT_LE(threadsOfThisProcess(), before + 2);
#endif
    for (intptr_t c : connections)
        ASSERT_EQ(
            longOf(Recorder::instance().waitFinal(submit(many.handle(), c, "Long", 0))->back()),
            42);

    nested.port = port_;
    ASSERT_NE(Drovik_Master_DoJob(many.handle(), "Long", connections.front(), 0,
                                  &connectFromCallback, DROVIK_TYPE_LONG, 0, 0, 0, 0, 0, 0, 1),
              0);
    ASSERT_TRUE(nested.done.try_acquire_for(kWait));
    ASSERT_NE(nested.made.load(), 0);
    auto events = Recorder::instance().waitFinal(submit(many.handle(), nested.made, "Long", 0));
    ASSERT_TRUE(events.has_value());
    EXPECT_EQ(longOf(events->back()), 42);
}

// A fake slave that shakes hands with every master that comes and hangs up at once.
class HangingUpSlave {
public:
    HangingUpSlave() {
        thread_ = std::thread([this] {
            for (;;) {
                asio::error_code ec;
                asio::ip::tcp::socket s = listener_.accept();
                if (stopping_)
                    return;
                uint8_t header[4];
                asio::read(s, asio::buffer(header), ec);
                uint32_t length = header[0] | header[1] << 8 | header[2] << 16 | header[3] << 24;
                Bytes hello(ec ? 0 : std::min<uint32_t>(length, 1024));
                asio::read(s, asio::buffer(hello), ec);
                asio::write(s, asio::buffer(welcomeFrame()), ec);
            }
        });
    }
    ~HangingUpSlave() {
        stopping_ = true;
        RawPeer wake(port());
        thread_.join();
    }
    int32_t port() const { return listener_.port(); }

private:
    RawListener listener_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// DeInit racing RemoveSlave and AddSlave on the same master: every call returns, whichever comes
// first. Each round's connection has ended already, so its network thread is idle and ends as soon
// as DeInit lets it, while RemoveSlave still has that connection to close.
TEST(Teardown, DeInitRacingRemoveAndAddSlaveLeavesNoCallWaiting) {
    HangingUpSlave slave;
    for (int round = 0; round < 300; ++round) {
        intptr_t master = Drovik_Master_Init(nullptr);
        Drovik_Master_SetCallback(master, &recordCallback, 0);
        intptr_t ended =
            Drovik_Master_AddSlave(master, "127.0.0.1", slave.port(), "test", kPlain, "", "", 0, 5);
        ASSERT_NE(ended, 0) << Drovik_Master_GetLastError(master);
        ASSERT_TRUE(Recorder::instance().waitConnectionEvent(ended).has_value());

        // Shared with the calls, which a hang would leave running after the test has failed.
        // Atomics only: with MinGW's C++ library, std::latch and std::counting_semaphore can miss
        // a wake-up (they fall back to a shared condition variable there), which once left a
        // call's thread waiting at the start line.
        struct Race {
            std::atomic<int> arrived{0};
            std::atomic<bool> done[3] = {false, false, false};
            std::atomic<int32_t> deInit{-1};
        };
        auto race = std::make_shared<Race>();
        // AddSlave starts first, RemoveSlave and DeInit a little later, by margins that vary from
        // round to round.
        const std::chrono::microseconds lead[3] = {std::chrono::microseconds(round % 10 * 10),
                                                   std::chrono::microseconds(round % 3 * 10),
                                                   std::chrono::microseconds(0)};
        const std::function<void()> work[3] = {
            [=] { race->deInit = Drovik_Master_DeInit(master); },
            [=] { Drovik_Master_RemoveSlave(master, ended); },
            // By name: the network thread looks it up while DeInit lets that thread end.
            [=, port = slave.port()] {
                Drovik_Master_AddSlave(master, "localhost", port, "test", kPlain, "", "", 0, 5);
            },
        };
        std::vector<std::thread> calls;
        for (int i = 0; i < 3; ++i)
            calls.emplace_back([race, i, wait = lead[i], f = work[i]] {
                race->arrived.fetch_add(1);
                while (race->arrived.load() < 3)
                    std::this_thread::yield();
                // Spun, not slept: a sleep is far coarser than these margins on some systems.
                const auto until = std::chrono::steady_clock::now() + wait;
                while (std::chrono::steady_clock::now() < until) {
                }
                f();
                race->done[i] = true;
            });
        const auto allDone = [&] {
            return race->done[0].load() && race->done[1].load() && race->done[2].load();
        };
        const auto giveUp = std::chrono::steady_clock::now() + kWait;
        while (!allDone() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool allReturned = allDone();
        for (auto &t : calls)
            allReturned ? t.join() : t.detach();
        ASSERT_TRUE(allReturned) << "in round " << round
                                 << ", still waiting: " << (race->done[0] ? "" : "DeInit ")
                                 << (race->done[1] ? "" : "RemoveSlave ")
                                 << (race->done[2] ? "" : "AddSlave");
        EXPECT_EQ(race->deInit.load(), 1);
    }
}

}  // namespace
}  // namespace drovik_test
