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

// Jobs whose handlers returned pending, for the test to end from its own thread.
struct Parked {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<intptr_t> jobs;

    intptr_t waitForJob(size_t n) {
        std::unique_lock guard(lock);
        if (!changed.wait_for(guard, kWait, [&] { return jobs.size() >= n; }))
            return 0;
        return jobs[n - 1];
    }
};
Parked gParked;

int32_t DROVIK_CALL park(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    const char early[] = "early";
    Drovik_Slave_Job_SendMessage(job, early, 5);
    std::lock_guard guard(gParked.lock);
    gParked.jobs.push_back(job);
    gParked.changed.notify_all();
    return DROVIK_JOB_PENDING;
}

// Finishes its own job before returning; userData is what it then returns.
int32_t DROVIK_CALL finishThenReturn(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t result) {
    Drovik_Return_Long(job, 7);
    if (Drovik_Slave_Job_Finish(job, DROVIK_EVENT_FINISHED) != 1)
        return DROVIK_EVENT_FAILED;
    // It has not ended yet: its value may still change.
    Drovik_Return_Long(job, 8);
    return static_cast<int32_t>(result);
}

TEST_F(Outcome, APendingJobHoldsItsPlaceUntilFinishedFromAnotherThread) {
    gParked.jobs.clear();
    Drovik_Slave_AddJob(slave_, "Park", &park, "", 0);
    intptr_t onSlave = Drovik_Slave_IterateMasters(slave_, 0);
    ASSERT_EQ(Drovik_Slave_SetMasterJobLimit(slave_, onSlave, 1), 1);

    intptr_t id = submit(master_.handle(), connection_, "Park", 0);
    intptr_t parked = gParked.waitForJob(1);
    ASSERT_NE(parked, 0);
    // Its handler has returned, but the job still counts against the master's limit.
    EXPECT_EQ(Drovik_Slave_CountMasterJobs(slave_, onSlave), 1);
    expectOnlyError(run("Long", 0), DROVIK_EVENT_LIMIT);

    std::thread finisher([parked] {
        const char late[] = "late";
        EXPECT_EQ(Drovik_Slave_Job_SendMessage(parked, late, 4), 1);
        EXPECT_EQ(Drovik_Return_Long(parked, 42), 1);
        EXPECT_EQ(Drovik_Slave_Job_Finish(parked, DROVIK_EVENT_FINISHED), 1);
        EXPECT_EQ(Drovik_Slave_Job_Finish(parked, DROVIK_EVENT_FAILED), 0);
        EXPECT_EQ(Drovik_Return_Long(parked, 1), 0);
    });
    finisher.join();
    auto events = Recorder::instance().waitFinal(id);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 3u);
    EXPECT_EQ(textOf((*events)[0]), "early");
    EXPECT_EQ(textOf((*events)[1]), "late");
    EXPECT_EQ((*events)[2].event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(longOf((*events)[2]), 42);
    EXPECT_EQ(run("Long", 0).back().event, DROVIK_EVENT_FINISHED);

    // Finished before its handler returned: pending then ends it at once, anything else instead.
    ASSERT_EQ(Drovik_Slave_SetMasterJobLimit(slave_, onSlave, 16), 1);
    Drovik_Slave_AddJob(slave_, "FinishThenPending", &finishThenReturn, "", DROVIK_JOB_PENDING);
    Drovik_Slave_AddJob(slave_, "FinishThenRefuse", &finishThenReturn, "", DROVIK_EVENT_INVALID);
    auto pending = run("FinishThenPending", 0);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(longOf(pending[0]), 8);
    expectOnlyError(run("FinishThenRefuse", 0), DROVIK_EVENT_INVALID);
    EXPECT_EQ(Drovik_Slave_Job_Finish(0, DROVIK_EVENT_FINISHED), 0);
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

TEST_F(Outcome, APendingJobHoldsUpTheEndOfItsMaster) {
    {
        std::lock_guard guard(gEnd.lock);
        gEnd.xtras.clear();
    }
    gParked.jobs.clear();
    Drovik_Slave_SetMasterXtraDataDeinitCallback(slave_, &recordEnd);
    Drovik_Slave_AddJob(slave_, "Park", &park, "", 0);
    Drovik_Slave_SetMasterXtraData(slave_, Drovik_Slave_IterateMasters(slave_, 0), 17);
    submit(master_.handle(), connection_, "Park", 0);
    intptr_t parked = gParked.waitForJob(1);
    ASSERT_NE(parked, 0);
    ASSERT_EQ(Drovik_Master_RemoveSlave(master_.handle(), connection_), 1);

    // The master is gone; a thread of the application ends the pending job a little later, and
    // only then does the master's end come.
    std::thread finisher([parked] {
        std::this_thread::sleep_for(200ms);
        {
            std::lock_guard guard(gEnd.lock);
            EXPECT_TRUE(gEnd.xtras.empty()) << "the master ended before its pending job";
        }
        const char late[] = "late";
        EXPECT_EQ(Drovik_Slave_Job_SendMessage(parked, late, 4), 0);  // nobody to send it to
        EXPECT_EQ(Drovik_Slave_Job_Finish(parked, DROVIK_EVENT_FAILED), 1);
    });
    finisher.join();
    std::unique_lock guard(gEnd.lock);
    ASSERT_TRUE(gEnd.changed.wait_for(guard, kWait, [] { return !gEnd.xtras.empty(); }));
    EXPECT_EQ(gEnd.xtras, std::vector<intptr_t>{17});
}

}  // namespace
}  // namespace drovik_test
