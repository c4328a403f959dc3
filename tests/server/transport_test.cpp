// The server's TLS identity: the key it keeps beside its store, a pair given to it, plaintext on
// request, and what a client that pinned a key makes of another key at the same address.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ServerProcess.h"
#include "TestClient.h"

namespace {

namespace fs = std::filesystem;

const std::string kFingerprintLine = "TLS certificate fingerprint (SHA-256): ";
const std::string kPlaintextLine = "connections are NOT encrypted";

std::string ReadFile(const fs::path &file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a shell command prints on standard output.
std::string Output(const std::string &command) {
    std::string text;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

bool IsFingerprint(const std::string &text) {
    static const std::regex pattern("([0-9A-F]{2}:){31}[0-9A-F]{2}");
    return std::regex_match(text, pattern);
}

std::string Pin(int port, const std::string &fingerprint) {
    return "127.0.0.1:" + std::to_string(port) + " " + fingerprint;
}

// The PEM files in a folder, by name.
std::vector<std::string> PemFiles(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".pem")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Transport, KeyBesideTheStoreSurvivesARestartAndIsPinned) {
    // Every test process has a configuration folder of its own, never the user's.
    ASSERT_EQ(KnownServersFile().string().rfind(fs::temp_directory_path().string(), 0), 0u)
        << KnownServersFile();

    TempFolder folder;
    std::string fingerprint;
    int port = 0;
    {
        ServerProcess server(folder.path());
        ASSERT_TRUE(server.started()) << server.log();
        port = server.port();
        const auto printed = server.outputLine(kFingerprintLine);
        ASSERT_TRUE(printed) << server.log();
        fingerprint = *printed;
        EXPECT_TRUE(IsFingerprint(fingerprint)) << fingerprint;
        EXPECT_NE(server.log().find(fingerprint), std::string::npos) << server.log();

        // The pair was made in the test's folder, the key readable by the owner only.
        const auto pair = PemFiles(folder.path());
        ASSERT_EQ(pair.size(), 2u);
        ASSERT_EQ(pair[0].substr(pair[0].size() - 9), ".cert.pem");
        ASSERT_EQ(pair[1].substr(pair[1].size() - 8), ".key.pem");
        EXPECT_EQ(fs::status(folder.path() / pair[1]).permissions() &
                      (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none);

        TestMaster master;
        // A plaintext master never reaches a TLS server.
        EXPECT_EQ(master.connect(port, DROVIK_TRANSPORT_PLAINTEXT), 0);
        Client ann(master, port);
        ASSERT_TRUE(ann.connected()) << master.master.lastError();
        EXPECT_TRUE(ann.enter("ann"));
        EXPECT_NE(ReadFile(KnownServersFile()).find(Pin(port, fingerprint)), std::string::npos)
            << ReadFile(KnownServersFile());
        EXPECT_EQ(server.stop(SIGTERM), 0) << server.log();
    }

    ServerProcess again(folder.path(), {"--port", std::to_string(port)});
    ASSERT_TRUE(again.started()) << again.log();
    EXPECT_EQ(again.outputLine(kFingerprintLine), fingerprint);
    TestMaster master;
    Client ann(master, again.port());
    ASSERT_TRUE(ann.connected()) << master.master.lastError();
    EXPECT_EQ(ann.login("ann"), 1);
}

TEST(Transport, AnotherKeyAtAPinnedAddressIsRefused) {
    TempFolder first, second;
    int port = 0;
    std::string pinned;
    {
        ServerProcess server(first.path());
        ASSERT_TRUE(server.started()) << server.log();
        port = server.port();
        pinned = server.outputLine(kFingerprintLine).value_or("");
        TestMaster master;
        ASSERT_NE(master.connect(port), 0) << master.master.lastError();
    }

    // Another store, so another key, on the same port.
    ServerProcess impostor(second.path(), {"--port", std::to_string(port)});
    ASSERT_TRUE(impostor.started()) << impostor.log();
    const std::string other = impostor.outputLine(kFingerprintLine).value_or("");
    ASSERT_TRUE(IsFingerprint(other)) << other;
    ASSERT_NE(other, pinned);

    TestMaster master;
    EXPECT_EQ(master.connect(port), 0);
    std::string error = master.master.lastError();
    EXPECT_NE(error.find(KnownServersFile().string()), std::string::npos) << error;
    std::transform(error.begin(), error.end(), error.begin(), ::tolower);
    EXPECT_NE(error.find("changed"), std::string::npos) << error;
    // The first key stays pinned; the refused one is not recorded.
    const std::string known = ReadFile(KnownServersFile());
    EXPECT_NE(known.find(Pin(port, pinned)), std::string::npos) << known;
    EXPECT_EQ(known.find(other), std::string::npos) << known;
    EXPECT_TRUE(impostor.running());
}

TEST(Transport, GivenCertificateAndKeyAreUsed) {
    TempFolder folder;
    const std::string cert = (folder.path() / "own.cert.pem").string();
    const std::string key = (folder.path() / "own.key.pem").string();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                           "-nodes -subj /CN=localhost -days 2 -keyout '" +
                           key + "' -out '" + cert + "' 2>/dev/null")
                              .c_str()),
              0);
    // "sha256 Fingerprint=AB:..." (the label's case depends on the version).
    std::string expected = Output("openssl x509 -noout -fingerprint -sha256 -in '" + cert + "'");
    expected = expected.substr(expected.find('=') + 1);
    expected.erase(expected.find_last_not_of("\r\n") + 1);
    ASSERT_TRUE(IsFingerprint(expected)) << expected;

