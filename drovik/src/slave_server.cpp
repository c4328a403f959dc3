// A slave: listening, accepting, the table of its masters, its jobs, and its orderly shutdown.
#include <algorithm>

#include "handle_table.h"
#include "slave.h"

namespace drovik {

SlaveServer::SlaveServer(intptr_t handle, Drovik_LogCallback log, size_t workers,
                         tls::ServerIdentity tls)
    : log_(log),
      handle_(handle),
      tls_(std::move(tls)),
      work_(asio::make_work_guard(io_)),
      acceptor_(io_),
      pool_(workers) {}

SlaveServer::~SlaveServer() {
    work_.reset();
    io_.stop();
    pool_.stop();
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
        asio::ip::tcp::resolver resolver(s->io_);
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
    s->pool_.lead(s->io_);
    return s;
}

void SlaveServer::acceptNext() {
    acceptor_.async_accept([this](const asio::error_code &ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open())
            return;
        if (ec) {
            // Out of descriptors or similar: the connection waits in the backlog. Try again shortly
            // instead of spinning on the same failure.
            logLine(0, kLogWarning, "accepting a connection failed: " + ec.message(),
                    DROVIK_LOG_REFUSED);
            acceptLater();
            return;
        }
        admit(std::move(socket));
        acceptNext();
    });
}

void SlaveServer::acceptLater() {
    auto pause = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(50));
    pause->async_wait([this, pause](const asio::error_code &) {
        if (acceptor_.is_open())
            acceptNext();
    });
}

void SlaveServer::admit(asio::ip::tcp::socket socket) {
    auto session = std::make_shared<MasterSession>(*this, std::move(socket));
    Admission::Verdict verdict = admission.admit(session.get(), session->addressKey(), limits);
    if (!verdict.admitted) {
        // Closed before a byte is read: a refused peer costs one accept and nothing more.
        logLine(0, kLogWarning,
                "refused a connection from " + session->address() + ": " + verdict.refusal,
                DROVIK_LOG_REFUSED);
        session->end(verdict.refusal, DROVIK_LOG_REFUSED);
        return;
    }
    {
        std::lock_guard guard(lock_);
        sessions_.insert(session);
    }
    if (verdict.evicted != nullptr) {
        MasterSession &victim = *verdict.evicted;
        logLine(victim.handle(), kLogWarning,
                "closed the connection of " + victim.address() +
                    " to make room: too many connections are not trusted yet",
                DROVIK_LOG_REFUSED);
        victim.end("too many connections are not trusted yet", DROVIK_LOG_REFUSED);
    }
    session->start();
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
        sessions_.erase(session);
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
    asio::post(io_, [this] {
        asio::error_code ec;
        acceptor_.close(ec);
        std::vector<std::shared_ptr<MasterSession>> all;
        {
            std::lock_guard guard(lock_);
            all.assign(sessions_.begin(), sessions_.end());
        }
        for (auto &s : all)
            s->shutdownByServer();
    });
    {
        // Every session ends once its master has read the goodbye (or a short grace time has
        // passed) and its running jobs have returned.
        std::unique_lock guard(lock_);
        sessionsChanged_.wait(guard, [this] { return sessions_.empty(); });
    }
    work_.reset();
    io_.stop();
    pool_.stop();
    return true;
}

}  // namespace drovik
