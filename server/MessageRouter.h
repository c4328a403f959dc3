// Carries chat messages: into the inboxes of logged-in users, into the store for registered users
// who are offline, and out of an inbox as streamed messages.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "Session.h"

class Store;

class MessageRouter {
public:
    MessageRouter(SessionRegistry &sessions, Store &store, int64_t inboxLimit);

    enum class Outcome { Delivered, Stored, UnknownRecipient };
    // To the recipient's inbox when logged in, else into the store for the next login.
    Outcome sendPrivate(const std::string &sender, const std::string &recipient, std::string text);
    // To every logged-in user, the sender included; returns how many inboxes it reached.
    size_t sendGlobal(const std::string &sender, std::string text);

    // Hands up to `max` of the session's messages, oldest first, to `send`; a message leaves the
    // inbox only when `send` accepted it. Returns how many left.
    int32_t stream(Session &session, int32_t max,
                   const std::function<bool(std::span<const uint8_t>)> &send);

    // With the session's mutex held: moves the messages the store keeps for its account into its
    // inbox, as far as they fit.
    void pullOfflineLocked(Session &session);
    // With the session's mutex held: empties the inbox, keeping its private messages in the
    // store for the account's next login.
    void persistLocked(Session &session);

private:
    void pushLocked(Session &session, ChatMessagePtr message);
    void keepOffline(const std::string &recipient, const std::string &sender,
                     const std::string &text);

    SessionRegistry &sessions_;
    Store &store_;
    int64_t inboxLimit_;
};
