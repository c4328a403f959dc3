#include "Cluster.h"

#include <poll.h>
#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "Log.h"
#include "protocol/TextFormats.h"

namespace {

// Keeps this node's claims (KEYS) alive, or makes them again after they expired (Redis was away):
// for each, 1, or 0 when another node holds the account now. One script for many claims spares
// Redis a command per claim, which at thousands of users kept the others waiting.
constexpr const char *kRefreshScript =
    "local held = {} "
    "for i, key in ipairs(KEYS) do "
    "  local v = redis.call('GET', key) "
    "  held[i] = 1 "
    "  if v == ARGV[1] then redis.call('PEXPIRE', key, ARGV[2]) "
    "  elseif not v then redis.call('SET', key, ARGV[1], 'PX', ARGV[2]) "
    "  else held[i] = 0 end "
    "end "
    "return held";
// Deletes the claim only if the given node holds it.
constexpr const char *kReleaseScript =
    "if redis.call('GET', KEYS[1]) == ARGV[1] then return redis.call('DEL', KEYS[1]) end "
    "return 0";

// Token buckets in hashes (tokens, and when they were counted), timed by Redis's clock, which all
// nodes share; each expires once it would be full again anyway. KEYS[i] takes ARGV[3i-2] tokens
// (a negative count gives them back) of a bucket holding ARGV[3i-1] at most and refilling at
// ARGV[3i] per second, in order, up to the first that lacks them: its index, or 0 when every one
// had them.
constexpr const char *kTokenScript =
    "local t = redis.call('TIME') "
    "local now = tonumber(t[1]) + tonumber(t[2]) / 1000000 "
    "for i, key in ipairs(KEYS) do "
    "  local count, burst, rate = tonumber(ARGV[3*i-2]), tonumber(ARGV[3*i-1]), "
    "tonumber(ARGV[3*i]) "
    "  local v = redis.call('HMGET', key, 'tokens', 'at') "
    "  local tokens = tonumber(v[1]) or burst "
    "  local at = tonumber(v[2]) or now "
    "  tokens = math.min(burst, tokens + math.max(0, now - at) * rate) "
    "  local taken = tokens >= count "
    "  if taken then tokens = math.min(burst, tokens - count) end "
    "  redis.call('HSET', key, 'tokens', tostring(tokens), 'at', tostring(now)) "
    "  local life = 86400000 "
    "  if rate > 0 then life = math.min(life, math.ceil(burst / rate * 1000) + 1000) end "
    "  redis.call('PEXPIRE', key, life) "
    "  if not taken then return i end "
    "end "
    "return 0";

std::string randomNode() {
    unsigned char bytes[8];
    randombytes_buf(bytes, sizeof bytes);
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += digits[b >> 4];
        id += digits[b & 15];
    }
    return id;
}

RedisAddress addressOf(const std::string &url) {
    auto address = ParseRedisUrl(url);
    if (!address)
        // Not the text itself, which may hold a password.
        throw std::invalid_argument("--redis: not redis://[[USER]:PASSWORD@]HOST[:PORT]");
    return *address;
}

std::string_view text(const redisReply &reply) {
    return std::string_view(reply.str, reply.len);
}

}  // namespace

Cluster::Cluster(const std::string &url, std::string space, std::chrono::seconds presence)
    : address_(addressOf(url)),
      sessionPrefix_(space + ":session:"),
      globalChannel_(space + ":global"),
      privateChannel_(space + ":private"),
      space_(std::move(space)),
      presence_(presence),
      node_(randomNode()),
      // A connection each for a few job threads at once, the heartbeat and the announcements.
      redis_(address_, "presence", std::chrono::milliseconds(1000), 4) {
    CheckRedisCredentials(address_, std::chrono::milliseconds(1000));
}

std::string Cluster::sessionKey(const std::string &name) const {
    return sessionPrefix_ + name;
}

std::string Cluster::nodeChannel(const std::string &node) const {
    return space_ + ":node:" + node;
}

Cluster::~Cluster() {
    stop();
}

void Cluster::start(Handlers handlers) {
    handlers_ = std::move(handlers);
    LogEvent("node ", node_, " shares presence and events through Redis at ", address_.host, ":",
             address_.port, " under ", space_, ":");
    heartbeat_ = std::thread([this] { heartbeat(); });
    listener_ = std::thread([this] { listen(); });
    announcer_ = std::thread([this] { announce(); });
}

void Cluster::stop() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    queued_.notify_all();
    if (heartbeat_.joinable())
        heartbeat_.join();
    if (listener_.joinable())
        listener_.join();
    if (announcer_.joinable())
        announcer_.join();
}

bool Cluster::waitFor(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, delay, [this] { return stopping_.load(); });
}

Cluster::Claim Cluster::claim(const std::string &name) {
    const std::string ms = std::to_string(presence_.count());
    RedisReply reply = redis_.command({"SET", sessionKey(name), node_, "NX", "PX", ms});
    if (!reply)
        return Claim::Unavailable;
    return reply->type == REDIS_REPLY_STATUS ? Claim::Claimed : Claim::Taken;
}