    ServerProcess server(folder.path(), {"--tls-cert", cert, "--tls-key", key});
    ASSERT_TRUE(server.started()) << server.log();
    EXPECT_EQ(server.outputLine(kFingerprintLine), expected);
    EXPECT_EQ(PemFiles(folder.path()), (std::vector<std::string>{"own.cert.pem", "own.key.pem"}));
    TestMaster master;
    Client ann(master, server.port());
    ASSERT_TRUE(ann.connected()) << master.master.lastError();
    EXPECT_TRUE(ann.enter("ann"));
    EXPECT_NE(ReadFile(KnownServersFile()).find(Pin(server.port(), expected)), std::string::npos);
}

TEST(Transport, TlsOptionsThatDoNotFitAreRefusedAtStart) {
    TempFolder folder;
    const std::string file = (folder.path() / "some.pem").string();
    std::ofstream(file) << "not used\n";
    const std::string missing = (folder.path() / "missing.pem").string();
    const std::vector<std::vector<std::string>> cases = {
        {"--tls-cert", file},
        {"--tls-key", file},
        {"--tls-cert", missing, "--tls-key", file},
        {"--plaintext", "--tls-cert", file, "--tls-key", file},
    };
    for (const auto &options : cases) {
        ServerProcess server(folder.path(), options);
        EXPECT_FALSE(server.started()) << options[0];
        EXPECT_NE(server.waitForExit(std::chrono::seconds(10)), 0) << options[0];
    }
    EXPECT_EQ(PemFiles(folder.path()), std::vector<std::string>{"some.pem"});
}

TEST(Transport, PlaintextServerSaysSoAndServesOnlyPlaintextMasters) {
    TempFolder folder;
    ServerProcess server(folder.path(), {"--plaintext"});
    ASSERT_TRUE(server.started()) << server.log();
    EXPECT_TRUE(server.outputLine(kPlaintextLine)) << server.log();
    EXPECT_NE(server.log().find(kPlaintextLine), std::string::npos) << server.log();
    EXPECT_TRUE(PemFiles(folder.path()).empty());

    TestMaster master;
    EXPECT_EQ(master.connect(server.port()), 0);
    EXPECT_FALSE(master.master.lastError().empty());
    ASSERT_TRUE(server.running());

    Client ann(master, server.port(), DROVIK_TRANSPORT_PLAINTEXT);
    ASSERT_TRUE(ann.connected()) << master.master.lastError();
    EXPECT_TRUE(ann.enter("ann"));
    const std::string port = ":" + std::to_string(server.port()) + " ";
    EXPECT_EQ(ReadFile(KnownServersFile()).find(port), std::string::npos);
}

}  // namespace
