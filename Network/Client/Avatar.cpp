// Uploading the own avatar, and fetching avatars through the local cache.
#include "Network/Client/AvatarFile.h"
#include "Network/Client/Client.h"
#include "Network/Client/PreferencesBlock.h"
#include "Network/Client/ProfileCache.h"
#include "Network/Client/RoundTrip.h"

#include <mutex>

namespace {
std::unique_ptr<Picture> FetchAvatar(const std::string &entryName, std::string_view jobName,
                                     std::initializer_list<JobParameter> parameters) {
    if (auto cached = LookUpCachedEntry(entryName))
        return DecodePicture(*cached);

    std::lock_guard request(ClientState.RequestMutex);
    const JobReply reply = RequestRoundTrip(jobName, parameters, ReplyType_Memory);
    // Only bytes that arrived are cached: no avatar, an error, or a wait that a connection event
    // ended leaves the entry absent, so the next call asks again. Bytes that do not decode are
    // cached all the same: they are what the server holds.
    if (!reply.Received() || reply.Memory.empty())
        return nullptr;
    AddCachedEntry(entryName, reply.Memory,
                   LoadPreferences(ClientState.Preferences).AvatarCacheSetting);
    return DecodePicture(reply.Memory);
}
}  // namespace

int32_t CheckAvatarFile(const std::string &file) {
    const std::filesystem::path path = AvatarPath(file);
    const Preferences limits = LoadPreferences(ClientState.Preferences);
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        return 4;
    // A directory counts as size 0 here and is refused below as no picture.
    const bool regular = std::filesystem::is_regular_file(status);
    uintmax_t size = 0;
    if (regular) {
        size = std::filesystem::file_size(path, error);
        if (error)
            return 4;
    }
    if (static_cast<int64_t>(size) > int64_t{limits.MaxAvatarSize})
        return 2;

    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, limits.MaxAvatarSize, bytes) != FileReadResult::Read)
        return 5;
    int32_t width = 0;
    int32_t height = 0;
    if (DecodePicture(bytes) == nullptr) {
        // A picture too large for the decoder's own limits is still measured by its header, and
        // then refused for its size rather than as no picture.
        const bool measured = MeasurePicture(bytes, width, height);
        if (!measured || (width <= limits.MaxAvatarWidth && height <= limits.MaxAvatarHeight))
            return 5;
        return 3;
    }
    MeasurePicture(bytes, width, height);
    if (width > limits.MaxAvatarWidth || height > limits.MaxAvatarHeight)
        return 3;
    return 0;
}

int32_t SendAvatarFile(const std::string &file) {
    std::lock_guard request(ClientState.RequestMutex);
    // The file is read again here: it may have changed or vanished since the checks. Nothing of
    // undefined length or content is ever sent.
    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(AvatarPath(file), LoadPreferences(ClientState.Preferences).MaxAvatarSize,
                          bytes)) {
        case FileReadResult::Unreadable:
            return 4;
        case FileReadResult::TooLarge:
            return 2;
        case FileReadResult::Read:
            break;
    }
    const JobReply reply = RequestRoundTrip("User_SetProfileAvatar",
                                            {std::span<const uint8_t>(bytes)}, ReplyType_Long);
    if (reply.Event != 0)
        DeleteOwnCachedProfile();
    return reply.Long;
}

int32_t User_SetProfileAvatar(const std::string &file) {
    if (const int32_t refusal = CheckAvatarFile(file); refusal != 0)
        return refusal;
    return SendAvatarFile(file);
}

std::unique_ptr<Picture> User_GetProfileAvatar() {
    return FetchAvatar(AvatarEntryName(OwnProfileName), "User_GetProfileAvatar", {});
}

std::unique_ptr<Picture> User_GetUserProfileAvatar(const std::string &user) {
    return FetchAvatar(AvatarEntryName(user), "User_GetUserProfileAvatar", {user});
}
