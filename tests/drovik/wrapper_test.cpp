// The C++ layer: lambdas as handlers, the blocking call, connection hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "drovik.hpp"

namespace {

using namespace std::chrono_literals;

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
        connection_ = master_.connect("127.0.0.1", slave_.port());
        ASSERT_NE(connection_, 0) << master_.lastError();
    }

    drovik::Slave slave_{"127.0.0.1", 0, 2};
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
    EXPECT_EQ(hooked, DROVIK_EVENT_KICKED);
}

TEST_F(Wrapper, CallOnAClosedConnectionReturnsAtOnce) {
    master_.disconnect(connection_);
    auto r = master_.call(connection_, "Add", {int32_t{1}, int32_t{2}}, DROVIK_TYPE_LONG, 20s);
    EXPECT_EQ(r.jobId, 0);
    EXPECT_FALSE(master_.lastError().empty());
}

}  // namespace
