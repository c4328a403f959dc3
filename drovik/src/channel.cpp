#include "channel.h"

namespace drovik {

Channel::Channel(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {
    asio::error_code ec;
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    // Set before any other thread sees the socket: from now on the socket's state is only read.
    socket_.non_blocking(true, ec);
}

Channel::SendResult Channel::send(wire::Frame frame) {
    std::lock_guard guard(lock_);
    if (lastQueued_)
        return SendResult::Closed;
    return sendLocked(frame);
}

Channel::SendResult Channel::sendLast(wire::Frame frame) {
    std::lock_guard guard(lock_);
    if (lastQueued_)
        return SendResult::Closed;
    SendResult r = sendLocked(frame);
    lastQueued_ = true;
    if (r == SendResult::Sent && !asyncActive_)
        shutdownSending();
    return r;
}

Channel::SendResult Channel::sendLocked(wire::Frame &frame) {
    if (closed_ || failed_)
        return SendResult::Closed;
    if (asyncActive_) {
        if (queuedBytes_ + frame.size() > kMaxQueuedBytes)
            return SendResult::Overflow;
        queuedBytes_ += frame.size();
        queue_.push_back(std::move(frame));
        return SendResult::Sent;
    }
    asio::error_code ec;
    size_t written = socket_.write_some(asio::buffer(frame), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        written = 0;
    } else if (ec) {
        // The reading side sees the same failure and ends the connection.
        failed_ = true;
        return SendResult::Closed;
    }
    if (written == frame.size())
        return SendResult::Sent;
    frame.erase(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(written));
    queuedBytes_ = frame.size();
    queue_.push_back(std::move(frame));
    asyncActive_ = true;
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        std::lock_guard guard(self->lock_);
        self->startAsyncWrite();
    });
    return SendResult::Sent;
}

void Channel::startAsyncWrite() {
    if (closed_ || failed_) {
        asyncActive_ = false;
        return;
    }
    writing_.swap(queue_);
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(writing_.size());
    for (const wire::Frame &f : writing_)
        buffers.emplace_back(asio::buffer(f));
    asio::async_write(
        socket_, buffers,
        [self = shared_from_this()](const asio::error_code &ec, size_t) { self->onWritten(ec); });
}

void Channel::onWritten(const asio::error_code &ec) {
    std::function<void()> drained;
    {
        std::lock_guard guard(lock_);
        for (const wire::Frame &f : writing_)
            queuedBytes_ -= f.size();
        writing_.clear();
        if (ec || closed_) {
            failed_ = true;
            asyncActive_ = false;
            // A listener that stopped reading until the queue drains reads again and meets the
            // failure there.
            drained.swap(drained_);
        } else {
            if (drained_ && queuedBytes_ <= drainedAt_)
                drained.swap(drained_);
            if (!queue_.empty()) {
                startAsyncWrite();
            } else {
                asyncActive_ = false;
                if (lastQueued_)
                    shutdownSending();
            }
        }
    }
    // Outside the lock: the listener may send.
    if (drained)
        drained();
}

size_t Channel::queuedBytes() const {
    std::lock_guard guard(lock_);
    return queuedBytes_;
}

void Channel::whenDrainedTo(size_t bytes, std::function<void()> drained) {
    {
        std::lock_guard guard(lock_);
        if (closed_)
            return;
        if (queuedBytes_ > bytes) {
            drainedAt_ = bytes;
            drained_ = std::move(drained);
            return;
        }
        drained_ = nullptr;
    }
    drained();
}

void Channel::shutdownSending() {
    asio::error_code ec;
    if (!closed_)
        socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
}

void Channel::close() {
    std::lock_guard guard(lock_);
    if (closed_)
        return;
    closed_ = true;
    drained_ = nullptr;  // it may hold the owner of this channel
    for (const wire::Frame &f : queue_)
        queuedBytes_ -= f.size();
    queue_.clear();
    asio::error_code ec;
    socket_.close(ec);
}

bool Channel::closed() const {
    std::lock_guard guard(lock_);
    return closed_;
}

size_t Channel::available() {
    asio::error_code ec;
    size_t n = socket_.available(ec);
    return ec ? 0 : n;
}

}  // namespace drovik
