// TLS with OpenSSL. Records travel through a BIO of our own that reads from the bytes the channel
// hands over and appends to the channel's output: no buffer of OpenSSL's outlives a call, so an
// idle connection holds only the SSL object (with SSL_MODE_RELEASE_BUFFERS).
#include "tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "file_lock.h"

namespace drovik::tls {

class Context {
public:
    explicit Context(SSL_CTX *ctx) : ctx(ctx) {}
    ~Context() { SSL_CTX_free(ctx); }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    SSL_CTX *const ctx;
};

namespace {

struct Io {
    std::span<const uint8_t> in;
    std::vector<uint8_t> *out = nullptr;
};

int bioWrite(BIO *bio, const char *data, int length) {
    auto *io = static_cast<Io *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (io->out == nullptr || length < 0) {
        BIO_set_retry_write(bio);
        return -1;
    }
    // As bytes, so that the copy is one memmove rather than a loop converting each char.
    const auto *bytes = reinterpret_cast<const uint8_t *>(data);
    io->out->insert(io->out->end(), bytes, bytes + length);
    return length;
}

int bioRead(BIO *bio, char *buffer, int length) {
    auto *io = static_cast<Io *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (io->in.empty() || length <= 0) {
        BIO_set_retry_read(bio);
        return -1;
    }
    size_t n = std::min(io->in.size(), static_cast<size_t>(length));
    std::memcpy(buffer, io->in.data(), n);
    io->in = io->in.subspan(n);
    return static_cast<int>(n);
}

long bioControl(BIO *, int command, long, void *) {
    // OpenSSL flushes after each flight; everything is in the output already.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD *bioMethod() {
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "drovik channel");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

// Empties the thread's error queue before a call whose failure SSL_get_error judges (a stale entry
// would read as this call's failure). Looking is far cheaper than clearing every slot, and on the
// path of each frame the queue is almost always empty already.
void clearErrors() {
    if (ERR_peek_error() != 0)
        ERR_clear_error();
}

// OpenSSL's error queue as one text, emptied.
std::string sslErrors() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        const char *reason = ERR_reason_error_string(e);
        if (!text.empty())
            text += "; ";
        text += reason != nullptr ? reason : buffer;
    }
    return text;
}

std::string fingerprintOf(X509 *certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return "";
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0)
            text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

// TLS 1.3's suites, cheapest first on a processor with AES instructions: AES-128-GCM does four
// rounds fewer per block than AES-256-GCM. Every suite stays allowed, so any peer still connects.
constexpr const char *kSuites =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

// The settings every context of ours shares: TLS 1.3 only, no compression, no renegotiation, no
// session tickets (nothing resumes), buffers released while a connection is idle; the server picks
// the suite by its own order rather than the client's.
SSL_CTX *newContext(const SSL_METHOD *method) {
    SSL_CTX *ctx = SSL_CTX_new(method);
    if (ctx == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_ciphersuites(ctx, kSuites) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    return ctx;
}

struct KeyPair {
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
    ~KeyPair() {
        EVP_PKEY_free(key);
        X509_free(certificate);
    }
};

// A self-signed ECDSA P-256 certificate, valid from an hour ago for 20 years.
bool makeSelfSigned(KeyPair &pair, std::string &error) {
    pair.key = EVP_EC_gen("P-256");
    pair.certificate = X509_new();
    unsigned char serial[16];
    bool ok = pair.key != nullptr && pair.certificate != nullptr &&
              RAND_bytes(serial, sizeof serial) == 1;
    if (ok) {
        serial[0] &= 0x7f;  // a positive serial number
        BIGNUM *number = BN_bin2bn(serial, sizeof serial, nullptr);
        ok = number != nullptr &&
             BN_to_ASN1_INTEGER(number, X509_get_serialNumber(pair.certificate)) != nullptr;
        BN_free(number);
    }
    if (ok) {
        X509_NAME *name = X509_get_subject_name(pair.certificate);
        ok = X509_set_version(pair.certificate, 2) == 1 &&
             X509_gmtime_adj(X509_getm_notBefore(pair.certificate), -3600) != nullptr &&
             X509_gmtime_adj(X509_getm_notAfter(pair.certificate), 20L * 365 * 24 * 3600) !=
                 nullptr &&
             X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char *>("Drovik slave"), -1,
                                        -1, 0) == 1 &&
             X509_set_issuer_name(pair.certificate, name) == 1 &&
             X509_set_pubkey(pair.certificate, pair.key) == 1 &&
             X509_sign(pair.certificate, pair.key, EVP_sha256()) > 0;
    }
    if (!ok)
        error = "Cannot make a self-signed certificate: " + sslErrors();
    return ok;
}

