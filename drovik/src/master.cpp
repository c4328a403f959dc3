#include "master.h"

#include <algorithm>

namespace drovik {

Master::Master(Drovik_LogCallback log) : shared_(std::make_shared<MasterShared>()) {
    shared_->log = log;
}

intptr_t Master::addSlave(const MasterConnection::Options &options, std::string &error) {
    reapFinished();
    auto connection = MasterConnection::open(shared_, options, error);
    if (!connection)
        return 0;
    {
        std::lock_guard guard(lock_);
        if (!closed_) {
            connections_.emplace(connection->handle(), connection);
            connection->start();
            return connection->handle();
        }
    }
    error = errorText(Error::MasterClosing);
    return 0;
}

bool Master::removeSlave(intptr_t slave) {
    std::shared_ptr<MasterConnection> connection;
    {
        std::lock_guard guard(lock_);
        auto it = connections_.find(slave);
        if (it == connections_.end())
            return false;
        connection = std::move(it->second);
        connections_.erase(it);
    }
    connection->remove();
    if (!connection->finished()) {
        // Removed from inside a callback: the thread cannot be joined from there, so it is joined
        // later from an ordinary thread.
        std::lock_guard guard(lock_);
        retired_.push_back(std::move(connection));
    }
    return true;
}

std::shared_ptr<MasterConnection> Master::find(intptr_t slave) const {
    std::lock_guard guard(lock_);
    auto it = connections_.find(slave);
    return it == connections_.end() ? nullptr : it->second;
}

int32_t Master::countLive() const {
    std::lock_guard guard(lock_);
    return static_cast<int32_t>(std::count_if(connections_.begin(), connections_.end(),
                                              [](const auto &c) { return c.second->alive(); }));
}

intptr_t Master::nextLive(intptr_t previous) const {
    std::lock_guard guard(lock_);
    for (auto it = connections_.upper_bound(previous); it != connections_.end(); ++it)
        if (it->second->alive())
            return it->first;
    return 0;
}

HeartbeatSettings Master::heartbeat() const {
    std::lock_guard guard(lock_);
    return heartbeat_;
}

void Master::setHeartbeat(HeartbeatSettings settings) {
    std::lock_guard guard(lock_);
    heartbeat_ = settings;
}

void Master::setLastError(std::string text) {
    std::lock_guard guard(lock_);
    lastError_ = std::move(text);
}

std::string Master::lastError() const {
    std::lock_guard guard(lock_);
    return lastError_;
}

void Master::reapFinished() {
    if (MasterConnection::onAnyConnectionThread())
        return;
    std::vector<std::shared_ptr<MasterConnection>> done;
    {
        std::lock_guard guard(lock_);
        auto split = std::partition(retired_.begin(), retired_.end(),
                                    [](const auto &c) { return !c->finished(); });
        done.assign(std::make_move_iterator(split), std::make_move_iterator(retired_.end()));
        retired_.erase(split, retired_.end());
    }
    for (auto &c : done)
        c->join();
}

void Master::close() {
    std::map<intptr_t, std::shared_ptr<MasterConnection>> connections;
    std::vector<std::shared_ptr<MasterConnection>> retired;
    {
        std::lock_guard guard(lock_);
        closed_ = true;
        connections.swap(connections_);
        retired.swap(retired_);
    }
    for (auto &[handle, c] : connections) {
        c->remove();
        c->join();
    }
    for (auto &c : retired)
        c->join();
}

}  // namespace drovik
