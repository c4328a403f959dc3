// The attacks of the attack harness. Each one starts its coroutines on an io_context that one
// thread runs; they stop starting anything new at the target's deadline, and whatever is still
// waiting then is dropped with the io_context.
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace attack {

using Clock = std::chrono::steady_clock;

// How large each attack is.
struct AttackSizes {
    int floodConnections = 4000;       // (a) at once, all from one address
    int idleConnections = 6000;        // (b) 32 per address
    int avatarClients = 20;            // (c) accounts, one per address
    int emptyStringPeers = 8;          // (d) one per address
    int registrationConnections = 20;  // (e)
    int registrationsInFlight = 16;    // (e) per connection
    bool rotateAddresses = false;      // (e) a spent address is left for a fresh one
    int messageAddresses = 4;          // (f)
    int accountsPerAddress = 4;        // (f)
    int unfinishedConnections = 6000;  // (g) 32 per address
};

struct AttackTarget {
    asio::ip::tcp::endpoint server;
    asio::ssl::context *tls = nullptr;  // the attackers' TLS settings; null: a plaintext server
    uint32_t frameLimit = 0;            // the largest frame the server takes, from its log
    std::string goodName;               // the well-behaved account, recipient of private bursts
    Clock::time_point until;
    AttackSizes sizes;

    bool running() const { return Clock::now() < until; }
};

// What an attack did; counted on the attacking thread only.
struct AttackCounts {
    uint64_t connections = 0;  // connected
    uint64_t connectFailures = 0;
    uint64_t handshakes = 0;
    uint64_t closedByServer = 0;  // connections the server ended while the attack held them
    uint64_t jobs = 0;            // job frames sent
    uint64_t accepted = 0;        // jobs the server did (registrations created, messages taken)
    uint64_t refused = 0;         // jobs it refused
    uint64_t bytes = 0;           // bytes sent

    // A short line of the counts that are not zero.
    std::string describe() const;
};

struct Attack {
    char letter;
    const char *name;
    void (*start)(asio::io_context &io, const AttackTarget &target, AttackCounts &counts);
};

// Every attack, (a) to (g).
const std::vector<Attack> &AllAttacks();

// The attacks by kind; each in its own file.
void StartConnectionFlood(asio::io_context &, const AttackTarget &, AttackCounts &);
void StartIdleConnections(asio::io_context &, const AttackTarget &, AttackCounts &);
void StartUnfinishedFrames(asio::io_context &, const AttackTarget &, AttackCounts &);
void StartAvatarHoarders(asio::io_context &, const AttackTarget &, AttackCounts &);
void StartEmptyStrings(asio::io_context &, const AttackTarget &, AttackCounts &);
void StartRegistrations(asio::io_context &, const AttackTarget &, AttackCounts &);
void StartMessageBursts(asio::io_context &, const AttackTarget &, AttackCounts &);

// Waits on the current coroutine's executor.
asio::awaitable<void> Pause(std::chrono::milliseconds duration);

}  // namespace attack
