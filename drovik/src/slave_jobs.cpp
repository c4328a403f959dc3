// A job on a worker: access check, handler, its value from the Return_ family, the messages it
// streams, and the one outcome sent to the master: when the handler returns, or, for a job its
// handler left pending, when Drovik_Slave_Job_Finish is called on whichever thread ended the wait.
#include <algorithm>

#include "handle_table.h"
#include "slave.h"

namespace drovik {
namespace {

HandleTable<SlaveJob> &runningJobs() {
    return tableOf<SlaveJob>();
}

bool isErrorEvent(int32_t event) {
    return event == DROVIK_EVENT_LIMIT || event == DROVIK_EVENT_DENIED ||
           event == DROVIK_EVENT_INVALID || event == DROVIK_EVENT_FAILED;
}

int32_t runHandler(const SlaveJob &job, SlaveServer &server, MasterSession &session) {
    const JobDefinition &def = *job.definition;
    if (Drovik_AccessCheck check = server.accessCheck.load()) {
        bool allowed = false;
        try {
            allowed =
                check(server.handle(), session.handle(), def.name.c_str(), session.xtra()) != 0;
        } catch (...) {
            server.logLine(session.handle(), kLogError, "the access check threw; job refused");
        }
        if (!allowed)
            return DROVIK_EVENT_DENIED;
    }
    // The list is reachable through its handle only while the handler runs; the job until it ends.
    intptr_t listHandle = newHandle();
    lists().insert(listHandle, job.params);
    int32_t outcome = DROVIK_EVENT_FAILED;
    try {
        outcome =
            def.handler(server.handle(), session.handle(), job.handle, listHandle, def.userData);
    } catch (...) {
        server.logLine(session.handle(), kLogError, "the handler of job " + def.name + " threw");
    }
    lists().take(listHandle);
    return outcome;
}

}  // namespace

namespace {

// Sends the job's one outcome. Whichever of the handler's return and Drovik_Slave_Job_Finish ends
// the job calls it, once.
void endJob(const std::shared_ptr<SlaveJob> &job, int32_t outcome) {
    runningJobs().take(job->handle);
    wire::Frame frame;
    {
        // Once running is false no message can follow, so the outcome is the job's last frame.
        std::lock_guard guard(job->lock);
        job->running = false;
        if (outcome == DROVIK_EVENT_FINISHED && job->hasValue) {
            frame =
                wire::encodeResult(job->wireId, DROVIK_EVENT_FINISHED, job->valueType, job->value);
        } else {
            if (!isErrorEvent(outcome))  // no value, or a result that names no outcome
                outcome = DROVIK_EVENT_FAILED;
            frame = wire::encodeResult(job->wireId, outcome, DROVIK_TYPE_NONE, {});
        }
    }
    job->session->jobFinished(std::move(frame));
}

}  // namespace

void runJob(const std::shared_ptr<SlaveJob> &job) {
    MasterSession &session = *job->session;
    SlaveServer &server = session.server();
    runningJobs().insert(job->handle, job);
    const auto started = std::chrono::steady_clock::now();
    int32_t outcome = runHandler(*job, server, session);
    // The handler's own time: a job that waits pending is quick on its worker.
    job->definition->timing->record(std::chrono::steady_clock::now() - started);
    {
        std::lock_guard guard(job->lock);
        job->handlerReturned = true;
        if (outcome == DROVIK_JOB_PENDING) {
            if (!job->finishedWith)
                return;  // Drovik_Slave_Job_Finish ends it
            outcome = *job->finishedWith;
        }
    }
    endJob(job, outcome);
}

bool finishJob(intptr_t handle, int32_t event) {
    auto job = runningJobs().find(handle);
    if (!job)
        return false;
    {
        std::lock_guard guard(job->lock);
        if (!job->running || job->finishedWith)
            return false;
        job->finishedWith = event;
        if (!job->handlerReturned)
            return true;  // the handler's return ends it, if it returns pending
    }
    endJob(job, event);
    return true;
}

void JobTiming::record(std::chrono::steady_clock::duration ran) {
    // A quarter of each new run: a job that turns slow is sent to the workers after a run or two,
    // and one slow run among quick ones does not.
    const int64_t micros = std::min<int64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(ran).count(), 10'000'000);
    const int64_t typical = typicalMicros_.load(std::memory_order_relaxed);
    typicalMicros_.store(static_cast<uint32_t>(typical + (micros - typical) / 4),
                         std::memory_order_relaxed);
}

bool setJobValue(intptr_t handle, int32_t type, std::span<const uint8_t> bytes) {
    if (bytes.size() > wire::kMaxValueSize)
        return false;
    auto job = runningJobs().find(handle);
    if (!job)
        return false;
    std::lock_guard guard(job->lock);
    if (!job->running)
        return false;
    job->hasValue = true;
    job->valueType = type;
    job->value.assign(bytes.begin(), bytes.end());
    return true;
}

bool streamFromJob(intptr_t handle, std::span<const uint8_t> bytes) {
    if (bytes.size() > wire::kMaxValueSize)
        return false;
    auto job = runningJobs().find(handle);
    if (!job)
        return false;
    // Sent under the job's lock, so a message from another thread cannot overtake the outcome.
    std::lock_guard guard(job->lock);
    if (!job->running)
        return false;
    return job->session->send(wire::encodeStream(job->wireId, bytes));
}

}  // namespace drovik
