// A master's connection at work: its network thread reads the slave's frames and runs the callbacks
// itself (holding no lock), keeps the heartbeat, and ends the connection with exactly one event.
#include <cstring>
#include <future>

#include "handle_table.h"
#include "master.h"
#include "memory.h"

namespace drovik {
namespace {

// The master whose network thread this is, if any; lets remove() and DeInit see that they are
// called from inside a callback.
thread_local const MasterShared *tlsMaster = nullptr;

}  // namespace

bool MasterConnection::onThreadOf(const MasterShared *master) {
    return tlsMaster == master;
}
bool MasterConnection::onAnyConnectionThread() {
    return tlsMaster != nullptr;
}

void MasterConnection::markNetworkThread(const MasterShared *master) {
    tlsMaster = master;
}

MasterConnection::~MasterConnection() = default;

void MasterConnection::start() {
    {
        std::lock_guard guard(lock_);
        alive_ = !removed_;
    }
    // Frames that arrived with the handshake's last read wait in the assembler. Called under the
    // master's lock before it closes, so the thread still takes it.
    network_->post([self = shared_from_this()] {
        if (self->ending_)
            return;
        self->lastReceived_ = std::chrono::steady_clock::now();
        if (!self->processFrames())
            return;
        self->readMore();
        self->armHeartbeat();
    });
}

void MasterConnection::discard() {
    {
        std::lock_guard guard(lock_);
        removed_ = true;
        alive_ = false;
    }
    closeNow();
}

intptr_t MasterConnection::submit(std::string_view name, const ParamList &params,
                                  Drovik_Callback callback, int32_t replyType, bool deliver,
                                  Error &error) {
    intptr_t id = newHandle();
    wire::Frame frame = wire::encodeJob(static_cast<uint64_t>(id), replyType, name, params);
    {
        std::lock_guard guard(lock_);
        if (removed_) {
            error = Error::UnknownSlave;
            return 0;
        }
        if (!alive_) {
            error = Error::SlaveLost;
            return 0;
        }
        // Registered before the frame leaves, so an answer can never arrive ahead of its job.
        jobs_.emplace(static_cast<uint64_t>(id), PendingJob{callback, deliver});
    }
    if (channel_->send(std::move(frame)) == Channel::SendResult::Overflow) {
        std::lock_guard guard(lock_);
        jobs_.erase(static_cast<uint64_t>(id));
        error = Error::SendQueueFull;
        return 0;
    }
    noteSent();
    // A send refused because the connection is closing needs nothing here: the connection's end
    // drops the job and reports the connection event.
    return id;
}

void MasterConnection::remove() {
    {
        std::lock_guard guard(lock_);
        if (removed_)
            return;
        removed_ = true;
        alive_ = false;
        jobs_.clear();
    }
    if (network_->isCurrent()) {
        closeNow();
        return;
    }
    auto closed = std::make_shared<std::promise<void>>();
    std::future<void> done = closed->get_future();
    bool posted = network_->post([self = shared_from_this(), closed] {
        self->closeNow();
        closed->set_value();
    });
    if (!posted) {
        // The master is closing and the thread has run out of work: the connection has ended
        // (a live one keeps a read open there), and none of its handlers runs any more.
        closeNow();
        return;
    }
    // From another master's thread, waiting could meet that master waiting for this one.
    if (!onAnyConnectionThread())
        done.wait();
}

bool MasterConnection::alive() const {
    std::lock_guard guard(lock_);
    return alive_;
}

int32_t MasterConnection::pendingJobs() const {
    std::lock_guard guard(lock_);
    return static_cast<int32_t>(jobs_.size());
}

intptr_t MasterConnection::xtra() const {
    std::lock_guard guard(lock_);
    return xtra_;
}

void MasterConnection::setXtra(intptr_t value) {
    std::lock_guard guard(lock_);
    xtra_ = value;
}

void MasterConnection::readMore() {
    channel_->readInto(assembler_, [self = shared_from_this()](const asio::error_code &ec,
                                                               size_t n) { self->onRead(ec, n); });
}

void MasterConnection::onRead(const asio::error_code &ec, size_t n) {
    if (ending_)
        return;
    if (ec) {
        end(DROVIK_EVENT_SHUTDOWN, ec == asio::error::eof ? "the slave closed the connection"
                                   : ec == Channel::tlsFailed
                                       ? "the slave's records failed: " + channel_->failure()
                                       : "the connection to the slave was lost: " + ec.message());
        return;
    }
    (void)n;
    lastReceived_ = std::chrono::steady_clock::now();
    if (processFrames())
        readMore();
}

bool MasterConnection::processFrames() {
    for (;;) {
        wire::FrameView frame{};
        std::string why;
        auto status = assembler_.next(frame, why);
        if (status == wire::FrameAssembler::Status::Incomplete)
            break;
        if (status == wire::FrameAssembler::Status::Error) {
            end(DROVIK_EVENT_SHUTDOWN, "protocol error from the slave: " + why);
            return false;
        }
        dispatch(frame);
        if (ending_)  // the frame ended the connection, or a callback removed it
            return false;
    }
    return true;
}

void MasterConnection::dispatch(const wire::FrameView &frame) {
    switch (frame.type) {
        case wire::FrameType::Result:
            if (auto r = wire::decodeResult(frame.body))
                return onResult(*r);
            break;
        case wire::FrameType::Stream:
            if (auto m = wire::decodeStream(frame.body))
                return onStream(*m);
            break;
        case wire::FrameType::Kick:
        case wire::FrameType::Shutdown: {
            auto reason = wire::decodeReason(frame.body);
            bool kicked = frame.type == wire::FrameType::Kick;
            std::string text = kicked ? "kicked by the slave" : "the slave shut down";
            if (reason && !reason->empty())
                text += ": " + *reason;
            return end(kicked ? DROVIK_EVENT_KICKED : DROVIK_EVENT_SHUTDOWN, text);
        }
        case wire::FrameType::Ping:
            if (auto token = wire::decodePing(frame.body))
                return sendOrEnd(wire::encodePing(wire::FrameType::Pong, *token));
            break;
        case wire::FrameType::Pong:
            return;
        default:
            return end(DROVIK_EVENT_SHUTDOWN,
                       std::string("protocol error from the slave: unexpected ") +
                           wire::frameTypeName(frame.type) + " frame");
    }
    end(DROVIK_EVENT_SHUTDOWN, std::string("protocol error from the slave: malformed ") +
                                   wire::frameTypeName(frame.type) + " frame");
}

void MasterConnection::onResult(const wire::Result &r) {
    PendingJob job;
    {
        std::lock_guard guard(lock_);
        auto it = jobs_.find(r.jobId);
        if (it == jobs_.end()) {
            if (!removed_)
                master_->logLine(
                    handle_, kLogWarning,
                    "the slave answered job " + std::to_string(r.jobId) + ", which is not waiting");
            return;
        }
        job = it->second;
        jobs_.erase(it);
    }
    if (!job.deliver || job.callback == nullptr)
        return;
    const auto jobId = static_cast<intptr_t>(r.jobId);
    if (r.event != DROVIK_EVENT_FINISHED)
        return invoke(job.callback, jobId, r.event, nullptr, 0, DROVIK_TYPE_NONE);

    void *data = nullptr;
    size_t size = r.value.size();
    if (r.type == DROVIK_TYPE_STRING) {
        // Texts arrive without their zero; the callback gets them terminated, size counting it.
        size += 1;
        data = allocateBlock(static_cast<int64_t>(size));
        if (data != nullptr && !r.value.empty())
            std::memcpy(data, r.value.data(), r.value.size());
    } else if (size > 0) {
        data = copyToBlock(r.value);
    }
    if (data == nullptr && size > 0) {
        master_->logLine(handle_, kLogError, "out of memory for the value of a job");
        return invoke(job.callback, jobId, DROVIK_EVENT_FAILED, nullptr, 0, DROVIK_TYPE_NONE);
    }
    invoke(job.callback, jobId, DROVIK_EVENT_FINISHED, data, static_cast<int32_t>(size), r.type);
}

void MasterConnection::onStream(const wire::StreamMessage &m) {
    PendingJob job;
    {
        std::lock_guard guard(lock_);
        auto it = jobs_.find(m.jobId);
        if (it == jobs_.end())
            return;
        job = it->second;
    }
    if (!job.deliver || job.callback == nullptr)
        return;
    void *data = m.data.empty() ? nullptr : copyToBlock(m.data);
    if (data == nullptr && !m.data.empty()) {
        master_->logLine(handle_, kLogError, "out of memory for a streamed message; dropped");
        return;
    }
    invoke(job.callback, static_cast<intptr_t>(m.jobId), DROVIK_EVENT_STREAM, data,
           static_cast<int32_t>(m.data.size()), DROVIK_TYPE_MEMORY);
}

void MasterConnection::invoke(Drovik_Callback cb, intptr_t jobId, int32_t event, void *data,
                              int32_t size, int32_t type) {
    {
        // A removal that came in between frames stops delivery; the block goes back.
        std::lock_guard guard(lock_);
        if (removed_) {
            freeBlock(data);
            return;
        }
    }
    try {
        cb(master_->handle, handle_, jobId, event, data, size, type);
    } catch (...) {
        master_->logLine(handle_, kLogError, "a callback threw an exception; ignored");
    }
}

void MasterConnection::armHeartbeat() {
    timer_->expires_after(std::chrono::milliseconds(heartbeat_.intervalMs));
    timer_->async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec)
            self->onHeartbeat();
    });
}

