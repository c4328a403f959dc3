// An in-process slave with the jobs the tests call, and a fixture that connects a master to it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>

#include "test_support.h"

namespace drovik_test {

// Lets tests hold "Block" jobs until they say so.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;

    void pass() {
        std::unique_lock guard(lock);
        ++waiting;
        changed.notify_all();
        changed.wait_for(guard, kWait, [&] { return open; });
        --waiting;
    }
    bool waitForWaiters(int n) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kWait, [&] { return waiting >= n; });
    }
    void reset() {
        std::lock_guard guard(lock);
        open = false;
    }
    void release() {
        std::lock_guard guard(lock);
        open = true;
        changed.notify_all();
    }
};

inline Gate &gate() {
    static Gate g;
    return g;
}

// Appends a value the way the "Params" job reports what it received.
inline void appendBytes(Bytes &out, const void *p, size_t n) {
    auto *b = static_cast<const uint8_t *>(p);
    out.insert(out.end(), b, b + n);
}

// A streamed chat message: sender length, text length, sender, text.
inline Bytes chatMessage(const std::string &sender, const std::string &text) {
    Bytes m;
    int32_t s = static_cast<int32_t>(sender.size()), t = static_cast<int32_t>(text.size());
    appendBytes(m, &s, 4);
    appendBytes(m, &t, 4);
    appendBytes(m, sender.data(), sender.size());
    appendBytes(m, text.data(), text.size());
    return m;
}

