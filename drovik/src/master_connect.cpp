// Opening a master's connection: resolve, connect and shake hands within the caller's time-out.
#include <functional>

#include "handle_table.h"
#include "master.h"

namespace drovik {
namespace {

std::string endpointText(const std::string &host, int32_t port) {
    return host + ":" + std::to_string(port);
}

}  // namespace

MasterConnection::MasterConnection(std::shared_ptr<MasterShared> master,
                                   HeartbeatSettings heartbeat)
    : master_(std::move(master)),
      handle_(newHandle()),
      heartbeat_(heartbeat),
      timer_(io_),
      assembler_(wire::kMaxHandshakeLength) {}

std::shared_ptr<MasterConnection> MasterConnection::open(std::shared_ptr<MasterShared> master,
                                                         const Options &options,
                                                         std::string &error) {
    std::shared_ptr<MasterConnection> c(new MasterConnection(std::move(master), options.heartbeat));
    if (!c->handshake(options, error))
        return nullptr;
    return c;
}

// Runs the connection's io_context on the calling thread until the handshake succeeds, fails or
// the deadline passes. No other thread touches the connection yet.
bool MasterConnection::handshake(const Options &options, std::string &error) {
    const std::string where = endpointText(options.host, options.port);
    const int32_t seconds = options.timeoutSeconds > 0 ? options.timeoutSeconds : 10;

    asio::ip::tcp::resolver resolver(io_);
    asio::error_code ec;
    auto endpoints = resolver.resolve(options.host, std::to_string(options.port),
                                      asio::ip::resolver_base::numeric_service, ec);
    if (ec) {
        error = "Cannot resolve the host '" + options.host + "': " + ec.message();
        return false;
    }

    enum class Stage { Connecting, Handshaking, Done } stage = Stage::Connecting;
    asio::ip::tcp::socket socket(io_);
    asio::steady_timer deadline(io_);
    asio::error_code failure;
    bool timedOut = false;
    std::string notDrovik, refused;
    wire::Frame hello = wire::encodeHello(
        {wire::kMagic, wire::kVersion, static_cast<uint32_t>(heartbeat_.intervalMs),
         static_cast<uint32_t>(heartbeat_.timeoutMs), options.clientName});

    auto stop = [&](const asio::error_code &e) {
        failure = e;
        deadline.cancel();
    };
    std::function<void()> readReply = [&] {
        auto room = assembler_.prepare();
        socket.async_read_some(
            asio::buffer(room.data(), room.size()), [&](const asio::error_code &e, size_t n) {
                if (e)
                    return stop(e);
                assembler_.commit(n);
                wire::FrameView frame{};
                std::string why;
                switch (assembler_.next(frame, why)) {
                    case wire::FrameAssembler::Status::Incomplete:
                        return readReply();
                    case wire::FrameAssembler::Status::Error:
                        notDrovik = why;
                        break;
                    case wire::FrameAssembler::Status::Frame:
                        if (frame.type == wire::FrameType::Welcome) {
                            auto w = wire::decodeWelcome(frame.body);
                            if (!w || w->magic != wire::kMagic)
                                notDrovik = "malformed WELCOME";
                            else if (w->version != wire::kVersion)
                                refused = "it speaks protocol version " +
                                          std::to_string(w->version) + ", this library version " +
                                          std::to_string(wire::kVersion);
                            else
                                stage = Stage::Done;
                        } else if (frame.type == wire::FrameType::Refuse) {
                            auto reason = wire::decodeReason(frame.body);
                            refused = reason ? *reason : "no reason given";
                        } else {
                            notDrovik = std::string("unexpected ") +
                                        wire::frameTypeName(frame.type) + " frame";
                        }
                        break;
                }
                deadline.cancel();
            });
    };

    deadline.expires_after(std::chrono::seconds(seconds));
    deadline.async_wait([&](const asio::error_code &e) {
        if (e)
            return;
        timedOut = true;
        asio::error_code ignored;
        socket.close(ignored);
    });
    asio::async_connect(
        socket, endpoints, [&](const asio::error_code &e, const asio::ip::tcp::endpoint &) {
            if (e)
                return stop(e);
            stage = Stage::Handshaking;
            asio::error_code ignored;
            socket.set_option(asio::ip::tcp::no_delay(true), ignored);
            asio::async_write(socket, asio::buffer(hello), [&](const asio::error_code &we, size_t) {
                if (we)
                    return stop(we);
                readReply();
            });
        });
    io_.run();
    io_.restart();

    if (stage == Stage::Done) {
        asio::ip::tcp::endpoint peer = socket.remote_endpoint(ec);
        address_ = ec ? options.host : peer.address().to_string();
        channel_ = std::make_shared<Channel>(std::move(socket));
        assembler_.setMaxLength(wire::kMaxFrameLength);
        return true;
    }
    if (timedOut) {
        error = stage == Stage::Connecting
                    ? "Timed out after " + std::to_string(seconds) + " s connecting to " + where
                    : "Timed out after " + std::to_string(seconds) + " s waiting for " + where +
                          " to answer the handshake (not a Drovik slave?)";
    } else if (!refused.empty()) {
        error = where + " refused the connection: " + refused;
    } else if (!notDrovik.empty()) {
        error = where + " is not a Drovik slave (" + notDrovik + ")";
    } else if (stage == Stage::Connecting) {
        error = failure == asio::error::connection_refused
                    ? "Connection refused by " + where + " (no server listening)"
                    : "Cannot connect to " + where + ": " + failure.message();
    } else {
        error =
            failure == asio::error::eof
                ? where + " closed the connection during the handshake (not a Drovik slave?)"
                : "Connection to " + where + " failed during the handshake: " + failure.message();
    }
    return false;
}

}  // namespace drovik
