// Opening a master's connection: resolve, connect and shake hands within the caller's time-out.
#include <functional>
#include <future>

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

// One attempt to resolve, connect and shake hands. It runs on the connection's network thread; the
// caller of AddSlave waits for its outcome. Its handlers hold it, so a late one (the deadline's, a
// read's) finds it alive after the caller has gone, and does nothing once the outcome is decided.
struct MasterConnection::Attempt {
    enum class Stage { Resolving, Connecting, Handshaking, Done } stage = Stage::Resolving;
    asio::ip::tcp::resolver resolver;
    asio::ip::tcp::socket socket;
    asio::steady_timer deadline;
    Options options;
    asio::error_code failure;
    bool timedOut = false;
    bool keyRefused = false;
    bool decided = false;
    std::string notDrovik, refused;
    std::promise<void> outcome;

    Attempt(asio::io_context &io, const Options &o)
        : resolver(io), socket(io), deadline(io), options(o) {}
};

std::shared_ptr<MasterConnection> MasterConnection::open(std::shared_ptr<MasterShared> master,
                                                         const Options &options,
                                                         std::shared_ptr<NetworkThread> network,
                                                         std::string &error) {
    const std::string where = endpointText(options.host, options.port);
    std::unique_ptr<tls::Session> security;
    if (options.transport == DROVIK_TRANSPORT_TLS) {
        tls::ContextPtr context = tls::clientContext(error);
        if (!context)
            return nullptr;
        security = tls::Session::client(context, options.host);
        if (!security) {
            error = "Cannot set up TLS for " + where;
            return nullptr;
        }
    }

    std::shared_ptr<MasterConnection> c(
        new MasterConnection(std::move(master), options.heartbeat, network));
    auto attempt = std::make_shared<Attempt>(network->io(), options);
    if (security)
        security->setVerifier([attempt, shared = c->master_](tls::Session &tls) {
            std::string refusal = judgeCertificate(tls, attempt->options, *shared);
            attempt->keyRefused = !refusal.empty();
            return refusal;
        });
    std::future<void> outcome = attempt->outcome.get_future();
    bool posted = network->post([c, attempt, security = std::move(security)]() mutable {
        c->begin(attempt, std::move(security));
    });
    if (!posted) {  // the master closed while this thread prepared the attempt
        error = errorText(Error::MasterClosing);
        return nullptr;
    }
    // The attempt's deadline ends it, whatever the slave does.
    outcome.wait();
    if (attempt->stage != Attempt::Stage::Done) {
        error = c->handshakeFailure(*attempt);
        return nullptr;
    }
    c->assembler_.setMaxLength(wire::kMaxFrameLength);
    c->timer_.emplace(network->io());
    return c;
}

// Network thread: ends the attempt with its outcome. A failed attempt closes its socket here, so
// nothing of it is left running.
void MasterConnection::decide(Attempt &a) {
    if (a.decided)
        return;
    a.decided = true;
    a.deadline.cancel();
    a.resolver.cancel();
    if (a.stage != Attempt::Stage::Done) {
        asio::error_code ignored;
        if (channel_)
            channel_->close();
        else
            a.socket.close(ignored);
    }
    a.outcome.set_value();
}

// Network thread: an error ends the attempt with it; true when it did.
bool MasterConnection::failed(Attempt &a, const asio::error_code &e) {
    if (!e)
        return false;
    a.failure = e;
    decide(a);
    return true;
}

void MasterConnection::begin(const std::shared_ptr<Attempt> &attempt,
                             std::unique_ptr<tls::Session> security) {
    auto self = shared_from_this();
    Attempt &a = *attempt;
    const int32_t seconds = a.options.timeoutSeconds > 0 ? a.options.timeoutSeconds : 10;
    a.deadline.expires_after(std::chrono::seconds(seconds));
    a.deadline.async_wait([self, attempt](const asio::error_code &e) {
        if (e || attempt->decided)
            return;
        attempt->timedOut = true;
        self->decide(*attempt);
    });
    // An address needs no resolver.
    asio::error_code notAnAddress;
    const asio::ip::address address = asio::ip::make_address(a.options.host, notAnAddress);
    if (!notAnAddress)
        return connect(attempt, {{address, static_cast<asio::ip::port_type>(a.options.port)}},
                       std::move(security));
    // A name is resolved under the deadline too: a resolver that does not answer (a DNS server out
    // of reach) must not hold the caller of AddSlave beyond its time-out. The lookup itself runs
    // on the io_context's own resolver thread and cannot be interrupted; a late answer is dropped.
    a.resolver.async_resolve(a.options.host, std::to_string(a.options.port),
                             asio::ip::resolver_base::numeric_service,
                             [self, attempt, security = std::move(security)](
                                 const asio::error_code &e,
                                 const asio::ip::tcp::resolver::results_type &results) mutable {
                                 Attempt &a = *attempt;
                                 if (a.decided || self->failed(a, e))
                                     return;
                                 Endpoints endpoints;
                                 for (const auto &entry : results)
                                     endpoints.push_back(entry.endpoint());
                                 self->connect(attempt, endpoints, std::move(security));
                             });
}

