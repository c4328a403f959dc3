// User_Register, User_Login, User_Logout, User_GetPreferences.
#include <array>
#include <cstring>

#include "JobDispatch.h"
#include "Log.h"
#include "UserName.h"
#include "jobs/Jobs.h"

namespace {

namespace RegisterCode {
constexpr int32_t Created = 1, NameExists = 2, PasswordTooShort = 3, NameBanned = 4,
                  NameInvalid = 5;
}
namespace LoginCode {
constexpr int32_t LoggedIn = 1, UnknownName = 2, WrongPassword = 3, LoggedInElsewhere = 4,
                  OtherAccountHere = 5, Banned = 6;
}

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
    std::string hash = c.hasher.hash(digest);  // slow; no lock is held here
    if (!c.store.accounts.insert(*name, hash, UnixSeconds()))
        return ReplyLong(job, RegisterCode::NameExists);  // registered meanwhile by another
    LogEvent("registered ", *name, " from ", session->address);
    return ReplyLong(job, RegisterCode::Created);
}

int32_t login(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string_view given = job.getString(0);
    std::string_view digest = job.getString(1);
    if (digest.size() > kMaxDigestLength)
        return DROVIK_EVENT_INVALID;
    auto name = NormalizeUserName(given);
    if (!name)
        return ReplyLong(job, LoginCode::UnknownName);
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
    if (!c.hasher.verify(*hash, digest)) {  // slow; no lock is held here
        LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                   ": wrong password");
        if (c.loginThrottle.fail(session->ip, now))
            LogEvent("logins from ", session->ip, " refused for ", c.options.loginBlockSeconds,
                     " s after ", c.options.loginFailures, " wrong passwords");
        return ReplyLong(job, LoginCode::WrongPassword);
    }
    c.loginThrottle.succeed(session->ip);
    switch (c.presence.login(session, *name)) {
        case Presence::LoginOutcome::AlreadyThisAccount:
            return ReplyLong(job, LoginCode::LoggedIn);
        case Presence::LoginOutcome::LoggedInElsewhere:
            LogRefusal(*session, "login of ", *name, " refused from ", session->address,
                       ": logged in on another connection");
            return ReplyLong(job, LoginCode::LoggedInElsewhere);
        case Presence::LoginOutcome::OtherAccountHere:
            return ReplyLong(job, LoginCode::OtherAccountHere);
        case Presence::LoginOutcome::LoggedIn:
            break;
    }
    LogEvent("login ", *name, " from ", session->address);
    if (c.hasher.needsRehash(*hash))  // the costs were changed since the account's last login
        c.store.accounts.setPasswordHash(*name, c.hasher.hash(digest));
    return ReplyLong(job, LoginCode::LoggedIn);
}

int32_t logout(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string user = c.presence.logout(session);
    if (!user.empty())
        LogEvent("logout ", user, " from ", session->address);
    return ReplyLong(job, 1);
}

// The preferences record: six little-endian 32-bit fields.
int32_t preferences(ServerContext &c, const drovik::Job &job, const SessionPtr &) {
    const ServerOptions &o = c.options;
    const std::array<int32_t, 6> fields = {1,
                                           o.maxAvatarBytes,
                                           o.maxAvatarWidth,
                                           o.maxAvatarHeight,
                                           o.avatarCacheSeconds,
                                           o.profileCacheSeconds};
    std::array<uint8_t, 24> record{};
    for (size_t i = 0; i < fields.size(); ++i)
        for (size_t b = 0; b < 4; ++b)
            record[i * 4 + b] = static_cast<uint8_t>(static_cast<uint32_t>(fields[i]) >> (8 * b));
    job.returnMemory(record);
    return DROVIK_EVENT_FINISHED;
}

}  // namespace

void AddAccountJobs(JobDispatch &dispatch, ServerContext &c) {
    dispatch.add("User_Register", "ssl", Access::Anyone, WithContext(c, registerAccount));
    dispatch.add("User_Login", "ss", Access::Anyone, WithContext(c, login));
    dispatch.add("User_Logout", "", Access::Anyone, WithContext(c, logout));
    dispatch.add("User_GetPreferences", "", Access::Anyone, WithContext(c, preferences));
}