bool Cluster::releaseFor(const std::string &name, const std::string &node) {
    return redis_.command({"EVAL", kReleaseScript, "1", sessionKey(name), node}) != nullptr;
}

void Cluster::release(const std::string &name) {
    // Unreachable: the claim expires by itself, as a dead node's does.
    releaseFor(name, node_);
}

std::optional<std::string> Cluster::takeOver(const std::string &name) {
    const std::string ms = std::to_string(presence_.count());
    RedisReply reply = redis_.command({"SET", sessionKey(name), node_, "PX", ms, "GET"});
    if (!reply)
        return std::nullopt;
    return reply->type == REDIS_REPLY_STRING ? std::string(text(*reply)) : std::string();
}

std::optional<std::string> Cluster::owner(const std::string &name) {
    RedisReply reply = redis_.command({"GET", sessionKey(name)});
    if (!reply)
        return std::nullopt;
    return reply->type == REDIS_REPLY_STRING ? std::string(text(*reply)) : std::string();
}

bool Cluster::endOn(const std::string &node, const std::string &name) {
    RedisReply reply = redis_.command({"PUBLISH", nodeChannel(node), "end\n" + name});
    if (!reply)
        return false;
    if (reply->type == REDIS_REPLY_INTEGER && reply->integer == 0) {
        LogEvent("node ", node, " holding ", name, " does not answer: its claim is dropped");
        return releaseFor(name, node);
    }
    return true;
}

std::optional<std::vector<std::string>> Cluster::onlineNames() {
    const std::string pattern = sessionPrefix_ + "*";
    std::vector<std::string> names;
    std::string cursor = "0";
    do {
        RedisReply reply =
            redis_.command({"SCAN", cursor, "MATCH", pattern, "COUNT", "1000", "TYPE", "string"});
        if (!reply || reply->type != REDIS_REPLY_ARRAY || reply->elements != 2 ||
            reply->element[0]->type != REDIS_REPLY_STRING ||
            reply->element[1]->type != REDIS_REPLY_ARRAY)
            return std::nullopt;
        cursor = text(*reply->element[0]);
        const redisReply &keys = *reply->element[1];
        for (size_t i = 0; i < keys.elements; ++i)
            if (keys.element[i]->type == REDIS_REPLY_STRING)
                names.emplace_back(text(*keys.element[i]).substr(sessionPrefix_.size()));
    } while (cursor != "0");
    // A scan may return a key twice.
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::shared_ptr<const std::string> Cluster::onlineListText() {
    // Every client asks every few seconds; a scan per request would keep Redis busy with little
    // else at a few thousand users.
    constexpr auto kMaxAge = std::chrono::seconds(1);
    {
        std::lock_guard guard(listLock_);
        if (list_ && (listing_ || std::chrono::steady_clock::now() - listAt_ < kMaxAge))
            return list_;
        listing_ = true;
    }
    std::shared_ptr<const std::string> fresh;
    if (auto names = onlineNames()) {
        std::string text;
        for (const std::string &name : *names)
            AppendOnlineListName(text, name);
        fresh = std::make_shared<const std::string>(std::move(text));
    }
    std::lock_guard guard(listLock_);
    listing_ = false;
    if (fresh) {
        list_ = fresh;
        listAt_ = std::chrono::steady_clock::now();
    }
    return fresh;
}

std::optional<size_t> Cluster::takeTokens(const std::vector<TokenTake> &takes) {
    std::vector<std::string> arguments;
    arguments.reserve(3 + 4 * takes.size());
    arguments.insert(arguments.end(), {"EVAL", kTokenScript, std::to_string(takes.size())});
    for (const TokenTake &take : takes)
        arguments.push_back(space_ + ":rate:" + take.bucket);
    for (const TokenTake &take : takes) {
        arguments.push_back(std::to_string(take.count));
        arguments.push_back(std::to_string(take.burst));
        arguments.push_back(std::to_string(take.ratePerSecond));
    }
    RedisReply reply =
        redis_.command(std::vector<std::string_view>(arguments.begin(), arguments.end()));
    if (!reply || reply->type != REDIS_REPLY_INTEGER || reply->integer < 0 ||
        static_cast<size_t>(reply->integer) > takes.size())
        return std::nullopt;
    return static_cast<size_t>(reply->integer);
}

std::optional<long long> Cluster::evalInteger(const char *script,
                                              const std::vector<std::string> &keys,
                                              const std::vector<std::string> &arguments) {
    std::vector<std::string> named;
    named.reserve(keys.size());
    for (const std::string &key : keys)
        named.push_back(space_ + ":" + key);
    const std::string count = std::to_string(keys.size());
    std::vector<std::string_view> command = {"EVAL", script, count};
    command.insert(command.end(), named.begin(), named.end());
    command.insert(command.end(), arguments.begin(), arguments.end());
    RedisReply reply = redis_.command(command);
    if (!reply || reply->type != REDIS_REPLY_INTEGER)
        return std::nullopt;
    return reply->integer;
}

bool Cluster::publishGlobal(const std::string &sender, const std::string &message) {
    return redis_.command({"PUBLISH", globalChannel_, node_ + "\n" + sender + "\n" + message}) !=
           nullptr;
}

void Cluster::publishPrivate(const std::string &recipient) {
    {
        std::lock_guard guard(mutex_);
        if (!announced_.insert(recipient).second)
            return;  // already queued: one announcement makes the node read everything waiting
        announcements_.push_back(recipient);
    }
    queued_.notify_one();
}

void Cluster::announce() {
    std::vector<std::string> recipients;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [this] { return stopping_ || !announcements_.empty(); });
            if (announcements_.empty())
                return;  // stopping, and everything announced
            recipients.swap(announcements_);
            announced_.clear();
        }
        std::vector<std::vector<std::string>> commands;
        commands.reserve(recipients.size());
        for (const std::string &recipient : recipients)
            commands.push_back({"PUBLISH", privateChannel_, recipient});
        if (redis_.pipeline(commands).empty()) {
            // Unreachable: announced again once Redis answers, so that a recipient whose node
            // kept hearing the events waits no longer than Redis was away. (A node that lost
            // them reads the store for everyone when it hears them again.)
            if (stopping_)
                return;
            {
                std::lock_guard guard(mutex_);
                for (std::string &recipient : recipients)
                    if (announced_.insert(recipient).second)
                        announcements_.push_back(std::move(recipient));
            }
            waitFor(std::chrono::milliseconds(500));
        }
        recipients.clear();
    }
}

