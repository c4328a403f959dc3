#include "master.h"

#include <algorithm>

namespace drovik {

void NetworkThread::start(const MasterShared *master) {
    thread_ = std::thread([this, master] { serve(master); });
}

void NetworkThread::serve(const MasterShared *master) {
    id_.store(std::this_thread::get_id());
    MasterConnection::markNetworkThread(master);
    io_.run();  // until stop() lets it end and every connection has closed
    {
        std::lock_guard guard(lock_);
        finished_ = true;
    }
    // What was posted after run() had returned, but before the above, was taken: it runs now.
    io_.restart();
    io_.run();
}

void NetworkThread::stop() {
    work_.reset();
    if (thread_.joinable())
        thread_.join();
}

Master::Master(Drovik_LogCallback log) : shared_(std::make_shared<MasterShared>()) {
    shared_->log = log;
}

size_t Master::maxNetworkThreads() {
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
}

std::shared_ptr<NetworkThread> Master::pickNetworkThread() {
    // Never the caller's own thread: it will wait there for the handshake (AddSlave from a
    // callback), so that one gets a thread more than the most, if need be.
    std::shared_ptr<NetworkThread> least;
    for (const auto &n : network_)
        if (!n->isCurrent() && (!least || n->connections.load() < least->connections.load()))
            least = n;
    std::shared_ptr<NetworkThread> network;
    if (least && (least->connections.load() == 0 || network_.size() >= maxNetworkThreads())) {
        network = least;
    } else {
        network = std::make_shared<NetworkThread>();
        network->start(shared_.get());
        network_.push_back(network);
    }
    network->connections.fetch_add(1);
    return network;
}

intptr_t Master::addSlave(const MasterConnection::Options &options, std::string &error) {
    std::shared_ptr<NetworkThread> network;
    {
        std::lock_guard guard(lock_);
        if (closed_) {
            error = errorText(Error::MasterClosing);
            return 0;
        }
        network = pickNetworkThread();
    }
    auto connection = MasterConnection::open(shared_, options, network, error);
    if (!connection) {
        network->connections.fetch_sub(1);
        return 0;
    }
    {
        std::lock_guard guard(lock_);
        if (!closed_) {
            connections_.emplace(connection->handle(), connection);
            connection->start();
            return connection->handle();
        }
    }
    connection->discard();
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

void Master::close() {
    std::map<intptr_t, std::shared_ptr<MasterConnection>> connections;
    std::vector<std::shared_ptr<NetworkThread>> network;
    {
        std::lock_guard guard(lock_);
        closed_ = true;
        connections.swap(connections_);
        network.swap(network_);
    }
    for (auto &[handle, c] : connections)
        c->remove();
    connections.clear();
    // Every connection is closed: each thread runs what is left of their handlers, then ends.
    for (auto &n : network)
        n->stop();
}

}  // namespace drovik
