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

// Registers a job of the protocol under its name and with its parameter signature.
inline void AddJob(JobDispatch &dispatch, const JobSpec &job, Access access, JobHandler handler) {
    dispatch.add(std::string(job.Name), std::string(job.Parameters), access, std::move(handler));
}
