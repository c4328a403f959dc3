// The millisecond clock across its 32-bit wrap, and the stopping of periodic workers.
#include "Network/CT/Clock.h"
#include "Network/CT/PeriodicThread.h"

#include <gtest/gtest.h>

#include "Eventually.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {
// Moves the performance clock so that it reads about `milliseconds` now.
void SetPerformanceClockTo(int64_t milliseconds) {
    ASSERT_EQ(InitPerformanceClock(), 1);
    const double ticksPerMillisecond = 1.0 / ClockFactor.load();
    ClockStart -= static_cast<int64_t>(static_cast<double>(milliseconds) * ticksPerMillisecond);
}

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override {
        InitPerformanceClock();
        Milliseconds = &PerformanceMilliseconds;
    }
};

std::atomic<int> Calls{0};
std::atomic<int32_t> LastParameter{0};
std::atomic<bool> Inside{false};
std::atomic<bool> Finished{false};
std::atomic<PeriodicThread *> SelfStopping{nullptr};

void Count(int32_t parameter) {
    LastParameter = parameter;
    ++Calls;
}
void Slow(int32_t) {
    ++Calls;
    std::this_thread::sleep_for(30ms);
}
void SlowAndWatched(int32_t) {
    Inside = true;
    std::this_thread::sleep_for(200ms);
    Finished = true;
    ++Calls;
}
void StopItself(int32_t) {
    ++Calls;
    while (SelfStopping.load() == nullptr)  // the starter has not stored the record yet
        std::this_thread::sleep_for(1ms);
    StopPeriodicThread(SelfStopping.exchange(nullptr));
}
}  // namespace

TEST(ElapsedMilliseconds, IsRightAcrossTheWrap) {
    EXPECT_EQ(ElapsedMilliseconds(INT32_MAX - 9, INT32_MIN + 10), 20);
    EXPECT_EQ(ElapsedMilliseconds(static_cast<int32_t>(0xFFFFFFF0u), 16), 32);
    EXPECT_EQ(ElapsedMilliseconds(100, 40), -60);
}

TEST_F(ClockTest, PerformanceClockKeepsCountingPastTheSigned32BitRange) {
    // 24.8 days and five seconds after start.
    SetPerformanceClockTo(int64_t{INT32_MAX} + 5000);
    const int32_t first = PerformanceMilliseconds();
    const int32_t sinceWrap = ElapsedMilliseconds(INT32_MAX, first);
    EXPECT_GE(sinceWrap, 5000);
    EXPECT_LT(sinceWrap, 5000 + 60000);
    std::this_thread::sleep_for(5ms);
    EXPECT_GT(ElapsedMilliseconds(first, PerformanceMilliseconds()), 0);
}

TEST_F(ClockTest, TickClockAdvances) {
    const int32_t first = TickMilliseconds();
    std::this_thread::sleep_for(5ms);
    EXPECT_GT(ElapsedMilliseconds(first, TickMilliseconds()), 0);
}

TEST_F(ClockTest, WorkerKeepsItsPeriodAcrossTheClockWrap) {
    Milliseconds = &PerformanceMilliseconds;
    Calls = 0;
    SetPerformanceClockTo(int64_t{INT32_MAX} - 40);
    // A long period must not fire early when the clock wraps during the wait.
    PeriodicThread *patient = StartPeriodicThread(&Count, 600000, 0);
    // A short one keeps being called after the wrap.
    PeriodicThread *busy = StartPeriodicThread(&Count, 10, 0);
    ASSERT_NE(patient, nullptr);
    ASSERT_NE(busy, nullptr);
    EXPECT_TRUE(Eventually([] { return Calls >= 20; }));
    StopPeriodicThread(busy);
    const int afterBusy = Calls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Calls, afterBusy);  // only the 10-minute worker is left, and it has not fired
    StopPeriodicThread(patient);
    EXPECT_GT(ElapsedMilliseconds(INT32_MAX, Milliseconds()), 0) << "the clock has wrapped";
}

TEST(PeriodicThread, CallsItsProcedureWithItsParameter) {
    Calls = 0;
    PeriodicThread *worker = StartPeriodicThread(&Count, 5, 42);
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(Eventually([] { return Calls >= 3; }));
    EXPECT_EQ(StopPeriodicThread(worker), 0);
    EXPECT_EQ(LastParameter, 42);
    EXPECT_EQ(StopPeriodicThread(nullptr), 0);
}

TEST(PeriodicThread, StopsAlthoughItsProcedureTakesLongerThanTheInterval) {
    Calls = 0;
    PeriodicThread *worker = StartPeriodicThread(&Slow, 10, 0);
    ASSERT_TRUE(Eventually([] { return Calls >= 2; }));
    auto stopped = std::async(std::launch::async, [worker] { return StopPeriodicThread(worker); });
    ASSERT_EQ(stopped.wait_for(20s), std::future_status::ready) << "the stop was never seen";
    const int atStop = Calls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Calls, atStop);
}

TEST(PeriodicThread, StopWaitsForTheRunningProcedure) {
    Calls = 0;
    Inside = false;
    Finished = false;
    PeriodicThread *worker = StartPeriodicThread(&SlowAndWatched, 1, 0);
    ASSERT_TRUE(Eventually([] { return Inside.load(); }));
    StopPeriodicThread(worker);
    EXPECT_TRUE(Finished);
    const int atStop = Calls;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Calls, atStop);
}

TEST(PeriodicThread, CanBeStoppedFromItsOwnProcedure) {
    Calls = 0;
    PeriodicThread *worker = StartPeriodicThread(&StopItself, 2, 0);
    ASSERT_NE(worker, nullptr);
    SelfStopping = worker;
    ASSERT_TRUE(Eventually([] { return Calls >= 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Calls, 1);
}
