// A slave: listening, accepting, the table of its masters, its jobs, and its orderly shutdown.
#include <algorithm>

#include "handle_table.h"
#include "slave.h"

namespace drovik {
namespace {

// One shard per processor, at most four, and never more than there are workers: every shard's
// pool has a worker of its own. The workers are shared out as evenly as they go.
std::vector<std::unique_ptr<SlaveShard>> makeShards(size_t workers) {
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t count = std::clamp<size_t>(std::min<size_t>(cores, 4), 1, workers);
    std::vector<std::unique_ptr<SlaveShard>> shards;
    for (size_t i = 0; i < count; ++i)
        shards.push_back(std::make_unique<SlaveShard>(workers / count + (i < workers % count)));
    return shards;
}

}  // namespace

SlaveServer::SlaveServer(intptr_t handle, Drovik_LogCallback log, size_t workers,
                         tls::ServerIdentity tls)
    : log_(log),
      handle_(handle),
      tls_(std::move(tls)),
      shards_(makeShards(std::max<size_t>(workers, 1))),
      acceptor_(shards_.front()->io) {}

SlaveServer::~SlaveServer() {
    for (auto &shard : shards_)
        shard->stop();
}

std::shared_ptr<SlaveServer> SlaveServer::create(intptr_t handle, std::string_view bindAddress,
                                                 int32_t port, Drovik_LogCallback log,
                                                 size_t workers, tls::ServerIdentity tls,
                                                 std::string &error) {
    std::string address(bindAddress.empty() ? "0.0.0.0" : bindAddress);
    const std::string where = address + ":" + std::to_string(port);
    std::shared_ptr<SlaveServer> s(new SlaveServer(handle, log, workers, std::move(tls)));

    asio::error_code ec;
    asio::ip::tcp::endpoint endpoint;
    asio::ip::address ip = asio::ip::make_address(address, ec);
    if (!ec) {
        endpoint = asio::ip::tcp::endpoint(ip, static_cast<uint16_t>(port));
    } else {
        asio::ip::tcp::resolver resolver(s->shards_.front()->io);
        auto found = resolver.resolve(
            address, std::to_string(port),
            asio::ip::resolver_base::passive | asio::ip::resolver_base::numeric_service, ec);
        if (ec || found.empty()) {
            error = "Cannot listen on " + where + ": unknown address (" + ec.message() + ")";
            return nullptr;
        }
        endpoint = found.begin()->endpoint();
    }
    auto &acceptor = s->acceptor_;
    acceptor.open(endpoint.protocol(), ec);
#ifndef _WIN32
    // Lets a restarted slave take its port back while old connections linger in TIME_WAIT. (On
    // Windows the same option would let two programs share the port, so it stays off there.)
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
#endif
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "Cannot listen on " + where + ": " + ec.message();
        return nullptr;
    }
    s->port_ = acceptor.local_endpoint(ec).port();
    s->acceptNext();
    for (auto &shard : s->shards_)
        shard->pool.lead(shard->io);
    return s;
}

bool SlaveServer::onWorkerThread() const {
    return std::any_of(shards_.begin(), shards_.end(),
                       [](const auto &shard) { return shard->pool.onWorkerThread(); });
}

SlaveShard &SlaveServer::quietestShard() {
    SlaveShard *quietest = shards_.front().get();
    for (auto &shard : shards_)
        if (shard->sessions.load() < quietest->sessions.load())
            quietest = shard.get();
    return *quietest;
}

void SlaveServer::acceptNext() {
    // The connection is accepted straight onto the network of the shard that will read it.
    SlaveShard &shard = quietestShard();
    acceptor_.async_accept(
        shard.io, [this, &shard](const asio::error_code &ec, asio::ip::tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !acceptor_.is_open())
                return;
            if (ec) {
                // Out of descriptors or similar: the connection waits in the backlog. Try again
                // shortly instead of spinning on the same failure.
                logLine(0, kLogWarning, "accepting a connection failed: " + ec.message(),
                        DROVIK_LOG_REFUSED);
                acceptLater();
                return;
            }
            admit(shard, std::move(socket));
            acceptNext();
        });
}

void SlaveServer::acceptLater() {
    auto pause =
        std::make_shared<asio::steady_timer>(shards_.front()->io, std::chrono::milliseconds(50));
    pause->async_wait([this, pause](const asio::error_code &) {
        if (acceptor_.is_open())
            acceptNext();
    });
}

