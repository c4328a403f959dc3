// The C++ layer: lambdas as handlers, the blocking call, connection hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "drovik.hpp"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using drovik_test::kTransport;

class Wrapper : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(slave_.ok()) << slave_.error();
        slave_.addJob("Add", "ll", [](const drovik::Job &job) {
            job.returnLong(job.getLong(0) + job.getLong(1));
            return DROVIK_EVENT_FINISHED;
        });
        slave_.addJob("Upper", "s", [](const drovik::Job &job) {
            std::string s(job.getString(0));
            for (char &c : s)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            job.returnString(s);
            return DROVIK_EVENT_FINISHED;
        });
        slave_.addJob("Lines", "m", [](const drovik::Job &job) {
            auto block = job.getMem(0);
            for (uint8_t b : block)
                job.sendMessage(std::vector<uint8_t>(b, b));
            job.returnQuad(static_cast<int64_t>(block.size()));
            return DROVIK_EVENT_FINISHED;
        });
        slave_.addJob("Fails", "",
                      [](const drovik::Job &) -> int32_t { throw std::runtime_error("no"); });
        connection_ = master_.connect("127.0.0.1", slave_.port(), 5, kTransport);
        ASSERT_NE(connection_, 0) << master_.lastError();
    }

    drovik::Slave slave_{"127.0.0.1", 0, 2, nullptr, {kTransport, "", "", false}};
    drovik::Master master_;
    intptr_t connection_ = 0;
};

TEST_F(Wrapper, BlockingCallsReturnTheValue) {
    auto sum = master_.call(connection_, "Add", {int32_t{40}, int32_t{2}}, DROVIK_TYPE_LONG, 20s);
    EXPECT_EQ(sum.event, DROVIK_EVENT_FINISHED);
    EXPECT_NE(sum.jobId, 0);
    EXPECT_EQ(sum.asLong(), 42);

    auto upper = master_.call(connection_, "Upper", {std::string("abc")}, DROVIK_TYPE_STRING, 20s);
    EXPECT_EQ(upper.type, DROVIK_TYPE_STRING);
    EXPECT_EQ(upper.asString(), "ABC");
}

