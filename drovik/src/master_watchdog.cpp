// The deadlines of one master's connection, all set by the slave: the handshake, a frame once
// begun, silence (what the master asks for, capped by the slave), trust, and unread output. One
// timer serves them all; it is set for the earliest and, when it fires, checks each and sets itself
// again.
#include <algorithm>

#include "slave.h"

namespace drovik {
namespace {

std::string millisecondsText(std::chrono::milliseconds ms) {
    return std::to_string(ms.count()) + " ms";
}

}  // namespace

void MasterSession::armWatchdog() {
    if (closing_)
        return;
    const SlaveLimits &limits = server_.limits;
    Clock::time_point due =
        handshaken_ ? lastReceived_ + silenceLimit_ : accepted_ + limits.handshakeTime();
    // While reading waits for the output to drain, the master cannot finish its frame.
    if (frameBegun_ && !readPaused_)
        due = std::min(due, *frameBegun_ + limits.frameTime());
    if (untrustedSince_)
        due = std::min(due, *untrustedSince_ + limits.untrustedTime());
    if (outputOverSince_)
        due = std::min(due, *outputOverSince_ + limits.outputTime());
    // Never a busy loop, whatever the clock says.
    due = std::max(due, Clock::now() + std::chrono::milliseconds(10));
    watchdogDue_ = due;
    timer_.expires_at(due);
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec)
            self->onWatchdog();
    });
}

void MasterSession::wakeBy(Clock::time_point when) {
    if (!closing_ && when < watchdogDue_)
        armWatchdog();
}

void MasterSession::onWatchdog() {
    watchdogDue_ = Clock::time_point::max();
    if (closing_)
        return;
    const SlaveLimits &limits = server_.limits;
    const auto now = Clock::now();
    if (!handshaken_ && now >= accepted_ + limits.handshakeTime())
        return end("no handshake within " + millisecondsText(limits.handshakeTime()),
                   DROVIK_LOG_LIMIT);
    if (outputOverSince_ && now >= *outputOverSince_ + limits.outputTime())
        return end("more than " + std::to_string(limits.outputBytes()) +
                       " bytes sent to the master stayed unread for " +
                       millisecondsText(limits.outputTime()),
                   DROVIK_LOG_LIMIT);
    if (frameBegun_ && !readPaused_ && now >= *frameBegun_ + limits.frameTime())
        return end("a frame was not finished within " + millisecondsText(limits.frameTime()),
                   DROVIK_LOG_LIMIT);
    if (untrustedSince_ && now >= *untrustedSince_ + limits.untrustedTime())
        return end("not trusted within " + millisecondsText(limits.untrustedTime()),
                   DROVIK_LOG_LIMIT);
    if (handshaken_) {
        auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastReceived_);
        // Bytes waiting in the socket are a sign of life that the slave has not read yet.
        if (silent >= silenceLimit_ && channel_->available() == 0)
            return end("no sign of life from the master for " + millisecondsText(silent),
                       DROVIK_LOG_LIMIT);
    }
    armWatchdog();
}

void MasterSession::trustChanged() {
    asio::post(shard_.io, [self = shared_from_this()] {
        if (self->ended_)
            return;
        // Read here, in the order of the network thread, so that two quick changes from different
        // threads leave the deadline as the counts say.
        if (self->server_.admission.trusted(self.get())) {
            self->untrustedSince_.reset();
        } else if (!self->untrustedSince_) {
            self->untrustedSince_ = Clock::now();
            self->wakeBy(*self->untrustedSince_ + self->server_.limits.untrustedTime());
        }
        // Frames are cut to what the master may send as it is now.
        if (self->handshaken_)
            self->assembler_.setMaxLength(self->frameLimit());
    });
}

uint32_t MasterSession::frameLimit() const {
    return server_.admission.trusted(this) ? server_.limits.frameBytes()
                                           : server_.limits.untrustedFrameBytes();
}

}  // namespace drovik
