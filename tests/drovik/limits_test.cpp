// The slave's limits, each crossed once by a peer that misbehaves, while a well-behaved master on
// the same slave is still served: connection caps, deadlines, unread output, value counts, and
// turns between connections on the workers.
#include "test_slave.h"

namespace drovik_test {
namespace {

// What the slaves of this file log, so that a test can tell which limit closed a connection.
class LogRecorder {
public:
    static LogRecorder &instance() {
        static LogRecorder r;
        return r;
    }
    static int32_t DROVIK_CALL record(intptr_t, intptr_t, int32_t, const char *text, int32_t kind,
                                      int32_t) {
        auto &r = instance();
        std::lock_guard guard(r.lock_);
        r.lines_.push_back({kind, text});
        r.changed_.notify_all();
        return 0;
    }
    // True once a line of that kind containing the text was logged.
    bool waitFor(int32_t kind, const std::string &text) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kWait, [&] {
            for (const auto &[k, line] : lines_)
                if (k == kind && line.find(text) != std::string::npos)
                    return true;
            return false;
        });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::pair<int32_t, std::string>> lines_;
};

// Reads one frame: its type and body; type 0 when the connection ended first.
std::pair<uint8_t, Bytes> readFrame(RawPeer &peer) {
    Bytes header = peer.read(5);
    if (header.size() < 5)
        return {0, {}};
    uint32_t length = header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
    return {header[4], peer.read(length - 1)};
}

// A JOB frame whose parameter list claims `count` values and holds `values` bytes after it.
Bytes jobFrame(uint64_t id, const std::string &name, uint32_t count, const Bytes &values = {}) {
    Bytes body;
    putU32(body, static_cast<uint32_t>(id));
    putU32(body, static_cast<uint32_t>(id >> 32));
    putU32(body, DROVIK_TYPE_LONG);
    putU16(body, static_cast<uint16_t>(name.size()));
    body.insert(body.end(), name.begin(), name.end());
    putU32(body, count);
    body.insert(body.end(), values.begin(), values.end());
    return frame(4, body);
}

class Limits : public ::testing::Test {
protected:
    void SetUp() override {
        gate().reset();
        slave_ = Drovik_Slave_InitTransport("127.0.0.1", 0, &LogRecorder::record, 4, &port_, kPlain,
                                            "", "", 0);
        ASSERT_NE(slave_, 0) << Drovik_Slave_GetLastError(0);
        addTestJobs(slave_);
    }
    void TearDown() override {
        gate().release();
        Drovik_Slave_DeInit(slave_);
    }
    void limit(int32_t which, int64_t value) {
        ASSERT_EQ(Drovik_Slave_SetLimit(slave_, which, value), 1) << which;
    }
    // The well-behaved master is still served.
    void expectServed(TestMaster &master, intptr_t connection) {
        auto events = Recorder::instance().waitFinal(
            submit(master.handle(), connection, "Long", Drovik_Parameter_New()));
        ASSERT_TRUE(events.has_value());
        EXPECT_EQ(longOf(events->back()), 42);
    }
    // A raw peer that has completed the handshake.
    void handshake(RawPeer &peer, uint32_t timeoutMs = 1000) {
        peer.send(helloFrame(timeoutMs));
        ASSERT_EQ(peer.read(11), welcomeFrame());
    }

