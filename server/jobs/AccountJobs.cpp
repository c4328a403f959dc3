// User_Register, User_Login, User_Logout, User_GetPreferences.
#include <array>
#include <cstring>

#include "JobDispatch.h"
#include "Log.h"
#include "UserName.h"
#include "jobs/Jobs.h"
#include "protocol/PreferencesBlock.h"

namespace {

int32_t registerAccount(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string_view given = job.getString(0);
    std::string_view digest = job.getString(1);
    int32_t passwordLength = job.getLong(2);
    if (digest.size() > kMaxDigestLength)
        return DROVIK_EVENT_INVALID;
    auto name = NormalizeUserName(given);
    if (!name) {
        LogRefusal(*session, "register refused from ", session->address, ": invalid name \"",
                   Printable(given), "\"");
        return ReplyLong(job, RegisterCode::NameInvalid);
    }
    if (c.store.bans.isBanned(*name)) {
        LogRefusal(*session, "register refused from ", session->address, ": ", *name, " is banned");
        return ReplyLong(job, RegisterCode::NameBanned);
    }
    if (c.store.accounts.exists(*name))
        return ReplyLong(job, RegisterCode::NameExists);
    if (passwordLength < c.options.minPasswordLength)
        return ReplyLong(job, RegisterCode::PasswordTooShort);
    // Only a registration that would hash counts against the address's allowance.
    const std::string addressKey = AddressKey(session->ip);
    if (!c.registrations.take(addressKey, std::chrono::steady_clock::now())) {
        LogRefusal(*session, "register refused from ", session->address,
                   ": too many registrations from this address");
        return DROVIK_EVENT_LIMIT;
    }
    // Registrations hash through a gate of their own, so that a flood of them never keeps an
    // account's owner from logging in.
    HashGate::Slot slot = c.registrationGate.enter();
    if (!slot) {
        c.registrations.giveBack(addressKey);
        return RefuseHashBusy(*session, "register");
    }
    std::string hash = c.hasher.hash(digest);  // slow; no lock is held here
    if (!c.store.accounts.insert(*name, hash, UnixSeconds()))
        return ReplyLong(job, RegisterCode::NameExists);  // registered meanwhile by another
    LogEvent("registered ", *name, " from ", session->address);
    return ReplyLong(job, RegisterCode::Created);
}

// Administrator mode belongs to the account that started it: it ends at a logout and when another
// account logs in on the connection (a forced login does not end it).
void endAdministratorMode(Session &session, const std::string &loggingIn) {
    std::lock_guard guard(session.mutex);
    if (session.admin && (loggingIn.empty() || loggingIn != session.adminAccount)) {
        session.admin = false;
        session.adminAccount.clear();
    }
}

int32_t login(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string_view given = job.getString(0);
    std::string_view digest = job.getString(1);
    if (digest.size() > kMaxDigestLength)
        return DROVIK_EVENT_INVALID;
    auto name = NormalizeUserName(given);
    if (!name)
        return ReplyLong(job, LoginCode::UnknownName);
    {
        // Before any password check, so that a connection holding one account learns nothing
        // about another's password.
        std::lock_guard guard(session->mutex);
        if (!session->user.empty() && session->user != *name)
            return ReplyLong(job, LoginCode::OtherAccountHere);
    }
    using Throttle = PasswordThrottle;
    auto now = std::chrono::steady_clock::now();
    if (c.loginThrottle.blocked(session->ip, now)) {
        LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                   ": too many wrong passwords from this address");
        return ReplyLong(job, LoginCode::WrongPassword);
    }
    auto hash = c.store.accounts.passwordHash(*name);
    if (!hash)
        return ReplyLong(job, LoginCode::UnknownName);
    if (c.store.bans.isBanned(*name)) {
        LogRefusal(*session, "login of ", *name, " refused from ", session->address, ": banned");
        return ReplyLong(job, LoginCode::Banned);
    }
    switch (c.loginThrottle.admit(session->ip, *name, now)) {
        case Throttle::Admission::Check:
            break;
        case Throttle::Admission::AddressBlocked:
            LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                       ": too many wrong passwords from this address");
            return ReplyLong(job, LoginCode::WrongPassword);
        case Throttle::Admission::AccountSlowed:
            LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                       ": the account is being guessed, next check later");
            return ReplyLong(job, LoginCode::WrongPassword);
    }
    HashGate::Slot slot = c.hashGate.enter();
    if (!slot) {
        c.loginThrottle.finish(session->ip, *name, Throttle::Outcome::NotChecked, now);
        return RefuseHashBusy(*session, "login");
    }
    const bool right = c.hasher.verify(*hash, digest);  // slow; no lock is held here
    now = std::chrono::steady_clock::now();
    if (!right) {
        LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                   ": wrong password");
        if (c.loginThrottle.finish(session->ip, *name, Throttle::Outcome::Wrong, now))
            LogEvent("logins from ", session->ip, " refused for ", c.options.loginBlockSeconds,
                     " s after ", c.options.loginFailures, " wrong passwords");
        return ReplyLong(job, LoginCode::WrongPassword);
    }
    c.loginThrottle.finish(session->ip, *name, Throttle::Outcome::Right, now);
    switch (c.presence.login(session, *name)) {
        case Presence::LoginOutcome::AlreadyThisAccount:
            return ReplyLong(job, LoginCode::LoggedIn);
        case Presence::LoginOutcome::LoggedInElsewhere:
            LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                       ": logged in on another connection");
            return ReplyLong(job, LoginCode::LoggedInElsewhere);
        case Presence::LoginOutcome::OtherAccountHere:
            return ReplyLong(job, LoginCode::OtherAccountHere);
        case Presence::LoginOutcome::Unavailable:
            LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                       ": Redis unreachable, cannot tell whether another node holds the account");
            return DROVIK_EVENT_FAILED;
        case Presence::LoginOutcome::LoggedIn:
            break;
    }
    // A ban stores the flag, then ends the account's session. A login that checked the flag
    // before the ban and bound the account after that session ended sees the flag now.
    if (c.store.bans.isBanned(*name)) {
        c.presence.logout(session);
        LogRefusal(*session, "login of ", *name, " refused from ", session->address, ": banned");
        return ReplyLong(job, LoginCode::Banned);
    }
    endAdministratorMode(*session, *name);
    LogEvent("login ", *name, " from ", session->address);
    if (c.hasher.needsRehash(*hash))  // the costs were changed since the account's last login
        c.store.accounts.setPasswordHash(*name, c.hasher.hash(digest));
    return ReplyLong(job, LoginCode::LoggedIn);
}

