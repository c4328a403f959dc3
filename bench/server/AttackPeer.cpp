#include "AttackPeer.h"

#include <netinet/in.h>

#include <array>

#include "protocol/PasswordDigest.h"

namespace attack {
namespace {

auto checked(asio::error_code &ec) {
    return asio::redirect_error(asio::use_awaitable, ec);
}

// The source port is chosen at connect time, for the pair of addresses: a bind to port 0 alone
// would take one of the few tens of thousands of ports the source address has in all.
using BindAddressNoPort = asio::detail::socket_option::boolean<IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT>;

}  // namespace

asio::ip::address_v4 SourceAddress(uint32_t n) {
    return asio::ip::address_v4((uint32_t{127} << 24) + 2 + n);
}

int32_t ResultCode(const wire::Result &result) {
    if (result.event != DROVIK_EVENT_FINISHED)
        return -result.event;
    if (result.type != DROVIK_TYPE_LONG || result.value.size() != 4)
        return 1;  // a finished job of another value type
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= uint32_t{result.value[i]} << (8 * i);
    return static_cast<int32_t>(v);
}

std::unique_ptr<asio::ssl::context> AttackerTlsContext() {
    auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_3_VERSION);
    context->set_verify_mode(asio::ssl::verify_none);
    return context;
}

AttackPeer::AttackPeer(asio::any_io_executor executor, asio::ip::address_v4 source,
                       asio::ip::tcp::endpoint server, asio::ssl::context *tls)
    : source_(source), server_(server), tls_(tls), socket_(std::move(executor)) {}

void AttackPeer::close() {
    secure_.reset();
    asio::error_code ignored;
    socket_.close(ignored);
}

asio::awaitable<size_t> AttackPeer::readSome(asio::mutable_buffer buffer, asio::error_code &ec) {
    if (secure_)
        co_return co_await secure_->async_read_some(buffer, checked(ec));
    co_return co_await socket_.async_read_some(buffer, checked(ec));
}

asio::awaitable<void> AttackPeer::write(asio::const_buffer buffer, asio::error_code &ec) {
    if (secure_)
        co_await asio::async_write(*secure_, buffer, checked(ec));
    else
        co_await asio::async_write(socket_, buffer, checked(ec));
}

asio::awaitable<bool> AttackPeer::connect() {
    if (!co_await connectTcp())
        co_return false;
    if (!tls_)
        co_return true;
    secure_ = std::make_unique<asio::ssl::stream<asio::ip::tcp::socket &>>(socket_, *tls_);
    asio::error_code ec;
    co_await secure_->async_handshake(asio::ssl::stream_base::client, checked(ec));
    if (ec)
        close();
    co_return !ec;
}

asio::awaitable<bool> AttackPeer::connectTcp() {
    close();
    frames_ = wire::FrameAssembler(wire::kMaxFrameLength);
    asio::error_code ec;
    socket_.open(asio::ip::tcp::v4(), ec);
    if (!ec)
        socket_.set_option(BindAddressNoPort(true), ec);
    if (!ec)
        socket_.bind({source_, 0}, ec);
    if (!ec)
        co_await socket_.async_connect(server_, checked(ec));
    if (!ec)
        socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    if (ec)
        close();
    co_return !ec;
}

asio::awaitable<bool> AttackPeer::handshake(uint32_t heartbeatTimeoutMs) {
    wire::Hello hello;
    hello.heartbeatIntervalMs = heartbeatTimeoutMs / 4;
    hello.heartbeatTimeoutMs = heartbeatTimeoutMs;
    hello.clientName = "attacker";
    if (!co_await send(wire::encodeHello(hello)))
        co_return false;
    auto frame = co_await nextFrame();
    co_return frame && frame->type == wire::FrameType::Welcome;
}

asio::awaitable<bool> AttackPeer::send(const wire::Frame &frame) {
    co_return co_await sendBytes(frame.data(), frame.size());
}

asio::awaitable<bool> AttackPeer::sendBytes(const uint8_t *data, size_t size) {
    asio::error_code ec;
    co_await write(asio::buffer(data, size), ec);
    if (ec)
        close();
    co_return !ec;
}

asio::awaitable<std::optional<wire::FrameView>> AttackPeer::nextFrame() {
    for (;;) {
        wire::FrameView frame{};
        std::string why;
        switch (frames_.next(frame, why)) {
            case wire::FrameAssembler::Status::Frame:
                if (frame.type == wire::FrameType::Ping) {
                    // Answered, so that a peer that means to stay is not dropped as silent.
                    if (auto token = wire::decodePing(frame.body))
                        if (!co_await send(wire::encodePing(wire::FrameType::Pong, *token)))
                            co_return std::nullopt;
                    continue;
                }
                co_return frame;
            case wire::FrameAssembler::Status::Error:
                close();
                co_return std::nullopt;
            case wire::FrameAssembler::Status::Incomplete:
                break;
        }
        auto room = frames_.prepare();
        asio::error_code ec;
        size_t n = co_await readSome(asio::buffer(room.data(), room.size()), ec);
        if (ec) {
            close();
            co_return std::nullopt;
        }
        frames_.commit(n);
    }
}

wire::Frame AttackPeer::jobFrame(const std::string &job, const ParamList &params,
                                 int32_t replyType) {
    return wire::encodeJob(nextJobId_++, replyType, job, params);
}

asio::awaitable<int32_t> AttackPeer::call(const std::string &job, const ParamList &params,
                                          int32_t replyType) {
    const uint64_t id = nextJobId_;
    if (!co_await send(jobFrame(job, params, replyType)))
        co_return 0;
    for (;;) {
        auto frame = co_await nextFrame();
        if (!frame)
            co_return 0;
        if (frame->type == wire::FrameType::Result) {
            auto result = wire::decodeResult(frame->body);
            if (result && result->jobId == id)
                co_return ResultCode(*result);
        } else if (frame->type != wire::FrameType::Stream) {
            close();  // KICK, SHUTDOWN: the server says goodbye
            co_return 0;
        }
    }
}

asio::awaitable<bool> AttackPeer::login(const std::string &name, bool registerFirst) {
    const std::string digest = PasswordDigest("attack-password");
    if (registerFirst) {
        ParamList p;
        p.addString(name);
        p.addString(digest);
        p.addLong(15);
        int32_t code = co_await call("User_Register", p);
        if (code != 1 && code != 2)
            co_return false;
    }
    ParamList p;
    p.addString(name);
    p.addString(digest);
    co_return co_await call("User_Login", p) == 1;
}

asio::awaitable<void> AttackPeer::drainUntilClosed() {
    std::array<uint8_t, 16 * 1024> scratch;
    for (;;) {
        asio::error_code ec;
        co_await readSome(asio::buffer(scratch), ec);
        if (ec)
            break;
    }
    close();
}

}  // namespace attack