std::string pemOf(const KeyPair &pair, bool key) {
    std::string bytes;
    BIO *memory = BIO_new(BIO_s_mem());
    if (memory == nullptr)
        return bytes;
    bool ok =
        key ? PEM_write_bio_PrivateKey(memory, pair.key, nullptr, nullptr, 0, nullptr, nullptr) == 1
            : PEM_write_bio_X509(memory, pair.certificate) == 1;
    char *data = nullptr;
    long length = BIO_get_mem_data(memory, &data);
    if (ok && length > 0)
        bytes.assign(data, data + length);
    BIO_free(memory);
    return bytes;
}

// How long a slave waits for another that is making the same pair of files.
constexpr std::chrono::milliseconds kCreateWait{10000};

bool writePair(const KeyPair &pair, const std::string &certificateFile, const std::string &keyFile,
               std::string &error) {
    auto key = pemOf(pair, true);
    auto certificate = pemOf(pair, false);
    if (key.empty() || certificate.empty()) {
        error = "Cannot encode the new certificate: " + sslErrors();
        return false;
    }
    // The key first: a certificate on disk always has its key beside it.
    bool ok = files::replaceFile(keyFile, key, error) &&
              files::replaceFile(certificateFile, certificate, error);
    std::fill(key.begin(), key.end(), '\0');
    return ok;
}

// An IPv4 or IPv6 literal rather than a name.
bool isAddress(const std::string &host) {
    return host.find(':') != std::string::npos ||
           (!host.empty() && host.find_first_not_of("0123456789.") == std::string::npos);
}

bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

}  // namespace

bool available() {
    return true;
}

std::string unavailableText() {
    return "";
}