int32_t logout(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    endAdministratorMode(*session, "");
    std::string user = c.presence.logout(session);
    if (!user.empty())
        LogEvent("logout ", user, " from ", session->address);
    return ReplyLong(job, ReplyCode::Done);
}

int32_t preferences(ServerContext &c, const drovik::Job &job, const SessionPtr &) {
    const ServerOptions &o = c.options;
    PreferencesValues values{};
    values[PreferencesField_Unnamed] = 1;
    values[PreferencesField_MaxAvatarSize] = o.maxAvatarBytes;
    values[PreferencesField_MaxAvatarWidth] = o.maxAvatarWidth;
    values[PreferencesField_MaxAvatarHeight] = o.maxAvatarHeight;
    values[PreferencesField_AvatarCacheSetting] = o.avatarCacheSeconds;
    values[PreferencesField_ProfileCacheSetting] = o.profileCacheSeconds;
    job.returnMemory(EncodePreferencesBlock(values));
    return DROVIK_EVENT_FINISHED;
}

}  // namespace

void AddAccountJobs(JobDispatch &dispatch, ServerContext &c) {
    AddJob(dispatch, Job::User_Register, Access::Anyone, WithContext(c, registerAccount));
    AddJob(dispatch, Job::User_Login, Access::Anyone, WithContext(c, login));
    AddJob(dispatch, Job::User_Logout, Access::Anyone, WithContext(c, logout));
    AddJob(dispatch, Job::User_GetPreferences, Access::Anyone, WithContext(c, preferences));
}
