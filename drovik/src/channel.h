// One connection's bytes, shared by every thread that writes to it.
//
// Any thread may send: when nothing is waiting, the frame goes straight into the socket with one
// non-blocking write on the calling thread (no thread hop); what the socket does not take at once
// is queued and written asynchronously by the connection's network thread, in order. No caller
// ever blocks on a slow peer. Reading and closing belong to the network thread.
//
// With TLS, frames are encrypted under the channel's lock on the sending thread, and what arrives
// is decrypted on the network thread under the same lock. Frames sent before the handshake is
// complete (and, on the master's side, the slave's certificate judged) wait for it.
#ifndef DROVIK_SRC_CHANNEL_H
#define DROVIK_SRC_CHANNEL_H

#include <array>
#include <asio.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "codec.h"
#include "tls.h"

namespace drovik {

class Channel : public std::enable_shared_from_this<Channel> {
public:
    // More than this waiting to be written means the peer does not read.
    static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;

    enum class SendResult { Sent, Closed, Overflow };
    // Receives the outcome of a read: what arrived was added to the assembler (n bytes, 0 when
    // only TLS handshake records came). A failed TLS record gives tlsFailed, with failure().
    using ReadHandler = std::function<void(const asio::error_code &ec, size_t n)>;
    static const asio::error_code tlsFailed;

    // Takes a connected socket and switches it to non-blocking mode without Nagle's delay. tls,
    // when given, secures every byte from now on.
    explicit Channel(asio::ip::tcp::socket socket, std::unique_ptr<tls::Session> tls = nullptr);

    asio::ip::tcp::socket &socket() { return socket_; }
    bool secured() const { return tls_ != nullptr; }
    // The master's side sends its first TLS flight. Network thread.
    bool startTls();
    // Reads what arrives next into the assembler (decrypted, with TLS) and calls done on the
    // network thread. One read at a time.
    void readInto(wire::FrameAssembler &assembler, ReadHandler done);
    // Why TLS failed.
    std::string failure() const;

    SendResult send(wire::Frame frame);
    // Sends a last frame: once everything before it and it are written, the sending direction is
    // shut down so the peer reads them and then the end of the stream. Later sends are refused.
    SendResult sendLast(wire::Frame frame);
    // Closes the socket; queued frames are dropped. Network thread only.
    void close();
    bool closed() const;
    // Bytes that have arrived and wait to be read (0 after an error). Network thread only.
    size_t available();
    // Bytes queued and not yet written.
    size_t queuedBytes() const;
    // Calls drained once no more than `bytes` wait to be written: at once when that is so already,
    // else on the network thread when a write brings it there. Replaces an earlier request; the
    // request is dropped when the channel closes. Network thread only.
    void whenDrainedTo(size_t bytes, std::function<void()> drained);

private:
    SendResult sendLocked(wire::Frame &frame);
    // Puts bytes on the wire as they are (the TLS records, or plain frames).
    SendResult writeLocked(wire::Frame &bytes);
    void readSecured(wire::FrameAssembler &assembler, ReadHandler done);
    // What one read through TLS took.
    struct Absorbed {
        asio::error_code ec;
        size_t added = 0;
    };
    // Network thread: decrypts the `first` bytes a read put into firstBytes_, with what else has
    // arrived when they filled it.
    Absorbed absorbArrived(wire::FrameAssembler &assembler, size_t first);
    // Encrypts and writes the frames that waited for the handshake.
    void flushWaitingLocked();
    void startAsyncWrite();
    void onWritten(const asio::error_code &ec);
    void shutdownSending();

    asio::ip::tcp::socket socket_;
    std::array<uint8_t, 256> firstBytes_{};    // a secured read's first bytes (network thread)
    const std::unique_ptr<tls::Session> tls_;  // guarded by lock_
    mutable std::mutex lock_;
    std::vector<wire::Frame> waiting_;  // plain frames waiting for the TLS handshake
    size_t waitingBytes_ = 0;
    std::string failure_;
    asio::error_code deferred_;         // an end that follows the data delivered with it
    std::vector<wire::Frame> queue_;    // waiting for the asynchronous writer, in order
    std::vector<wire::Frame> writing_;  // in the asynchronous write under way
    size_t queuedBytes_ = 0;            // in queue_ and writing_
    size_t drainedAt_ = 0;
    std::function<void()> drained_;  // whenDrainedTo's request, while it waits
    bool asyncActive_ = false;       // the network thread owns writing until the queue drains
    bool lastQueued_ = false;
    bool failed_ = false;
    bool closed_ = false;
};

}  // namespace drovik

#endif  // DROVIK_SRC_CHANNEL_H
