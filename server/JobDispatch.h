// Registers the server's jobs with the library's slave, binds a session to every connection as it
// is established (through the library's per-connection data) and ends it when the connection ends,
// and refuses jobs that need a login to connections without one.
#pragma once

#include <drovik.hpp>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "Log.h"
#include "ServerContext.h"
#include "Session.h"

enum class Access { Anyone, LoggedIn };

// A job handler gets the job and its connection's session. Its result is the job's final event:
// DROVIK_EVENT_FINISHED after a job.return...(), or an error event.
using JobHandler = std::function<int32_t(const drovik::Job &, const SessionPtr &)>;

class JobDispatch {
public:
    JobDispatch(drovik::Slave &slave, ServerContext &context);

    void add(const std::string &name, const std::string &parameterTypes, Access access,
             JobHandler handler);
    // Ends the sessions that are left once the slave has stopped (normally none: the slave ends
    // every connection's session as it stops).
    void endRemainingSessions();

private:
    void connectionStarted(intptr_t master);
    bool allow(intptr_t master, std::string_view job);
    void connectionEnded(intptr_t master);
    void logFailure(const std::string &job, const std::exception &e);

    drovik::Slave &slave_;
    ServerContext &context_;
    std::mutex mutex_;
    // Connections opened, and closed without an account: anyone can make them at will, so they
    // are logged at their 1st, 10th, 100th... occurrence only.
    std::atomic<uint64_t> opened_{0};
    std::atomic<uint64_t> closedWithoutAccount_{0};
    std::unordered_map<std::string, Access> access_;
};

// A handler of the form int32_t f(ServerContext &, const drovik::Job &, const SessionPtr &).
template <typename Function>
JobHandler WithContext(ServerContext &context, Function function) {
    return [&context, function](const drovik::Job &job, const SessionPtr &session) {
        return function(context, job, session);
    };
}

// Logs a refusal of the session's job: the first and every tenfold one of the connection.
template <typename... Parts>
void LogRefusal(Session &session, const Parts &...parts) {
    uint64_t count;
    {
        std::lock_guard guard(session.mutex);
        count = ++session.refusals;
    }
    uint64_t skipped = 0;
    if (IsLoggedOccurrence(count) && AdmitFloodableLine(skipped))
        LogEvent(parts...,
                 count > 1 ? " (refusal " + std::to_string(count) + " of this connection)" : "",
                 skipped > 0
                     ? " (" + std::to_string(skipped) + " lines about refusals left out before it)"
                     : "");
}

// Ends a job with a 32-bit value.
inline int32_t ReplyLong(const drovik::Job &job, int32_t value) {
    job.returnLong(value);
    return DROVIK_EVENT_FINISHED;
}
