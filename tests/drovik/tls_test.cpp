// The transport's security, end to end through the shared library: what a recording relay sees,
// keys pinned on first use, certificates from a trusted authority, plaintext against TLS, and
// garbage inside the encrypted stream. Its own program: a test authority is installed (through
// OpenSSL's SSL_CERT_FILE) for this process only, before the library reads the trusted ones.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "RecordingRelay.h"
#include "test_slave.h"

namespace drovik_test {
namespace {

namespace fs = std::filesystem;

fs::path &workFolder() {
    static fs::path folder;
    return folder;
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

intptr_t startSlave(int32_t port, int32_t *bound, int32_t transport = DROVIK_TRANSPORT_TLS,
                    const std::string &certificate = "", const std::string &key = "",
                    int32_t flags = 0) {
    intptr_t slave = Drovik_Slave_InitTransport("127.0.0.1", port, nullptr, 2, bound, transport,
                                                certificate.c_str(), key.c_str(), flags);
    if (slave != 0)
        addTestJobs(slave);
    return slave;
}

intptr_t connectTo(TestMaster &master, const char *host, int32_t port, const fs::path &known,
                   int32_t transport = DROVIK_TRANSPORT_TLS) {
    return Drovik_Master_AddSlave(master.handle(), host, port, "test", transport,
                                  known.string().c_str(), "", 0, 5);
}

int64_t echoRoundTrip(TestMaster &master, intptr_t connection, const std::string &text) {
    auto events = Recorder::instance().waitFinal(
        submit(master.handle(), connection, "Echo", listOf({text}), DROVIK_TYPE_STRING));
    if (!events || events->back().event != DROVIK_EVENT_FINISHED)
        return -1;
    return textOf(events->back()) == text + '\0' ? 1 : 0;
}

class Tls : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = workFolder() / info->name();
        fs::create_directories(folder_);
        known_ = folder_ / "known_servers";
    }
    void TearDown() override {
        for (intptr_t s : slaves_)
            Drovik_Slave_DeInit(s);
    }
    intptr_t keep(intptr_t slave) {
        if (slave != 0)
            slaves_.push_back(slave);
        return slave;
    }
    void stop(intptr_t slave) {
        Drovik_Slave_DeInit(slave);
        slaves_.erase(std::remove(slaves_.begin(), slaves_.end(), slave), slaves_.end());
    }

