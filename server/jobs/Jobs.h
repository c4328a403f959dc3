// The server's jobs by group; each function registers its group's jobs.
#pragma once

#include <string>
#include <utility>

#include "JobDispatch.h"
#include "protocol/Jobs.h"
#include "protocol/ReplyCodes.h"

struct ServerContext;

void AddAccountJobs(JobDispatch &dispatch, ServerContext &context);
void AddMessageJobs(JobDispatch &dispatch, ServerContext &context);
void AddProfileJobs(JobDispatch &dispatch, ServerContext &context);
void AddControlJobs(JobDispatch &dispatch, ServerContext &context);

// Refuses a job that needs a password hash while every hash slot is taken and the queue for them
// is full: the job ends with the library's limit event, so the client sees a failure it may retry.
inline int32_t RefuseHashBusy(Session &session, std::string_view what) {
    LogRefusal(session, what, " refused from ", session.address,
               ": too many password hashes at once");
    return DROVIK_EVENT_LIMIT;
}

// Registers a job of the protocol under its name and with its parameter signature.
inline void AddJob(JobDispatch &dispatch, const JobSpec &job, Access access, JobHandler handler) {
    dispatch.add(std::string(job.Name), std::string(job.Parameters), access, std::move(handler));
}
