// TLS 1.3 for the library's connections, over bytes the caller moves: a Session never touches a
// socket. The channel feeds it what arrives and writes what it produces, under the channel's lock,
// so any thread may encrypt a frame while the network thread decrypts (OpenSSL's objects are not
// safe for two threads at once; the lock makes them take turns).
#ifndef DROVIK_SRC_TLS_H
#define DROVIK_SRC_TLS_H

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace drovik::tls {

// False in a build without OpenSSL: every TLS request then fails with a text that says so.
bool available();
// The text of that failure.
std::string unavailableText();

// What connections share: the slave's certificate and key, or the master's trusted authorities.
class Context;
using ContextPtr = std::shared_ptr<Context>;

struct ServerIdentity {
    ContextPtr context;
    std::string fingerprint;  // SHA-256 of the certificate, "AB:CD:..."
};
// The slave's certificate and key from PEM files; both paths empty: a self-signed pair made in
// memory; createIfMissing: a self-signed pair is written to the two files (owner-only) when neither
// exists. Null context with a text in error.
ServerIdentity serverIdentity(const std::string &certificateFile, const std::string &keyFile,
                              bool createIfMissing, std::string &error);
// The masters' context, one per process: TLS 1.3 only, the system's trusted authorities (read once,
// at the first use; OpenSSL's SSL_CERT_FILE and SSL_CERT_DIR apply).
ContextPtr clientContext(std::string &error);

class Session {
public:
    enum class Status { Ok, Closed, Failed };
    // How the peer's certificate stands with the trusted authorities (master side).
    enum class Trust { Trusted, WrongName, Untrusted };
    // Where decrypted bytes go: room to write into, then how much was written.
    struct Sink {
        std::function<std::span<uint8_t>()> prepare;
        std::function<void(size_t)> commit;
    };

    static std::unique_ptr<Session> server(const ContextPtr &context);
    // host: the name connected to, sent as the server name and checked against the certificate.
    static std::unique_ptr<Session> client(const ContextPtr &context, const std::string &host);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Called once when the handshake completes on the master side; a text refuses the peer.
    void setVerifier(std::function<std::string(Session &)> verifier) {
        verifier_ = std::move(verifier);
    }
    bool established() const { return established_; }
    // The master's first flight, into out.
    Status start(std::vector<uint8_t> &out);
    // Takes bytes from the peer. Handshake answers and other records the protocol owes the peer
    // are appended to out; application data goes to sink. Closed once the peer said close_notify.
    Status absorb(std::span<const uint8_t> in, std::vector<uint8_t> &out, const Sink &sink);
    // Appends the records that carry plain; only once established.
    Status encrypt(std::span<const uint8_t> plain, std::vector<uint8_t> &out);
    // Appends close_notify.
    void closeNotify(std::vector<uint8_t> &out);
    // Why the last call failed.
    const std::string &failure() const { return failure_; }
    // Master side, once established.
    Trust peerTrust() const;
    std::string peerFingerprint() const;

    struct State;  // OpenSSL's objects, in tls.cpp

private:
    explicit Session(std::unique_ptr<State> state);
    // Drives the handshake; its records go to the output set up by the caller.
    Status handshake();
    Status fail(const std::string &what, int sslError);

    std::unique_ptr<State> state_;
    std::function<std::string(Session &)> verifier_;
    std::string failure_;
    bool established_ = false;
};

}  // namespace drovik::tls

#endif  // DROVIK_SRC_TLS_H
