#include "channel.h"

#include <algorithm>
#include <array>

namespace drovik {
namespace {

class TlsCategory : public asio::error_category {
public:
    const char *name() const noexcept override { return "drovik.tls"; }
    std::string message(int) const override { return "TLS failure"; }
};

const asio::error_category &tlsCategory() {
    static TlsCategory category;
    return category;
}

// What one read takes from the socket at most: a few full TLS records, so that a large frame (the
// online list of thousands of users) comes in one or two reads rather than one per record, each
// a pass through the reactor.
constexpr size_t kSecuredReadBytes = 64 * 1024;
// The most a sending thread keeps of its buffer for encrypted records between frames.
constexpr size_t kKeptRecordBytes = 256 * 1024;

}  // namespace

const asio::error_code Channel::tlsFailed(1, tlsCategory());

Channel::Channel(asio::ip::tcp::socket socket, std::unique_ptr<tls::Session> tls)
    : socket_(std::move(socket)), tls_(std::move(tls)) {
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
    SendResult r = SendResult::Closed;
    if (tls_ && !tls_->established()) {
        // Nothing can reach the peer before the handshake; what waited is dropped.
        waiting_.clear();
        waitingBytes_ = 0;
    } else {
        r = sendLocked(frame);
        if (tls_ && r == SendResult::Sent) {
            wire::Frame notify;
            tls_->closeNotify(notify);
            if (!notify.empty())
                writeLocked(notify);
        }
    }
    lastQueued_ = true;
    if (r != SendResult::Overflow && !asyncActive_)
        shutdownSending();
    return r;
}

Channel::SendResult Channel::sendLocked(wire::Frame &frame) {
    if (closed_ || failed_)
        return SendResult::Closed;
    if (!tls_)
        return writeLocked(frame);
    if (!tls_->established()) {
        if (waitingBytes_ + frame.size() > kMaxQueuedBytes)
            return SendResult::Overflow;
        waitingBytes_ += frame.size();
        waiting_.push_back(std::move(frame));
        return SendResult::Sent;
    }
    // The records go into the sending thread's own buffer: nearly every frame is written whole at
    // once and then costs no allocation; a remainder that must wait is moved to the queue, and the
    // buffer starts afresh.
    static thread_local wire::Frame records;
    records.clear();
    records.reserve(frame.size() + frame.size() / 16384 * 32 + 64);
    if (tls_->encrypt(frame, records) != tls::Session::Status::Ok) {
        failure_ = tls_->failure();
        failed_ = true;
        return SendResult::Closed;
    }
    SendResult r = writeLocked(records);
    if (records.capacity() > kKeptRecordBytes)
        wire::Frame().swap(records);  // a rare large frame does not stay in every thread
    return r;
}

void Channel::flushWaitingLocked() {
    std::vector<wire::Frame> frames;
    frames.swap(waiting_);
    waitingBytes_ = 0;
    for (wire::Frame &f : frames)
        if (sendLocked(f) != SendResult::Sent)
            break;
}

bool Channel::startTls() {
    std::lock_guard guard(lock_);
    wire::Frame flight;
    if (tls_->start(flight) != tls::Session::Status::Ok) {
        failure_ = tls_->failure();
        failed_ = true;
        return false;
    }
    return flight.empty() || writeLocked(flight) == SendResult::Sent;
}

std::string Channel::failure() const {
    std::lock_guard guard(lock_);
    return failure_;
}

void Channel::readInto(wire::FrameAssembler &assembler, ReadHandler done) {
    if (!tls_) {
        auto room = assembler.prepare();
        socket_.async_read_some(
            asio::buffer(room.data(), room.size()),
            [&assembler, done = std::move(done)](const asio::error_code &ec, size_t n) {
                if (!ec)
                    assembler.commit(n);
                done(ec, ec ? 0 : n);
            });
        return;
    }
    if (deferred_) {
        asio::post(socket_.get_executor(),
                   [ec = deferred_, done = std::move(done)] { done(ec, 0); });
        return;
    }
    readSecured(assembler, std::move(done));
}

void Channel::readSecured(wire::FrameAssembler &assembler, ReadHandler done) {
    // A read of a few bytes into the connection's own small buffer, not a wait for readability:
    // Asio tries a read at once, and a read that must wait leaves the socket's registration with
    // the reactor as it is, where a wait re-arms it, and with it a writable socket's edge, on
    // every read (a spurious wake-up of the network thread per frame). The rest of what has
    // arrived is taken into the thread's large buffer.
    socket_.async_read_some(asio::buffer(firstBytes_),
                            [self = shared_from_this(), &assembler, done = std::move(done)](
                                const asio::error_code &ec, size_t n) {
                                if (ec)
                                    return done(ec, 0);
                                Absorbed now = self->absorbArrived(assembler, n);
                                done(now.ec, now.added);
                            });
}

Channel::Absorbed Channel::absorbArrived(wire::FrameAssembler &assembler, size_t first) {
    // One large buffer per network thread, not one per connection: a connection between reads
    // holds no bytes of its peer's in flight beyond its small first buffer. On the heap, made at
    // the thread's first secured read: a buffer in the thread's static storage would be part of
    // every thread of a process that loads the library.
    static thread_local std::vector<uint8_t> more;
    if (more.empty())
        more.resize(kSecuredReadBytes);
    std::span<const uint8_t> arrived(firstBytes_.data(), first);
    asio::error_code later;  // an end met after the first bytes: it follows them
    if (first == firstBytes_.size()) {
        std::copy_n(firstBytes_.begin(), first, more.begin());
        asio::error_code ec;
        size_t n = socket_.read_some(asio::buffer(more.data() + first, more.size() - first), ec);
        if (ec) {
            n = 0;
            if (ec != asio::error::would_block && ec != asio::error::try_again)
                later = ec;
        }
        arrived = std::span<const uint8_t>(more.data(), first + n);
    }
    size_t added = 0;
    asio::error_code end;
    {
        std::lock_guard guard(lock_);
        if (closed_) {
            end = asio::error::operation_aborted;
        } else {
            const bool wasEstablished = tls_->established();
            tls::Session::Sink sink{[&assembler] { return assembler.prepare(); },
                                    [&](size_t k) {
                                        assembler.commit(k);
                                        added += k;
                                    }};
            wire::Frame owed;  // handshake answers, alerts
            auto status = tls_->absorb(arrived, owed, sink);
            if (!owed.empty())
                writeLocked(owed);
            if (status == tls::Session::Status::Failed) {
                failure_ = tls_->failure();
                end = tlsFailed;
            } else if (status == tls::Session::Status::Closed) {
                end = asio::error::eof;
            } else if (!wasEstablished && tls_->established()) {
                flushWaitingLocked();
            }
        }
    }
    if (!end)
        end = later;
    // Frames that came with the end are delivered first; the end follows at the next read.
    if (end && added > 0) {
        deferred_ = end;
        end = {};
    }
    return {end, added};
}

Channel::SendResult Channel::writeLocked(wire::Frame &frame) {
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
