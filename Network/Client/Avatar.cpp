// Uploading the own avatar, and fetching avatars through the local cache.
#include "Network/Client/AvatarFile.h"
#include "Network/Client/Client.h"
#include "Network/Client/PreferencesBlock.h"
#include "Network/Client/ProfileCache.h"
#include "Network/Client/ReplyBounds.h"
#include "Network/Client/RoundTrip.h"
#include "Network/Common/CurrentLocation.h"
#include "protocol/Jobs.h"
#include "protocol/ReplyCodes.h"

#include <mutex>

namespace {
// What CheckAvatarFile returns for a file that passed every check.
constexpr int32_t NoRefusal = 0;

// Avatar bytes from the server are decoded within the limits it announced, never the decoder's
// own (which allow far larger pictures); bytes beyond its size limit are not decoded at all.
std::unique_ptr<Picture> DecodeAvatar(std::span<const uint8_t> bytes, const Preferences &limits) {
    if (static_cast<int64_t>(bytes.size()) > AvatarByteLimit(limits))
        return nullptr;
    return DecodePicture(bytes, AvatarDecodeLimits(limits));
}

std::unique_ptr<Picture> FetchAvatar(const std::string &entryName, const JobSpec &job,
                                     std::initializer_list<JobParameter> parameters) {
    RecordLocation();
    const Preferences limits = LoadPreferences(ClientState.Preferences);
    if (auto cached = LookUpCachedEntry(entryName))
        return DecodeAvatar(*cached, limits);

    std::lock_guard request(ClientState.RequestMutex);
    const JobReply reply = RequestRoundTrip(job.Name, parameters, ReplyType_Memory);
    RecordLocation();
    // Only bytes that arrived are cached: no avatar, an error, or a wait that a connection event
    // or the time limit ended leaves the entry absent, so the next call asks again. Bytes that do
    // not decode are cached all the same (they are what the server holds), unless they exceed the
    // size limit: those are refused.
    if (!reply.Received() || reply.Memory.empty() ||
        static_cast<int64_t>(reply.Memory.size()) > AvatarByteLimit(limits))
        return nullptr;
    AddCachedEntry(entryName, reply.Memory, limits.AvatarCacheSetting);
    return DecodeAvatar(reply.Memory, limits);
}
}  // namespace

int32_t CheckAvatarFile(const std::string &file) {
    RecordLocation();
    const std::filesystem::path path = AvatarPath(file);
    const Preferences limits = LoadPreferences(ClientState.Preferences);
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        return AvatarCode::FileUnreadable;
    // A directory counts as size 0 here and is refused below as no picture.
    const bool regular = std::filesystem::is_regular_file(status);
    uintmax_t size = 0;
    if (regular) {
        size = std::filesystem::file_size(path, error);
        if (error)
            return AvatarCode::FileUnreadable;
    }
    if (static_cast<int64_t>(size) > int64_t{limits.MaxAvatarSize})
        return AvatarCode::TooLarge;

    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, limits.MaxAvatarSize, bytes) != FileReadResult::Read)
        return AvatarCode::NotAPicture;
    int32_t width = 0;
    int32_t height = 0;
    if (DecodePicture(bytes, AvatarDecodeLimits(limits)) == nullptr) {
        // A picture beyond the limits is not decoded; it is still measured by its header, and
        // then refused for its size rather than as no picture.
        const bool measured = MeasurePicture(bytes, width, height);
        if (!measured || (width <= limits.MaxAvatarWidth && height <= limits.MaxAvatarHeight))
            return AvatarCode::NotAPicture;
        return AvatarCode::TooWide;
    }
    MeasurePicture(bytes, width, height);
    if (width > limits.MaxAvatarWidth || height > limits.MaxAvatarHeight)
        return AvatarCode::TooWide;
    return NoRefusal;
}

int32_t SendAvatarFile(const std::string &file) {
    RecordLocation();
    std::lock_guard request(ClientState.RequestMutex);
    // The file is read again here: it may have changed or vanished since the checks. Nothing of
    // undefined length or content is ever sent.
    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(AvatarPath(file), LoadPreferences(ClientState.Preferences).MaxAvatarSize,
                          bytes)) {
        case FileReadResult::Unreadable:
            return AvatarCode::FileUnreadable;
        case FileReadResult::TooLarge:
            return AvatarCode::TooLarge;
        case FileReadResult::Read:
            break;
    }
    const JobReply reply = RequestRoundTrip(Job::User_SetProfileAvatar.Name,
                                            {std::span<const uint8_t>(bytes)}, ReplyType_Long);
    if (reply.Event != 0)
        DeleteOwnCachedProfile();
    return reply.Long;
}

int32_t User_SetProfileAvatar(const std::string &file) {
    if (const int32_t refusal = CheckAvatarFile(file); refusal != NoRefusal)
        return refusal;
    return SendAvatarFile(file);
}

std::unique_ptr<Picture> User_GetProfileAvatar() {
    return FetchAvatar(AvatarEntryName(OwnProfileName), Job::User_GetProfileAvatar, {});
}

std::unique_ptr<Picture> User_GetUserProfileAvatar(const std::string &user) {
    return FetchAvatar(AvatarEntryName(user), Job::User_GetUserProfileAvatar, {user});
}
