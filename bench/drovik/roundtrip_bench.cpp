// Round trip of a job with a 4-byte reply on loopback, against a raw TCP echo of 4 bytes with
// Nagle's delay off: p50 and p99 of both and their ratio. A job's round trip is measured from
// DoJob to its callback ("callback": what the library does) and to the wake-up of the thread that
// waits for it ("waiter": what a blocking caller such as the client sees). Then jobs per second
// with 16 masters, each with one job in flight at a time, as the client works. Every figure is
// bounded in time.
#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <semaphore>
#include <thread>
#include <vector>

#include "drovik.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMeasureTime = std::chrono::seconds(3);
constexpr int kMaxSamples = 50000;
constexpr int kWarmUp = 2000;
constexpr int kRound = 500;  // round trips of one kind before switching to the other

struct Percentiles {
    double p50 = 0, p99 = 0;
    size_t samples = 0;
};

Percentiles percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    Percentiles p;
    p.samples = us.size();
    if (us.empty())
        return p;
    p.p50 = us[us.size() / 2];
    p.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    return p;
}

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// A raw TCP echo of 4 bytes: a thread blocked in read answers at once; the client writes and reads.
class RawEcho {
public:
    RawEcho() : acceptor_(io_, {asio::ip::address_v4::loopback(), 0}), client_(io_) {
        server_ = std::thread([this] {
            auto s = acceptor_.accept();
            s.set_option(asio::ip::tcp::no_delay(true));
            uint8_t b[4];
            asio::error_code ec;
            while (!ec) {
                asio::read(s, asio::buffer(b), ec);
                if (!ec)
                    asio::write(s, asio::buffer(b), ec);
            }
        });
        client_.connect(acceptor_.local_endpoint());
        client_.set_option(asio::ip::tcp::no_delay(true));
    }
    ~RawEcho() {
        client_.close();
        server_.join();
    }
    void roundTrip() {
        uint8_t out[4] = {1, 2, 3, 4}, in[4];
        asio::write(client_, asio::buffer(out));
        asio::read(client_, asio::buffer(in));
    }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    asio::ip::tcp::socket client_;
    std::thread server_;
};

int32_t DROVIK_CALL pingJob(intptr_t, intptr_t, intptr_t job, intptr_t, intptr_t) {
    Drovik_Return_Long(job, 1);
    return DROVIK_EVENT_FINISHED;
}

// One waiting caller per master, as the client has: the callback stores the time and releases
// the waiter.
struct Waiter {
    std::binary_semaphore done{0};
    Clock::time_point calledBack;
};
// Filled before any job runs, only read afterwards.
std::map<intptr_t, Waiter *> gWaiters;

int32_t DROVIK_CALL replyCallback(intptr_t master, intptr_t, intptr_t, int32_t event, void *data,
                                  int32_t, int32_t) {
    Drovik_FreeMemory(data);
    if (event == DROVIK_EVENT_STREAM)
        return 0;
    Waiter *w = gWaiters.at(master);
    w->calledBack = Clock::now();
    w->done.release();
    return 0;
}

struct Client {
    intptr_t master = 0, slave = 0;
    Waiter waiter;

    bool open(int32_t port) {
        master = Drovik_Master_Init(nullptr);
        gWaiters[master] = &waiter;
        slave = Drovik_Master_AddSlave(master, "127.0.0.1", port, "bench", 0, "", "", 0, 5);
        if (slave == 0)
            std::fprintf(stderr, "connect: %s\n", Drovik_Master_GetLastError(master));
        return slave != 0;
    }
    // A blocking job: submit, wait for the outcome. Returns when the callback ran.
    Clock::time_point call() {
        Drovik_Master_DoJob(master, "Ping", slave, 0, &replyCallback, DROVIK_TYPE_LONG, 0, 0, 0, 0,
                            0, 0, 1);
        waiter.done.acquire();
        return waiter.calledBack;
    }
    ~Client() { Drovik_Master_DeInit(master); }
};

}  // namespace

int main() {
    int32_t port = 0;
    intptr_t slave = Drovik_Slave_Init("127.0.0.1", 0, nullptr, 0, &port);
    if (slave == 0) {
        std::fprintf(stderr, "slave: %s\n", Drovik_Slave_GetLastError(0));
        return 1;
    }
    Drovik_Slave_AddJob(slave, "Ping", &pingJob, "", 0);

    // Echo and job round trips alternate in short rounds, so that both see the same load from the
    // rest of the machine and their ratio stays fair.
    std::vector<double> echoUs, toCallback, toWaiter;
    {
        RawEcho echo;
        Client c;
        if (!c.open(port))
            return 1;
        for (int i = 0; i < kWarmUp; ++i) {
            echo.roundTrip();
            c.call();
        }
        auto end = Clock::now() + kMeasureTime;
        while (echoUs.size() < kMaxSamples && Clock::now() < end) {
            for (int i = 0; i < kRound; ++i) {
                auto t0 = Clock::now();
                echo.roundTrip();
                echoUs.push_back(microseconds(Clock::now() - t0));
            }
            for (int i = 0; i < kRound; ++i) {
                auto t0 = Clock::now();
                auto calledBack = c.call();
                auto t1 = Clock::now();
                toCallback.push_back(microseconds(calledBack - t0));
                toWaiter.push_back(microseconds(t1 - t0));
            }
        }
    }
    Percentiles echo = percentiles(echoUs), viaCallback = percentiles(toCallback),
                viaWaiter = percentiles(toWaiter);
    std::printf("raw TCP echo, 4 bytes:       p50 %7.1f us   p99 %7.1f us   (%zu samples)\n",
                echo.p50, echo.p99, echo.samples);
    std::printf("job, 4-byte reply, callback: p50 %7.1f us   p99 %7.1f us   (%zu samples)\n",
                viaCallback.p50, viaCallback.p99, viaCallback.samples);
    std::printf("job, 4-byte reply, waiter:   p50 %7.1f us   p99 %7.1f us\n", viaWaiter.p50,
                viaWaiter.p99);
    std::printf("ratio job/echo (callback):   p50 %7.2f      p99 %7.2f      (goal: 1.3 and 2)\n",
                viaCallback.p50 / echo.p50, viaCallback.p99 / echo.p99);
    std::printf("ratio job/echo (waiter):     p50 %7.2f      p99 %7.2f\n", viaWaiter.p50 / echo.p50,
                viaWaiter.p99 / echo.p99);

    constexpr int kMasters = 16;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kMasters; ++i) {
        clients.push_back(std::make_unique<Client>());
        if (!clients.back()->open(port))
            return 1;
    }
    std::atomic<bool> stop{false};
    std::atomic<long> jobs{0};
    std::vector<std::thread> threads;
    auto t0 = Clock::now();
    for (auto &c : clients)
        threads.emplace_back([&, client = c.get()] {
            long n = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                client->call();
                ++n;
            }
            jobs += n;
        });
    std::this_thread::sleep_for(kMeasureTime);
    stop = true;
    for (auto &t : threads)
        t.join();
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("16 masters, one job in flight each: %.0f jobs/s\n", jobs / seconds);
    clients.clear();
    Drovik_Slave_DeInit(slave);
    return 0;
}