void MasterConnection::onHeartbeat() {
    if (ending_)
        return;
    const auto now = std::chrono::steady_clock::now();
    auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastReceived_);
    // Bytes waiting in the socket are a sign of life that a long callback kept us from reading.
    if (silent.count() >= heartbeat_.timeoutMs && channel_->available() == 0) {
        end(DROVIK_EVENT_SHUTDOWN,
            "no sign of life from the slave for " + std::to_string(silent.count()) + " ms");
        return;
    }
    // A busy connection needs no pings: frames both ways show each end that the other is alive.
    // The ping is skipped only while both directions carried a frame within the interval. So a
    // master that only sends (a long job) pings as soon as the slave has been quiet for an
    // interval, leaving the pong the same time to arrive as when every interval pings, and one that
    // only listens (a streaming job) is still heard by the slave.
    const auto interval = std::chrono::milliseconds(heartbeat_.intervalMs);
    const auto sent = std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(lastSent_.load(std::memory_order_relaxed)));
    bool heardRecently = silent < interval;
    bool spokeRecently = now - sent < interval;
    if (!heardRecently || !spokeRecently)
        sendOrEnd(wire::encodePing(wire::FrameType::Ping, ++pingToken_));
    if (!ending_)
        armHeartbeat();
}

void MasterConnection::sendOrEnd(wire::Frame frame) {
    if (channel_->send(std::move(frame)) == Channel::SendResult::Overflow)
        end(DROVIK_EVENT_SHUTDOWN, "the slave does not read what is sent to it");
    else
        noteSent();
}

void MasterConnection::noteSent() {
    lastSent_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                    std::memory_order_relaxed);
}

void MasterConnection::end(int32_t event, const std::string &reason) {
    if (ending_)
        return;
    bool notify;
    {
        std::lock_guard guard(lock_);
        notify = !removed_;
        alive_ = false;
        jobs_.clear();
    }
    closeNow();
    if (!notify)
        return;
    master_->logLine(handle_, event == DROVIK_EVENT_KICKED ? kLogWarning : kLogInfo,
                     "connection to " + address_ + " ended: " + reason);
    if (Drovik_Callback cb = master_->connectionCallback.load())
        invoke(cb, 0, event, nullptr, 0, DROVIK_TYPE_NONE);
}

void MasterConnection::closeNow() {
    if (!ending_) {
        ending_ = true;
        network_->connections.fetch_sub(1);
    }
    if (timer_)
        timer_->cancel();
    channel_->close();
}

}  // namespace drovik