    intptr_t slave_ = 0;
    int32_t port_ = 0;
};

TEST_F(Limits, SettingsAreCheckedAndReadBack) {
    EXPECT_EQ(Drovik_Slave_GetLimit(slave_, DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS), 32);
    limit(DROVIK_LIMIT_CONNECTIONS, 40);
    EXPECT_EQ(Drovik_Slave_GetLimit(slave_, DROVIK_LIMIT_UNTRUSTED), 10);  // a quarter
    EXPECT_EQ(Drovik_Slave_SetLimit(slave_, DROVIK_LIMIT_FRAME_BYTES, (16 << 20) + 1), 0);
    EXPECT_EQ(Drovik_Slave_SetLimit(slave_, DROVIK_LIMIT_OUTPUT_TIME, 0), 0);
    EXPECT_EQ(Drovik_Slave_SetLimit(slave_, 999, 1), 0);
    EXPECT_EQ(Drovik_Slave_GetLimit(slave_, 999), -1);
    EXPECT_EQ(Drovik_Slave_SetMasterTrusted(slave_, 12345, 1), 0);
}

TEST_F(Limits, ConnectionsBeyondTheAddressOrTotalCapAreRefused) {
    limit(DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS, 2);
    limit(DROVIK_LIMIT_CONNECTIONS, 3);
    limit(DROVIK_LIMIT_UNTRUSTED, 3);  // a quarter of three would leave room for one
    TestMaster master;
    intptr_t first = master.connect(port_, 5, kPlain), second = master.connect(port_, 5, kPlain);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_EQ(master.connect(port_, 5, kPlain), 0);  // a third from 127.0.0.1
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_REFUSED, "the limit of one address"));

    RawPeer other(port_, "127.0.0.2");  // another address: within the total
    handshake(other);
    RawPeer beyond(port_, "127.0.0.3");  // the fourth connection in all
    EXPECT_TRUE(beyond.closedByPeer());
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_REFUSED, "connections, its limit"));
    expectServed(master, first);

    // A closed connection gives its place back.
    Drovik_Master_RemoveSlave(master.handle(), second);
    intptr_t again = 0;
    for (int i = 0; i < 200 && again == 0; ++i) {
        again = master.connect(port_, 5, kPlain);
        if (again == 0)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(again, 0);
    expectServed(master, again);
}

TEST_F(Limits, BeyondTheUntrustedCapTheBusiestAddressLosesItsOldest) {
    limit(DROVIK_LIMIT_UNTRUSTED, 3);
    TestMaster master;
    intptr_t trusted = master.connect(port_, 5, kPlain);
    ASSERT_NE(trusted, 0);
    intptr_t onSlave = Drovik_Slave_IterateMasters(slave_, 0);
    ASSERT_EQ(Drovik_Slave_SetMasterTrusted(slave_, onSlave, 1), 1);

    RawPeer oldest(port_, "127.0.0.2"), newer(port_, "127.0.0.2"), single(port_, "127.0.0.3");
    handshake(oldest);
    handshake(newer);
    handshake(single);
    RawPeer latecomer(port_, "127.0.0.4");  // the fourth untrusted: room is made
    handshake(latecomer);
    EXPECT_TRUE(oldest.closedByPeer());
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_REFUSED, "to make room"));
    expectServed(master, trusted);  // trusted: never a candidate

    // Trust taken back makes it count again; it is then the newest untrusted connection.
    ASSERT_EQ(Drovik_Slave_SetMasterTrusted(slave_, onSlave, 0), 1);
    RawPeer another(port_, "127.0.0.5");
    handshake(another);
    EXPECT_TRUE(newer.closedByPeer());
    expectServed(master, trusted);
}

TEST_F(Limits, TheSlaveSetsEveryDeadline) {
    limit(DROVIK_LIMIT_FRAME_TIME, 200);
    limit(DROVIK_LIMIT_SILENCE_TIME, 300);
    limit(DROVIK_LIMIT_UNTRUSTED_TIME, 400);
    TestMaster master;  // pings every 100 ms
    intptr_t trusted = master.connect(port_, 5, kPlain);
    ASSERT_NE(trusted, 0);
    ASSERT_EQ(Drovik_Slave_SetMasterTrusted(slave_, Drovik_Slave_IterateMasters(slave_, 0), 1), 1);

    // A frame begun and never finished, from a peer that keeps talking otherwise.
    RawPeer unfinished(port_, "127.0.0.2");
    handshake(unfinished, 3'600'000);
    Bytes partial = jobFrame(1, "Long", 0);
    partial.resize(partial.size() - 2);
    unfinished.send(partial);
    EXPECT_TRUE(unfinished.closedByPeer());
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_LIMIT, "frame was not finished"));

    // A peer that asks for an hour of silence gets the slave's 300 ms.
    RawPeer silent(port_, "127.0.0.3");
    handshake(silent, 3'600'000);
    EXPECT_TRUE(silent.closedByPeer());
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_LIMIT, "no sign of life"));

    // A master that keeps its heartbeat but is never trusted.
    TestMaster idle;
    intptr_t untrusted = idle.connect(port_, 5, kPlain);
    ASSERT_NE(untrusted, 0);
    auto event = Recorder::instance().waitConnectionEvent(untrusted);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->event, DROVIK_EVENT_SHUTDOWN);
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_LIMIT, "not trusted within"));

    expectServed(master, trusted);  // well past every deadline, and alive
}

