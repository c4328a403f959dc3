// The server's jobs by group; each function registers its group's jobs.
#pragma once

class JobDispatch;
struct ServerContext;

void AddAccountJobs(JobDispatch &dispatch, ServerContext &context);
void AddMessageJobs(JobDispatch &dispatch, ServerContext &context);
void AddProfileJobs(JobDispatch &dispatch, ServerContext &context);
void AddControlJobs(JobDispatch &dispatch, ServerContext &context);
