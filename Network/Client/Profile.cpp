// Storing the own profile text, and fetching profile texts through the local cache.
#include "Network/Client/Callbacks.h"
#include "Network/Client/Client.h"
#include "Network/Client/PreferencesBlock.h"
#include "Network/Client/ProfileCache.h"
#include "Network/Client/ReplyBounds.h"
#include "Network/Client/RoundTrip.h"
#include "Network/Common/CurrentLocation.h"
#include "protocol/Jobs.h"
#include "protocol/TextFormats.h"
#include "protocol/WireValues.h"

#include <mutex>

namespace {
// Whether a finished fetch's result may be cached. A profile text is cached also when the server
// answered with an error (an empty text, like a user without a profile); never when the wait was
// ended by a connection event or the reply could not be read: nothing was received then.
bool WasAnswered(const JobReply &reply) {
    return reply.Received() || IsServerErrorEvent(reply.Event);
}

std::string FetchProfileText(const std::string &entryName, const JobSpec &job,
                             std::initializer_list<JobParameter> parameters) {
    RecordLocation();
    if (auto cached = LookUpCachedEntry(entryName))
        return BoundProfileText(ReadBoundedText(*cached));

    std::lock_guard request(ClientState.RequestMutex);
    JobReply reply = RequestRoundTrip(job.Name, parameters, ReplyType_Text);
    RecordLocation();
    if (!WasAnswered(reply))
        return "";
    // Bounded before it is kept, parsed or shown. Stored with its zero byte, as length + 1 bytes.
    std::string text = BoundProfileText(std::move(reply.Text));
    const auto *bytes = reinterpret_cast<const uint8_t *>(text.c_str());
    AddCachedEntry(entryName, std::span(bytes, text.size() + 1),
                   LoadPreferences(ClientState.Preferences).ProfileCacheSetting);
    return text;
}
}  // namespace

int32_t User_SetProfile(const std::string &FirstName, const std::string &SureName,
                        const std::string &Country, const std::string &City,
                        const std::string &Birth, const std::string &Homepage,
                        const std::string &Signature) {
    RecordLocation();
    std::lock_guard request(ClientState.RequestMutex);
    const std::string text =
        BuildProfileText({FirstName, SureName, Country, City, Birth, Homepage, Signature});
    const JobReply reply = RequestRoundTrip(Job::User_SetProfile.Name, {text}, ReplyType_Long);
    // Once the job was submitted the server may have stored it, whatever the code says.
    if (reply.Event != 0)
        DeleteOwnCachedProfile();
    return reply.Long;
}

std::string User_GetProfile() {
    return FetchProfileText(ProfileEntryName(OwnProfileName), Job::User_GetProfile, {});
}

std::string User_GetUserProfile(const std::string &user) {
    return FetchProfileText(ProfileEntryName(user), Job::User_GetUserProfile, {user});
}