void SlaveServer::admit(SlaveShard &shard, asio::ip::tcp::socket socket) {
    auto session = std::make_shared<MasterSession>(*this, shard, std::move(socket));
    Admission::Verdict verdict = admission.admit(session.get(), session->addressKey(), limits);
    if (!verdict.admitted) {
        // Closed before a byte is read: a refused peer costs one accept and nothing more.
        logLine(0, kLogWarning,
                "refused a connection from " + session->address() + ": " + verdict.refusal,
                DROVIK_LOG_REFUSED);
        session->end(verdict.refusal, DROVIK_LOG_REFUSED);
        return;
    }
    std::shared_ptr<MasterSession> victim;
    {
        std::lock_guard guard(lock_);
        sessions_.insert(session);
        shard.sessions.fetch_add(1);
        // The victim may be ending on its own shard's thread meanwhile: it is held from the table
        // of live sessions (found by address, without taking a share of it), if it is still there.
        if (verdict.evicted != nullptr) {
            auto it = sessions_.find(
                std::shared_ptr<MasterSession>(std::shared_ptr<MasterSession>(), verdict.evicted));
            if (it != sessions_.end())
                victim = *it;
        }
    }
    if (victim) {
        logLine(victim->handle(), kLogWarning,
                "closed the connection of " + victim->address() +
                    " to make room: too many connections are not trusted yet",
                DROVIK_LOG_REFUSED);
        asio::post(victim->shard().io, [victim] {
            victim->end("too many connections are not trusted yet", DROVIK_LOG_REFUSED);
        });
    }
    // Everything of a session happens on its shard's network thread, its start included.
    asio::post(shard.io, [session] { session->start(); });
}

bool SlaveServer::addJob(JobDefinition definition) {
    auto d = std::make_shared<const JobDefinition>(std::move(definition));
    std::lock_guard guard(lock_);
    if (d->signature.size() > largestSignature_.load())
        largestSignature_.store(d->signature.size());
    jobs_[d->name] = d;
    return true;
}

std::shared_ptr<const JobDefinition> SlaveServer::findJob(const std::string &name) const {
    std::lock_guard guard(lock_);
    auto it = jobs_.find(name);
    return it == jobs_.end() ? nullptr : it->second;
}

int32_t SlaveServer::countJobs() const {
    std::lock_guard guard(lock_);
    return static_cast<int32_t>(jobs_.size());
}

intptr_t SlaveServer::registerMaster(const std::shared_ptr<MasterSession> &session) {
    std::lock_guard guard(lock_);
    if (shuttingDown_)
        return 0;
    intptr_t h = newHandle();
    masters_.emplace(h, session);
    return h;
}

std::shared_ptr<MasterSession> SlaveServer::findMaster(intptr_t master) const {
    std::lock_guard guard(lock_);
    auto it = masters_.find(master);
    return it == masters_.end() ? nullptr : it->second;
}

int32_t SlaveServer::countConnected() const {
    std::lock_guard guard(lock_);
    return static_cast<int32_t>(std::count_if(masters_.begin(), masters_.end(),
                                              [](const auto &m) { return m.second->connected(); }));
}

intptr_t SlaveServer::nextConnected(intptr_t previous) const {
    std::lock_guard guard(lock_);
    for (auto it = masters_.upper_bound(previous); it != masters_.end(); ++it)
        if (it->second->connected())
            return it->first;
    return 0;
}

void SlaveServer::sessionGone(const std::shared_ptr<MasterSession> &session) {
    {
        std::lock_guard guard(lock_);
        if (sessions_.erase(session) > 0)
            session->shard().sessions.fetch_sub(1);
        if (intptr_t h = session->handle())
            masters_.erase(h);
    }
    sessionsChanged_.notify_all();
}

bool SlaveServer::shuttingDown() const {
    std::lock_guard guard(lock_);
    return shuttingDown_;
}

void SlaveServer::setLastError(std::string text) {
    std::lock_guard guard(lock_);
    lastError_ = std::move(text);
}

std::string SlaveServer::lastError() const {
    std::lock_guard guard(lock_);
    return lastError_;
}

bool SlaveServer::shutdown() {
    {
        std::lock_guard guard(lock_);
        if (shuttingDown_)
            return false;
        shuttingDown_ = true;
    }
    // On the acceptor's thread: once it is closed there, no session is added any more.
    asio::post(shards_.front()->io, [this] {
        asio::error_code ec;
        acceptor_.close(ec);
        std::vector<std::shared_ptr<MasterSession>> all;
        {
            std::lock_guard guard(lock_);
            all.assign(sessions_.begin(), sessions_.end());
        }
        for (auto &s : all)
            asio::post(s->shard().io, [s] { s->shutdownByServer(); });
    });
    {
        // Every session ends once its master has read the goodbye (or a short grace time has
        // passed) and its running jobs have returned.
        std::unique_lock guard(lock_);
        sessionsChanged_.wait(guard, [this] { return sessions_.empty(); });
    }
    for (auto &shard : shards_)
        shard->stop();
    return true;
}

}  // namespace drovik
