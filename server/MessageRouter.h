// Carries chat messages. A private message is committed to the store before it is acknowledged
// and stays there until its recipient has certainly received it; the inbox of a logged-in
// recipient is a window over those kept for it. Global messages go to the inboxes of whoever is
// logged in, and nowhere else.
//
// With a cluster, messages cross to the other nodes as events: a global message is delivered there
// too, and a committed private message makes the recipient's node read its store.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "Session.h"
#include "store/MessageWriter.h"

class Cluster;
class Store;

class MessageRouter {
public:
    // A recipient may have at most `storedLimit` private messages waiting in the store.
    // `cluster` is null for a node alone.
    MessageRouter(SessionRegistry &sessions, Store &store, int64_t storedLimit,
                  Cluster *cluster = nullptr);

    enum class Outcome { Kept, UnknownRecipient, RecipientFull, StoreFailed };
    // Commits the message to the store (then it reaches the recipient's inbox if logged in), and
    // returns at once: `done` hears the outcome, on the store writer's thread once the message is
    // committed or refused (so it must not wait for the writer). Only Kept means it is kept.
    void sendPrivate(const std::string &sender, const std::string &recipient, std::string text,
                     std::function<void(Outcome)> done);
    // To every logged-in user, the sender included; returns how many inboxes here it reached, or
    // nothing when it could not be passed to the other nodes (then it reached no one).
    std::optional<size_t> sendGlobal(const std::string &sender, std::string text);
    // A global message sent on another node: to every user logged in here.
    size_t deliverGlobal(const std::string &sender, std::string text);
    // Private messages for the account were committed on another node (or may have been): its
    // session here reads the store at its next poll.
    void lookInStore(const std::string &recipient);
    // As lookInStore, for every account logged in here.
    void lookInStoreForAll();

    // Hands up to `max` of the session's messages, oldest first, to `send`; a message leaves the
    // inbox only when `send` accepted it. Returns how many left. While the removals the session
    // started (jobArrived) are being committed, returns nothing at once instead: `send` and then
    // `later`, with the count, are called on the store writer's thread once they are (so they must
    // not wait for the writer).
    using Send = std::function<bool(std::span<const uint8_t>)>;
    std::optional<int32_t> stream(const SessionPtr &session, int32_t max, Send send,
                                  std::function<void(int32_t)> later);
    // Another job of the session has arrived. The client's jobs are serialised, so it has
    // received what the session's earlier jobs streamed: those messages leave the store. The
    // removal is committed in the background; the session's next stream and its logout wait for
    // it, so that only the last stream of a connection can ever come twice.
    void jobArrived(Session &session);
    // Waits until the removals jobArrived started for the session are committed.
    void settle(Session &session);

    // With the session's mutex held: the session's account has just logged in; its inbox starts
    // over from what the store keeps for it.
    void startLocked(Session &session);
    // With the session's mutex held: its account logs out. Everything private stays in the
    // store; what was streamed and not yet proven received comes again at the next login.
    void endLocked(Session &session);

    MessageWriter::Counts storeCounts() { return writer_.counts(); }

private:
    // Reads into the inbox what waits in the store beyond it, as far as it fits.
    void fillLocked(Session &session);
    // The inbox's messages to `send`, as stream does.
    int32_t handOver(Session &session, int32_t max, const Send &send);
    void committed(int64_t id, const std::string &recipient, const std::string &sender,
                   const std::string &text);
    void logDropped(Session &session);

    SessionRegistry &sessions_;
    Store &store_;
    Cluster *cluster_;
    MessageWriter writer_;
};
