// Administration requests. The client keeps no administrator state: the server decides, per
// connection, and answers a missing right with code 3.
#include "Network/Client/Client.h"
#include "Network/Client/RoundTrip.h"

#include <mutex>

int32_t Control_Start(const std::string &password) {
    std::lock_guard request(ClientState.RequestMutex);
    return RequestRoundTrip("Control_Start", {PasswordDigest(password)}, ReplyType_Long).Long;
}

int32_t Control_Stop() {
    return RequestRoundTrip("Control_Stop", {}, ReplyType_Long).Long;
}

int32_t Control_ChangePassword(const std::string &password) {
    std::lock_guard request(ClientState.RequestMutex);
    return RequestRoundTrip("Control_ChangePassword", {PasswordDigest(password)}, ReplyType_Long)
        .Long;
}

int32_t Control_StopServer() {
    return RequestRoundTrip("Control_StopServer", {}, ReplyType_Long).Long;
}

int32_t Control_KickUser(const std::string &user) {
    return RequestRoundTrip("Control_KickUser", {user}, ReplyType_Long).Long;
}

int32_t Control_BannUser(const std::string &user, int32_t banned, int32_t option) {
    // The server takes the option before the ban flag.
    return RequestRoundTrip("Control_BannUser", {user, option, banned}, ReplyType_Long).Long;
}

int32_t Control_ForceLogin(const std::string &user) {
    return RequestRoundTrip("Control_ForceLogin", {user}, ReplyType_Long).Long;
}

int32_t Control_KickBannUser(const std::string &user, int32_t banned, int32_t option) {
    // Any answer counts, refusals included; only a request that got none stops the ban. Another
    // request may run between the two.
    if (Control_KickUser(user) == 0)
        return 0;
    return Control_BannUser(user, banned, option) != 0 ? 1 : 0;
}
