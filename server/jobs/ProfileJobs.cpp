// User_SetProfile, User_GetProfile, User_GetUserProfile and the avatar jobs.
#include "JobDispatch.h"
#include "Log.h"
#include "UserName.h"
#include "jobs/Jobs.h"
#include "picture/Picture.h"

namespace {

constexpr size_t kMaxProfileLength = 8 * 1024;

// The session's account, or "" when it logged out since the access check.
std::string accountOf(const SessionPtr &session) {
    std::lock_guard guard(session->mutex);
    return session->user;
}

int32_t setProfile(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string_view text = job.getString(0);
    if (text.size() > kMaxProfileLength)
        return DROVIK_EVENT_INVALID;
    std::string user = accountOf(session);
    if (user.empty())
        return DROVIK_EVENT_DENIED;
    c.store.profiles.setText(user, text, UnixSeconds());
    return ReplyLong(job, ReplyCode::Done);
}

int32_t replyProfile(ServerContext &c, const drovik::Job &job, const std::string &user) {
    std::optional<std::string> text;
    if (!user.empty())
        text = c.store.profiles.text(user);
    job.returnString(text.value_or(std::string()));
    return DROVIK_EVENT_FINISHED;
}

int32_t getProfile(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    return replyProfile(c, job, accountOf(session));
}

int32_t getUserProfile(ServerContext &c, const drovik::Job &job, const SessionPtr &) {
    return replyProfile(c, job, NormalizeUserName(job.getString(0)).value_or(std::string()));
}

// The avatar checks, in the order the client makes them: bytes, decodability, dimensions.
int32_t checkAvatar(const ServerOptions &o, std::span<const uint8_t> bytes) {
    if (bytes.size() > static_cast<size_t>(o.maxAvatarBytes))
        return AvatarCode::TooLarge;
    // Decoding within the avatar's own limits keeps a small file that claims to be a huge
    // picture from taking a huge amount of memory.
    PictureLimits limits;
    limits.MaxWidth = o.maxAvatarWidth;
    limits.MaxHeight = o.maxAvatarHeight;
    limits.MaxPixelBytes =
        static_cast<size_t>(o.maxAvatarWidth) * static_cast<size_t>(o.maxAvatarHeight) * 4;
    if (auto picture = DecodePicture(bytes, limits)) {
        if (picture->Width > o.maxAvatarWidth || picture->Height > o.maxAvatarHeight)
            return AvatarCode::TooWide;
        return AvatarCode::Stored;
    }
    int32_t width = 0, height = 0;
    if (MeasurePicture(bytes, width, height) &&
        (width > o.maxAvatarWidth || height > o.maxAvatarHeight))
        return AvatarCode::TooWide;
    return AvatarCode::NotAPicture;
}

int32_t setAvatar(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::span<const uint8_t> bytes = job.getMem(0);
    std::string user = accountOf(session);
    if (user.empty())
        return DROVIK_EVENT_DENIED;
    int32_t code = checkAvatar(c.options, bytes);
    if (code == AvatarCode::Stored)
        c.store.avatars.setPicture(user, bytes, UnixSeconds());
    else
        LogRefusal(*session, "avatar of ", user, " refused with ", code);
    return ReplyLong(job, code);
}

int32_t replyAvatar(ServerContext &c, const drovik::Job &job, const std::string &user) {
    std::optional<std::vector<uint8_t>> picture;
    if (!user.empty())
        picture = c.store.avatars.picture(user);
    if (picture && !picture->empty())
        job.returnMemory(*picture);
    else
        job.returnMemory({});  // a reply without data
    return DROVIK_EVENT_FINISHED;
}

int32_t getAvatar(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    return replyAvatar(c, job, accountOf(session));
}

int32_t getUserAvatar(ServerContext &c, const drovik::Job &job, const SessionPtr &) {
    return replyAvatar(c, job, NormalizeUserName(job.getString(0)).value_or(std::string()));
}

}  // namespace

void AddProfileJobs(JobDispatch &dispatch, ServerContext &c) {
    AddJob(dispatch, Job::User_SetProfile, Access::LoggedIn, WithContext(c, setProfile));
    AddJob(dispatch, Job::User_GetProfile, Access::LoggedIn, WithContext(c, getProfile));
    AddJob(dispatch, Job::User_GetUserProfile, Access::LoggedIn, WithContext(c, getUserProfile));
    AddJob(dispatch, Job::User_SetProfileAvatar, Access::LoggedIn, WithContext(c, setAvatar));
    AddJob(dispatch, Job::User_GetProfileAvatar, Access::LoggedIn, WithContext(c, getAvatar));
    AddJob(dispatch, Job::User_GetUserProfileAvatar, Access::LoggedIn,
           WithContext(c, getUserAvatar));
}
