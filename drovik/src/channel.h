// The sending side of one connection, shared by every thread that writes to it.
//
// Any thread may send: when nothing is waiting, the frame goes straight into the socket with one
// non-blocking write on the calling thread (no thread hop); what the socket does not take at once
// is queued and written asynchronously by the connection's network thread, in order. No caller
// ever blocks on a slow peer. Reading and closing belong to the network thread.
#ifndef DROVIK_SRC_CHANNEL_H
#define DROVIK_SRC_CHANNEL_H

#include <asio.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "codec.h"

namespace drovik {

class Channel : public std::enable_shared_from_this<Channel> {
public:
    // More than this waiting to be written means the peer does not read.
    static constexpr size_t kMaxQueuedBytes = 64 * 1024 * 1024;

    enum class SendResult { Sent, Closed, Overflow };

    // Takes a connected socket and switches it to non-blocking mode without Nagle's delay.
    explicit Channel(asio::ip::tcp::socket socket);

    // The socket, for reading on the network thread only.
    asio::ip::tcp::socket &socket() { return socket_; }

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
    void startAsyncWrite();
    void onWritten(const asio::error_code &ec);
    void shutdownSending();

    asio::ip::tcp::socket socket_;
    mutable std::mutex lock_;
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
