// Who is logged in on which connection: login, logout, forced login and kicks. With a cluster, an
// account is claimed for this node before it binds to a session here, so that one account has one
// session among all nodes; kicks and forced logins reach the node that holds the session.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Session.h"

class Cluster;
class MessageRouter;

class Presence {
public:
    // `cluster` is null for a node alone.
    Presence(SessionRegistry &sessions, MessageRouter &router, Cluster *cluster,
             std::function<void(intptr_t master)> kickConnection);

    // Unavailable: the cluster could not be asked who holds the account; nothing changed.
    enum class LoginOutcome {
        LoggedIn,
        AlreadyThisAccount,
        LoggedInElsewhere,
        OtherAccountHere,
        Unavailable
    };
    // Binds the account (whose password was checked) to the session; its inbox starts with the
    // messages the store keeps for it.
    LoginOutcome login(const SessionPtr &session, const std::string &name);
    // Unbinds the session's account; its undelivered private messages stay in the store.
    // Returns the account's name, or "" when the session had none.
    std::string logout(const SessionPtr &session);
    enum class ForceOutcome { LoggedIn, Kicked, Unavailable };
    // Binds the account to the session whoever held it; the previous holder's connection is
    // kicked, on whichever node it is.
    ForceOutcome forceLogin(const SessionPtr &session, const std::string &name);

    enum class KickOutcome { Kicked, NotLoggedIn, Self, Unavailable };
    // Logs the account out and kicks its connection, on whichever node it is.
    KickOutcome kick(const SessionPtr &actor, const std::string &name);
    // Another node asks: the account's session here ends and its connection is kicked.
    void endLocal(const std::string &name);

private:
    void logoutLocked(Session &session);

    SessionRegistry &sessions_;
    MessageRouter &router_;
    Cluster *cluster_;
    std::function<void(intptr_t)> kickConnection_;
};
