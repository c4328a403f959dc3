// One master's connection as the slave sees it: handshake, jobs handed to the worker pool,
// heartbeat answers, silence detection, kick and shutdown.
#include <algorithm>

#include "handle_table.h"
#include "slave.h"

namespace drovik {
namespace {

constexpr auto kHandshakeTime = std::chrono::seconds(10);
// How long a master may take to close its end after a goodbye before the slave closes anyway.
constexpr auto kGoodbyeGrace = std::chrono::seconds(2);
constexpr auto kMinSilenceLimit = std::chrono::milliseconds(20);
constexpr auto kMaxSilenceLimit = std::chrono::hours(1);

}  // namespace

MasterSession::MasterSession(SlaveServer &server, asio::ip::tcp::socket socket)
    : server_(server), timer_(server.io()), assembler_(wire::kMaxHandshakeLength) {
    asio::error_code ec;
    auto peer = socket.remote_endpoint(ec);
    if (!ec) {
        address_ = peer.address().to_string();
        port_ = peer.port();
    }
    channel_ = std::make_shared<Channel>(std::move(socket));
    jobLimit_ = server.defaultJobLimit.load();
}

void MasterSession::start() {
    lastReceived_ = std::chrono::steady_clock::now();
    timer_.expires_after(kHandshakeTime);
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec && !self->handshaken_)
            self->end("no handshake within 10 s");
    });
    readMore();
}

bool MasterSession::connected() const {
    std::lock_guard guard(lock_);
    return connected_;
}

intptr_t MasterSession::xtra() const {
    std::lock_guard guard(lock_);
    return xtra_;
}

void MasterSession::setXtra(intptr_t value) {
    std::lock_guard guard(lock_);
    xtra_ = value;
}

void MasterSession::setJobLimit(int32_t limit) {
    std::lock_guard guard(lock_);
    jobLimit_ = limit;
}

int32_t MasterSession::activeJobs() const {
    std::lock_guard guard(lock_);
    return activeJobs_;
}

bool MasterSession::send(wire::Frame frame) {
    auto result = channel_->send(std::move(frame));
    if (result == Channel::SendResult::Overflow)
        asio::post(server_.io(), [self = shared_from_this()] {
            self->end("the master does not read what is sent to it");
        });
    return result == Channel::SendResult::Sent;
}

bool MasterSession::kick() {
    {
        std::lock_guard guard(lock_);
        if (!connected_)
            return false;
        connected_ = false;
    }
    asio::post(server_.io(), [self = shared_from_this()] {
        self->goodbye(wire::FrameType::Kick, "kicked by the slave");
    });
    return true;
}

void MasterSession::shutdownByServer() {
    if (!handshaken_)
        end("the slave shuts down");
    else
        goodbye(wire::FrameType::Shutdown, "the slave shuts down");
}

void MasterSession::readMore() {
    auto room = assembler_.prepare();
    channel_->socket().async_read_some(
        asio::buffer(room.data(), room.size()),
        [self = shared_from_this()](const asio::error_code &ec, size_t n) { self->onRead(ec, n); });
}

void MasterSession::onRead(const asio::error_code &ec, size_t n) {
    if (ended_)
        return;
    if (ec) {
        end(ec == asio::error::eof ? "the master closed the connection"
                                   : "the connection was lost: " + ec.message());
        return;
    }
    lastReceived_ = std::chrono::steady_clock::now();
    assembler_.commit(n);
    for (;;) {
        wire::FrameView frame{};
        std::string why;
        auto status = assembler_.next(frame, why);
        if (status == wire::FrameAssembler::Status::Incomplete)
            break;
        if (status == wire::FrameAssembler::Status::Error) {
            end((handshaken_ ? "protocol error: " : "not a Drovik master: ") + why);
            return;
        }
        // After a goodbye the master has nothing more to say that matters; read on to its end.
        if (!closing_)
            dispatch(frame);
        if (ended_)
            return;
    }
    readMore();
}

void MasterSession::dispatch(const wire::FrameView &frame) {
    if (!handshaken_) {
        if (frame.type == wire::FrameType::Hello)
            return onHello(frame.body);
        return end(std::string("not a Drovik master: the first frame was ") +
                   wire::frameTypeName(frame.type));
    }
    switch (frame.type) {
        case wire::FrameType::Job:
            return onJob(frame.body);
        case wire::FrameType::Ping:
            if (auto token = wire::decodePing(frame.body)) {
                send(wire::encodePing(wire::FrameType::Pong, *token));
                return;
            }
            return end("protocol error: malformed PING frame");
        case wire::FrameType::Pong:
            return;
        default:
            return end(std::string("protocol error: unexpected ") +
                       wire::frameTypeName(frame.type) + " frame");
    }
}

