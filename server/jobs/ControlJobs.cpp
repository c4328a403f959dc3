// The administrator's jobs: Control_Start switches a connection into administrator mode, the
// others act only in that mode. Every action is recorded in the store's administrator log.
#include <utility>

#include "JobDispatch.h"
#include "Log.h"
#include "UserName.h"
#include "jobs/Jobs.h"
#include "protocol/PasswordDigest.h"

namespace {

// Who acts: in administrator mode, the account that started it, whatever account the
// connection holds since.
struct Actor {
    bool admin = false;
    std::string user;
};

Actor actorOf(const SessionPtr &session) {
    std::lock_guard guard(session->mutex);
    return {session->admin, session->admin ? session->adminAccount : session->user};
}

void record(ServerContext &c, const SessionPtr &session, const std::string &actor,
            const std::string &action, const std::string &target, const std::string &detail) {
    LogEvent("administrator ", actor.empty() ? "(no account)" : actor, " at ", session->address,
             ": ", action, target.empty() ? "" : " ", target, detail.empty() ? "" : " ", detail);
    c.store.adminLog.record({UnixSeconds(), actor, session->address, action, target, detail});
}

int32_t start(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string_view digest = job.getString(0);
    if (digest.size() > kMaxDigestLength)
        return DROVIK_EVENT_INVALID;
    using Throttle = PasswordThrottle;
    auto now = std::chrono::steady_clock::now();
    if (c.adminThrottle.admit(session->ip, "", now) != Throttle::Admission::Check) {
        LogRefusal(*session, "administrator mode refused at ", session->address,
                   ": too many wrong passwords from this address");
        return ReplyLong(job, ControlCode::WrongPassword);
    }
    HashGate::Slot slot = c.hashGate.enter();
    if (!slot) {
        c.adminThrottle.finish(session->ip, "", Throttle::Outcome::NotChecked, now);
        return RefuseHashBusy(*session, "administrator mode");
    }
    auto hash = c.store.settings.get(kAdminPasswordKey);
    const bool right = hash && c.hasher.verify(*hash, digest);  // slow; no lock is held here
    now = std::chrono::steady_clock::now();
    if (!right) {
        LogRefusal(*session, "administrator mode refused at ", session->address,
                   ": wrong password");
        if (c.adminThrottle.finish(session->ip, "", Throttle::Outcome::Wrong, now))
            LogEvent("administrator mode refused to ", session->ip, " for ",
                     c.options.adminBlockSeconds, " s after ", c.options.adminFailures,
                     " wrong passwords");
        return ReplyLong(job, ControlCode::WrongPassword);
    }
    c.adminThrottle.finish(session->ip, "", Throttle::Outcome::Right, now);
    std::string user;
    {
        std::lock_guard guard(session->mutex);
        session->admin = true;
        session->adminAccount = session->user;
        user = session->user;
    }
    record(c, session, user, std::string(Job::Control_Start.Name), "", "");
    return ReplyLong(job, ControlCode::Done);
}

int32_t stop(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string user;
    {
        std::lock_guard guard(session->mutex);
        if (!session->admin)
            return ReplyLong(job, ControlCode::NoRights);
        session->admin = false;
        user = std::exchange(session->adminAccount, std::string());
    }
    record(c, session, user, std::string(Job::Control_Stop.Name), "", "");
    return ReplyLong(job, ControlCode::Done);
}

int32_t changePassword(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    Actor actor = actorOf(session);
    if (!actor.admin)
        return ReplyLong(job, ControlCode::NoRights);
    std::string_view digest = job.getString(0);
    // An empty digest is no client's password: storing it would lock the administrator out.
    if (digest.empty() || digest.size() > kMaxDigestLength || digest == PasswordDigest(""))
        return DROVIK_EVENT_INVALID;
    HashGate::Slot slot = c.hashGate.enter();
    if (!slot)
        return RefuseHashBusy(*session, "administrator password change");
    c.store.settings.set(kAdminPasswordKey, c.hasher.hash(digest));
    record(c, session, actor.user, std::string(Job::Control_ChangePassword.Name), "", "");
    return ReplyLong(job, ControlCode::Done);
}

int32_t stopServer(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    Actor actor = actorOf(session);
    if (!actor.admin)
        return ReplyLong(job, ControlCode::NoRights);
    record(c, session, actor.user, std::string(Job::Control_StopServer.Name), "", "");
    // The main thread waits for this job's reply to leave before it stops the library.
    c.stop.request(std::string(Job::Control_StopServer.Name) + " from " + session->address,
                   job.master());
    return ReplyLong(job, ControlCode::Done);
}

// The target of a control job: a registered account, or nothing.
std::optional<std::string> registeredTarget(ServerContext &c, const drovik::Job &job) {
    auto name = NormalizeUserName(job.getString(0));
    if (name && c.store.accounts.exists(*name))
        return name;
    return std::nullopt;
}

int32_t kickUser(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    Actor actor = actorOf(session);
    if (!actor.admin)
        return ReplyLong(job, ControlCode::NoRights);
    auto target = registeredTarget(c, job);
    if (!target)
        return ReplyLong(job, ControlCode::UnknownUser);
    switch (c.presence.kick(session, *target)) {
        case Presence::KickOutcome::NotLoggedIn:
            return ReplyLong(job, ControlCode::NotLoggedIn);
        case Presence::KickOutcome::Self:
            return ReplyLong(job, ControlCode::KickingOneself);
        case Presence::KickOutcome::Unavailable:
            LogEvent("kick of ", *target, " failed: Redis unreachable");
            return DROVIK_EVENT_FAILED;
        case Presence::KickOutcome::Kicked:
            break;
    }
    record(c, session, actor.user, std::string(Job::Control_KickUser.Name), *target, "");
    return ReplyLong(job, ControlCode::Done);
}

int32_t banUser(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    Actor actor = actorOf(session);
    if (!actor.admin)
        return ReplyLong(job, ControlCode::NoRights);
    auto target = registeredTarget(c, job);
    if (!target)
        return ReplyLong(job, ControlCode::UnknownUser);
    int32_t option = job.getLong(1);
    bool banned = job.getLong(2) != 0;
    bool kicked = false;
    if (banned) {
        c.store.bans.ban(*target, option, UnixSeconds(), actor.user);
        // The ban takes effect at once: the account's live session ends (its master receives
        // KICKED), and its next login is refused. An administrator banning the account they are
        // logged in with keeps the connection they act from.
        kicked = c.presence.kick(session, *target) == Presence::KickOutcome::Kicked;
    } else {
        c.store.bans.lift(*target);
    }
    record(c, session, actor.user, std::string(Job::Control_BannUser.Name), *target,
           "banned=" + std::to_string(banned ? 1 : 0) + " option=" + std::to_string(option) +
               (kicked ? " session ended" : ""));
    return ReplyLong(job, ControlCode::Done);
}

int32_t forceLogin(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    Actor actor = actorOf(session);
    if (!actor.admin)
        return ReplyLong(job, ControlCode::NoRights);
    auto target = registeredTarget(c, job);
    if (!target)
        return ReplyLong(job, ControlCode::UnknownUser);
    Presence::ForceOutcome outcome = c.presence.forceLogin(session, *target);
    if (outcome == Presence::ForceOutcome::Unavailable) {
        LogEvent("forced login of ", *target, " failed: Redis unreachable");
        return DROVIK_EVENT_FAILED;
    }
    const bool kicked = outcome == Presence::ForceOutcome::Kicked;
    record(c, session, actor.user, std::string(Job::Control_ForceLogin.Name), *target,
           kicked ? "other connection kicked" : "");
    return ReplyLong(job, ControlCode::Done);
}

}  // namespace

void AddControlJobs(JobDispatch &dispatch, ServerContext &c) {
    AddJob(dispatch, Job::Control_Start, Access::Anyone, WithContext(c, start));
    AddJob(dispatch, Job::Control_Stop, Access::LoggedIn, WithContext(c, stop));
    AddJob(dispatch, Job::Control_ChangePassword, Access::LoggedIn, WithContext(c, changePassword));
    AddJob(dispatch, Job::Control_StopServer, Access::LoggedIn, WithContext(c, stopServer));
    AddJob(dispatch, Job::Control_KickUser, Access::LoggedIn, WithContext(c, kickUser));
    AddJob(dispatch, Job::Control_BannUser, Access::LoggedIn, WithContext(c, banUser));
    AddJob(dispatch, Job::Control_ForceLogin, Access::LoggedIn, WithContext(c, forceLogin));
}
