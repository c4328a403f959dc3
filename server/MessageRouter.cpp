#include "MessageRouter.h"

#include "Log.h"
#include "UserName.h"
#include "store/Store.h"

MessageRouter::MessageRouter(SessionRegistry &sessions, Store &store, int64_t inboxLimit)
    : sessions_(sessions), store_(store), inboxLimit_(inboxLimit) {}

void MessageRouter::pushLocked(Session &session, ChatMessagePtr message) {
    if (session.inbox.push(std::move(message)) && IsLoggedOccurrence(session.inbox.dropped()))
        LogEvent("inbox of ", session.user, " full: dropped its oldest message (",
                 session.inbox.dropped(), " dropped so far)");
}

void MessageRouter::keepOffline(const std::string &recipient, const std::string &sender,
                                const std::string &text) {
    int64_t dropped = store_.offline.add(recipient, sender, text, UnixSeconds(), inboxLimit_);
    if (dropped > 0)
        LogEvent("offline messages of ", recipient, " full: dropped ", dropped,
                 " oldest message(s)");
}

MessageRouter::Outcome MessageRouter::sendPrivate(const std::string &sender,
                                                  const std::string &recipient, std::string text) {
    if (SessionPtr holder = sessions_.holder(recipient)) {
        std::lock_guard guard(holder->mutex);
        if (holder->user == recipient) {
            pushLocked(*holder, MakeChatMessage(sender, std::move(text), true));
            return Outcome::Delivered;
        }
    }
    if (!store_.accounts.exists(recipient))
        return Outcome::UnknownRecipient;
    keepOffline(recipient, sender, text);
    // The recipient may have logged in after the look above and before the message was stored,
    // and its login may have looked at the store too early: collect the message for it now.
    if (SessionPtr holder = sessions_.holder(recipient)) {
        std::lock_guard guard(holder->mutex);
        if (holder->user == recipient)
            pullOfflineLocked(*holder);
    }
    return Outcome::Stored;
}

size_t MessageRouter::sendGlobal(const std::string &sender, std::string text) {
    ChatMessagePtr message = MakeChatMessage(sender, std::move(text), false);
    size_t reached = 0;
    for (const SessionPtr &session : sessions_.online()) {
        std::lock_guard guard(session->mutex);
        if (!session->user.empty()) {
            pushLocked(*session, message);
            ++reached;
        }
    }
    return reached;
}

int32_t MessageRouter::stream(Session &session, int32_t max,
                              const std::function<bool(std::span<const uint8_t>)> &send) {
    std::lock_guard guard(session.mutex);
    if (session.inbox.empty() && session.offlinePending)
        pullOfflineLocked(session);
    int32_t sent = 0;
    while (sent < max && !session.inbox.empty()) {
        if (!send(session.inbox.front()->streamed))
            break;
        session.inbox.pop();
        ++sent;
    }
    return sent;
}

void MessageRouter::pullOfflineLocked(Session &session) {
    if (session.user.empty())
        return;
    size_t room = session.inbox.room();
    size_t byteRoom = session.inbox.byteRoom();
    if (room == 0 || byteRoom < InboxBytes(kMaxUserNameLength, kMaxMessageLength)) {
        session.offlinePending = true;
        return;
    }
    std::vector<OfflineMessage> messages =
        store_.offline.take(session.user, static_cast<int64_t>(room), byteRoom, &InboxBytes);
    // More may wait behind these; the next poll that empties the inbox looks again.
    session.offlinePending = !messages.empty();
    for (OfflineMessage &m : messages)
        pushLocked(session, MakeChatMessage(std::move(m.sender), std::move(m.text), true));
}

void MessageRouter::persistLocked(Session &session) {
    std::vector<ChatMessagePtr> kept = session.inbox.takePrivate();
    if (kept.empty() || session.user.empty())
        return;
    try {
        Transaction transaction(store_.db);
        for (const ChatMessagePtr &m : kept)
            keepOffline(session.user, m->sender, m->text);
        transaction.commit();
    } catch (const std::exception &e) {
        LogEvent("lost ", kept.size(), " undelivered message(s) of ", session.user, ": ", e.what());
    }
}
