// Opening a master's connection: resolve, connect and shake hands within the caller's time-out.
#include <functional>

#include "handle_table.h"
#include "known_servers.h"
#include "master.h"

namespace drovik {
namespace {

std::string endpointText(const std::string &host, int32_t port) {
    return host + ":" + std::to_string(port);
}

// Whether the slave's certificate is to be trusted: a text that refuses it, or "" to go on.
std::string judgeCertificate(tls::Session &tls, const MasterConnection::Options &options,
                             const MasterShared &master) {
    const std::string where = endpointText(options.host, options.port);
    switch (tls.peerTrust()) {
        case tls::Session::Trust::Trusted:
            return "";
        case tls::Session::Trust::WrongName:
            return "The certificate of " + where +
                   " comes from a trusted authority but is made out for another name than '" +
                   options.host + "': refused";
        case tls::Session::Trust::Untrusted:
            break;
    }
    const std::string file =
        options.knownServersFile.empty() ? known_servers::defaultPath() : options.knownServersFile;
    if (file.empty())
        return "The key of " + where +
               " cannot be checked: there is no configuration folder to keep the keys of known "
               "servers in (set XDG_CONFIG_HOME or HOME)";
    const std::string fingerprint = tls.peerFingerprint();
    auto verdict = known_servers::checkOrPin(file, known_servers::keyOf(options.host, options.port),
                                             fingerprint);
    using Kind = known_servers::Verdict::Kind;
    switch (verdict.kind) {
        case Kind::Known:
            return "";
        case Kind::FirstUse:
            master.logLine(0, kLogInfo,
                           "trusted the key of " + where + " on first use (SHA-256 " + fingerprint +
                               "), recorded in " + file);
            return "";
        case Kind::Changed: {
            const std::string line = std::to_string(verdict.line);
            return "The key of the server at " + where + " has changed: it now presents " +
                   fingerprint + ", but line " + line + " of " + file + " records " + verdict.text +
                   ". Someone may be intercepting the connection. If the server's key was "
                   "replaced on purpose, remove line " +
                   line + " of " + file + " and connect again";
        }
        case Kind::Error:
            break;
    }
    return "The key of " + where + " cannot be checked: " + verdict.text;
}

}  // namespace

MasterConnection::MasterConnection(std::shared_ptr<MasterShared> master,
                                   HeartbeatSettings heartbeat,
                                   std::shared_ptr<NetworkThread> network)
    : network_(std::move(network)),
      master_(std::move(master)),
      handle_(newHandle()),
      heartbeat_(heartbeat),
      assembler_(wire::kMaxHandshakeLength) {}

std::shared_ptr<MasterConnection> MasterConnection::open(std::shared_ptr<MasterShared> master,
                                                         const Options &options,
                                                         std::shared_ptr<NetworkThread> network,
                                                         std::string &error) {
    // The handshake runs on the caller's thread (AddSlave blocks, and may be called from a
    // callback on the network thread itself); then the socket moves to the network thread.
    // Declared before the connection, so it outlives the socket when the handshake fails.
    asio::io_context io{1};
    std::shared_ptr<MasterConnection> c(
        new MasterConnection(std::move(master), options.heartbeat, network));
    if (!c->handshake(io, options, error))
        return nullptr;
    c->channel_->moveTo(network->io);
    c->timer_.emplace(network->io);
    return c;
}

// Runs a private io_context on the calling thread until the handshake succeeds, fails or the
// deadline passes. No other thread touches the connection yet.
bool MasterConnection::handshake(asio::io_context &io, const Options &options, std::string &error) {
    const std::string where = endpointText(options.host, options.port);
    const int32_t seconds = options.timeoutSeconds > 0 ? options.timeoutSeconds : 10;

    asio::ip::tcp::resolver resolver(io);
    asio::error_code ec;
    auto endpoints = resolver.resolve(options.host, std::to_string(options.port),
                                      asio::ip::resolver_base::numeric_service, ec);
    if (ec) {
        error = "Cannot resolve the host '" + options.host + "': " + ec.message();
        return false;
    }

    std::unique_ptr<tls::Session> security;
    bool keyRefused = false;
    if (options.transport == DROVIK_TRANSPORT_TLS) {
        tls::ContextPtr context = tls::clientContext(error);
        if (!context)
            return false;
        security = tls::Session::client(context, options.host);
        if (!security) {
            error = "Cannot set up TLS for " + where;
            return false;
        }
        security->setVerifier([&](tls::Session &tls) {
            std::string refusal = judgeCertificate(tls, options, *master_);
            keyRefused = !refusal.empty();
            return refusal;
        });
    }

    enum class Stage { Connecting, Handshaking, Done } stage = Stage::Connecting;
    asio::ip::tcp::socket socket(io);
    asio::steady_timer deadline(io);
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
        channel_->readInto(assembler_, [&](const asio::error_code &e, size_t) {
            if (e)
                return stop(e);
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
                            refused = "it speaks protocol version " + std::to_string(w->version) +
                                      ", this library version " + std::to_string(wire::kVersion);
                        else
                            stage = Stage::Done;
                    } else if (frame.type == wire::FrameType::Refuse) {
                        auto reason = wire::decodeReason(frame.body);
                        refused = reason ? *reason : "no reason given";
                    } else {
                        notDrovik =
                            std::string("unexpected ") + wire::frameTypeName(frame.type) + " frame";
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
        if (channel_)
            channel_->close();
        else
            socket.close(ignored);
    });
    asio::async_connect(
        socket, endpoints, [&](const asio::error_code &e, const asio::ip::tcp::endpoint &) {
            if (e)
                return stop(e);
            stage = Stage::Handshaking;
            asio::ip::tcp::endpoint peer = socket.remote_endpoint(ec);
            address_ = ec ? options.host : peer.address().to_string();
            // From here the channel owns the socket. With TLS the HELLO waits in it until the
            // handshake is complete and the slave's certificate has been judged.
            channel_ = std::make_shared<Channel>(std::move(socket), std::move(security));
            if (channel_->secured() && !channel_->startTls())
                return stop(Channel::tlsFailed);
            if (channel_->send(std::move(hello)) != Channel::SendResult::Sent)
                return stop(asio::error::broken_pipe);
            readReply();
        });
    io.run();

    if (stage == Stage::Done) {
        assembler_.setMaxLength(wire::kMaxFrameLength);
        return true;
    }
    if (timedOut) {
        error = stage == Stage::Connecting
                    ? "Timed out after " + std::to_string(seconds) + " s connecting to " + where
                    : "Timed out after " + std::to_string(seconds) + " s waiting for " + where +
                          " to answer the handshake (not a Drovik slave?)";
    } else if (failure == Channel::tlsFailed) {
        error = keyRefused ? channel_->failure()
                           : where + " is not a Drovik slave that speaks TLS (" +
                                 channel_->failure() + "; one that speaks plaintext?)";
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
                ? where + " closed the connection during the handshake (not a Drovik slave, " +
                      (options.transport == DROVIK_TRANSPORT_TLS
                           ? std::string("or one that speaks plaintext?)")
                           : std::string("or one that speaks only TLS?)"))
                : "Connection to " + where + " failed during the handshake: " + failure.message();
    }
    return false;
}

}  // namespace drovik
