#include "RedisConnection.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "Log.h"

namespace {

// %XX escapes decoded; nothing for a broken escape.
std::optional<std::string> PercentDecoded(std::string_view text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size())
            return std::nullopt;
        auto [end, error] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (error != std::errc() || end != text.data() + i + 3)
            return std::nullopt;
        decoded += static_cast<char>(value);
        i += 2;
    }
    return decoded;
}

bool IsReplyError(const redisReply *reply, std::string &error) {
    if (reply && reply->type == REDIS_REPLY_ERROR)
        error = std::string(reply->str, reply->len);
    return reply && reply->type == REDIS_REPLY_ERROR;
}

}  // namespace

std::optional<RedisAddress> ParseRedisUrl(std::string_view url) {
    constexpr std::string_view scheme = "redis://";
    if (!url.starts_with(scheme))
        return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    RedisAddress address;
    if (size_t at = rest.rfind('@'); at != std::string_view::npos) {
        std::string_view credentials = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = credentials.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;  // a user without a password means nothing to AUTH
        auto user = PercentDecoded(credentials.substr(0, colon));
        auto password = PercentDecoded(credentials.substr(colon + 1));
        if (!user || !password || password->empty())
            return std::nullopt;
        address.user = std::move(*user);
        address.password = std::move(*password);
    }
    std::string_view host = rest;
    if (size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        std::string_view port = rest.substr(colon + 1);
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), address.port);
        if (error != std::errc() || end != port.data() + port.size() || address.port < 1 ||
            address.port > 65535)
            return std::nullopt;
    }
    if (host.empty() || host.find_first_of("/@?#") != std::string_view::npos)
        return std::nullopt;
    address.host = host;
    return address;
}

