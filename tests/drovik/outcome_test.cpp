// Every error event from its cause, and the slave's view of its masters.
#include "test_slave.h"

namespace drovik_test {
namespace {

using Outcome = LoopbackTest;

void expectOnlyError(const std::vector<Event> &events, int32_t event) {
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, event);
    EXPECT_FALSE(events[0].hadData);
    EXPECT_EQ(events[0].size, 0);
}

TEST_F(Outcome, UnknownJobName) {
    expectOnlyError(run("NoSuchJob", 0), DROVIK_EVENT_UNKNOWN);
}

TEST_F(Outcome, WrongParametersAreInvalid) {
    intptr_t wrongType = Drovik_Parameter_New();
    Drovik_Parameter_AddLong(wrongType, 1);
    expectOnlyError(run("Echo", wrongType), DROVIK_EVENT_INVALID);
    expectOnlyError(run("Echo", 0), DROVIK_EVENT_INVALID);
    expectOnlyError(run("Echo", listOf({"a", "b"})), DROVIK_EVENT_INVALID);
}

TEST_F(Outcome, AccessCheckRefusal) {
    expectOnlyError(run("Secret", 0), DROVIK_EVENT_DENIED);
}

TEST_F(Outcome, HandlerOutcomes) {
    expectOnlyError(run("NoValue", 0), DROVIK_EVENT_FAILED);
    expectOnlyError(run("Weird", 0), DROVIK_EVENT_FAILED);
    // 32-bit mingw links its unwinder into each module, and it cannot unwind from the test's
    // handler into Drovik.dll: there the throwing handler is left out.
#if !(defined(__MINGW32__) && defined(__i386__))
    expectOnlyError(run("Throw", 0), DROVIK_EVENT_FAILED);
#endif
    expectOnlyError(run("Refuse", 0), DROVIK_EVENT_INVALID);
}

TEST_F(Outcome, JobLimitPerMaster) {
    intptr_t onSlave = Drovik_Slave_IterateMasters(slave_, 0);
    ASSERT_NE(onSlave, 0);
    ASSERT_EQ(Drovik_Slave_SetMasterJobLimit(slave_, onSlave, 1), 1);
    EXPECT_EQ(Drovik_Slave_SetMasterJobLimit(slave_, onSlave, 0), 0);

    intptr_t blocked = submit(master_.handle(), connection_, "Block", 0);
    ASSERT_TRUE(gate().waitForWaiters(1));
    EXPECT_EQ(Drovik_Slave_CountMasterJobs(slave_, onSlave), 1);
    EXPECT_EQ(Drovik_Master_CountSlaveJobs(master_.handle(), connection_), 1);
    expectOnlyError(run("Long", 0), DROVIK_EVENT_LIMIT);

    gate().release();
    auto first = Recorder::instance().waitFinal(blocked);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->back().event, DROVIK_EVENT_FINISHED);
    auto after = run("Long", 0);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(Drovik_Master_CountSlaveJobs(master_.handle(), connection_), 0);
}

// The job handle a handler saw, for calls after the job has ended.
std::atomic<intptr_t> gLastJob{0};
int32_t DROVIK_CALL keepHandle(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    gLastJob = job;
    Drovik_Return_Long(job, 5);
    Drovik_Return_Long(job, 6);  // the last value wins
    return DROVIK_EVENT_FINISHED;
}

