#include "MessageRouter.h"

#include "Log.h"
#include "UserName.h"
#include "cluster/Cluster.h"
#include "store/Store.h"

MessageRouter::MessageRouter(SessionRegistry &sessions, Store &store, int64_t storedLimit,
                             Cluster *cluster)
    : sessions_(sessions),
      store_(store),
      cluster_(cluster),
      writer_(store.db.connectWriter(), storedLimit,
              [this](int64_t id, const std::string &recipient, const std::string &sender,
                     const std::string &text) { committed(id, recipient, sender, text); }) {}

void MessageRouter::logDropped(Session &session) {
    if (IsLoggedOccurrence(session.inbox.dropped()))
        LogEvent("inbox of ", session.user, " full: dropped a global message (",
                 session.inbox.dropped(), " dropped so far)");
}

namespace {

MessageRouter::Outcome OutcomeOf(MessageWriter::Status status) {
    switch (status) {
        case MessageWriter::Status::Kept:
            return MessageRouter::Outcome::Kept;
        case MessageWriter::Status::UnknownRecipient:
            return MessageRouter::Outcome::UnknownRecipient;
        case MessageWriter::Status::Full:
            return MessageRouter::Outcome::RecipientFull;
        case MessageWriter::Status::Failed:
            break;
    }
    return MessageRouter::Outcome::StoreFailed;
}

}  // namespace

void MessageRouter::sendPrivate(const std::string &sender, const std::string &recipient,
                                std::string text, std::function<void(Outcome)> done) {
    writer_.add(recipient, sender, std::move(text),
                [done = std::move(done)](const MessageWriter::Result &result) {
                    done(OutcomeOf(result.status));
                });
}

// On the writer's thread, in the order of the ids: the inbox takes the message unless it is full
// or older ones wait in the store, and then it comes from the store later. A login that read the
// store after the commit has it already.
void MessageRouter::committed(int64_t id, const std::string &recipient, const std::string &sender,
                              const std::string &text) {
    SessionPtr holder = sessions_.holder(recipient);
    if (cluster_) {
        // Other nodes commit messages for the same recipient, whose ids this node may not have
        // seen yet: the inbox takes them all from the store, in the store's order.
        if (holder)
            lookInStore(recipient);
        else
            cluster_->publishPrivate(recipient);
        return;
    }
    if (!holder)
        return;
    std::lock_guard guard(holder->mutex);
    if (holder->user == recipient)
        holder->inbox.offerPrivate(MakeChatMessage(sender, text, id));
}

void MessageRouter::lookInStore(const std::string &recipient) {
    SessionPtr holder = sessions_.holder(recipient);
    if (!holder)
        return;
    std::lock_guard guard(holder->mutex);
    if (holder->user == recipient)
        holder->inbox.markStoreAhead();
}

void MessageRouter::lookInStoreForAll() {
    for (const SessionPtr &session : sessions_.online()) {
        std::lock_guard guard(session->mutex);
        if (!session->user.empty())
            session->inbox.markStoreAhead();
    }
}

std::optional<size_t> MessageRouter::sendGlobal(const std::string &sender, std::string text) {
    if (cluster_ && !cluster_->publishGlobal(sender, text))
        return std::nullopt;
    return deliverGlobal(sender, std::move(text));
}

size_t MessageRouter::deliverGlobal(const std::string &sender, std::string text) {
    ChatMessagePtr message = MakeChatMessage(sender, std::move(text), 0);
    size_t reached = 0;
    for (const SessionPtr &session : sessions_.online()) {
        std::lock_guard guard(session->mutex);
        if (session->user.empty())
            continue;
        if (session->inbox.pushGlobal(message))
            ++reached;
        else
            logDropped(*session);
    }
    return reached;
}

std::optional<int32_t> MessageRouter::stream(const SessionPtr &session, int32_t max, Send send,
                                             std::function<void(int32_t)> later) {
    uint64_t removal;
    {
        std::lock_guard guard(session->mutex);
        try {
            fillLocked(*session);
        } catch (const StoreError &e) {
            // What the inbox holds is streamed all the same; the store is read at the next poll.
            if (store_.db.reachable())
                LogEvent("messages of ", session->user, " not read: ", e.what());
        }
        if (session->inbox.empty())
            return 0;
        removal = session->inbox.removal();
    }
    if (removal == 0)
        return handOver(*session, max, send);
    // Nothing new goes out before what the last stream delivered has left the store, so that only
    // the last stream can ever come twice. The removal's commit is awaited without a thread.
    writer_.whenFinished(removal,
                         [this, session, max, send = std::move(send), later = std::move(later)] {
                             later(handOver(*session, max, send));
                         });
    return std::nullopt;
}

int32_t MessageRouter::handOver(Session &session, int32_t max, const Send &send) {
    std::lock_guard guard(session.mutex);
    int32_t sent = 0;
    while (sent < max && !session.inbox.empty()) {
        if (!send(session.inbox.front()->streamed))
            break;
        session.inbox.popStreamed();
        ++sent;
    }
    return sent;
}

void MessageRouter::jobArrived(Session &session) {
    std::lock_guard guard(session.mutex);
    std::vector<int64_t> received = session.inbox.takeStreamed();
    if (!received.empty() && !session.user.empty())
        session.inbox.setRemoval(writer_.remove(session.user, std::move(received)));
}

void MessageRouter::settle(Session &session) {
    uint64_t ticket;
    {
        std::lock_guard guard(session.mutex);
        ticket = session.inbox.removal();
    }
    if (ticket != 0)
        writer_.waitFor(ticket);
}

void MessageRouter::fillLocked(Session &session) {
    Inbox &inbox = session.inbox;
    if (session.user.empty() || !inbox.storeAhead() || inbox.room() == 0 ||
        inbox.byteRoom() < InboxBytes(kMaxUserNameLength, kMaxMessageLength))
        return;
    bool complete = false;
    std::vector<StoredMessage> stored =
        store_.messages.after(session.user, inbox.windowEnd(), static_cast<int64_t>(inbox.room()),
                              inbox.byteRoom(), &InboxBytes, complete);
    std::vector<ChatMessagePtr> messages;
    messages.reserve(stored.size());
    for (StoredMessage &m : stored)
        messages.push_back(MakeChatMessage(std::move(m.sender), std::move(m.text), m.id));
    inbox.fill(std::move(messages), complete);
}

void MessageRouter::startLocked(Session &session) {
    session.inbox.reset();
    try {
        fillLocked(session);
    } catch (const std::exception &e) {
        // The login stands; the store is read again at the next poll.
        LogEvent("messages of ", session.user, " not read at login: ", e.what());
    }
}

void MessageRouter::endLocked(Session &session) {
    session.inbox.reset();
}