TEST_F(Limits, APeerThatDoesNotReadIsNotReadThenClosed) {
    limit(DROVIK_LIMIT_OUTPUT_BYTES, 64 * 1024);
    limit(DROVIK_LIMIT_OUTPUT_TIME, 300);
    ASSERT_EQ(Drovik_Slave_SetMasterJobLimit(slave_, 0, 1024), 1);
    TestMaster master;
    intptr_t good = master.connect(port_, 5, kPlain);
    ASSERT_NE(good, 0);

    RawPeer greedy(port_, "127.0.0.2");
    handshake(greedy, 3'600'000);
    // Far more replies than the socket buffers hold, and it never reads one.
    Bytes value{DROVIK_TYPE_LONG};
    putU32(value, 256 * 1024);
    Bytes requests;
    for (uint64_t id = 1; id <= 64; ++id) {
        Bytes f = jobFrame(id, "Memory", 1, value);
        requests.insert(requests.end(), f.begin(), f.end());
    }
    greedy.send(requests);
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_LIMIT, "stayed unread"));
    EXPECT_TRUE(greedy.closedByPeer());
    expectServed(master, good);
}

TEST_F(Limits, AValueCountIsCheckedBeforeAnyValueIsDecoded) {
    TestMaster master;
    intptr_t good = master.connect(port_, 5, kPlain);
    ASSERT_NE(good, 0);

    // Within the largest signature ("Params" takes 9) but not the job's: answered INVALID, and
    // the connection goes on.
    RawPeer peer(port_, "127.0.0.2");
    handshake(peer);
    peer.send(jobFrame(7, "Echo", 5));
    auto [type, body] = readFrame(peer);
    ASSERT_EQ(type, 6);  // RESULT
    ASSERT_GE(body.size(), 12u);
    EXPECT_EQ(body[0], 7);
    EXPECT_EQ(body[8], DROVIK_EVENT_INVALID);

    // Millions of empty texts claimed in a small frame: more than any job takes, so the peer goes.
    Bytes empties;
    for (int i = 0; i < 1000; ++i) {
        empties.push_back(DROVIK_TYPE_STRING);
        putU32(empties, 0);
    }
    peer.send(jobFrame(8, "Echo", 3'000'000, empties));
    EXPECT_TRUE(peer.closedByPeer());
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_PROTOCOL, "more than any job takes"));
    expectServed(master, good);
}

TEST_F(Limits, AnUntrustedMasterMaySendOnlySmallFrames) {
    limit(DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES, 4096);
    EXPECT_EQ(Drovik_Slave_GetLimit(slave_, DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES), 4096);
    const std::string large(6000, 'x');

    // Trusted, the large frame is served; trust taken back, the same frame closes the connection.
    TestMaster master;
    intptr_t connection = master.connect(port_, 5, kPlain);
    ASSERT_NE(connection, 0);
    intptr_t onSlave = Drovik_Slave_IterateMasters(slave_, 0);
    ASSERT_EQ(Drovik_Slave_SetMasterTrusted(slave_, onSlave, 1), 1);
    expectServed(master, connection);  // the change has reached the connection's thread
    auto echoed = Recorder::instance().waitFinal(
        submit(master.handle(), connection, "Echo", listOf({large}), DROVIK_TYPE_STRING));
    ASSERT_TRUE(echoed.has_value());
    EXPECT_EQ(std::string(textOf(echoed->back()).c_str()), large);

    ASSERT_EQ(Drovik_Slave_SetMasterTrusted(slave_, onSlave, 0), 1);
    expectServed(master, connection);
    submit(master.handle(), connection, "Echo", listOf({large}), DROVIK_TYPE_STRING);
    EXPECT_TRUE(LogRecorder::instance().waitFor(DROVIK_LOG_PROTOCOL, "4096"));
}

