#include "Session.h"

#include "protocol/TextFormats.h"

SessionPtr SessionRegistry::attach(intptr_t master, const std::string &ip, int32_t port,
                                   const InboxLimits &inboxLimits, bool &created) {
    std::unique_lock guard(mastersMutex_);
    auto [it, inserted] = byMaster_.try_emplace(master);
    if (inserted)
        it->second = std::make_shared<Session>(master, ip, port, inboxLimits);
    created = inserted;
    return it->second;
}

SessionPtr SessionRegistry::find(intptr_t master) {
    std::shared_lock guard(mastersMutex_);
    auto it = byMaster_.find(master);
    return it == byMaster_.end() ? nullptr : it->second;
}

SessionPtr SessionRegistry::detach(intptr_t master) {
    std::unique_lock guard(mastersMutex_);
    auto it = byMaster_.find(master);
    if (it == byMaster_.end())
        return nullptr;
    SessionPtr session = std::move(it->second);
    byMaster_.erase(it);
    return session;
}

std::vector<SessionPtr> SessionRegistry::all() {
    std::shared_lock guard(mastersMutex_);
    std::vector<SessionPtr> sessions;
    sessions.reserve(byMaster_.size());
    for (auto &[master, session] : byMaster_)
        sessions.push_back(session);
    return sessions;
}

SessionPtr SessionRegistry::bind(const std::string &name, const SessionPtr &session) {
    std::lock_guard guard(namesMutex_);
    auto [it, inserted] = byName_.try_emplace(name, session);
    if (!inserted)
        return it->second;
    list_.reset();
    return nullptr;
}

SessionPtr SessionRegistry::steal(const std::string &name, const SessionPtr &session) {
    std::lock_guard guard(namesMutex_);
    SessionPtr &slot = byName_[name];
    SessionPtr previous = std::move(slot);
    slot = session;
    list_.reset();
    return previous;
}

void SessionRegistry::unbind(const std::string &name, const Session *session) {
    std::lock_guard guard(namesMutex_);
    auto it = byName_.find(name);
    if (it != byName_.end() && it->second.get() == session) {
        byName_.erase(it);
        list_.reset();
    }
}

SessionPtr SessionRegistry::holder(const std::string &name) {
    std::lock_guard guard(namesMutex_);
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

std::vector<SessionPtr> SessionRegistry::online() {
    std::lock_guard guard(namesMutex_);
    std::vector<SessionPtr> sessions;
    sessions.reserve(byName_.size());
    for (auto &[name, session] : byName_)
        sessions.push_back(session);
    return sessions;
}

size_t SessionRegistry::onlineCount() {
    std::lock_guard guard(namesMutex_);
    return byName_.size();
}

std::shared_ptr<const std::string> SessionRegistry::onlineList() {
    std::lock_guard guard(namesMutex_);
    if (!list_) {
        auto text = std::make_shared<std::string>();
        text->reserve(byName_.size() * 12);
        for (auto &[name, session] : byName_) {  // std::map: sorted by name
            AppendOnlineListName(*text, name);
        }
        list_ = std::move(text);
    }
    return list_;
}
