// A few connections to Redis, shared by the threads of a node: a command takes whichever is free,
// so that one thread's round trip does not hold up the others' (one connection under one mutex
// kept the job threads queueing for it at a few hundred messages a second). Every command has a
// time-out; a connection that failed is dropped and made again by the next command on it, so a
// node reconnects by itself once Redis is back.
#pragma once

#include <hiredis/hiredis.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RedisAddress {
    std::string host;
    int port = 6379;
    // Sent with AUTH after every connect when the password is not empty; the user too, when set.
    std::string user, password;
};

// redis://[[USER]:PASSWORD@]HOST[:PORT], the user and password percent-encoded where needed;
// nothing for anything else.
std::optional<RedisAddress> ParseRedisUrl(std::string_view url);

struct RedisReplyFree {
    void operator()(redisReply *reply) const { freeReplyObject(reply); }
};
using RedisReply = std::unique_ptr<redisReply, RedisReplyFree>;

struct RedisContextFree {
    void operator()(redisContext *context) const { redisFree(context); }
};
using RedisContextPtr = std::unique_ptr<redisContext, RedisContextFree>;

// Connects within `timeout`, sets it as the time-out of every later read and write, and
// authenticates when the address has a password; null when any of that failed, `error` then
// says why.
RedisContextPtr ConnectRedis(const RedisAddress &address, std::chrono::milliseconds timeout,
                             std::string &error);
// Connects once and sends PING. Throws when Redis refuses the address's password, or asks for
// one that it lacks: a mistake in the node's settings, which no waiting mends. A Redis that cannot
// be reached now passes (the node connects again by itself later).
void CheckRedisCredentials(const RedisAddress &address, std::chrono::milliseconds timeout);

class RedisConnection {
public:
    // `purpose` names the connection in the log; up to `connections` are opened, as needed.
    RedisConnection(RedisAddress address, std::string purpose,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(1000),
                    size_t connections = 1);

    // Runs one command, each argument binary-safe. Null when Redis could not be reached in time
    // or answered with an error; the first failure after a success is logged, and so is the
    // recovery.
    RedisReply command(const std::vector<std::string_view> &arguments);
    // Sends the commands at once and then reads their replies, one round trip for all: the
    // replies in order (an error reply as null), or none at all when Redis could not be reached.
    std::vector<RedisReply> pipeline(const std::vector<std::vector<std::string>> &commands);

private:
    struct Slot {
        std::mutex mutex;  // held for a whole command or pipeline
        RedisContextPtr context;
    };
    // Locks a free slot, or waits for one when all are busy.
    std::unique_lock<std::mutex> acquire(Slot *&slot);
    void failed(Slot &slot, const std::string &why);
    bool connectLocked(Slot &slot);
    void succeeded();

    const RedisAddress address_;
    const std::string purpose_;
    const std::chrono::milliseconds timeout_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<size_t> next_{0};    // where the search for a free slot starts
    std::atomic<bool> down_{false};  // the last command failed
};