    fs::path folder_, known_;
    std::vector<intptr_t> slaves_;
};

TEST_F(Tls, ARecordingRelaySeesNoParameterNameOrReplyInClear) {
    int32_t port = 0;
    ASSERT_NE(keep(startSlave(0, &port)), 0) << Drovik_Slave_GetLastError(0);
    Relay relay(port);
    TestMaster master;
    intptr_t connection = connectTo(master, "127.0.0.1", relay.port(), known_);
    ASSERT_NE(connection, 0) << master.lastError();
    const std::string secret = "5f4dcc3b5aa765d61d8327deb882cf99-digest-of-the-password";
    ASSERT_EQ(echoRoundTrip(master, connection, secret), 1);

    Bytes seen = relay.recorded();
    EXPECT_GT(seen.size(), secret.size());
    EXPECT_FALSE(contains(seen, secret));
    EXPECT_FALSE(contains(seen, "5f4dcc3b"));
    EXPECT_FALSE(contains(seen, "Echo"));
}

TEST_F(Tls, AKeyPinnedOnFirstUseIsKeptAndAChangedOneRefusedWithTheLineToRemove) {
    const std::string cert = (folder_ / "a.cert.pem").string(),
                      key = (folder_ / "a.key.pem").string();
    int32_t port = 0;
    intptr_t first =
        keep(startSlave(0, &port, DROVIK_TRANSPORT_TLS, cert, key, DROVIK_TLS_CREATE_IF_MISSING));
    ASSERT_NE(first, 0) << Drovik_Slave_GetLastError(0);
    const std::string fingerprint = Drovik_Slave_GetFingerprint(first);
    EXPECT_EQ(fingerprint.size(), 32u * 3 - 1);
#ifndef _WIN32
    EXPECT_EQ(fs::status(key).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
#endif
    TestMaster master;
    intptr_t c = connectTo(master, "127.0.0.1", port, known_);
    ASSERT_NE(c, 0) << master.lastError();
    EXPECT_NE(readFile(known_).find(fingerprint), std::string::npos);
    Drovik_Master_RemoveSlave(master.handle(), c);

    // The same files after a restart: the same key, accepted.
    stop(first);
    intptr_t again = keep(
        startSlave(port, nullptr, DROVIK_TRANSPORT_TLS, cert, key, DROVIK_TLS_CREATE_IF_MISSING));
    ASSERT_NE(again, 0) << Drovik_Slave_GetLastError(0);
    EXPECT_EQ(Drovik_Slave_GetFingerprint(again), fingerprint);
    c = connectTo(master, "127.0.0.1", port, known_);
    ASSERT_NE(c, 0) << master.lastError();
    EXPECT_EQ(echoRoundTrip(master, c, "still me"), 1);
    Drovik_Master_RemoveSlave(master.handle(), c);

    // Another key at the same host and port: refused, and the file is left as it was.
    stop(again);
    ASSERT_NE(keep(startSlave(port, nullptr)), 0) << Drovik_Slave_GetLastError(0);
    const std::string before = readFile(known_);
    EXPECT_EQ(connectTo(master, "127.0.0.1", port, known_), 0);
    const std::string error = master.lastError();
    EXPECT_NE(error.find("changed"), std::string::npos) << error;
    EXPECT_NE(error.find(known_.string()), std::string::npos) << error;
    EXPECT_NE(error.find("remove line 1"), std::string::npos) << error;
    EXPECT_EQ(readFile(known_), before);
}

// Slaves started at once on files that do not exist yet share the one pair that is made, as the
// nodes of a community started together do.
TEST_F(Tls, SlavesStartedAtOnceOnMissingFilesMakeOnePairBetweenThem) {
    for (int round = 0; round < 3; ++round) {
        const std::string name = "together" + std::to_string(round);
        const std::string cert = (folder_ / (name + ".cert.pem")).string(),
                          key = (folder_ / (name + ".key.pem")).string();
        std::vector<intptr_t> slaves(4, 0);
        std::vector<std::thread> starters;
        for (intptr_t &slave : slaves)
            starters.emplace_back([&] {
                slave = startSlave(0, nullptr, DROVIK_TRANSPORT_TLS, cert, key,
                                   DROVIK_TLS_CREATE_IF_MISSING);
            });
        for (auto &t : starters)
            t.join();
        for (intptr_t slave : slaves)
            keep(slave);
        std::set<std::string> fingerprints;
        for (intptr_t slave : slaves) {
            ASSERT_NE(slave, 0);
            fingerprints.insert(Drovik_Slave_GetFingerprint(slave));
        }
        EXPECT_EQ(fingerprints.size(), 1u) << "round " << round;
    }
}

// The test authority signed a certificate for "localhost" only (see main).
TEST_F(Tls, ACertificateFromATrustedAuthorityIsAcceptedForItsNameOnlyAndNeverPinned) {
    const fs::path &w = workFolder();
    int32_t port = 0;
    ASSERT_NE(keep(startSlave(0, &port, DROVIK_TRANSPORT_TLS, (w / "leaf.pem").string(),
                              (w / "leaf.key").string())),
              0)
        << Drovik_Slave_GetLastError(0);
    TestMaster master;
    intptr_t c = connectTo(master, "localhost", port, known_);
    ASSERT_NE(c, 0) << master.lastError();
    EXPECT_EQ(echoRoundTrip(master, c, "trusted"), 1);
    EXPECT_FALSE(fs::exists(known_) && !readFile(known_).empty());

    // The same certificate reached by its address: a trusted authority's certificate for another
    // name is refused, not quietly pinned.
    EXPECT_EQ(connectTo(master, "127.0.0.1", port, known_), 0);
    EXPECT_NE(master.lastError().find("another name"), std::string::npos) << master.lastError();
    EXPECT_FALSE(fs::exists(known_) && !readFile(known_).empty());
}

TEST_F(Tls, PlaintextAndTlsEndsRefuseEachOtherCleanlyAndServeTheirOwnKind) {
    int32_t tlsPort = 0, plainPort = 0;
    ASSERT_NE(keep(startSlave(0, &tlsPort)), 0);
    ASSERT_NE(keep(startSlave(0, &plainPort, DROVIK_TRANSPORT_PLAINTEXT)), 0);
    TestMaster master;
    EXPECT_EQ(connectTo(master, "127.0.0.1", tlsPort, known_, DROVIK_TRANSPORT_PLAINTEXT), 0);
    EXPECT_NE(master.lastError().find("TLS"), std::string::npos) << master.lastError();
    EXPECT_EQ(connectTo(master, "127.0.0.1", plainPort, known_), 0);
    EXPECT_NE(master.lastError().find("plaintext"), std::string::npos) << master.lastError();
    EXPECT_EQ(Drovik_Slave_CountMasters(slaves_[0]) + Drovik_Slave_CountMasters(slaves_[1]), 0);

    intptr_t secure = connectTo(master, "127.0.0.1", tlsPort, known_);
    intptr_t plain = connectTo(master, "127.0.0.1", plainPort, known_, DROVIK_TRANSPORT_PLAINTEXT);
    ASSERT_NE(secure, 0) << master.lastError();
    ASSERT_NE(plain, 0) << master.lastError();
    EXPECT_EQ(echoRoundTrip(master, secure, "a"), 1);
    EXPECT_EQ(echoRoundTrip(master, plain, "b"), 1);
}

TEST_F(Tls, GarbageInsideTheEncryptedStreamEndsOnlyThatConnection) {
    int32_t port = 0;
    intptr_t slave = keep(startSlave(0, &port));
    ASSERT_NE(slave, 0);
    TestMaster bystander, victim;
    intptr_t good = connectTo(bystander, "127.0.0.1", port, known_);
    ASSERT_NE(good, 0) << bystander.lastError();
    Relay relay(port);
    intptr_t bad = connectTo(victim, "127.0.0.1", relay.port(), known_);
    ASSERT_NE(bad, 0) << victim.lastError();
    ASSERT_EQ(echoRoundTrip(victim, bad, "before"), 1);
    relay.sendGarbageToSlave();
    auto lost = Recorder::instance().waitConnectionEvent(bad);
    ASSERT_TRUE(lost.has_value());
    EXPECT_EQ(lost->event, DROVIK_EVENT_SHUTDOWN);
    EXPECT_EQ(echoRoundTrip(bystander, good, "unharmed"), 1);
    EXPECT_EQ(Drovik_Slave_CountMasters(slave), 1);
}

// The handshake's time limit covers TLS: a peer that starts a TLS handshake and stalls is closed.
TEST_F(Tls, AStalledTlsHandshakeIsClosedByTheHandshakeTimeLimit) {
    int32_t port = 0;
    intptr_t slave = keep(startSlave(0, &port));
    ASSERT_NE(slave, 0);
    ASSERT_EQ(Drovik_Slave_SetLimit(slave, DROVIK_LIMIT_HANDSHAKE_TIME, 300), 1);
    RawPeer stalled(port);
    stalled.send({0x16, 0x03, 0x01, 0x02, 0x00, 0x01});  // a ClientHello's first bytes
    EXPECT_TRUE(stalled.closedByPeer(5s));
}

// A test authority and a certificate it signed for "localhost", made with the openssl tool.
bool makeTestAuthority(const fs::path &w) {
    const std::string q = "'" + w.string() + "/";
    const std::string commands =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "
        "/CN=Test-Authority -keyout " +
        q + "ca.key' -out " + q + "ca.pem' 2>/dev/null && " +
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=localhost "
        "-keyout " +
        q + "leaf.key' -out " + q + "leaf.csr' 2>/dev/null && " +
        "printf 'subjectAltName=DNS:localhost\\nbasicConstraints=CA:FALSE\\n' > " + q +
        "leaf.ext' && " + "openssl x509 -req -in " + q + "leaf.csr' -CA " + q + "ca.pem' -CAkey " +
        q + "ca.key' -CAcreateserial -days 2 -extfile " + q + "leaf.ext' -out " + q +
        "leaf.pem' 2>/dev/null";
    return std::system(commands.c_str()) == 0;
}

}  // namespace
}  // namespace drovik_test

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    auto &w = drovik_test::workFolder();
    w = fs::temp_directory_path() / ("drovik-tls-test-" + std::to_string(::getpid()));
    fs::create_directories(w);
    if (!drovik_test::makeTestAuthority(w)) {
        std::fprintf(stderr, "the openssl tool could not make the test authority\n");
        return 1;
    }
    // Only this process trusts the test authority; the library reads it at its first TLS use.
    setenv("SSL_CERT_FILE", (w / "ca.pem").c_str(), 1);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(w, ec);
    return result;
}
