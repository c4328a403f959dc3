// User_GetOnlineUserList, User_SendGlobalMessage, User_SendMessage, User_ReceiveMessages.
#include "JobDispatch.h"
#include "Log.h"
#include "UserName.h"
#include "jobs/Jobs.h"
#include "protocol/TextFormats.h"

namespace {

// Messages streamed by one User_ReceiveMessages job at most.
constexpr int32_t kMessagesPerPoll = 100;

int32_t onlineList(ServerContext &c, const drovik::Job &job, const SessionPtr &) {
    if (c.cluster) {
        // Unreachable: this node's users at least.
        if (auto list = c.cluster->onlineListText()) {
            job.returnString(*list);
            return DROVIK_EVENT_FINISHED;
        }
    }
    job.returnString(*c.sessions.onlineList());
    return DROVIK_EVENT_FINISHED;
}

bool validText(std::string_view text) {
    return !text.empty() && text.size() <= kMaxMessageLength;
}

// The sender's account when it may send one more message now; else the event that refuses it.
// The allowance belongs to the account and to the address, so neither reconnecting nor more
// accounts from one address refill it.
int32_t admitSender(ServerContext &c, const SessionPtr &session, std::string &sender) {
    {
        std::lock_guard guard(session->mutex);
        if (session->user.empty())
            return DROVIK_EVENT_DENIED;  // logged out since the access check
        sender = session->user;
    }
    // Both allowances in one round trip to Redis, which every message of a cluster makes.
    switch (SharedRateLimit::takeBoth(c.accountFlood, sender, c.addressFlood,
                                      AddressKey(session->ip), std::chrono::steady_clock::now())) {
        case 0:
            return DROVIK_EVENT_FINISHED;
        case 1:
            LogRefusal(*session, "message of ", sender, " refused: sending too fast");
            break;
        default:
            LogRefusal(*session, "message of ", sender, " refused: too many messages from ",
                       session->ip);
            break;
    }
    return DROVIK_EVENT_LIMIT;
}

int32_t sendGlobal(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    std::string_view text = job.getString(0);
    if (!validText(text))
        return DROVIK_EVENT_INVALID;
    std::string sender;
    if (int32_t refused = admitSender(c, session, sender); refused != DROVIK_EVENT_FINISHED)
        return refused;
    if (!c.router.sendGlobal(sender, std::string(text))) {
        LogRefusal(*session, "global message of ", sender,
                   " refused: Redis unreachable, the other nodes cannot be reached");
        return DROVIK_EVENT_FAILED;
    }
    return ReplyLong(job, ReplyCode::Done);
}

// The event that ends a private message's job, once the store has decided.
int32_t privateOutcome(const drovik::Job &job, Session &session, const std::string &sender,
                       const std::string &recipient, MessageRouter::Outcome outcome) {
    switch (outcome) {
        case MessageRouter::Outcome::Kept:
            return ReplyLong(job, ReplyCode::Done);
        case MessageRouter::Outcome::UnknownRecipient:
            return DROVIK_EVENT_INVALID;
        case MessageRouter::Outcome::RecipientFull:
            LogRefusal(session, "message of ", sender, " to ", recipient,
                       " refused: too many messages wait for the recipient");
            return DROVIK_EVENT_LIMIT;
        case MessageRouter::Outcome::StoreFailed:
            break;
    }
    LogRefusal(session, "message of ", sender, " to ", recipient, " refused: not stored");
    return DROVIK_EVENT_FAILED;
}

int32_t sendPrivate(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    auto recipient = NormalizeUserName(job.getString(0));
    std::string_view text = job.getString(1);
    if (!recipient || !validText(text))
        return DROVIK_EVENT_INVALID;
    std::string sender;
    if (int32_t refused = admitSender(c, session, sender); refused != DROVIK_EVENT_FINISHED)
        return refused;
    // 1 only for a message the store has committed; any refusal is an error event, which the
    // client reports as a failure. The job waits for the commit without holding a job thread: the
    // store's writer ends it.
    c.router.sendPrivate(
        sender, *recipient, std::string(text),
        [job, session, sender, recipient = *recipient](MessageRouter::Outcome outcome) {
            job.finish(privateOutcome(job, *session, sender, recipient, outcome));
        });
    return DROVIK_JOB_PENDING;
}

int32_t receive(ServerContext &c, const drovik::Job &job, const SessionPtr &session) {
    // New messages go out only once those of the last poll have left the store. While that commit
    // is under way the job waits without a thread, and the store's writer ends it.
    std::optional<int32_t> streamed = c.router.stream(
        session, kMessagesPerPoll,
        [job](std::span<const uint8_t> block) { return job.sendMessage(block); },
        [job](int32_t count) { job.finish(ReplyLong(job, count)); });
    return streamed ? ReplyLong(job, *streamed) : DROVIK_JOB_PENDING;
}

}  // namespace

void AddMessageJobs(JobDispatch &dispatch, ServerContext &c) {
    AddJob(dispatch, Job::User_GetOnlineUserList, Access::LoggedIn, WithContext(c, onlineList));
    AddJob(dispatch, Job::User_SendGlobalMessage, Access::LoggedIn, WithContext(c, sendGlobal));
    AddJob(dispatch, Job::User_SendMessage, Access::LoggedIn, WithContext(c, sendPrivate));
    AddJob(dispatch, Job::User_ReceiveMessages, Access::LoggedIn, WithContext(c, receive));
}
