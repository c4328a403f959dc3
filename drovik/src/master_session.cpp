// One master's connection as the slave sees it: handshake, jobs handed to the worker pool,
// heartbeat answers, silence detection, kick and shutdown.
#include <algorithm>

#include "handle_table.h"
#include "slave.h"

namespace drovik {
namespace {

// How long a master may take to close its end after a goodbye before the slave closes anyway.
constexpr auto kGoodbyeGrace = std::chrono::seconds(2);
constexpr auto kMinSilenceLimit = std::chrono::milliseconds(20);
// The silence allowed when the master's HELLO names no heartbeat timeout.
constexpr auto kDefaultSilenceLimit = std::chrono::milliseconds(10000);

}  // namespace

MasterSession::MasterSession(SlaveServer &server, SlaveShard &shard, asio::ip::tcp::socket socket)
    : server_(server), shard_(shard), timer_(shard.io), assembler_(wire::kMaxHandshakeLength) {
    asio::error_code ec;
    auto peer = socket.remote_endpoint(ec);
    if (!ec) {
        address_ = peer.address().to_string();
        addressKey_ = addressKeyOf(peer.address());
        port_ = peer.port();
    }
    std::unique_ptr<tls::Session> security;
    if (server.tls())
        security = tls::Session::server(server.tls());
    channel_ = std::make_shared<Channel>(std::move(socket), std::move(security));
    jobLimit_ = server.defaultJobLimit.load();
}

void MasterSession::start() {
    accepted_ = lastReceived_ = Clock::now();
    untrustedSince_ = accepted_;
    armWatchdog();
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
    // Output past the limit starts its clock even while the master sends nothing more to read.
    if (result == Channel::SendResult::Sent &&
        channel_->queuedBytes() > server_.limits.outputBytes() && !outputReported_.exchange(true))
        asio::post(shard_.io, [self = shared_from_this()] { self->outputOver(); });
    if (result == Channel::SendResult::Overflow)
        asio::post(shard_.io, [self = shared_from_this()] {
            self->end("the master does not read what is sent to it", DROVIK_LOG_LIMIT);
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
    asio::post(shard_.io, [self = shared_from_this()] {
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
    channel_->readInto(assembler_, [self = shared_from_this()](const asio::error_code &ec,
                                                               size_t n) { self->onRead(ec, n); });
}

void MasterSession::onRead(const asio::error_code &ec, size_t n) {
    if (ended_)
        return;
    if (ec == Channel::tlsFailed) {
        end((handshaken_ ? "protocol error: " : "not a Drovik master: ") + channel_->failure(),
            DROVIK_LOG_PROTOCOL);
        return;
    }
    if (ec) {
        end(ec == asio::error::eof ? "the master closed the connection"
                                   : "the connection was lost: " + ec.message());
        return;
    }
    (void)n;
    lastReceived_ = Clock::now();
    processFrames();
}

void MasterSession::processFrames() {
    const size_t outputLimit = server_.limits.outputBytes();
    bool completed = false;
    for (;;) {
        if (channel_->queuedBytes() > outputLimit) {
            // Replies pile up: take no more work from this master until it reads them.
            readPaused_ = true;
            outputOver();
            return;
        }
        wire::FrameView frame{};
        std::string why;
        auto status = assembler_.next(frame, why);
        if (status == wire::FrameAssembler::Status::Incomplete)
            break;
        if (status == wire::FrameAssembler::Status::Error) {
            end((handshaken_ ? "protocol error: " : "not a Drovik master: ") + why,
                DROVIK_LOG_PROTOCOL);
            return;
        }
        completed = true;
        // After a goodbye the master has nothing more to say that matters; read on to its end.
        if (!closing_)
            dispatch(frame);
        if (ended_)
            return;
    }
    // A frame's time runs from the read that brought its first bytes.
    if (completed || assembler_.buffered() == 0)
        frameBegun_.reset();
    if (assembler_.buffered() > 0 && !frameBegun_) {
        frameBegun_ = Clock::now();
        wakeBy(*frameBegun_ + server_.limits.frameTime());
    }
    readMore();
}

void MasterSession::outputOver() {
    if (ended_ || outputOverSince_)
        return;
    outputOverSince_ = Clock::now();
    wakeBy(*outputOverSince_ + server_.limits.outputTime());
    channel_->whenDrainedTo(server_.limits.outputBytes(), [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->outputDrained();
    });
}

void MasterSession::outputDrained() {
    outputOverSince_.reset();
    outputReported_ = false;
    if (ended_ || !readPaused_)
        return;
    readPaused_ = false;
    processFrames();
}

void MasterSession::dispatch(const wire::FrameView &frame) {
    if (!handshaken_) {
        if (frame.type == wire::FrameType::Hello)
            return onHello(frame.body);
        return end(std::string("not a Drovik master: the first frame was ") +
                       wire::frameTypeName(frame.type),
                   DROVIK_LOG_PROTOCOL);
    }
    switch (frame.type) {
        case wire::FrameType::Job:
            return onJob(frame.body);
        case wire::FrameType::Ping:
            if (auto token = wire::decodePing(frame.body)) {
                send(wire::encodePing(wire::FrameType::Pong, *token));
                return;
            }
            return end("protocol error: malformed PING frame", DROVIK_LOG_PROTOCOL);
        case wire::FrameType::Pong:
            return;
        default:
            return end(std::string("protocol error: unexpected ") +
                           wire::frameTypeName(frame.type) + " frame",
                       DROVIK_LOG_PROTOCOL);
    }
}

void MasterSession::onHello(std::span<const uint8_t> body) {
    auto hello = wire::decodeHello(body);
    if (!hello || hello->magic != wire::kMagic)
        return end("not a Drovik master: malformed HELLO", DROVIK_LOG_PROTOCOL);
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
    // long before it takes the master for gone, so it never drops a master that still waits. The
    // slave's own limit caps what the master asks for: a peer cannot hold a connection silently
    // for as long as it likes.
    const auto most = std::max(kMinSilenceLimit, server_.limits.silenceTime());
    auto limit = hello->heartbeatTimeoutMs == 0
                     ? kDefaultSilenceLimit
                     : std::chrono::milliseconds(int64_t{hello->heartbeatTimeoutMs} * 2);
    silenceLimit_ = std::clamp<std::chrono::milliseconds>(limit, kMinSilenceLimit, most);
    assembler_.setMaxLength(frameLimit());
    send(wire::encodeWelcome({}));
    server_.logLine(h, kLogInfo,
                    "master connected from " + address_ + ":" + std::to_string(port_) +
                        (hello->clientName.empty() ? "" : " (" + hello->clientName + ")"),
                    DROVIK_LOG_CONNECTION);
    if (greetFirst)
        shard_.pool.submit(this, [self = shared_from_this()] { self->greet(); });
    armWatchdog();
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
            shard_.pool.submit(this, [job = std::move(job)] { runJob(job); });
        held_.clear();
    }
    finaliseIfDone();
}

void MasterSession::onJob(std::span<const uint8_t> body) {
    auto request = wire::decodeJobHeader(body);
    if (!request)
        return end("protocol error: malformed JOB frame", DROVIK_LOG_PROTOCOL);
    // The count first: a list of millions of empty values is refused before one is decoded. No
    // master of ours sends more values than any job takes.
    if (request->valueCount > server_.largestSignature())
        return end("protocol error: a job with " + std::to_string(request->valueCount) +
                       " values, more than any job takes",
                   DROVIK_LOG_PROTOCOL);
    auto definition = server_.findJob(request->name);
    if (!definition)
        return answer(request->jobId, DROVIK_EVENT_UNKNOWN);
    if (request->valueCount != definition->signature.size())
        return answer(request->jobId, DROVIK_EVENT_INVALID);
    auto params = wire::decodeJobParams(request->params);
    if (!params)
        return end("protocol error: malformed JOB frame", DROVIK_LOG_PROTOCOL);
    if (!params->matches(definition->signature))
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
    job->params->list = std::move(*params);
    {
        std::lock_guard guard(lock_);
        if (greeting_) {
            held_.push_back(std::move(job));
            return;
        }
    }
    const bool quick = job->definition->timing->quick();
    auto run = [job = std::move(job)] { runJob(job); };
    if (quick)
        shard_.pool.submitHere(this, std::move(run));
    else
        shard_.pool.submit(this, std::move(run));
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
        server_.logLine(handle_, kLogInfo, "master " + address_ + ": " + reason,
                        DROVIK_LOG_CONNECTION);
    timer_.expires_after(kGoodbyeGrace);
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec)
            self->end("the master did not close its end in time");
    });
}

void MasterSession::end(const std::string &reason, int32_t kind) {
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
    server_.admission.release(this);
    // A peer that never said HELLO is logged only when a limit or the protocol closed it: an
    // ordinary probe of the port is not worth a line.
    const int32_t level = kind == DROVIK_LOG_CONNECTION ? kLogInfo : kLogWarning;
    if (handshaken_)
        server_.logLine(handle_, level, "master " + address_ + " gone: " + reason, kind);
    else if (kind == DROVIK_LOG_LIMIT || kind == DROVIK_LOG_PROTOCOL)
        server_.logLine(0, level, "connection from " + address_ + " closed: " + reason, kind);
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
    if (shard_.pool.onWorkerThread())
        finalise();
    else
        shard_.pool.submit(this, std::move(finalise));
}

}  // namespace drovik