RedisContextPtr ConnectRedis(const RedisAddress &address, std::chrono::milliseconds timeout,
                             std::string &error) {
    timeval tv{static_cast<time_t>(timeout.count() / 1000),
               static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
    RedisContextPtr context(redisConnectWithTimeout(address.host.c_str(), address.port, tv));
    if (!context) {
        error = "out of memory";
        return nullptr;
    }
    if (context->err) {
        error = context->errstr;
        return nullptr;
    }
    if (redisSetTimeout(context.get(), tv) != REDIS_OK) {
        error = "cannot set the time-out";
        return nullptr;
    }
    if (!address.password.empty()) {
        std::vector<const char *> argv = {"AUTH"};
        std::vector<size_t> lengths = {4};
        if (!address.user.empty()) {
            argv.push_back(address.user.data());
            lengths.push_back(address.user.size());
        }
        argv.push_back(address.password.data());
        lengths.push_back(address.password.size());
        RedisReply reply(static_cast<redisReply *>(redisCommandArgv(
            context.get(), static_cast<int>(argv.size()), argv.data(), lengths.data())));
        if (!reply) {
            error = context->errstr;
            return nullptr;
        }
        if (IsReplyError(reply.get(), error)) {
            error = "AUTH refused: " + error;
            return nullptr;
        }
    }
    return context;
}

void CheckRedisCredentials(const RedisAddress &address, std::chrono::milliseconds timeout) {
    std::string error;
    RedisContextPtr context = ConnectRedis(address, timeout, error);
    const std::string where = address.host + ":" + std::to_string(address.port);
    if (!context) {
        if (error.starts_with("AUTH refused"))
            throw std::runtime_error("Redis at " + where + " refused the password of --redis (" +
                                     error + ")");
        return;
    }
    RedisReply reply(static_cast<redisReply *>(redisCommand(context.get(), "PING")));
    if (IsReplyError(reply.get(), error) && error.starts_with("NOAUTH"))
        throw std::runtime_error("Redis at " + where +
                                 " needs a password: redis://:PASSWORD@HOST:PORT (" + error + ")");
}

RedisConnection::RedisConnection(RedisAddress address, std::string purpose,
                                 std::chrono::milliseconds timeout, size_t connections)
    : address_(std::move(address)), purpose_(std::move(purpose)), timeout_(timeout) {
    for (size_t i = 0; i < std::max<size_t>(1, connections); ++i)
        slots_.push_back(std::make_unique<Slot>());
}

std::unique_lock<std::mutex> RedisConnection::acquire(Slot *&slot) {
    const size_t first = next_.fetch_add(1, std::memory_order_relaxed);
    for (size_t i = 0; i < slots_.size(); ++i) {
        slot = slots_[(first + i) % slots_.size()].get();
        std::unique_lock lock(slot->mutex, std::try_to_lock);
        if (lock.owns_lock())
            return lock;
    }
    slot = slots_[first % slots_.size()].get();
    return std::unique_lock(slot->mutex);
}

void RedisConnection::failed(Slot &slot, const std::string &why) {
    slot.context.reset();
    if (!down_.exchange(true))
        LogEvent("Redis at ", address_.host, ":", address_.port, " unreachable (", purpose_,
                 "): ", why);
}

RedisReply RedisConnection::command(const std::vector<std::string_view> &arguments) {
    std::vector<const char *> argv;
    std::vector<size_t> lengths;
    argv.reserve(arguments.size());
    lengths.reserve(arguments.size());
    for (std::string_view a : arguments) {
        argv.push_back(a.data());
        lengths.push_back(a.size());
    }
    Slot *slot = nullptr;
    std::unique_lock guard = acquire(slot);
    if (!connectLocked(*slot))
        return nullptr;
    RedisReply reply(static_cast<redisReply *>(redisCommandArgv(
        slot->context.get(), static_cast<int>(argv.size()), argv.data(), lengths.data())));
    if (!reply) {
        // A time-out or a broken connection: what the connection still carries is unknown.
        failed(*slot, slot->context->errstr);
        return nullptr;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        LogEvent("Redis (", purpose_, ") refused ", arguments.empty() ? "" : arguments[0], ": ",
                 std::string_view(reply->str, reply->len));
        return nullptr;
    }
    succeeded();
    return reply;
}

bool RedisConnection::connectLocked(Slot &slot) {
    if (slot.context)
        return true;
    std::string error;
    slot.context = ConnectRedis(address_, timeout_, error);
    if (!slot.context)
        failed(slot, error);
    return slot.context != nullptr;
}

void RedisConnection::succeeded() {
    if (down_.exchange(false))
        LogEvent("Redis at ", address_.host, ":", address_.port, " reachable again (", purpose_,
                 ")");
}

std::vector<RedisReply> RedisConnection::pipeline(
    const std::vector<std::vector<std::string>> &commands) {
    std::vector<RedisReply> replies;
    if (commands.empty())
        return replies;
    Slot *slot = nullptr;
    std::unique_lock guard = acquire(slot);
    if (!connectLocked(*slot))
        return replies;
    redisContext *context = slot->context.get();
    for (const std::vector<std::string> &command : commands) {
        std::vector<const char *> argv;
        std::vector<size_t> lengths;
        for (const std::string &a : command) {
            argv.push_back(a.data());
            lengths.push_back(a.size());
        }
        if (redisAppendCommandArgv(context, static_cast<int>(argv.size()), argv.data(),
                                   lengths.data()) != REDIS_OK) {
            failed(*slot, context->errstr);
            return {};
        }
    }
    replies.reserve(commands.size());
    for (size_t i = 0; i < commands.size(); ++i) {
        void *reply = nullptr;
        if (redisGetReply(context, &reply) != REDIS_OK || !reply) {
            failed(*slot, context->errstr);
            return {};
        }
        RedisReply owned(static_cast<redisReply *>(reply));
        if (owned->type == REDIS_REPLY_ERROR)
            owned.reset();
        replies.push_back(std::move(owned));
    }
    succeeded();
    return replies;
}
