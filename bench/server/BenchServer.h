// A community server process for the benchmarks that start and kill their own: its binary beside
// the benchmark's executable, a store folder that outlives restarts, and its log.
#pragma once

#include <sys/types.h>

#include <drovik.hpp>

#include <filesystem>
#include <string>
#include <vector>

// How a client reaches a bench server: its port, TLS or plaintext as the server speaks, and a
// known-servers file of the benchmark's own, so that its servers' keys are never pinned in the
// user's file.
struct BenchEndpoint {
    int port = 0;
    int32_t transport = DROVIK_TRANSPORT_TLS;
    std::string knownServersFile;
};

class BenchServer {
public:
    // The store, its TLS key and the server's log go into `folder`; plaintext: no TLS.
    BenchServer(std::filesystem::path folder, std::vector<std::string> options,
                bool plaintext = false);
    ~BenchServer();
    BenchServer(const BenchServer &) = delete;
    BenchServer &operator=(const BenchServer &) = delete;

    // Starts the server on a free port and waits until it listens; false with the log on stderr
    // when it does not come up.
    bool start();
    // Sends the signal and waits for the process to end.
    void stop(int signal);
    int port() const { return port_; }
    BenchEndpoint endpoint() const;
    pid_t pid() const { return pid_; }
    std::string log() const;

private:
    std::filesystem::path folder_;
    std::vector<std::string> options_;
    bool plaintext_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A client connection through the library, with the chat jobs the benchmarks use.
class BenchClient {
public:
    BenchClient(drovik::Master &master, const BenchEndpoint &server);
    bool connected() const { return slave_ != 0; }
    // Registers (an existing account is fine) and logs in.
    bool enter(const std::string &name);
    // The job's value, or minus its error event (0 when the connection ended or it timed out).
    int32_t send(const std::string &recipient, const std::string &text);
    // One poll's texts; false when the poll did not finish (the connection ended).
    bool receive(std::vector<std::string> &texts);
    void disconnect();

private:
    int32_t code(const std::string &job, const std::vector<drovik::Value> &params);
    drovik::Master &master_;
    intptr_t slave_ = 0;
};