// Records, in the order the jobs started, which master each "Turn" job ran for and the long each
// "Mark" job was given.
struct Turns {
    std::mutex lock;
    std::vector<intptr_t> masters;
    std::vector<int32_t> marks;
    static Turns &instance() {
        static Turns t;
        return t;
    }
    static int32_t DROVIK_CALL job(intptr_t, intptr_t master, intptr_t job, intptr_t, intptr_t) {
        return record(job, [&] { instance().masters.push_back(master); });
    }
    static int32_t DROVIK_CALL mark(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
        return record(job, [&] { instance().marks.push_back(Drovik_Parameter_GetLong(list, 0)); });
    }
    template <class F>
    static int32_t record(intptr_t job, F note) {
        {
            std::lock_guard guard(instance().lock);
            note();
        }
        Drovik_Return_Long(job, 1);
        return DROVIK_EVENT_FINISHED;
    }
};

// A plaintext slave with the test jobs, "Turn" and "Mark", and `workers` workers; 0 when it did
// not start.
intptr_t turnsSlave(size_t workers, int32_t &port, Drovik_LogCallback log = nullptr) {
    intptr_t slave = Drovik_Slave_InitTransport("127.0.0.1", 0, log, static_cast<int32_t>(workers),
                                                &port, kPlain, "", "", 0);
    if (slave != 0) {
        addTestJobs(slave);
        Drovik_Slave_AddJob(slave, "Turn", &Turns::job, "", 0);
        Drovik_Slave_AddJob(slave, "Mark", &Turns::mark, "l", 0);
    }
    return slave;
}