void Cluster::heartbeat() {
    // Claims refreshed a batch at a time: each batch is one short script in Redis.
    constexpr size_t kBatch = 256;
    const std::string ms = std::to_string(presence_.count());
    while (waitFor(presence_ / 3)) {
        const std::vector<std::string> names = handlers_.localNames();
        for (size_t first = 0; first < names.size() && !stopping_; first += kBatch) {
            const size_t end = std::min(names.size(), first + kBatch);
            std::vector<std::string> keys;
            for (size_t i = first; i < end; ++i)
                keys.push_back(sessionKey(names[i]));
            const std::string count = std::to_string(keys.size());
            std::vector<std::string_view> command = {"EVAL", kRefreshScript, count};
            command.insert(command.end(), keys.begin(), keys.end());
            command.insert(command.end(), {node_, ms});
            RedisReply reply = redis_.command(command);
            if (!reply || reply->type != REDIS_REPLY_ARRAY || reply->elements != keys.size())
                continue;  // unreachable: the claims are made again at the next beat
            for (size_t i = 0; i < keys.size(); ++i) {
                const redisReply &held = *reply->element[i];
                if (held.type == REDIS_REPLY_INTEGER && held.integer == 0) {
                    LogEvent("session of ", names[first + i],
                             " is held on another node now: ended here");
                    handlers_.endLocal(names[first + i]);
                }
            }
        }
    }
}

void Cluster::dispatch(const redisReply &message) {
    if (message.type != REDIS_REPLY_ARRAY || message.elements != 3)
        return;
    for (size_t i = 0; i < 3; ++i)
        if (message.element[i]->type != REDIS_REPLY_STRING)
            return;
    if (text(*message.element[0]) != "message")
        return;
    std::string_view channel = text(*message.element[1]);
    std::string_view payload = text(*message.element[2]);
    if (channel == globalChannel_) {
        size_t first = payload.find('\n');
        size_t second = first == std::string_view::npos ? first : payload.find('\n', first + 1);
        if (second == std::string_view::npos || payload.substr(0, first) == node_)
            return;
        handlers_.global(std::string(payload.substr(first + 1, second - first - 1)),
                         std::string(payload.substr(second + 1)));
    } else if (channel == privateChannel_) {
        handlers_.privateWaiting(std::string(payload));
    } else if (payload.starts_with("end\n")) {
        handlers_.endLocal(std::string(payload.substr(4)));
    }
}

void Cluster::listen() {
    const std::string own = nodeChannel(node_);
    bool reported = false;
    while (!stopping_) {
        std::string error;
        RedisContextPtr context = ConnectRedis(address_, std::chrono::milliseconds(1000), error);
        RedisReply subscribed;
        if (context)
            subscribed.reset(static_cast<redisReply *>(
                redisCommand(context.get(), "SUBSCRIBE %s %s %s", globalChannel_.c_str(),
                             privateChannel_.c_str(), own.c_str())));
        if (!subscribed) {
            if (!reported)
                LogEvent("events from other nodes not heard: Redis at ", address_.host, ":",
                         address_.port, " unreachable: ", context ? context->errstr : error);
            reported = true;
            waitFor(std::chrono::milliseconds(1000));
            continue;
        }
        if (reported)
            LogEvent("events from other nodes heard again");
        reported = false;
        handlers_.resubscribed();
        while (!stopping_) {
            void *reply = nullptr;
            if (redisGetReplyFromReader(context.get(), &reply) != REDIS_OK)
                break;
            if (reply) {
                RedisReply owned(static_cast<redisReply *>(reply));
                dispatch(*owned);
                continue;
            }
            pollfd fd{context->fd, POLLIN, 0};
            int ready = poll(&fd, 1, 250);
            if (ready > 0 && redisBufferRead(context.get()) != REDIS_OK)
                break;
        }
    }
}