TEST_F(Outcome, ReturnsAfterTheJobEndedAreRefused) {
    Drovik_Slave_AddJob(slave_, "Keep", &keepHandle, "", 0);
    auto events = run("Keep", 0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(longOf(events[0]), 6);
    EXPECT_EQ(Drovik_Return_Long(gLastJob, 1), 0);
    EXPECT_EQ(Drovik_Return_String(gLastJob, "x"), 0);
    const char msg[] = "late";
    EXPECT_EQ(Drovik_Slave_Job_SendMessage(gLastJob, msg, 4), 0);
}

TEST_F(Outcome, SlaveKnowsItsMasters) {
    intptr_t onSlave = Drovik_Slave_IterateMasters(slave_, 0);
    ASSERT_NE(onSlave, 0);
    EXPECT_EQ(Drovik_Slave_IterateMasters(slave_, onSlave), 0);
    EXPECT_EQ(Drovik_Slave_CountMasters(slave_), 1);
    EXPECT_STREQ(Drovik_Slave_GetMasterIP(slave_, onSlave), "127.0.0.1");
    EXPECT_GT(Drovik_Slave_GetMasterPort(slave_, onSlave), 0);
    EXPECT_EQ(Drovik_Slave_GetMasterXtraData(slave_, onSlave), 0);
    EXPECT_EQ(Drovik_Slave_SetMasterXtraData(slave_, onSlave, 1234), 1);
    EXPECT_EQ(Drovik_Slave_GetMasterXtraData(slave_, onSlave), 1234);
    EXPECT_EQ(Drovik_Slave_CountJobs(slave_), kTestJobCount);
    EXPECT_STREQ(Drovik_Master_GetSlaveIP(master_.handle(), connection_), "127.0.0.1");
    EXPECT_EQ(Drovik_Master_CountSlaves(master_.handle()), 1);
    EXPECT_EQ(Drovik_Master_IterateSlaves(master_.handle(), 0), connection_);
    EXPECT_EQ(Drovik_Master_IterateSlaves(master_.handle(), connection_), 0);
    EXPECT_EQ(Drovik_Master_SetSlaveXtraData(master_.handle(), connection_, 99), 1);
    EXPECT_EQ(Drovik_Master_GetSlaveXtraData(master_.handle(), connection_), 99);
}

struct EndOfMaster {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<intptr_t> xtras;
    bool jobRunning = false;  // the master's job had not returned when the callback ran
};
EndOfMaster gEnd;
std::atomic<bool> gBlockedJobDone{false};

void DROVIK_CALL recordEnd(intptr_t, intptr_t, intptr_t xtra) {
    std::lock_guard guard(gEnd.lock);
    gEnd.xtras.push_back(xtra);
    gEnd.jobRunning = !gBlockedJobDone;
    gEnd.changed.notify_all();
}

int32_t DROVIK_CALL blockThenMark(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    gate().pass();
    Drovik_Return_Long(job, 1);
    gBlockedJobDone = true;
    return DROVIK_EVENT_FINISHED;
}

TEST_F(Outcome, EndOfMasterRunsOnceAfterItsLastJob) {
    Drovik_Slave_SetMasterXtraDataDeinitCallback(slave_, &recordEnd);
    Drovik_Slave_AddJob(slave_, "BlockThenMark", &blockThenMark, "", 0);
    intptr_t onSlave = Drovik_Slave_IterateMasters(slave_, 0);
    Drovik_Slave_SetMasterXtraData(slave_, onSlave, 4711);

    submit(master_.handle(), connection_, "BlockThenMark", 0);
    ASSERT_TRUE(gate().waitForWaiters(1));
    ASSERT_EQ(Drovik_Master_RemoveSlave(master_.handle(), connection_), 1);
    // The master is gone, but its job still runs: the slave keeps it known until the job returns.
    for (int i = 0; i < 400 && Drovik_Slave_CountMasters(slave_) > 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(Drovik_Slave_CountMasters(slave_), 0);
    EXPECT_EQ(Drovik_Slave_GetMasterXtraData(slave_, onSlave), 4711);
    gate().release();

    std::unique_lock guard(gEnd.lock);
    ASSERT_TRUE(gEnd.changed.wait_for(guard, kWait, [] { return !gEnd.xtras.empty(); }));
    EXPECT_EQ(gEnd.xtras, std::vector<intptr_t>{4711});
    EXPECT_FALSE(gEnd.jobRunning);
    guard.unlock();
    // Afterwards the master's handle is no longer known.
    for (int i = 0; i < 400 && Drovik_Slave_GetMasterXtraData(slave_, onSlave) != 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(Drovik_Slave_GetMasterXtraData(slave_, onSlave), 0);
    EXPECT_EQ(Drovik_Slave_SetMasterXtraData(slave_, onSlave, 1), 0);
    Drovik_Slave_DeInit(slave_);
    slave_ = 0;
    EXPECT_EQ(gEnd.xtras.size(), 1u);
}

}  // namespace
}  // namespace drovik_test
