// Attacks on connections and time: (a) a flood of connections from one address, (b) connections
// that complete the handshake and idle, (g) frames begun and never finished.
#include <array>
#include <memory>
#include <random>

#include "AttackPeer.h"
#include "Attacks.h"
#include "bytes.h"

namespace attack {
namespace {

using namespace std::chrono_literals;

// As many connections as the server leaves open per address by default, so that (b) and (g) meet
// the limits on connections in total and before login rather than the one per address.
constexpr int kPerAddress = 32;

// (a) One connection slot of the flood: silent, or sending garbage; re-opened as soon as the
// server closes it. No TLS handshake: the cheapest connection for the attacker.
asio::awaitable<void> floodSlot(const AttackTarget &t, AttackCounts &c, bool garbage,
                                uint32_t seed) {
    AttackPeer peer(co_await asio::this_coro::executor, SourceAddress(0), t.server, t.tls);
    std::minstd_rand random(seed);
    std::array<uint8_t, 64> junk{};
    while (t.running()) {
        if (!co_await peer.connectTcp()) {
            ++c.connectFailures;
            co_await Pause(1ms);
            continue;
        }
        ++c.connections;
        if (garbage) {
            for (uint8_t &b : junk)
                b = static_cast<uint8_t>(random());
            if (co_await peer.sendBytes(junk.data(), junk.size()))
                c.bytes += junk.size();
        }
        co_await peer.drainUntilClosed();
        ++c.closedByServer;
    }
}

// (b) A connection that shakes hands, asks for an hour of silence and says nothing more.
asio::awaitable<void> idleSlot(const AttackTarget &t, AttackCounts &c, uint32_t address) {
    AttackPeer peer(co_await asio::this_coro::executor, SourceAddress(address), t.server, t.tls);
    while (t.running()) {
        if (!co_await peer.connect()) {
            ++c.connectFailures;
            co_await Pause(100ms);
            continue;
        }
        ++c.connections;
        if (co_await peer.handshake(3'600'000))
            ++c.handshakes;
        co_await peer.drainUntilClosed();
        ++c.closedByServer;
        co_await Pause(100ms);
    }
}

// (g) The frames left unfinished: a HELLO as long as a handshake frame may be, and a JOB as long
// as the server's frame limit, each sent but for its last byte.
struct UnfinishedFrames {
    wire::Frame hello;
    wire::Frame job;
};

std::shared_ptr<const UnfinishedFrames> unfinishedFrames(uint32_t frameLimit) {
    auto frames = std::make_shared<UnfinishedFrames>();
    frames->hello = wire::encodeHello({});
    frames->hello.resize(4 + wire::kMaxHandshakeLength);
    drovik::ByteWriter(frames->hello).patchU32(0, wire::kMaxHandshakeLength);

    ParamList empty;
    empty.addMemory({});
    const size_t bare = wire::encodeJob(1, DROVIK_TYPE_LONG, "User_SetProfileAvatar", empty).size();
    ParamList picture;
    picture.addMemory(std::vector<uint8_t>(4 + size_t{frameLimit} - bare, 0x42));
    frames->job = wire::encodeJob(1, DROVIK_TYPE_LONG, "User_SetProfileAvatar", picture);
    return frames;
}

asio::awaitable<void> unfinishedSlot(const AttackTarget &t, AttackCounts &c, uint32_t address,
                                     bool afterHandshake,
                                     std::shared_ptr<const UnfinishedFrames> frames) {
    AttackPeer peer(co_await asio::this_coro::executor, SourceAddress(address), t.server, t.tls);
    const wire::Frame &frame = afterHandshake ? frames->job : frames->hello;
    while (t.running()) {
        if (!co_await peer.connect()) {
            ++c.connectFailures;
            co_await Pause(100ms);
            continue;
        }
        ++c.connections;
        if (afterHandshake) {
            if (!co_await peer.handshake()) {
                ++c.closedByServer;
                co_await Pause(100ms);
                continue;
            }
            ++c.handshakes;
        }
        if (co_await peer.sendBytes(frame.data(), frame.size() - 1))
            c.bytes += frame.size() - 1;
        co_await peer.drainUntilClosed();
        ++c.closedByServer;
        co_await Pause(100ms);
    }
}

}  // namespace

void StartConnectionFlood(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    for (int i = 0; i < t.sizes.floodConnections; ++i)
        asio::co_spawn(io, floodSlot(t, c, i % 2 == 1, static_cast<uint32_t>(i)), asio::detached);
}

void StartIdleConnections(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    for (int i = 0; i < t.sizes.idleConnections; ++i)
        asio::co_spawn(io, idleSlot(t, c, static_cast<uint32_t>(i / kPerAddress)), asio::detached);
}

void StartUnfinishedFrames(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    auto frames = unfinishedFrames(t.frameLimit);
    for (int i = 0; i < t.sizes.unfinishedConnections; ++i)
        asio::co_spawn(
            io, unfinishedSlot(t, c, static_cast<uint32_t>(i / kPerAddress), i % 2 == 1, frames),
            asio::detached);
}

}  // namespace attack
