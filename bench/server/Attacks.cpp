#include "Attacks.h"

namespace attack {

std::string AttackCounts::describe() const {
    const std::pair<const char *, uint64_t> figures[] = {
        {"connected", connections},
        {"connect failed", connectFailures},
        {"handshaken", handshakes},
        {"closed by server", closedByServer},
        {"jobs", jobs},
        {"done", accepted},
        {"refused", refused},
        {"MiB sent", bytes >> 20},
    };
    std::string text;
    for (const auto &[name, value] : figures)
        if (value != 0)
            text += (text.empty() ? "" : ", ") + std::to_string(value) + " " + name;
    return text;
}

const std::vector<Attack> &AllAttacks() {
    static const std::vector<Attack> attacks = {
        {'a', "connection flood, one address", StartConnectionFlood},
        {'b', "handshaken idle connections", StartIdleConnections},
        {'c', "avatar requests never read", StartAvatarHoarders},
        {'d', "frames of empty strings", StartEmptyStrings},
        {'e', "registrations in flight", StartRegistrations},
        {'f', "message bursts, reconnecting", StartMessageBursts},
        {'g', "frames never finished", StartUnfinishedFrames},
    };
    return attacks;
}

asio::awaitable<void> Pause(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    asio::error_code ignored;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
}

}  // namespace attack
