#include "slave_limits.h"

#include <algorithm>
#include <cstdio>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace drovik {
namespace {

// Connections when nothing else is known: three quarters of the descriptors the process may open,
// leaving the rest to the program's own files.
int64_t defaultConnections() {
    int64_t files = 1024;
#ifndef _WIN32
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        files = static_cast<int64_t>(std::min<rlim_t>(rl.rlim_cur, 1 << 24));
#endif
    return std::max<int64_t>(64, files / 4 * 3);
}

constexpr int64_t kMaxTimeMs = int64_t{24} * 3600 * 1000;

}  // namespace

SlaveLimits::SlaveLimits() : connections_(defaultConnections()) {}

bool SlaveLimits::set(int32_t limit, int64_t value) {
    auto within = [&](std::atomic<int64_t> &field, int64_t low, int64_t high) {
        if (value < low || value > high)
            return false;
        field.store(value);
        return true;
    };
    switch (limit) {
        case DROVIK_LIMIT_CONNECTIONS:
            return within(connections_, 1, INT32_MAX);
        case DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS:
            return within(perAddress_, 1, INT32_MAX);
        case DROVIK_LIMIT_UNTRUSTED:
            return within(untrusted_, 0, INT32_MAX);
        case DROVIK_LIMIT_HANDSHAKE_TIME:
            return within(handshakeMs_, 1, kMaxTimeMs);
        case DROVIK_LIMIT_FRAME_TIME:
            return within(frameMs_, 1, kMaxTimeMs);
        case DROVIK_LIMIT_SILENCE_TIME:
            return within(silenceMs_, 1, kMaxTimeMs);
        case DROVIK_LIMIT_UNTRUSTED_TIME:
            return within(untrustedMs_, 1, kMaxTimeMs);
        case DROVIK_LIMIT_OUTPUT_BYTES:
            return within(outputBytes_, 1, int64_t{1} << 30);
        case DROVIK_LIMIT_OUTPUT_TIME:
            return within(outputMs_, 1, kMaxTimeMs);
        case DROVIK_LIMIT_FRAME_BYTES:
            return within(frameBytes_, wire::kMaxHandshakeLength, wire::kMaxFrameLength);
        case DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES:
            if (value == 0) {
                untrustedFrameBytes_.store(0);
                return true;
            }
            return within(untrustedFrameBytes_, wire::kMaxHandshakeLength, wire::kMaxFrameLength);
        default:
            return false;
    }
}

int64_t SlaveLimits::get(int32_t limit) const {
    switch (limit) {
        case DROVIK_LIMIT_CONNECTIONS:
            return connections_.load();
        case DROVIK_LIMIT_CONNECTIONS_PER_ADDRESS:
            return perAddress_.load();
        case DROVIK_LIMIT_UNTRUSTED: {
            int64_t v = untrusted_.load();
            return v > 0 ? v : std::max<int64_t>(1, connections_.load() / 4);
        }
        case DROVIK_LIMIT_HANDSHAKE_TIME:
            return handshakeMs_.load();
        case DROVIK_LIMIT_FRAME_TIME:
            return frameMs_.load();
        case DROVIK_LIMIT_SILENCE_TIME:
            return silenceMs_.load();
        case DROVIK_LIMIT_UNTRUSTED_TIME:
            return untrustedMs_.load();
        case DROVIK_LIMIT_OUTPUT_BYTES:
            return outputBytes_.load();
        case DROVIK_LIMIT_OUTPUT_TIME:
            return outputMs_.load();
        case DROVIK_LIMIT_FRAME_BYTES:
            return frameBytes_.load();
        case DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES: {
            int64_t v = untrustedFrameBytes_.load();
            return v > 0 ? std::min(v, frameBytes_.load()) : frameBytes_.load();
        }
        default:
            return -1;
    }
}

std::string addressKeyOf(const asio::ip::address &address) {
    if (address.is_v4())
        return address.to_v4().to_string();
    asio::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
    auto bytes = v6.to_bytes();
    char key[32];
    std::snprintf(key, sizeof key, "%02x%02x:%02x%02x:%02x%02x:%02x%02x::/64", bytes[0], bytes[1],
                  bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]);
    return key;
}

}  // namespace drovik
