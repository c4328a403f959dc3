// Account requests: register, log in (with the preferences that follow a login), log out.
#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"
#include "Network/Client/PreferencesBlock.h"
#include "Network/Client/RoundTrip.h"
#include "Network/Common/CurrentLocation.h"
#include "protocol/Jobs.h"
#include "protocol/ReplyCodes.h"

#include <mutex>

namespace {
// The preferences request; RequestMutex is held by the caller.
JobReply FetchPreferences() {
    JobReply reply = RequestRoundTrip(Job::User_GetPreferences.Name, {}, ReplyType_Memory);
    if (!reply.Memory.empty())
        StorePreferencesBlock(reply.Memory, ClientState.Preferences);
    return reply;
}

// The outcomes after which the reply callback has set the reply code to 0.
bool EndedWithoutValue(const JobReply &reply) {
    return IsServerErrorEvent(reply.Event) || reply.Event == ReplyOutcome_Unreadable;
}
}  // namespace

int32_t User_Register(const std::string &name, const std::string &password) {
    // Refused before anything is sent, as if the server had refused the name.
    if (IsValidName(name) == 0)
        return RegisterCode::NameInvalid;
    std::lock_guard request(ClientState.RequestMutex);
    const std::string digest = PasswordDigest(password);
    const auto length = static_cast<int32_t>(std::char_traits<char>::length(password.c_str()));
    return RequestRoundTrip(Job::User_Register.Name, {name, digest, length}, ReplyType_Long).Long;
}

int32_t User_Login(const std::string &name, const std::string &password) {
    RecordLocation();
    // Held across the preferences request, so no other request comes in between.
    std::lock_guard request(ClientState.RequestMutex);
    const std::string digest = PasswordDigest(password);
    const JobReply login = RequestRoundTrip(Job::User_Login.Name, {name, digest}, ReplyType_Long);
    if (login.Long != LoginCode::LoggedIn)
        return login.Long;
    // The own entries are keyed "@Own", not by account: they belong to the account logged in
    // before and must not be shown as this one's.
    DeleteOwnCachedProfile();
    // A preferences job that the library refuses leaves the login's code; one that the server
    // answers with an error makes the whole login a failure, with that error's text.
    if (EndedWithoutValue(FetchPreferences()))
        return ReplyCode::Failed;
    return login.Long;
}

int32_t User_Logout() {
    return RequestRoundTrip(Job::User_Logout.Name, {}, ReplyType_Long).Long;
}

int32_t User_GetPreferences() {
    std::lock_guard request(ClientState.RequestMutex);
    return FetchPreferences().Memory.empty() ? ReplyCode::Failed : ReplyCode::Done;
}