TEST(WorkerTurns, AConnectionsQueueDelaysAnotherByOneJobAtMost) {
    int32_t port = 0;
    intptr_t slave = turnsSlave(1, port);
    ASSERT_NE(slave, 0);
    gate().reset();
    TestMaster busy, patient;
    intptr_t busyConnection = busy.connect(port, 5, kPlain),
             patientConnection = patient.connect(port, 5, kPlain);
    ASSERT_NE(busyConnection, 0);
    ASSERT_NE(patientConnection, 0);

    // The one worker is held while the busy master queues ten jobs, then the patient one queues
    // its single job.
    intptr_t blocked = submit(busy.handle(), busyConnection, "Block", Drovik_Parameter_New());
    ASSERT_TRUE(gate().waitForWaiters(1));
    std::vector<intptr_t> ids;
    for (int i = 0; i < 10; ++i)
        ids.push_back(submit(busy.handle(), busyConnection, "Turn", Drovik_Parameter_New()));
    auto queued = [&](intptr_t m, int32_t n) {
        for (int i = 0; i < 2000; ++i) {
            for (intptr_t s = Drovik_Slave_IterateMasters(slave, 0); s;
                 s = Drovik_Slave_IterateMasters(slave, s))
                if (s == m && Drovik_Slave_CountMasterJobs(slave, s) == n)
                    return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    };
    // The busy master is the first to connect, so the first in the slave's walk.
    intptr_t busyMaster = Drovik_Slave_IterateMasters(slave, 0);
    intptr_t patientMaster = Drovik_Slave_IterateMasters(slave, busyMaster);
    ASSERT_TRUE(queued(busyMaster, 11));
    intptr_t waiting = submit(patient.handle(), patientConnection, "Turn", Drovik_Parameter_New());
    ASSERT_TRUE(queued(patientMaster, 1));
    gate().release();

    ASSERT_TRUE(Recorder::instance().waitFinal(blocked).has_value());
    ASSERT_TRUE(Recorder::instance().waitFinal(waiting).has_value());
    for (intptr_t id : ids)
        ASSERT_TRUE(Recorder::instance().waitFinal(id).has_value());
    std::vector<intptr_t> order;
    {
        std::lock_guard guard(Turns::instance().lock);
        order = Turns::instance().masters;
    }
    ASSERT_EQ(order.size(), 11u);
    auto position = std::find(order.begin(), order.end(), patientMaster) - order.begin();
    EXPECT_LE(position, 1);  // behind at most one of the busy master's ten
    EXPECT_EQ(Drovik_Slave_DeInit(slave), 1);
}

// The thread that reads a quick job runs it itself, and a job is taken for quick until it has run.
// A job that does not return must not keep the slave from reading: other masters' jobs run and new
// masters connect meanwhile, the first time (the network is taken over from it) and after (it goes
// to a worker).
TEST(WorkerTurns, AJobThatDoesNotReturnKeepsNoOneElseWaiting) {
    int32_t port = 0;
    intptr_t slave = turnsSlave(2, port);
    ASSERT_NE(slave, 0);
    gate().reset();
    TestMaster stuck, other;
    intptr_t stuckConnection = stuck.connect(port, 5, kPlain);
    intptr_t otherConnection = other.connect(port, 5, kPlain);
    ASSERT_NE(stuckConnection, 0);
    ASSERT_NE(otherConnection, 0);

    for (int round = 0; round < 3; ++round) {
        intptr_t blocked = submit(stuck.handle(), stuckConnection, "Block", Drovik_Parameter_New());
        ASSERT_TRUE(gate().waitForWaiters(1));
        intptr_t echoed = submit(other.handle(), otherConnection, "Echo", listOf({"still here"}),
                                 DROVIK_TYPE_STRING);
        auto events = Recorder::instance().waitFinal(echoed);
        ASSERT_TRUE(events.has_value());
        EXPECT_EQ(events->back().event, DROVIK_EVENT_FINISHED);
        TestMaster late;
        EXPECT_NE(late.connect(port, 5, kPlain), 0);
        EXPECT_FALSE(Recorder::instance().waitFinal(blocked, 0ms).has_value());
        gate().release();
        ASSERT_TRUE(Recorder::instance().waitFinal(blocked).has_value());
        gate().reset();
    }
    EXPECT_EQ(Drovik_Slave_DeInit(slave), 1);
}

// Counts the slave's "master connected" lines, and holds the thread that logs the second one at
// the gate.
std::atomic<int> connectedLines{0};
int32_t DROVIK_CALL holdSecondConnected(intptr_t, intptr_t, int32_t, const char *text, int32_t,
                                        int32_t) {
    if (std::string_view(text).starts_with("master connected") && ++connectedLines == 2)
        gate().pass();
    return 0;
}

// A slave reads its connections on a few network threads, one per processor: a thread held up in
// one (here by the log callback, as a processor taken away by the machine would) holds up only the
// connections it reads. The other master is still served meanwhile, and the held one once let go.
TEST(WorkerTurns, AHeldNetworkThreadHoldsUpOnlyTheConnectionsItReads) {
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one processor: every connection is read on one thread";
    gate().reset();
    connectedLines = 0;
    int32_t port = 0;
    intptr_t slave = turnsSlave(2, port, &holdSecondConnected);
    ASSERT_NE(slave, 0);
    TestMaster first, second;
    intptr_t firstConnection = first.connect(port, 5, kPlain);
    ASSERT_NE(firstConnection, 0);
    for (int i = 0; i < 2000 && connectedLines < 1; ++i)
        std::this_thread::sleep_for(1ms);
    intptr_t secondConnection = second.connect(port, 5, kPlain);
    ASSERT_NE(secondConnection, 0);
    ASSERT_TRUE(gate().waitForWaiters(1));

    auto events = Recorder::instance().waitFinal(
        submit(first.handle(), firstConnection, "Echo", listOf({"still here"}), DROVIK_TYPE_STRING),
        5s);
    gate().release();
    ASSERT_TRUE(events.has_value()) << "the first master waited for the second one's thread";
    EXPECT_EQ(events->back().event, DROVIK_EVENT_FINISHED);
    events = Recorder::instance().waitFinal(
        submit(second.handle(), secondConnection, "Echo", listOf({"let go"}), DROVIK_TYPE_STRING));
    ASSERT_TRUE(events.has_value());
    EXPECT_EQ(events->back().event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(Drovik_Slave_DeInit(slave), 1);
}

// Quick jobs read together wait for the one before them on the thread that read them. When that
// one blocks, another thread takes the network over and the waiting jobs go to the workers: none
// is lost, and they start in the order read, before a job of their connection read after them.
// With one worker, the order they start in is the order they were taken in.
TEST(WorkerTurns, JobsReadTogetherKeepTheirOrderWhenTheNetworkIsTakenFromThem) {
    int32_t port = 0;
    intptr_t slave = turnsSlave(1, port);
    ASSERT_NE(slave, 0);
    // Room for the burst below, more jobs than the leader's batch, within the master's limit.
    ASSERT_EQ(Drovik_Slave_SetMasterJobLimit(slave, 0, 64), 1);
    auto mark = [](uint64_t id, int32_t n) {
        Bytes value{DROVIK_TYPE_LONG};
        putU32(value, static_cast<uint32_t>(n));
        return jobFrame(id, "Mark", 1, value);
    };
    RawPeer peer(port);
    peer.send(helloFrame(60'000));
    ASSERT_EQ(peer.read(11), welcomeFrame());
    for (int round = 0; round < 3; ++round) {
        gate().reset();
        {
            std::lock_guard guard(Turns::instance().lock);
            Turns::instance().marks.clear();
        }
        // One write: the block and three marks arrive in one read.
        Bytes together = jobFrame(100, "Block", 0);
        for (int n = 1; n <= 3; ++n) {
            Bytes f = mark(static_cast<uint64_t>(n), n);
            together.insert(together.end(), f.begin(), f.end());
        }
        peer.send(together);
        ASSERT_TRUE(gate().waitForWaiters(1));
        // Read by the thread that took the network over, while the block still holds the first.
        peer.send(mark(4, 4));
        std::this_thread::sleep_for(20ms);
        gate().release();
        for (int answered = 0; answered < 5;) {
            const uint8_t type = readFrame(peer).first;
            ASSERT_NE(type, 0) << "a RESULT for every job";
            answered += type == 6;  // the slave's pings are skipped
        }
        std::lock_guard guard(Turns::instance().lock);
        EXPECT_EQ(Turns::instance().marks, (std::vector<int32_t>{1, 2, 3, 4})) << "round " << round;
    }
    {
        std::lock_guard guard(Turns::instance().lock);
        Turns::instance().marks.clear();
    }
    // More quick jobs in one read than the leader keeps for itself (32): all go to the workers,
    // and still every one runs, in order.
    const int many = 40;
    Bytes burst;
    std::vector<int32_t> expected;
    for (int n = 1; n <= many; ++n) {
        Bytes f = mark(static_cast<uint64_t>(200 + n), n);
        burst.insert(burst.end(), f.begin(), f.end());
        expected.push_back(n);
    }
    peer.send(burst);
    for (int answered = 0; answered < many;) {
        const uint8_t type = readFrame(peer).first;
        ASSERT_NE(type, 0) << "a RESULT for every job";
        answered += type == 6;
    }
    {
        std::lock_guard guard(Turns::instance().lock);
        EXPECT_EQ(Turns::instance().marks, expected);
    }
    peer.socket().close();
    EXPECT_EQ(Drovik_Slave_DeInit(slave), 1);
}

}  // namespace
}  // namespace drovik_test
