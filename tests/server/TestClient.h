// Clients of a test server over the real library: a master that records connection events, and
// one connection with helpers for the jobs.
#pragma once

#include <drovik.hpp>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The digest a client sends for a password: 32 lower-case hexadecimal digits of its MD5.
std::string Digest(std::string_view password);

struct StreamedMessage {
    std::string sender;
    std::string text;
    bool operator==(const StreamedMessage &) const = default;
};

// Decodes one streamed block: sender length, text length (little-endian 32-bit), then both parts,
// each ending with the zero byte its length counts. Nothing when the block breaks that layout.
std::optional<StreamedMessage> DecodeStreamed(const drovik::Bytes &block);

class TestMaster {
    // Declared before the master, so they outlive it: its connection threads use them until
    // the master is released.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<intptr_t, int32_t> events_;

public:
    TestMaster();
    ~TestMaster();
    // A new connection's slave handle; 0 on failure, with master.lastError().
    intptr_t connect(int port, int32_t transport = DROVIK_TRANSPORT_TLS);
    // The connection event (KICKED or SHUTDOWN) of a connection, waiting at most `timeout`; 0 if
    // none came.
    int32_t connectionEvent(intptr_t slave, std::chrono::milliseconds timeout);

    drovik::Master master;
};

class Client {
public:
    Client(TestMaster &master, int port, int32_t transport = DROVIK_TRANSPORT_TLS);
    bool connected() const { return slave_ != 0; }
    intptr_t slave() const { return slave_; }

    drovik::Reply call(const std::string &job, const std::vector<drovik::Value> &params,
                       int32_t replyType);
    // A job with a 32-bit reply: its value, or minus the error event that ended it.
    int32_t code(const std::string &job, const std::vector<drovik::Value> &params = {});
    // A job with a text reply; nothing when it did not end with a value.
    std::optional<std::string> text(const std::string &job,
                                    const std::vector<drovik::Value> &params = {});
    // A job with a memory reply (empty for a reply without data), or minus the error event.
    drovik::Reply memory(const std::string &job, const std::vector<drovik::Value> &params = {});

    int32_t registerAs(const std::string &name, const std::string &password = "password1");
    int32_t login(const std::string &name, const std::string &password = "password1");
    // Registers and logs in; true when both succeeded.
    bool enter(const std::string &name, const std::string &password = "password1");

    // One User_ReceiveMessages: the decoded messages; `count` receives the job's value, or minus
    // the error event.
    std::vector<StreamedMessage> receive(int32_t *count = nullptr);
    // Polls until `expected` messages arrived or `timeout` passed.
    std::vector<StreamedMessage> receiveUntil(size_t expected, std::chrono::milliseconds timeout);

    int32_t connectionEvent(std::chrono::milliseconds timeout) {
        return master_.connectionEvent(slave_, timeout);
    }
    void disconnect() { master_.master.disconnect(slave_); }

private:
    TestMaster &master_;
    intptr_t slave_ = 0;
};
