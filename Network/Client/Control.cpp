// Administration requests. The client keeps no administrator state: the server decides, per
// connection, and answers a missing right with code 3.
#include "Network/Client/Client.h"
#include "Network/Client/RoundTrip.h"
#include "protocol/Jobs.h"
#include "protocol/ReplyCodes.h"

#include <mutex>

int32_t Control_Start(const std::string &password) {
    std::lock_guard request(ClientState.RequestMutex);
    return RequestRoundTrip(Job::Control_Start.Name, {PasswordDigest(password)}, ReplyType_Long)
        .Long;
}

int32_t Control_Stop() {
    return RequestRoundTrip(Job::Control_Stop.Name, {}, ReplyType_Long).Long;
}

int32_t Control_ChangePassword(const std::string &password) {
    std::lock_guard request(ClientState.RequestMutex);
    return RequestRoundTrip(Job::Control_ChangePassword.Name, {PasswordDigest(password)},
                            ReplyType_Long)
        .Long;
}

int32_t Control_StopServer() {
    return RequestRoundTrip(Job::Control_StopServer.Name, {}, ReplyType_Long).Long;
}

int32_t Control_KickUser(const std::string &user) {
    return RequestRoundTrip(Job::Control_KickUser.Name, {user}, ReplyType_Long).Long;
}

int32_t Control_BannUser(const std::string &user, int32_t banned, int32_t option) {
    // The server takes the option before the ban flag.
    return RequestRoundTrip(Job::Control_BannUser.Name, {user, option, banned}, ReplyType_Long)
        .Long;
}

int32_t Control_ForceLogin(const std::string &user) {
    std::lock_guard request(ClientState.RequestMutex);
    const int32_t code =
        RequestRoundTrip(Job::Control_ForceLogin.Name, {user}, ReplyType_Long).Long;
    // The connection now belongs to another account: the own entries are no longer its own.
    if (code == ControlCode::Done)
        DeleteOwnCachedProfile();
    return code;
}

int32_t Control_KickBannUser(const std::string &user, int32_t banned, int32_t option) {
    // Any answer counts, refusals included; only a request that got none stops the ban. Another
    // request may run between the two.
    if (Control_KickUser(user) == ReplyCode::Failed)
        return ReplyCode::Failed;
    return Control_BannUser(user, banned, option) != ReplyCode::Failed ? ReplyCode::Done
                                                                       : ReplyCode::Failed;
}