void MasterSession::onHello(std::span<const uint8_t> body) {
    auto hello = wire::decodeHello(body);
    if (!hello || hello->magic != wire::kMagic)
        return end("not a Drovik master: malformed HELLO");
    if (hello->version != wire::kVersion)
        return goodbye(wire::FrameType::Refuse,
                       "protocol version " + std::to_string(hello->version) +
                           " is not supported; this slave speaks version " +
                           std::to_string(wire::kVersion));
    intptr_t h = server_.registerMaster(shared_from_this());
    if (h == 0)
        return goodbye(wire::FrameType::Refuse, errorText(Error::SlaveShuttingDown));
    handle_ = h;
    handshaken_ = true;
    {
        std::lock_guard guard(lock_);
        connected_ = true;
    }
    // Read after the master counts as connected: a callback installed later finds this master
    // among the connected ones instead.
    const bool greetFirst = server_.connectedCallback.load() != nullptr;
    if (greetFirst) {
        std::lock_guard guard(lock_);
        greeting_ = true;
    }
    // The master pings every interval and gives up after its timeout; the slave allows twice as
    // long before it takes the master for gone, so it never drops a master that still waits.
    auto limit = std::chrono::milliseconds(int64_t{hello->heartbeatTimeoutMs} * 2);
    silenceLimit_ = hello->heartbeatTimeoutMs == 0 ? std::chrono::milliseconds(10000)
                                                   : std::clamp<std::chrono::milliseconds>(
                                                         limit, kMinSilenceLimit, kMaxSilenceLimit);
    assembler_.setMaxLength(wire::kMaxFrameLength);
    send(wire::encodeWelcome({}));
    server_.logLine(h, kLogInfo,
                    "master connected from " + address_ + ":" + std::to_string(port_) +
                        (hello->clientName.empty() ? "" : " (" + hello->clientName + ")"));
    if (greetFirst)
        server_.pool().submit([self = shared_from_this()] { self->greet(); });
    armSilenceCheck();
}

void MasterSession::greet() {
    if (Drovik_MasterConnected connected = server_.connectedCallback.load()) {
        try {
            connected(server_.handle(), handle());
        } catch (...) {
            server_.logLine(handle(), kLogError, "the connected callback threw");
        }
    }
    {
        // Queued under the lock, so that a job arriving now cannot overtake the held ones.
        std::lock_guard guard(lock_);
        greeting_ = false;
        for (auto &job : held_)
            server_.pool().submit([job = std::move(job)] { runJob(job); });
        held_.clear();
    }
    finaliseIfDone();
}

void MasterSession::onJob(std::span<const uint8_t> body) {
    auto request = wire::decodeJob(body);
    if (!request)
        return end("protocol error: malformed JOB frame");
    auto definition = server_.findJob(request->name);
    if (!definition)
        return answer(request->jobId, DROVIK_EVENT_UNKNOWN);
    if (!request->params.matches(definition->signature))
        return answer(request->jobId, DROVIK_EVENT_INVALID);
    bool overLimit;
    {
        std::lock_guard guard(lock_);
        overLimit = activeJobs_ >= jobLimit_;
        if (!overLimit)
            ++activeJobs_;
    }
    if (overLimit)
        return answer(request->jobId, DROVIK_EVENT_LIMIT);

    auto job = std::make_shared<SlaveJob>();
    job->handle = newHandle();
    job->session = shared_from_this();
    job->definition = std::move(definition);
    job->wireId = request->jobId;
    job->params = std::make_shared<SharedList>();
    job->params->list = std::move(request->params);
    {
        std::lock_guard guard(lock_);
        if (greeting_) {
            held_.push_back(std::move(job));
            return;
        }
    }
    server_.pool().submit([job = std::move(job)] { runJob(job); });
}

void MasterSession::answer(uint64_t jobId, int32_t event) {
    send(wire::encodeResult(jobId, event, DROVIK_TYPE_NONE, {}));
}

void MasterSession::jobFinished(wire::Frame outcome) {
    {
        // The job's place is free before its outcome leaves: a master that submits again as soon
        // as it has the outcome must not meet the limit of the job that just ended.
        std::lock_guard guard(lock_);
        --activeJobs_;
    }
    send(std::move(outcome));
    finaliseIfDone();
}

void MasterSession::armSilenceCheck() {
    auto now = std::chrono::steady_clock::now();
    timer_.expires_at(std::max(lastReceived_ + silenceLimit_, now + std::chrono::milliseconds(10)));
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (ec || self->closing_)
            return;
        auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - self->lastReceived_);
        if (silent >= self->silenceLimit_ && self->channel_->available() == 0)
            return self->end("no sign of life from the master for " +
                             std::to_string(silent.count()) + " ms");
        self->armSilenceCheck();
    });
}

void MasterSession::goodbye(wire::FrameType type, const std::string &reason) {
    if (closing_)
        return;
    closing_ = true;
    {
        std::lock_guard guard(lock_);
        connected_ = false;
    }
    channel_->sendLast(wire::encodeReason(type, reason));
    if (handshaken_)
        server_.logLine(handle_, kLogInfo, "master " + address_ + ": " + reason);
    timer_.expires_after(kGoodbyeGrace);
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec)
            self->end("the master did not close its end in time");
    });
}

void MasterSession::end(const std::string &reason) {
    if (ended_)
        return;
    ended_ = true;
    closing_ = true;
    {
        std::lock_guard guard(lock_);
        connected_ = false;
        closed_ = true;
    }
    timer_.cancel();
    channel_->close();
    if (handshaken_)
        server_.logLine(handle_, kLogInfo, "master " + address_ + " gone: " + reason);
    finaliseIfDone();
}

void MasterSession::finaliseIfDone() {
    {
        std::lock_guard guard(lock_);
        if (!closed_ || activeJobs_ > 0 || greeting_ || finalised_)
            return;
        finalised_ = true;
    }
    auto self = shared_from_this();
    if (handle() == 0) {  // never got past the handshake: not a master of ours
        server_.sessionGone(self);
        return;
    }
    auto finalise = [self] {
        SlaveServer &server = self->server_;
        if (Drovik_XtraDataDeinit deinit = server.deinitCallback.load()) {
            try {
                deinit(server.handle(), self->handle(), self->xtra());
            } catch (...) {
                server.logLine(self->handle(), kLogError, "the end-of-master callback threw");
            }
        }
        server.sessionGone(self);
    };
    if (server_.pool().onWorkerThread())
        finalise();
    else
        server_.pool().submit(std::move(finalise));
}

}  // namespace drovik
