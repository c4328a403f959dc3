#include "JobDispatch.h"

#include <atomic>
#include <exception>

#include "Log.h"
#include "UserName.h"

namespace {

bool LoggedIn(Session &session) {
    std::lock_guard guard(session.mutex);
    return !session.user.empty();
}

}  // namespace

JobDispatch::JobDispatch(drovik::Slave &slave, ServerContext &context)
    : slave_(slave), context_(context) {
    slave_.setAccessCheck(
        [this](intptr_t master, std::string_view job, intptr_t) { return allow(master, job); });
    slave_.onMasterGone([this](intptr_t master, intptr_t) { connectionEnded(master); });
    slave_.onMasterConnected([this](intptr_t master) { connectionStarted(master); });
    slave_.setJobLimit(0, context_.options.jobLimit);
    // Connections that were established before the callback was installed.
    for (intptr_t master = slave_.nextMaster(); master != 0; master = slave_.nextMaster(master))
        connectionStarted(master);
}

void JobDispatch::connectionStarted(intptr_t master) {
    std::string ip = slave_.masterIP(master);
    int32_t port = Drovik_Slave_GetMasterPort(slave_.handle(), master);
    bool created = false;
    SessionPtr session =
        context_.sessions.attach(master, ip, port,
                                 InboxLimits{static_cast<size_t>(context_.options.inboxLimit),
                                             static_cast<size_t>(context_.options.inboxBytes)},
                                 created);
    if (created) {
        // The connection's value in the library marks it as having a session, which the
        // library's end-of-connection callback then hands back.
        slave_.setXtra(master, reinterpret_cast<intptr_t>(session.get()));
        if (const uint64_t n = ++opened_; IsLoggedOccurrence(n))
            LogEvent("connection from ", session->address, " (connection ", n, " since start)");
    }
}

bool JobDispatch::allow(intptr_t master, std::string_view job) {
    SessionPtr session = context_.sessions.find(master);
    if (!session) {
        // Every connection gets its session when it is established; a job without one is not
        // given a fresh one that would bypass that.
        static std::atomic<uint64_t> refusals{0};
        uint64_t count = ++refusals;
        if (IsLoggedOccurrence(count))
            LogEvent("refused ", Printable(job), ": the connection has no session (refusal ", count,
                     ")");
        return false;
    }
    Access access = Access::LoggedIn;
    {
        std::lock_guard guard(mutex_);
        auto it = access_.find(std::string(job));
        if (it != access_.end())
            access = it->second;
    }
    if (access == Access::Anyone)
        return true;
    {
        std::lock_guard guard(session->mutex);
        if (!session->user.empty())
            return true;
    }
    LogRefusal(*session, "refused ", Printable(job), " from ", session->address, ": not logged in");
    return false;
}

void JobDispatch::connectionEnded(intptr_t master) {
    SessionPtr session = context_.sessions.detach(master);
    if (!session)
        return;
    try {
        std::string user = context_.presence.logout(session);
        if (user.empty()) {
            if (const uint64_t n = ++closedWithoutAccount_; IsLoggedOccurrence(n))
                LogEvent("connection closed ", session->address, " (", n,
                         " closed without a login since start)");
        } else
            LogEvent("connection closed ", session->address, ": ", user, " logged out");
    } catch (const std::exception &e) {
        LogEvent("connection closed ", session->address, ": ", e.what());
    }
}

void JobDispatch::endRemainingSessions() {
    for (const SessionPtr &session : context_.sessions.all())
        connectionEnded(session->master);
}

void JobDispatch::logFailure(const std::string &job, const std::exception &e) {
    // While the store is down, its availability logs the outage rather than every job refused.
    auto *store = dynamic_cast<const StoreError *>(&e);
    if (store && store->kind() == StoreError::Kind::Unavailable && !context_.store.db.reachable())
        return;
    LogEvent("job ", job, " failed: ", e.what());
}

void JobDispatch::add(const std::string &name, const std::string &parameterTypes, Access access,
                      JobHandler handler) {
    {
        std::lock_guard guard(mutex_);
        access_[name] = access;
    }
    slave_.addJob(name, parameterTypes,
                  [this, name, handler = std::move(handler)](const drovik::Job &job) -> int32_t {
                      // Nothing may escape into the library, which is C.
                      try {
                          SessionPtr session = context_.sessions.find(job.master());
                          if (!session)
                              return DROVIK_EVENT_DENIED;
                          context_.router.jobArrived(*session);
                          const bool wasLoggedIn = LoggedIn(*session);
                          int32_t result = handler(job, session);
                          // A login makes the connection trusted in the library's connection
                          // limits; a logout makes it untrusted again.
                          if (LoggedIn(*session) != wasLoggedIn)
                              slave_.setTrusted(job.master(), !wasLoggedIn);
                          return result;
                      } catch (const std::exception &e) {
                          logFailure(name, e);
                      } catch (...) {
                          LogEvent("job ", name, " failed");
                      }
                      return DROVIK_EVENT_FAILED;
                  });
}
