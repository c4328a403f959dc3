#include "ConnectAndThroughput.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "../Percentile.h"
#include "FarEnd.h"
#include "JobClient.h"
#include "Timing.h"
#include "drovik.h"

namespace {

constexpr int kMasters = 16;
constexpr auto kSlice = std::chrono::milliseconds(500);
constexpr auto kConnectBudget = std::chrono::seconds(20);

// The master of the connect loop, released however the loop ends.
struct MasterHandle {
    intptr_t handle = Drovik_Master_Init(nullptr);
    ~MasterHandle() { Drovik_Master_DeInit(handle); }
};

using Clients = std::vector<std::unique_ptr<JobClient>>;

Clients openClients(int32_t port, int32_t transport, const std::string &known) {
    Clients clients;
    for (int i = 0; i < kMasters; ++i)
        clients.push_back(std::make_unique<JobClient>(port, transport, known, false));
    return clients;
}

struct Tally {
    long jobs = 0;
    double seconds = 0;
};

// Each client calls on a thread of its own, one job in flight at a time, as the client's callers
// do, for one slice.
void runSlice(Clients &clients, Tally &tally) {
    std::atomic<bool> stop{false};
    std::atomic<long> jobs{0};
    std::mutex failureMutex;
    std::string failure;
    std::vector<std::thread> threads;
    const auto t0 = Clock::now();
    for (auto &c : clients)
        threads.emplace_back([&, client = c.get()] {
            try {
                while (!stop.load(std::memory_order_relaxed)) {
                    client->call();
                    jobs.fetch_add(1, std::memory_order_relaxed);
                }
            } catch (const std::exception &e) {
                std::lock_guard lock(failureMutex);
                failure = e.what();
            }
        });
    std::this_thread::sleep_for(kSlice);
    stop = true;
    for (auto &t : threads)
        t.join();
    tally.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    tally.jobs += jobs.load();
    if (!failure.empty())
        throw std::runtime_error(failure);
}

}  // namespace

void MeasureConnects(FarEnd &far, const std::string &knownServersFile, int count) {
    MasterHandle master;
    auto connect = [&](int32_t port, int32_t transport) {
        auto t0 = Clock::now();
        intptr_t slave = Drovik_Master_AddSlave(master.handle, "127.0.0.1", port, "bench",
                                                transport, knownServersFile.c_str(), "", 0, 5);
        auto t1 = Clock::now();
        if (slave == 0) {
            const char *text = Drovik_Master_GetLastError(master.handle);
            throw std::runtime_error(std::string("connect: ") + (text ? text : "failed"));
        }
        Drovik_Master_RemoveSlave(master.handle, slave);
        return Microseconds(t1 - t0);
    };
    // Not timed: the first TLS connect of a run may pin the key, and both warm the caches.
    connect(far.tlsPort(), DROVIK_TRANSPORT_TLS);
    connect(far.plaintextPort(), DROVIK_TRANSPORT_PLAINTEXT);
    std::vector<double> tls, plaintext;
    const auto end = Clock::now() + kConnectBudget;
    for (int i = 0; i < count && Clock::now() < end; ++i) {
        tls.push_back(connect(far.tlsPort(), DROVIK_TRANSPORT_TLS));
        plaintext.push_back(connect(far.plaintextPort(), DROVIK_TRANSPORT_PLAINTEXT));
    }
    std::printf(
        "\nconnect (AddSlave: TCP connect, hello; TLS with its handshake), each removed "
        "after, alternating\n");
    std::printf("  TLS        p50 %8.1f us   p99 %8.1f us   (%zu connects)\n", Percentile(tls, 0.5),
                Percentile(tls, 0.99), tls.size());
    std::printf("  plaintext  p50 %8.1f us   p99 %8.1f us   (%zu connects)\n",
                Percentile(plaintext, 0.5), Percentile(plaintext, 0.99), plaintext.size());
}

void MeasureThroughput(FarEnd &far, const std::string &knownServersFile, double seconds) {
    Clients tls = openClients(far.tlsPort(), DROVIK_TRANSPORT_TLS, knownServersFile);
    Clients plaintext =
        openClients(far.plaintextPort(), DROVIK_TRANSPORT_PLAINTEXT, knownServersFile);
    const int slices = std::max(1, static_cast<int>(Seconds(seconds) / kSlice));
    Tally tlsTally, plaintextTally;
    for (int i = 0; i < slices; ++i) {
        runSlice(tls, tlsTally);
        runSlice(plaintext, plaintextTally);
    }
    std::printf("\n%d masters, one blocking job in flight each, alternating slices of %lld ms\n",
                kMasters, static_cast<long long>(kSlice.count()));
    std::printf("  TLS        %8.0f jobs/s\n", tlsTally.jobs / tlsTally.seconds);
    std::printf("  plaintext  %8.0f jobs/s\n", plaintextTally.jobs / plaintextTally.seconds);
}
