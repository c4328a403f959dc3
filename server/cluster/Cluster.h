// What the nodes of one community share through Redis: who is logged in where (one key per
// account, held by one node and expiring unless that node refreshes it), and the events between
// nodes (global messages, private messages waiting in the store, kicks).
//
// The store stays the truth for everything kept: an event only tells a node to act or to look.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "cluster/RedisConnection.h"

class Cluster {
public:
    // Throws std::invalid_argument for a URL that is not redis://[[USER]:PASSWORD@]HOST[:PORT],
    // and std::runtime_error when Redis refuses its password or wants one it lacks; a Redis that
    // does not answer yet is connected to later.
    // Every key and channel starts with `space` and a colon, so that several communities can
    // share one Redis.
    Cluster(const std::string &url, std::string space, std::chrono::seconds presence);
    ~Cluster();
    Cluster(const Cluster &) = delete;
    Cluster &operator=(const Cluster &) = delete;

    // What the node does on behalf of the others; called on the cluster's own threads.
    struct Handlers {
        std::function<std::vector<std::string>()> localNames;   // the accounts logged in here
        std::function<void(const std::string &name)> endLocal;  // end the session of the account
        std::function<void(const std::string &sender, const std::string &text)> global;
        std::function<void(const std::string &recipient)> privateWaiting;
        // The events were not heard for a while: private messages may be waiting unannounced.
        std::function<void()> resubscribed;
    };
    // Starts the heartbeat that keeps this node's claims alive, and the listener of events.
    void start(Handlers handlers);
    // Stops both; the claims expire unless released.
    void stop();

    const std::string &node() const { return node_; }

    enum class Claim { Claimed, Taken, Unavailable };
    // Claims the account for this node unless any node holds it, atomically.
    Claim claim(const std::string &name);
    // Drops this node's claim of the account, if it holds it.
    void release(const std::string &name);
    // Claims the account whoever held it; the node that held it ("" for none), nothing when
    // Redis is unreachable.
    std::optional<std::string> takeOver(const std::string &name);
    // The node that holds the account ("" for none), nothing when Redis is unreachable.
    std::optional<std::string> owner(const std::string &name);
    // Asks `node` to end its session of the account. A node that no longer listens is gone: its
    // claim is dropped so that the account can log in again at once. False when unreachable.
    bool endOn(const std::string &node, const std::string &name);
    // Every account logged in on any node, sorted; nothing when Redis is unreachable.
    std::optional<std::vector<std::string>> onlineNames();
    // The online list as the client's text, at most about a second old: one scan of Redis serves
    // every request of this node meanwhile, and while one worker scans, the others get the last
    // list. Null when Redis is unreachable and no list is at hand.
    std::shared_ptr<const std::string> onlineListText();
    // `count` tokens (a negative count gives them back) of the bucket shared by all nodes, which
    // holds `burst` at most and refills at `ratePerSecond`.
    struct TokenTake {
        std::string bucket;
        double burst = 0, ratePerSecond = 0;
        int count = 1;
    };
    // Takes from the buckets in order, in one round trip, up to the first that lacks the tokens:
    // its 1-based index (those before it keep their tokens taken), 0 when every one had them,
    // nothing when Redis is unreachable.
    std::optional<size_t> takeTokens(const std::vector<TokenTake> &takes);
    // Runs a script over keys of this community (each given without the namespace); its integer
    // result, or nothing when Redis is unreachable or the result is no integer.
    std::optional<long long> evalInteger(const char *script, const std::vector<std::string> &keys,
                                         const std::vector<std::string> &arguments);
    // False when the message could not be passed on.
    bool publishGlobal(const std::string &sender, const std::string &text);
    // Tells the nodes that messages for the recipient wait in the store. Returns at once: the
    // announcements go out on the cluster's own thread, those queued meanwhile in one round trip,
    // so that the store's writer, which calls this after every commit, never waits for Redis.
    void publishPrivate(const std::string &recipient);

private:
    void heartbeat();
    void listen();
    void announce();
    void dispatch(const redisReply &message);
    bool releaseFor(const std::string &name, const std::string &node);
    bool waitFor(std::chrono::milliseconds delay);  // false when stopping

    std::string sessionKey(const std::string &name) const;
    std::string nodeChannel(const std::string &node) const;

    const RedisAddress address_;
    const std::string sessionPrefix_;
    const std::string globalChannel_;
    const std::string privateChannel_;
    const std::string space_;
    const std::chrono::milliseconds presence_;
    const std::string node_;
    RedisConnection redis_;
    Handlers handlers_;
    std::mutex listLock_;  // guards the three below
    std::shared_ptr<const std::string> list_;
    std::chrono::steady_clock::time_point listAt_;
    bool listing_ = false;
    std::mutex mutex_;                        // guards the two below, and the waits for stopping_
    std::vector<std::string> announcements_;  // recipients to announce, each once
    std::unordered_set<std::string> announced_;  // those in announcements_
    std::condition_variable wake_;
    std::condition_variable queued_;  // announcements_ got one, or stopping
    std::atomic<bool> stopping_{false};
    std::thread heartbeat_;
    std::thread listener_;
    std::thread announcer_;
};
