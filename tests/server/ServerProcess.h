// Runs the real community_server binary (found beside the test executable) on a free loopback
// port with its files, and its store unless it is on PostgreSQL, in a folder of the test's
// choosing.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TestStore.h"

// The administrator password that every test server is started with, and its digest.
inline const char *const kAdminPassword = "secret";
inline const char *const kAdminDigest = "5ebe2294ecd0e0f08eab7690d2a6ee69";  // MD5 of "secret"

// A fresh, empty folder under the system's temporary folder, removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The known-servers file of this test process's own configuration folder (FreshConfigFolder),
// where the library pins the keys of the test servers.
std::filesystem::path KnownServersFile();

class ServerProcess {
public:
    // Starts the server with its store at StoreLocation(folder) and the options that keep tests
    // fast (cheap password hashing), then `extraArgs`. Fails the test when it does not come up.
    explicit ServerProcess(const std::filesystem::path &folder,
                           std::vector<std::string> extraArgs = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool started() const { return port_ > 0; }
    // Sends the signal and waits for the exit; the exit status, or -1 on a time-out or crash.
    int stop(int signal, std::chrono::seconds timeout = std::chrono::seconds(15));
    // Waits for the process to end by itself; the exit status, or -1.
    int waitForExit(std::chrono::seconds timeout);
    bool running();
    // What the server wrote to stderr so far.
    std::string log() const;
    // The rest of the first line on standard output that starts with `prefix`, waiting at most
    // `timeout` for it; nothing when the output ended or the time passed without it.
    std::optional<std::string> outputLine(const std::string &prefix,
                                          std::chrono::seconds timeout = std::chrono::seconds(10));

    static std::filesystem::path binary();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int stdoutFd_ = -1;
    std::string output_;  // standard output read so far
    std::filesystem::path logFile_;
    int exitStatus_ = -1;
    bool exited_ = false;
};
