#include "Presence.h"

#include "MessageRouter.h"
#include "cluster/Cluster.h"

Presence::Presence(SessionRegistry &sessions, MessageRouter &router, Cluster *cluster,
                   std::function<void(intptr_t)> kickConnection)
    : sessions_(sessions),
      router_(router),
      cluster_(cluster),
      kickConnection_(std::move(kickConnection)) {}

void Presence::logoutLocked(Session &session) {
    if (session.user.empty())
        return;
    sessions_.unbind(session.user, &session);
    if (cluster_)
        cluster_->release(session.user);
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
    if (cluster_) {
        switch (cluster_->claim(name)) {
            case Cluster::Claim::Claimed:
                break;
            case Cluster::Claim::Taken:
                return LoginOutcome::LoggedInElsewhere;
            case Cluster::Claim::Unavailable:
                return LoginOutcome::Unavailable;
        }
    }
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

Presence::ForceOutcome Presence::forceLogin(const SessionPtr &session, const std::string &name) {
    SessionPtr previous;
    std::string previousNode;
    {
        std::lock_guard guard(session->mutex);
        if (session->user == name)
            return ForceOutcome::LoggedIn;
        if (cluster_) {
            // Claimed first: when the cluster cannot be asked, nothing changes here either.
            auto held = cluster_->takeOver(name);
            if (!held)
                return ForceOutcome::Unavailable;
            previousNode = *held;
        }
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
    if (!previousNode.empty() && previousNode != cluster_->node()) {
        // Its messages, too, reach the new holder through the store. Should the other node not
        // hear it, its heartbeat finds the claim taken and ends the session there.
        cluster_->endOn(previousNode, name);
        kicked = true;
    }
    std::lock_guard guard(session->mutex);
    if (session->user == name)
        router_.startLocked(*session);
    return kicked ? ForceOutcome::Kicked : ForceOutcome::LoggedIn;
}

Presence::KickOutcome Presence::kick(const SessionPtr &actor, const std::string &name) {
    SessionPtr target = sessions_.holder(name);
    if (!target && cluster_) {
        auto node = cluster_->owner(name);
        if (!node)
            return KickOutcome::Unavailable;
        if (node->empty() || *node == cluster_->node())
            return KickOutcome::NotLoggedIn;
        return cluster_->endOn(*node, name) ? KickOutcome::Kicked : KickOutcome::Unavailable;
    }
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

void Presence::endLocal(const std::string &name) {
    SessionPtr target = sessions_.holder(name);
    if (!target)
        return;
    {
        std::lock_guard guard(target->mutex);
        if (target->user != name)
            return;
        logoutLocked(*target);
    }
    kickConnection_(target->master);
}