void MasterConnection::connect(const std::shared_ptr<Attempt> &attempt, const Endpoints &endpoints,
                               std::unique_ptr<tls::Session> security) {
    auto self = shared_from_this();
    Attempt &a = *attempt;
    a.stage = Attempt::Stage::Connecting;
    asio::async_connect(
        a.socket, endpoints,
        [self, attempt, security = std::move(security)](const asio::error_code &e,
                                                        const asio::ip::tcp::endpoint &) mutable {
            Attempt &a = *attempt;
            if (a.decided || self->failed(a, e))
                return;
            a.stage = Attempt::Stage::Handshaking;
            asio::error_code ec;
            asio::ip::tcp::endpoint peer = a.socket.remote_endpoint(ec);
            self->address_ = ec ? a.options.host : peer.address().to_string();
            // From here the channel owns the socket. With TLS the HELLO waits in it until the
            // handshake is complete and the slave's certificate has been judged.
            self->channel_ = std::make_shared<Channel>(std::move(a.socket), std::move(security));
            wire::Frame hello = wire::encodeHello(
                {wire::kMagic, wire::kVersion, static_cast<uint32_t>(self->heartbeat_.intervalMs),
                 static_cast<uint32_t>(self->heartbeat_.timeoutMs), a.options.clientName});
            if (self->channel_->secured() && !self->channel_->startTls())
                return (void)self->failed(a, Channel::tlsFailed);
            if (self->channel_->send(std::move(hello)) != Channel::SendResult::Sent)
                return (void)self->failed(a, asio::error::broken_pipe);
            self->readWelcome(attempt);
        });
}

void MasterConnection::readWelcome(const std::shared_ptr<Attempt> &attempt) {
    channel_->readInto(
        assembler_, [self = shared_from_this(), attempt](const asio::error_code &e, size_t) {
            Attempt &a = *attempt;
            if (a.decided || self->failed(a, e))
                return;
            wire::FrameView frame{};
            std::string why;
            switch (self->assembler_.next(frame, why)) {
                case wire::FrameAssembler::Status::Incomplete:
                    return self->readWelcome(attempt);
                case wire::FrameAssembler::Status::Error:
                    a.notDrovik = why;
                    break;
                case wire::FrameAssembler::Status::Frame:
                    if (frame.type == wire::FrameType::Welcome) {
                        auto w = wire::decodeWelcome(frame.body);
                        if (!w || w->magic != wire::kMagic)
                            a.notDrovik = "malformed WELCOME";
                        else if (w->version != wire::kVersion)
                            a.refused = "it speaks protocol version " + std::to_string(w->version) +
                                        ", this library version " + std::to_string(wire::kVersion);
                        else
                            a.stage = Attempt::Stage::Done;
                    } else if (frame.type == wire::FrameType::Refuse) {
                        auto reason = wire::decodeReason(frame.body);
                        a.refused = reason ? *reason : "no reason given";
                    } else {
                        a.notDrovik =
                            std::string("unexpected ") + wire::frameTypeName(frame.type) + " frame";
                    }
                    break;
            }
            self->decide(a);
        });
}

// The caller's thread, once the attempt has failed: why, in words.
std::string MasterConnection::handshakeFailure(const Attempt &a) const {
    const Options &options = a.options;
    const std::string where = endpointText(options.host, options.port);
    const int32_t seconds = options.timeoutSeconds > 0 ? options.timeoutSeconds : 10;
    if (a.stage == Attempt::Stage::Resolving)
        return a.timedOut
                   ? "Timed out after " + std::to_string(seconds) + " s resolving the host '" +
                         options.host + "'"
                   : "Cannot resolve the host '" + options.host + "': " + a.failure.message();
    if (a.timedOut)
        return a.stage == Attempt::Stage::Connecting
                   ? "Timed out after " + std::to_string(seconds) + " s connecting to " + where
                   : "Timed out after " + std::to_string(seconds) + " s waiting for " + where +
                         " to answer the handshake (not a Drovik slave?)";
    if (a.failure == Channel::tlsFailed)
        return a.keyRefused ? channel_->failure()
                            : where + " is not a Drovik slave that speaks TLS (" +
                                  channel_->failure() + "; one that speaks plaintext?)";
    if (!a.refused.empty())
        return where + " refused the connection: " + a.refused;
    if (!a.notDrovik.empty())
        return where + " is not a Drovik slave (" + a.notDrovik + ")";
    if (a.stage == Attempt::Stage::Connecting)
        return a.failure == asio::error::connection_refused
                   ? "Connection refused by " + where + " (no server listening)"
                   : "Cannot connect to " + where + ": " + a.failure.message();
    if (a.failure == asio::error::eof)
        return where + " closed the connection during the handshake (not a Drovik slave, " +
               (options.transport == DROVIK_TRANSPORT_TLS ? "or one that speaks plaintext?)"
                                                          : "or one that speaks only TLS?)");
    return "Connection to " + where + " failed during the handshake: " + a.failure.message();
}

}  // namespace drovik
