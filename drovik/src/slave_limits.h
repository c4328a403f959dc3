// What one peer may take of a slave: the limits' values, readable from any thread, and the key that
// groups a peer's connections by address.
#ifndef DROVIK_SRC_SLAVE_LIMITS_H
#define DROVIK_SRC_SLAVE_LIMITS_H

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "codec.h"
#include "drovik.h"

namespace drovik {

class SlaveLimits {
public:
    SlaveLimits();

    // False for an unknown limit or a value out of its range.
    bool set(int32_t limit, int64_t value);
    // -1 for an unknown limit; DROVIK_LIMIT_UNTRUSTED as in force.
    int64_t get(int32_t limit) const;

    int64_t connections() const { return connections_.load(); }
    int64_t perAddress() const { return perAddress_.load(); }
    int64_t untrusted() const { return get(DROVIK_LIMIT_UNTRUSTED); }
    std::chrono::milliseconds handshakeTime() const { return ms(handshakeMs_); }
    std::chrono::milliseconds frameTime() const { return ms(frameMs_); }
    std::chrono::milliseconds silenceTime() const { return ms(silenceMs_); }
    std::chrono::milliseconds untrustedTime() const { return ms(untrustedMs_); }
    size_t outputBytes() const { return static_cast<size_t>(outputBytes_.load()); }
    std::chrono::milliseconds outputTime() const { return ms(outputMs_); }
    uint32_t frameBytes() const { return static_cast<uint32_t>(frameBytes_.load()); }
    uint32_t untrustedFrameBytes() const {
        return static_cast<uint32_t>(get(DROVIK_LIMIT_UNTRUSTED_FRAME_BYTES));
    }

private:
    static std::chrono::milliseconds ms(const std::atomic<int64_t> &v) {
        return std::chrono::milliseconds(v.load());
    }

    std::atomic<int64_t> connections_;
    std::atomic<int64_t> perAddress_{32};
    std::atomic<int64_t> untrusted_{0};  // 0: a quarter of connections_
    std::atomic<int64_t> handshakeMs_{10'000};
    std::atomic<int64_t> frameMs_{30'000};
    std::atomic<int64_t> silenceMs_{60'000};
    std::atomic<int64_t> untrustedMs_{15 * 60'000};
    std::atomic<int64_t> outputBytes_{1 << 20};
    std::atomic<int64_t> outputMs_{30'000};
    std::atomic<int64_t> frameBytes_{wire::kMaxFrameLength};
    std::atomic<int64_t> untrustedFrameBytes_{0};  // 0: as frameBytes_
};

// The address as the connection limits see it: IPv4 as it is (also when mapped into IPv6), IPv6 by
// its /64 prefix, since one subscriber usually holds a whole /64.
std::string addressKeyOf(const asio::ip::address &address);

}  // namespace drovik

#endif  // DROVIK_SRC_SLAVE_LIMITS_H