TEST_F(Wrapper, StreamedBlocksAndQuadValue) {
    auto r = master_.call(connection_, "Lines", {drovik::Bytes{1, 2, 3}}, DROVIK_TYPE_NONE, 20s);
    EXPECT_EQ(r.event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(r.type, DROVIK_TYPE_QUAD);
    ASSERT_EQ(r.streamed.size(), 3u);
    EXPECT_EQ(r.streamed[2], (drovik::Bytes{3, 3, 3}));
}

TEST_F(Wrapper, ThrowingHandlerFailsTheJob) {
    EXPECT_EQ(master_.call(connection_, "Fails", {}, DROVIK_TYPE_LONG, 20s).event,
              DROVIK_EVENT_FAILED);
}

TEST_F(Wrapper, AccessCheckAndMasterGone) {
    std::atomic<intptr_t> goneXtra{0};
    slave_.setAccessCheck([](intptr_t, std::string_view job, intptr_t) { return job != "Add"; });
    slave_.onMasterGone([&](intptr_t, intptr_t xtra) { goneXtra = xtra; });
    EXPECT_EQ(
        master_.call(connection_, "Add", {int32_t{1}, int32_t{1}}, DROVIK_TYPE_LONG, 20s).event,
        DROVIK_EVENT_DENIED);
    intptr_t onSlave = slave_.nextMaster();
    ASSERT_NE(onSlave, 0);
    EXPECT_EQ(slave_.masterIP(onSlave), "127.0.0.1");
    slave_.setXtra(onSlave, 5);
    master_.disconnect(connection_);
    for (int i = 0; i < 2000 && goneXtra == 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(goneXtra, 5);
}

TEST_F(Wrapper, KickWakesTheWaitingCallAndTheHook) {
    std::atomic<int32_t> hooked{0};
    master_.onConnectionEvent([&](intptr_t, int32_t event) { hooked = event; });
    std::atomic<bool> started{false};
    slave_.addJob("Wait", "", [&](const drovik::Job &) {
        started = true;
        std::this_thread::sleep_for(300ms);
        return DROVIK_EVENT_FAILED;
    });
    std::thread kicker([&] {
        while (!started)
            std::this_thread::sleep_for(1ms);
        slave_.kick(slave_.nextMaster());
    });
    auto r = master_.call(connection_, "Wait", {}, DROVIK_TYPE_LONG, 20s);
    kicker.join();
    EXPECT_EQ(r.event, 0);
    EXPECT_EQ(r.connectionEvent, DROVIK_EVENT_KICKED);
    // The hook runs after the waiting call has been woken, on the library's thread.
    for (int i = 0; i < 4000 && hooked == 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(hooked, DROVIK_EVENT_KICKED);
}

TEST_F(Wrapper, CallOnAClosedConnectionReturnsAtOnce) {
    master_.disconnect(connection_);
    auto r = master_.call(connection_, "Add", {int32_t{1}, int32_t{2}}, DROVIK_TYPE_LONG, 20s);
    EXPECT_EQ(r.jobId, 0);
    EXPECT_FALSE(master_.lastError().empty());
}

// What the slave's callbacks saw, in the order they ran.
struct Trace {
    struct Step {
        std::string what;
        intptr_t master;
        intptr_t xtra;
    };
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Step> steps;

    void add(std::string what, intptr_t master, intptr_t xtra = 0) {
        std::lock_guard guard(lock);
        steps.push_back({std::move(what), master, xtra});
        changed.notify_all();
    }
    size_t count(const std::string &what) {
        return std::count_if(steps.begin(), steps.end(), [&](auto &s) { return s.what == what; });
    }
    bool waitFor(const std::string &what, size_t n) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 20s, [&] { return count(what) >= n; });
    }
};

TEST(SlaveCallbacks, ConnectedComesOncePerConnectionBeforeItsJobsAndGoneComesLast) {
    Trace trace;
    drovik::Slave slave("127.0.0.1", 0, 4, nullptr, {kTransport, "", "", false});
    ASSERT_TRUE(slave.ok()) << slave.error();
    slave.onMasterConnected([&](intptr_t master) {
        // Long enough that a job let through early would overtake the callback.
        std::this_thread::sleep_for(50ms);
        // Entry points are callable here: the library holds none of its locks.
        slave.setXtra(master, master * 10);
        trace.add("connected", master);
    });
    slave.setAccessCheck([&](intptr_t master, std::string_view, intptr_t xtra) {
        trace.add("check", master, xtra);
        return true;
    });
    slave.addJob("Echo", "l", [&](const drovik::Job &job) {
        trace.add("job", job.master());
        job.returnLong(job.getLong(0));
        return DROVIK_EVENT_FINISHED;
    });
    slave.onMasterGone([&](intptr_t master, intptr_t xtra) { trace.add("gone", master, xtra); });

    constexpr int kMasters = 3;
    std::vector<std::unique_ptr<drovik::Master>> masters;
    std::vector<std::thread> callers;
    std::atomic<int> answered{0};
    for (int i = 0; i < kMasters; ++i) {
        auto &m = *masters.emplace_back(std::make_unique<drovik::Master>());
        intptr_t connection = m.connect("127.0.0.1", slave.port(), 5, kTransport);
        ASSERT_NE(connection, 0) << m.lastError();
        // Two jobs at once, sent as soon as the connection stands.
        for (int j = 0; j < 2; ++j)
            callers.emplace_back([&m, connection, &answered, j] {
                auto r = m.call(connection, "Echo", {int32_t{j}}, DROVIK_TYPE_LONG, 20s);
                if (r.event == DROVIK_EVENT_FINISHED && r.asLong() == j)
                    ++answered;
            });
    }
    for (auto &c : callers)
        c.join();
    EXPECT_EQ(answered, 2 * kMasters);
    masters.clear();  // disconnects every master
    ASSERT_TRUE(trace.waitFor("gone", kMasters));

    std::lock_guard guard(trace.lock);
    std::map<intptr_t, std::vector<Trace::Step>> byMaster;
    for (const auto &step : trace.steps)
        byMaster[step.master].push_back(step);
    ASSERT_EQ(byMaster.size(), size_t{kMasters});
    for (const auto &[master, steps] : byMaster) {
        ASSERT_EQ(steps.size(), 6u) << "connected, two checks, two jobs, gone";
        EXPECT_EQ(steps.front().what, "connected");
        EXPECT_EQ(steps.back().what, "gone");
        EXPECT_EQ(steps.back().xtra, master * 10);
        for (size_t i = 1; i + 1 < steps.size(); ++i) {
            EXPECT_NE(steps[i].what, "connected");
            EXPECT_NE(steps[i].what, "gone");
            if (steps[i].what == "check") {
                EXPECT_EQ(steps[i].xtra, master * 10)
                    << "the check ran before the callback's value";
            }
        }
    }
}

}  // namespace
