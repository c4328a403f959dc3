#include "SharedPasswordThrottle.h"

#include "cluster/Cluster.h"

namespace {

// KEYS: the address's count of failures, the account's hash (a count per address and their sum
// under "failures", the time of the last under "last"). ARGV: failures that refuse the address,
// failures before the account is slowed, the longest delay in ms, whether there is an account.
// Returns 0 (check), 1 (address refused) or 2 (account slowed); the delay doubles from 1 s.
constexpr const char *kStateScript =
    "local t = redis.call('TIME') "
    "local now = tonumber(t[1]) * 1000 + math.floor(tonumber(t[2]) / 1000) "
    "if tonumber(redis.call('GET', KEYS[1]) or '0') >= tonumber(ARGV[1]) then return 1 end "
    "if ARGV[4] == '1' then "
    "  local v = redis.call('HMGET', KEYS[2], 'failures', 'last') "
    "  local over = (tonumber(v[1]) or 0) - tonumber(ARGV[2]) "
    "  if over >= 0 then "
    "    local delay = math.min(1000 * 2 ^ math.min(over, 30), tonumber(ARGV[3])) "
    "    if now < (tonumber(v[2]) or 0) + delay then return 2 end "
    "  end "
    "end "
    "return 0";
// A wrong password. ARGV: how long the address's count lasts after its last failure (ms), how
// long the account's, whether there is an account, the address. Returns the address's count.
constexpr const char *kWrongScript =
    "local t = redis.call('TIME') "
    "local now = tonumber(t[1]) * 1000 + math.floor(tonumber(t[2]) / 1000) "
    "local n = redis.call('INCR', KEYS[1]) "
    "redis.call('PEXPIRE', KEYS[1], ARGV[1]) "
    "if ARGV[3] == '1' then "
    "  redis.call('HINCRBY', KEYS[2], 'failures', 1) "
    "  redis.call('HINCRBY', KEYS[2], 'from:' .. ARGV[4], 1) "
    "  redis.call('HSET', KEYS[2], 'last', now) "
    "  redis.call('PEXPIRE', KEYS[2], ARGV[2]) "
    "end "
    "return n";
// A right password clears the account's failures from that address only.
constexpr const char *kRightScript =
    "local n = tonumber(redis.call('HGET', KEYS[1], 'from:' .. ARGV[1]) or '0') "
    "if n > 0 then "
    "  redis.call('HDEL', KEYS[1], 'from:' .. ARGV[1]) "
    "  redis.call('HINCRBY', KEYS[1], 'failures', -n) "
    "end "
    "return n";

}  // namespace

SharedPasswordThrottle::SharedPasswordThrottle(Cluster *cluster, std::string kind,
                                               PasswordThrottle::Limits limits)
    : cluster_(cluster), kind_(std::move(kind)), limits_(limits), local_(limits) {}

PasswordThrottle::Admission SharedPasswordThrottle::shared(const std::string &address,
                                                           const std::string &account) {
    using Admission = PasswordThrottle::Admission;
    if (!cluster_)
        return Admission::Check;
    const auto maxDelay =
        std::chrono::duration_cast<std::chrono::milliseconds>(limits_.accountMaxDelay);
    auto result = cluster_->evalInteger(
        kStateScript, {kind_ + ":address:" + AddressKey(address), kind_ + ":account:" + account},
        {std::to_string(limits_.addressFailures), std::to_string(limits_.accountFailures),
         std::to_string(maxDelay.count()), account.empty() ? "0" : "1"});
    if (result == 1)
        return Admission::AddressBlocked;
    if (result == 2)
        return Admission::AccountSlowed;
    return Admission::Check;
}

PasswordThrottle::Admission SharedPasswordThrottle::admit(const std::string &address,
                                                          const std::string &account,
                                                          SteadyTime now) {
    PasswordThrottle::Admission admission = local_.admit(address, account, now);
    if (admission != PasswordThrottle::Admission::Check)
        return admission;
    admission = shared(address, account);
    if (admission != PasswordThrottle::Admission::Check)
        local_.finish(address, account, PasswordThrottle::Outcome::NotChecked, now);
    return admission;
}

bool SharedPasswordThrottle::blocked(const std::string &address, SteadyTime now) {
    return local_.blocked(address, now) ||
           shared(address, "") == PasswordThrottle::Admission::AddressBlocked;
}

bool SharedPasswordThrottle::finish(const std::string &address, const std::string &account,
                                    PasswordThrottle::Outcome outcome, SteadyTime now) {
    bool nowBlocked = local_.finish(address, account, outcome, now);
    if (!cluster_ || outcome == PasswordThrottle::Outcome::NotChecked)
        return nowBlocked;
    const std::string addressKey = AddressKey(address);
    const std::string accountKey = kind_ + ":account:" + account;
    if (outcome == PasswordThrottle::Outcome::Right) {
        if (!account.empty())
            cluster_->evalInteger(kRightScript, {accountKey}, {addressKey});
        return nowBlocked;
    }
    const auto block = std::chrono::duration_cast<std::chrono::milliseconds>(limits_.addressBlock);
    // An account's failures are forgotten well after its longest delay has passed.
    const auto accountLife =
        std::chrono::duration_cast<std::chrono::milliseconds>(limits_.accountMaxDelay * 10);
    auto count =
        cluster_->evalInteger(kWrongScript, {kind_ + ":address:" + addressKey, accountKey},
                              {std::to_string(block.count()), std::to_string(accountLife.count()),
                               account.empty() ? "0" : "1", addressKey});
    return nowBlocked || (count && *count == limits_.addressFailures);
}
