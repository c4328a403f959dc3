// Who is logged in on which connection: login, logout, forced login and kicks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Session.h"

class MessageRouter;

class Presence {
public:
    Presence(SessionRegistry &sessions, MessageRouter &router,
             std::function<void(intptr_t master)> kickConnection);

    enum class LoginOutcome { LoggedIn, AlreadyThisAccount, LoggedInElsewhere, OtherAccountHere };
    // Binds the account (whose password was checked) to the session; its inbox starts with the
    // messages the store keeps for it.
    LoginOutcome login(const SessionPtr &session, const std::string &name);
    // Unbinds the session's account; its undelivered private messages stay in the store.
    // Returns the account's name, or "" when the session had none.
    std::string logout(const SessionPtr &session);
    // Binds the account to the session whoever held it; the previous holder's connection is
    // kicked. Returns true when another connection was kicked.
    bool forceLogin(const SessionPtr &session, const std::string &name);

    enum class KickOutcome { Kicked, NotLoggedIn, Self };
    // Logs the account out and kicks its connection.
    KickOutcome kick(const SessionPtr &actor, const std::string &name);

private:
    void logoutLocked(Session &session);

    SessionRegistry &sessions_;
    MessageRouter &router_;
    std::function<void(intptr_t)> kickConnection_;
};
