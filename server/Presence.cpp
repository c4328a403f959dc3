#include "Presence.h"

#include "MessageRouter.h"

Presence::Presence(SessionRegistry &sessions, MessageRouter &router,
                   std::function<void(intptr_t)> kickConnection)
    : sessions_(sessions), router_(router), kickConnection_(std::move(kickConnection)) {}

void Presence::logoutLocked(Session &session) {
    if (session.user.empty())
        return;
    sessions_.unbind(session.user, &session);
    router_.endLocked(session);
    session.user.clear();
}

Presence::LoginOutcome Presence::login(const SessionPtr &session, const std::string &name) {
    std::lock_guard guard(session->mutex);
    if (session->user == name)
        return LoginOutcome::AlreadyThisAccount;
    SessionPtr holder = sessions_.holder(name);
    if (holder && holder != session)
        return LoginOutcome::LoggedInElsewhere;
    if (!session->user.empty())
        return LoginOutcome::OtherAccountHere;
    if (sessions_.bind(name, session))  // another connection won the race for the name
        return LoginOutcome::LoggedInElsewhere;
    session->user = name;
    router_.startLocked(*session);
    return LoginOutcome::LoggedIn;
}

std::string Presence::logout(const SessionPtr &session) {
    router_.settle(*session);  // what the session proved received is gone before it ends
    std::lock_guard guard(session->mutex);
    std::string name = session->user;
    logoutLocked(*session);
    return name;
}

bool Presence::forceLogin(const SessionPtr &session, const std::string &name) {
    SessionPtr previous;
    {
        std::lock_guard guard(session->mutex);
        if (session->user == name)
            return false;
        logoutLocked(*session);
        previous = sessions_.steal(name, session);
        session->user = name;
    }
    bool kicked = false;
    if (previous && previous != session) {
        {
            std::lock_guard guard(previous->mutex);
            if (previous->user == name) {
                // Its undelivered messages reach the new holder through the store.
                router_.endLocked(*previous);
                previous->user.clear();
            }
        }
        kickConnection_(previous->master);
        kicked = true;
    }
    std::lock_guard guard(session->mutex);
    if (session->user == name)
        router_.startLocked(*session);
    return kicked;
}

Presence::KickOutcome Presence::kick(const SessionPtr &actor, const std::string &name) {
    SessionPtr target = sessions_.holder(name);
    if (!target)
        return KickOutcome::NotLoggedIn;
    if (target == actor)
        return KickOutcome::Self;
    {
        std::lock_guard guard(target->mutex);
        if (target->user == name)
            logoutLocked(*target);
    }
    kickConnection_(target->master);
    return KickOutcome::Kicked;
}
