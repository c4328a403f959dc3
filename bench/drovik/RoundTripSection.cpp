#include "RoundTripSection.h"

#include <cstdio>
#include <vector>

#include "../Percentile.h"
#include "FarEnd.h"
#include "JobClient.h"
#include "RawEcho.h"
#include "Timing.h"
#include "drovik.h"

namespace {

constexpr int kWarmUp = 1000;          // calls of each kind before anything is timed
constexpr int kRound = 500;            // timed round trips of one kind before the next kind
constexpr size_t kMaxSamples = 50000;  // per kind
constexpr int kBlock = 1000;           // calls in a block of the means and switch counts
constexpr int kMaxBlockRounds = 20;

struct JobTimes {
    std::vector<double> toCallback, toWaiter;
};

void timeJob(JobClient &client, JobTimes &times) {
    auto t0 = Clock::now();
    auto calledBack = client.call();
    auto t1 = Clock::now();
    times.toCallback.push_back(Microseconds(calledBack - t0));
    times.toWaiter.push_back(Microseconds(t1 - t0));
}

struct RoundTrips {
    std::vector<double> echo;
    JobTimes tls, plaintext;
};

// Echo, TLS job and plaintext job in turns of kRound, so that load from the rest of the machine
// falls on all three alike and their ratios stay fair.
RoundTrips measureRoundTrips(EchoClient &echo, JobClient &tls, JobClient &plaintext,
                             double duration) {
    RoundTrips r;
    const auto end = Clock::now() + Seconds(duration);
    while (r.echo.size() < kMaxSamples && Clock::now() < end) {
        for (int i = 0; i < kRound; ++i) {
            auto t0 = Clock::now();
            echo.roundTrip();
            r.echo.push_back(Microseconds(Clock::now() - t0));
        }
        for (int i = 0; i < kRound; ++i)
            timeJob(tls, r.tls);
        for (int i = 0; i < kRound; ++i)
            timeJob(plaintext, r.plaintext);
    }
    return r;
}

void printRoundTrips(RoundTrips &r) {
    const double echo50 = Percentile(r.echo, 0.5), echo99 = Percentile(r.echo, 0.99);
    std::printf("  round trip, 4 bytes         p50 us    p99 us   p50/echo  p99/echo  samples\n");
    std::printf("  raw TCP echo              %8.1f  %8.1f                       %6zu\n", echo50,
                echo99, r.echo.size());
    auto line = [&](const char *name, std::vector<double> &us) {
        const double p50 = Percentile(us, 0.5), p99 = Percentile(us, 0.99);
        std::printf("  %-24s  %8.1f  %8.1f   %8.2f  %8.2f   %6zu\n", name, p50, p99, p50 / echo50,
                    p99 / echo99, us.size());
    };
    line("job over TLS, callback", r.tls.toCallback);
    line("job over TLS, waiter", r.tls.toWaiter);
    line("job plaintext, callback", r.plaintext.toCallback);
    line("job plaintext, waiter", r.plaintext.toWaiter);
}

// What the blocks of one kind of call add up to: time, calls and each end's context switches.
struct BlockFigures {
    double seconds = 0;
    long calls = 0;
    Switches master, slave;
};

// One block of kBlock calls. The far end is asked for its counts outside the timed part; its
// answer costs it about one switch per block.
template <class Call>
void runBlock(FarEnd &far, BlockFigures &figures, Call call) {
    const Switches slaveBefore = far.switches();
    const Switches masterBefore = OwnSwitches();
    const auto t0 = Clock::now();
    for (int i = 0; i < kBlock; ++i)
        call();
    const auto t1 = Clock::now();
    figures.master += OwnSwitches() - masterBefore;
    figures.slave += far.switches() - slaveBefore;
    figures.seconds += std::chrono::duration<double>(t1 - t0).count();
    figures.calls += kBlock;
}

struct Blocks {
    BlockFigures echo, tls, plaintext;
    int rounds = 0;
};

Blocks measureBlocks(FarEnd &far, EchoClient &echo, JobClient &tls, JobClient &plaintext,
                     double duration) {
    Blocks b;
    const auto end = Clock::now() + Seconds(duration);
    do {
        runBlock(far, b.echo, [&] { echo.roundTrip(); });
        runBlock(far, b.tls, [&] { tls.call(); });
        runBlock(far, b.plaintext, [&] { plaintext.call(); });
        ++b.rounds;
    } while (Clock::now() < end && b.rounds < kMaxBlockRounds);
    return b;
}

void printBlocks(const Blocks &b) {
    std::printf("\n  blocks of %d blocking calls, %d of each kind, alternating\n", kBlock,
                b.rounds);
    std::printf(
        "                             mean us   mean/echo   switches per call: "
        "master (invol.)  slave (invol.)\n");
    const double echoMean = b.echo.seconds / b.echo.calls * 1e6;
    auto line = [&](const char *name, const BlockFigures &f) {
        const double mean = f.seconds / f.calls * 1e6, calls = static_cast<double>(f.calls);
        std::printf("  %-24s  %8.1f   %8.2f                       %6.2f (%5.2f)   %6.2f (%5.2f)\n",
                    name, mean, mean / echoMean, f.master.total() / calls,
                    f.master.involuntary / calls, f.slave.total() / calls,
                    f.slave.involuntary / calls);
    };
    line("raw TCP echo", b.echo);
    line("job over TLS", b.tls);
    line("job plaintext", b.plaintext);
}

}  // namespace

void RunRoundTripSection(FarEnd &far, const std::string &knownServersFile, double seconds) {
    EchoClient echo(far.echoPort());
    JobClient tls(far.tlsPort(), DROVIK_TRANSPORT_TLS, knownServersFile);
    JobClient plaintext(far.plaintextPort(), DROVIK_TRANSPORT_PLAINTEXT, knownServersFile);
    for (int i = 0; i < kWarmUp; ++i) {
        echo.roundTrip();
        tls.call();
        plaintext.call();
    }
    RoundTrips r = measureRoundTrips(echo, tls, plaintext, seconds);
    printRoundTrips(r);
    printBlocks(measureBlocks(far, echo, tls, plaintext, seconds));
}
