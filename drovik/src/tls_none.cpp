// The TLS layer of a build without OpenSSL (Debian ships no OpenSSL for the Windows cross build):
// every TLS request fails with a text that says so; plaintext, when both ends ask for it, works.
#include "tls.h"

namespace drovik::tls {

class Context {};
struct Session::State {};

bool available() {
    return false;
}

std::string unavailableText() {
    return "This build of the library has no TLS (it was built without OpenSSL); it can only "
           "connect in plaintext to a slave told to speak plaintext";
}

ServerIdentity serverIdentity(const std::string &, const std::string &, bool, std::string &error) {
    error = unavailableText();
    return {};
}

ContextPtr clientContext(std::string &error) {
    error = unavailableText();
    return nullptr;
}

Session::Session(std::unique_ptr<State> state) : state_(std::move(state)) {}
Session::~Session() = default;
std::unique_ptr<Session> Session::server(const ContextPtr &) {
    return nullptr;
}
std::unique_ptr<Session> Session::client(const ContextPtr &, const std::string &) {
    return nullptr;
}

Session::Status Session::fail(const std::string &what, int) {
    failure_ = what + ": " + unavailableText();
    return Status::Failed;
}
Session::Status Session::handshake() {
    return fail("TLS", 0);
}
Session::Status Session::start(std::vector<uint8_t> &) {
    return handshake();
}
Session::Status Session::absorb(std::span<const uint8_t>, std::vector<uint8_t> &, const Sink &) {
    return handshake();
}
Session::Status Session::encrypt(std::span<const uint8_t>, std::vector<uint8_t> &) {
    return handshake();
}
void Session::closeNotify(std::vector<uint8_t> &) {}
Session::Trust Session::peerTrust() const {
    return Trust::Untrusted;
}
std::string Session::peerFingerprint() const {
    return "";
}

}  // namespace drovik::tls
