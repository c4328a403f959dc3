// A raw connection of an attacker: a socket bound to a source address of its own, speaking the
// library's wire format through the library's own codec, so that it can say exactly what a
// hostile master says (an unfinished frame, a job nobody would send) and nothing else by accident.
//
// Every operation is a coroutine on the caller's io_context. None of them throws: a connection
// that ends or breaks the format makes them return false, nullopt or 0.
//
// Against a TLS server the peer speaks TLS as a master does, without checking the server's key
// (an attacker has no reason to); what it sends is then encrypted like any master's.
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "codec.h"
#include "drovik.h"
#include "params.h"

namespace attack {

namespace wire = drovik::wire;
using drovik::ParamList;

// The n-th source address of the attackers: 127.0.0.2, 127.0.0.3, ... 127.0.1.0, ...
asio::ip::address_v4 SourceAddress(uint32_t n);

// The attackers' TLS settings: TLS 1.3 as the library speaks it, any server key accepted.
std::unique_ptr<asio::ssl::context> AttackerTlsContext();

class AttackPeer {
public:
    // tls: the settings for a TLS server, null for a plaintext one; it outlives the peer.
    AttackPeer(asio::any_io_executor executor, asio::ip::address_v4 source,
               asio::ip::tcp::endpoint server, asio::ssl::context *tls);

    // Opens a fresh connection from the source address (closing any previous one), with the TLS
    // handshake when the server speaks TLS.
    asio::awaitable<bool> connect();
    // The same without TLS, even against a TLS server: what the peer sends then meets the server
    // before any handshake.
    asio::awaitable<bool> connectTcp();
    // HELLO asking for the heartbeat the master would like, then WELCOME.
    asio::awaitable<bool> handshake(uint32_t heartbeatTimeoutMs = 20'000);
    asio::awaitable<bool> send(const wire::Frame &frame);
    asio::awaitable<bool> sendBytes(const uint8_t *data, size_t size);
    // The next frame, PINGs answered on the way; nullopt when the connection ended or broke the
    // format. The view stays valid until the next call.
    asio::awaitable<std::optional<wire::FrameView>> nextFrame();
    // Sends a job and reads to its RESULT, skipping its streamed messages: the value of a LONG
    // result, else minus the result's event (a refusal), or 0 when the connection ended.
    asio::awaitable<int32_t> call(const std::string &job, const ParamList &params,
                                  int32_t replyType = DROVIK_TYPE_LONG);
    // Registers the account (an existing one is fine) when asked to, then logs in; true when in.
    asio::awaitable<bool> login(const std::string &name, bool registerFirst);
    // Waits until the server closes the connection, reading and dropping what it sends.
    asio::awaitable<void> drainUntilClosed();

    // A job frame with a new id.
    wire::Frame jobFrame(const std::string &job, const ParamList &params,
                         int32_t replyType = DROVIK_TYPE_LONG);
    bool open() const { return socket_.is_open(); }
    void close();

private:
    // Reads into or writes from the buffer through TLS when it is up, else on the socket.
    asio::awaitable<size_t> readSome(asio::mutable_buffer buffer, asio::error_code &ec);
    asio::awaitable<void> write(asio::const_buffer buffer, asio::error_code &ec);

    asio::ip::address_v4 source_;
    asio::ip::tcp::endpoint server_;
    asio::ssl::context *tls_;
    asio::ip::tcp::socket socket_;
    // Over socket_, for one connection; declared after it, so it goes first.
    std::unique_ptr<asio::ssl::stream<asio::ip::tcp::socket &>> secure_;
    wire::FrameAssembler frames_{wire::kMaxFrameLength};
    uint64_t nextJobId_ = 1;
};

// The value of a RESULT: its LONG value, or minus its event when it is not a finished LONG.
int32_t ResultCode(const wire::Result &result);

}  // namespace attack