namespace jobs {

inline int32_t DROVIK_CALL returnLong(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t user) {
    Drovik_Return_Long(job, static_cast<int32_t>(user));
    return DROVIK_EVENT_FINISHED;
}
inline int32_t DROVIK_CALL echo(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
    Drovik_Return_String(job, Drovik_Parameter_GetString(list, 0));
    return DROVIK_EVENT_FINISHED;
}
inline int32_t DROVIK_CALL returnDouble(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    Drovik_Return_Double(job, 2.5);
    return DROVIK_EVENT_FINISHED;
}
inline int32_t DROVIK_CALL returnOthers(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
    switch (Drovik_Parameter_GetLong(list, 0)) {
        case DROVIK_TYPE_INTEGER:
            Drovik_Return_Integer(job, -7);
            break;
        case DROVIK_TYPE_FLOAT:
            Drovik_Return_Float(job, 1.5f);
            break;
        case DROVIK_TYPE_QUAD:
            Drovik_Return_Quad(job, INT64_C(-1) << 40);
            break;
        default:
            return DROVIK_EVENT_INVALID;
    }
    return DROVIK_EVENT_FINISHED;
}
// n bytes of a pattern; n = 0 gives an empty value.
inline int32_t DROVIK_CALL returnMemory(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
    int32_t n = Drovik_Parameter_GetLong(list, 0);
    Bytes b(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i % 251);
    Drovik_Return_Memory(job, b.data(), n);
    return DROVIK_EVENT_FINISHED;
}
// Reports every parameter it received, in order, as bytes the test can rebuild.
inline int32_t DROVIK_CALL reportParams(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
    Bytes out;
    int32_t count = Drovik_Parameter_Count(list);
    for (int32_t i = 0; i < count; ++i) {
        int32_t size = 0;
        if (void *m = Drovik_Parameter_GetMem(list, i, &size)) {
            appendBytes(out, &size, 4);
            appendBytes(out, m, static_cast<size_t>(size));
        } else if (const char *s = Drovik_Parameter_GetString(list, i)) {
            appendBytes(out, s, std::strlen(s) + 1);
        } else {
            int32_t l = Drovik_Parameter_GetLong(list, i);
            intptr_t in = Drovik_Parameter_GetInteger(list, i);
            float f = Drovik_Parameter_GetFloat(list, i);
            double d = Drovik_Parameter_GetDouble(list, i);
            int64_t q = Drovik_Parameter_GetQuad(list, i);
            appendBytes(out, &l, 4);
            appendBytes(out, &in, sizeof in);
            appendBytes(out, &f, 4);
            appendBytes(out, &d, 8);
            appendBytes(out, &q, 8);
        }
    }
    Drovik_Return_Memory(job, out.data(), static_cast<int32_t>(out.size()));
    return DROVIK_EVENT_FINISHED;
}
// Streams n chat messages, pausing pauseMs before each, then returns n.
inline int32_t streamChat(intptr_t job, int32_t n, int32_t pauseMs) {
    for (int32_t i = 0; i < n; ++i) {
        if (pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Bytes m = chatMessage(i % 2 ? "" : "sender", "message " + std::to_string(i));
        if (!Drovik_Slave_Job_SendMessage(job, m.data(), static_cast<int32_t>(m.size())))
            return DROVIK_EVENT_FAILED;
    }
    Drovik_Return_Long(job, n);
    return DROVIK_EVENT_FINISHED;
}
inline int32_t DROVIK_CALL stream(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
    return streamChat(job, Drovik_Parameter_GetLong(list, 0), 0);
}
// Streams n messages, one every ms milliseconds.
inline int32_t DROVIK_CALL slowStream(intptr_t, intptr_t, intptr_t job, intptr_t list, intptr_t) {
    return streamChat(job, Drovik_Parameter_GetLong(list, 0), Drovik_Parameter_GetLong(list, 1));
}
inline int32_t DROVIK_CALL outcome(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t user) {
    return static_cast<int32_t>(user);
}
inline int32_t DROVIK_CALL throwing(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    Drovik_Return_Long(job, 1);
    throw std::runtime_error("handler failure");
}
inline int32_t DROVIK_CALL block(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    gate().pass();
    Drovik_Return_Long(job, 1);
    return DROVIK_EVENT_FINISHED;
}
inline int32_t DROVIK_CALL denySecret(intptr_t, intptr_t, const char *job, intptr_t) {
    return std::strcmp(job, "Secret") != 0;
}

}  // namespace jobs

// How many jobs addTestJobs registers.
inline constexpr int32_t kTestJobCount = 14;

inline void addTestJobs(intptr_t slave) {
    Drovik_Slave_AddJob(slave, "Long", &jobs::returnLong, "", 42);
    Drovik_Slave_AddJob(slave, "Echo", &jobs::echo, "s", 0);
    Drovik_Slave_AddJob(slave, "Double", &jobs::returnDouble, "", 0);
    Drovik_Slave_AddJob(slave, "Others", &jobs::returnOthers, "l", 0);
    Drovik_Slave_AddJob(slave, "Memory", &jobs::returnMemory, "l", 0);
    Drovik_Slave_AddJob(slave, "Params", &jobs::reportParams, "mlifdqssm", 0);
    Drovik_Slave_AddJob(slave, "Stream", &jobs::stream, "l", 0);
    Drovik_Slave_AddJob(slave, "SlowStream", &jobs::slowStream, "ll", 0);
    Drovik_Slave_AddJob(slave, "NoValue", &jobs::outcome, "", DROVIK_EVENT_FINISHED);
    Drovik_Slave_AddJob(slave, "Refuse", &jobs::outcome, "", DROVIK_EVENT_INVALID);
    Drovik_Slave_AddJob(slave, "Weird", &jobs::outcome, "", 42);
    Drovik_Slave_AddJob(slave, "Throw", &jobs::throwing, "", 0);
    Drovik_Slave_AddJob(slave, "Block", &jobs::block, "", 0);
    Drovik_Slave_AddJob(slave, "Secret", &jobs::returnLong, "", 7);
    Drovik_Slave_SetMasterJobAccessCheck(slave, &jobs::denySecret);
}

// A slave on a free loopback port with the test jobs, and one master connected to it.
class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        gate().reset();
        slave_ =
            Drovik_Slave_InitTransport("127.0.0.1", 0, nullptr, 4, &port_, transport_, "", "", 0);
        ASSERT_NE(slave_, 0) << Drovik_Slave_GetLastError(0);
        addTestJobs(slave_);
        connection_ = master_.connect(port_, 5, transport_);
        ASSERT_NE(connection_, 0) << master_.lastError();
    }
    void TearDown() override {
        gate().release();  // a test that failed half-way must not leave a job blocked
        if (slave_ != 0)
            Drovik_Slave_DeInit(slave_);
    }

    // Submits a job and waits for its final event.
    std::vector<Event> run(const char *job, intptr_t list, int32_t replyType = DROVIK_TYPE_LONG) {
        intptr_t id = submit(master_.handle(), connection_, job, list, replyType);
        EXPECT_NE(id, 0) << master_.lastError();
        auto events = Recorder::instance().waitFinal(id);
        EXPECT_TRUE(events.has_value()) << "no final event for " << job;
        if (!events)
            return {};
        for (const Event &e : *events)
            EXPECT_EQ(e.jobId, id);
        return *events;
    }

    int32_t transport_ = kTransport;  // set before SetUp
    intptr_t slave_ = 0;
    int32_t port_ = 0;
    TestMaster master_;
    intptr_t connection_ = 0;
};

}  // namespace drovik_test