ServerIdentity serverIdentity(const std::string &certificateFile, const std::string &keyFile,
                              bool createIfMissing, std::string &error) {
    ERR_clear_error();
    ServerIdentity identity;
    if (certificateFile.empty() != keyFile.empty()) {
        error = "A certificate needs its key: give both files or neither";
        return identity;
    }
    SSL_CTX *raw = newContext(TLS_server_method());
    if (raw == nullptr) {
        error = "Cannot set up TLS: " + sslErrors();
        return identity;
    }
    auto context = std::make_shared<Context>(raw);
    if (certificateFile.empty()) {
        KeyPair pair;
        if (!makeSelfSigned(pair, error))
            return identity;
        if (SSL_CTX_use_certificate(raw, pair.certificate) != 1 ||
            SSL_CTX_use_PrivateKey(raw, pair.key) != 1) {
            error = "Cannot use the new certificate: " + sslErrors();
            return identity;
        }
    } else {
        bool haveCertificate = exists(certificateFile), haveKey = exists(keyFile);
        std::optional<FileLock> creating;
        if (createIfMissing && (!haveCertificate || !haveKey)) {
            // Two slaves started at once on the same files must end up with one pair between
            // them, not each with its own (or one's certificate beside the other's key): the pair
            // is made under a lock, and only by the one that still finds no files there. One file
            // without the other may be a pair being written just now, so that is looked at again
            // under the lock too.
            creating.emplace(keyFile + ".lock", kCreateWait);
            if (!creating->locked()) {
                error = creating->error();
                return identity;
            }
            haveCertificate = exists(certificateFile);
            haveKey = exists(keyFile);
        }
        if (creating && !haveCertificate && !haveKey) {
            KeyPair pair;
            if (!makeSelfSigned(pair, error) || !writePair(pair, certificateFile, keyFile, error))
                return identity;
        } else if (!haveCertificate || !haveKey) {
            error = "The TLS " +
                    (haveCertificate ? "key file '" + keyFile
                                     : "certificate file '" + certificateFile) +
                    "' does not exist";
            return identity;
        }
        if (SSL_CTX_use_certificate_chain_file(raw, certificateFile.c_str()) != 1) {
            error = "Cannot read the TLS certificate '" + certificateFile + "': " + sslErrors();
            return identity;
        }
        if (SSL_CTX_use_PrivateKey_file(raw, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
            error = "Cannot read the TLS key '" + keyFile + "': " + sslErrors();
            return identity;
        }
    }
    if (SSL_CTX_check_private_key(raw) != 1) {
        error = "The TLS key does not belong to the certificate: " + sslErrors();
        return identity;
    }
    identity.fingerprint = fingerprintOf(SSL_CTX_get0_certificate(raw));
    identity.context = std::move(context);
    return identity;
}

ContextPtr clientContext(std::string &error) {
    static std::mutex lock;
    static ContextPtr shared;
    std::lock_guard guard(lock);
    if (shared)
        return shared;
    ERR_clear_error();
    SSL_CTX *raw = newContext(TLS_client_method());
    if (raw == nullptr) {
        error = "Cannot set up TLS: " + sslErrors();
        return nullptr;
    }
    // The handshake accepts any certificate; the master judges it once it is complete (trusted
    // authority and name, else the known-servers file).
    SSL_CTX_set_verify(raw, SSL_VERIFY_NONE, nullptr);
    if (SSL_CTX_set_default_verify_paths(raw) != 1)
        ERR_clear_error();  // no system authorities: every key is then trusted on first use
    shared = std::make_shared<Context>(raw);
    return shared;
}

struct Session::State {
    ContextPtr context;
    SSL *ssl = nullptr;
    std::string host;  // master side: the name or address connected to
    Io io;
    ~State() { SSL_free(ssl); }
};

Session::Session(std::unique_ptr<State> state) : state_(std::move(state)) {}

Session::~Session() = default;

namespace {

std::unique_ptr<Session::State> newState(const ContextPtr &context) {
    auto state = std::make_unique<Session::State>();
    state->context = context;
    state->ssl = SSL_new(context->ctx);
    BIO *bio = state->ssl != nullptr ? BIO_new(bioMethod()) : nullptr;
    if (bio == nullptr)
        return nullptr;
    BIO_set_data(bio, &state->io);
    SSL_set_bio(state->ssl, bio, bio);
    return state;
}

}  // namespace

std::unique_ptr<Session> Session::server(const ContextPtr &context) {
    auto state = newState(context);
    if (!state)
        return nullptr;
    SSL_set_accept_state(state->ssl);
    return std::unique_ptr<Session>(new Session(std::move(state)));
}

std::unique_ptr<Session> Session::client(const ContextPtr &context, const std::string &host) {
    auto state = newState(context);
    if (!state)
        return nullptr;
    SSL_set_connect_state(state->ssl);
    state->host = host;
    // The server name is sent for a host name only, never for an address.
    if (!isAddress(host))
        SSL_set_tlsext_host_name(state->ssl, host.c_str());
    return std::unique_ptr<Session>(new Session(std::move(state)));
}

Session::Status Session::fail(const std::string &what, int sslError) {
    std::string detail = sslErrors();
    if (detail.empty())
        detail = sslError == SSL_ERROR_SYSCALL ? "the peer's records are malformed"
                                               : "error " + std::to_string(sslError);
    failure_ = what + ": " + detail;
    return Status::Failed;
}

Session::Status Session::handshake() {
    int r = SSL_do_handshake(state_->ssl);
    if (r == 1) {
        established_ = true;
        if (verifier_) {
            std::string refusal = verifier_(*this);
            if (!refusal.empty()) {
                failure_ = std::move(refusal);
                return Status::Failed;
            }
        }
        return Status::Ok;
    }
    int e = SSL_get_error(state_->ssl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        return Status::Ok;
    return fail("TLS handshake failed", e);
}

Session::Status Session::start(std::vector<uint8_t> &out) {
    ERR_clear_error();
    state_->io = Io{{}, &out};
    Status s = handshake();
    state_->io = Io{};
    return s;
}

Session::Status Session::absorb(std::span<const uint8_t> in, std::vector<uint8_t> &out,
                                const Sink &sink) {
    clearErrors();
    state_->io = Io{in, &out};
    Status s = Status::Ok;
    if (!established_)
        s = handshake();
    while (s == Status::Ok && established_) {
        std::span<uint8_t> room = sink.prepare();
        size_t got = 0;
        if (SSL_read_ex(state_->ssl, room.data(), room.size(), &got) == 1) {
            sink.commit(got);
            // Everything given was taken and nothing waits inside: a further read could only fail
            // for want of bytes, at the price of a pass through the record layer per arrival.
            if (state_->io.in.empty() && SSL_has_pending(state_->ssl) == 0)
                break;
            continue;
        }
        int e = SSL_get_error(state_->ssl, 0);
        if (e == SSL_ERROR_WANT_READ)
            break;  // all taken; a record may be partly here
        if (e == SSL_ERROR_ZERO_RETURN)
            s = Status::Closed;
        else
            s = fail("TLS record refused", e);
    }
    state_->io = Io{};
    return s;
}

Session::Status Session::encrypt(std::span<const uint8_t> plain, std::vector<uint8_t> &out) {
    clearErrors();
    if (!established_) {
        failure_ = "TLS is not established";
        return Status::Failed;
    }
    state_->io = Io{{}, &out};
    size_t written = 0;
    int r = SSL_write_ex(state_->ssl, plain.data(), plain.size(), &written);
    state_->io = Io{};
    if (r != 1 || written != plain.size())
        return fail("TLS cannot encrypt", SSL_get_error(state_->ssl, r));
    return Status::Ok;
}

void Session::closeNotify(std::vector<uint8_t> &out) {
    if (!established_)
        return;
    ERR_clear_error();
    state_->io = Io{{}, &out};
    SSL_shutdown(state_->ssl);
    state_->io = Io{};
    ERR_clear_error();
}

Session::Trust Session::peerTrust() const {
    X509 *leaf = SSL_get0_peer_certificate(state_->ssl);
    if (leaf == nullptr)
        return Trust::Untrusted;
    X509_STORE_CTX *check = X509_STORE_CTX_new();
    bool chained = check != nullptr &&
                   X509_STORE_CTX_init(check, SSL_CTX_get_cert_store(state_->context->ctx), leaf,
                                       SSL_get_peer_cert_chain(state_->ssl)) == 1 &&
                   X509_STORE_CTX_set_default(check, "ssl_server") == 1 &&
                   X509_verify_cert(check) == 1;
    X509_STORE_CTX_free(check);
    ERR_clear_error();
    if (!chained)
        return Trust::Untrusted;
    // Connected to an address, the certificate must name that address; else the host name.
    const std::string &host = state_->host;
    bool matches = isAddress(host)
                       ? X509_check_ip_asc(leaf, host.c_str(), 0) == 1
                       : X509_check_host(leaf, host.c_str(), host.size(), 0, nullptr) == 1;
    return matches ? Trust::Trusted : Trust::WrongName;
}

std::string Session::peerFingerprint() const {
    return fingerprintOf(SSL_get0_peer_certificate(state_->ssl));
}

}  // namespace drovik::tls
