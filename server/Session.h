// Sessions: what the server knows about each connected client (its address, the account it is
// logged in with, administrator mode, its inbox), and the registry of
// sessions by connection and of logged-in accounts by name.
//
// Lock order: a Session's mutex may be held while taking one of the registry's two (which are
// never held together); never the other way round, and never two sessions' at once. None is held
// while hashing a password.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ChatMessage.h"

class Session {
public:
    Session(intptr_t master, std::string ip, int32_t port, InboxLimits inboxLimits)
        : master(master),
          ip(std::move(ip)),
          address(this->ip + ":" + std::to_string(port)),
          inbox(inboxLimits) {}

    const intptr_t master;      // the library's handle of the connection
    const std::string ip;       // the client's address, the key of the password throttles
    const std::string address;  // address and port, for the log

    std::mutex mutex;  // guards every field below
    std::string user;  // the logged-in account, "" for none
    // Administrator mode, and the account that started it ("" for none), which the audit log names
    // for every action in the mode, also after a forced login.
    bool admin = false;
    std::string adminAccount;
    uint64_t refusals = 0;  // jobs refused so far, for the log
    Inbox inbox;
};

using SessionPtr = std::shared_ptr<Session>;

class SessionRegistry {
public:
    // The session of a connection, created on first sight; `created` tells whether it was.
    SessionPtr attach(intptr_t master, const std::string &ip, int32_t port,
                      const InboxLimits &inboxLimits, bool &created);
    SessionPtr find(intptr_t master);
    // Forgets the connection's session and returns it.
    SessionPtr detach(intptr_t master);
    std::vector<SessionPtr> all();

    // Logged-in accounts. bind returns the session already holding the name (then nothing
    // changes), or null when the name is now bound to `session`.
    SessionPtr bind(const std::string &name, const SessionPtr &session);
    // Binds the name to `session` whoever held it; returns the previous holder (or null).
    SessionPtr steal(const std::string &name, const SessionPtr &session);
    // Unbinds the name if `session` holds it.
    void unbind(const std::string &name, const Session *session);
    SessionPtr holder(const std::string &name);
    std::vector<SessionPtr> online();
    size_t onlineCount();
    // The names of the logged-in accounts, sorted, each followed by LF CR.
    std::shared_ptr<const std::string> onlineList();

private:
    // Every job looks up its connection's session, on several threads at once: those lookups
    // share a lock of their own, and never wait for the names (an online list being rebuilt, a
    // global message copying the sessions it reaches).
    std::shared_mutex mastersMutex_;
    std::unordered_map<intptr_t, SessionPtr> byMaster_;
    std::mutex namesMutex_;  // guards the fields below
    std::map<std::string, SessionPtr> byName_;
    std::shared_ptr<const std::string> list_;  // cached onlineList, rebuilt after a change
};
