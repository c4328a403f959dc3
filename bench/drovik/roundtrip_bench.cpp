// Round trips of the cluster library on loopback against a raw TCP echo, with and without TLS.
//
// Usage: bench_drovik_roundtrip [--seconds S] [--connects N] [--cpu C]
//                               [--pinned-only | --unpinned-only]
//   --seconds S       length of each timed phase (default 3); a run takes about 6 S + 5 seconds
//   --connects N      connects timed per transport (default 200)
//   --cpu C           the core of the pinned run (default 0)
//   --pinned-only     round trips, blocks and switches only pinned to one core
//   --unpinned-only   round trips, blocks and switches only unpinned
//
// It prints, every figure bounded in time:
// 1. Round trip of a blocking job with a 4-byte reply, over TLS and over plaintext, and of a raw
//    TCP echo of 4 bytes (Nagle's delay off), alternating in rounds of 500 so that all three see
//    the same machine: p50, p99 and their ratio to the echo's. A job is timed from DoJob to its
//    callback ("callback": what the library does) and to the wake-up of the thread that waits
//    for it ("waiter": what a blocking caller such as the client sees).
// 2. Alternating blocks of 1,000 blocking calls of each kind: mean time per call and its ratio to
//    the echo's.
// 3. In those blocks, context switches per call (voluntary and involuntary) of each end: the
//    master's process and the slave's, counted with getrusage(RUSAGE_SELF) in each.
// 4. 1 to 3 twice: unpinned, and pinned to one core. For the pinned run the program executes
//    itself again after sched_setaffinity, so every thread of it and of its far end (a forked
//    child) inherits the single core.
// 5. Connect time: p50 and p99 of Drovik_Master_AddSlave (TCP connect, hello and, for TLS, the
//    handshake), each connection removed after, TLS and plaintext alternating.
// 6. Jobs per second of 16 masters with one blocking job in flight each, TLS and plaintext
//    alternating in half-second slices.
// and the load average at start and end, to tell whether the machine was idle.
//
// The masters run in this process; the slaves and the echo server in a child process (FarEnd),
// as client and server run apart. Slave keys are pinned in a known-servers file in a temporary
// folder of the run's own, removed at the end: the user's file is never touched.
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ConnectAndThroughput.h"
#include "FarEnd.h"
#include "RoundTripSection.h"

namespace {

struct Options {
    double seconds = 3;
    int connects = 200;
    int cpu = 0;
    bool pinnedOnly = false, unpinnedOnly = false;
    bool pinnedCopy = false;  // internal: this process is the pinned copy
};

void printLoad(const char *when) {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen, tasks;
    file >> one >> five >> fifteen >> tasks;
    std::printf("load average %s: %s %s %s (1, 5, 15 min; running/threads %s)\n", when, one.c_str(),
                five.c_str(), fifteen.c_str(), tasks.c_str());
}

// A temporary folder of the run's own for the known-servers file. XDG_CONFIG_HOME points there
// too, so that even a default the library might fall back to stays out of the user's folder.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "drovik-roundtrip-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("no temporary folder in " + pattern);
        path_ = pattern;
        setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string knownServersFile() const { return (path_ / "known_servers").string(); }

private:
    std::filesystem::path path_;
};

// Runs 1 to 3 in a copy of this program pinned to one core. The affinity is set between fork and
// exec, so the copy, every thread it starts and the far end it forks all inherit it.
bool runPinnedCopy(const Options &o) {
    // Everything the child needs is made before fork: after it only exec-safe calls remain.
    std::vector<std::string> args = {
        "bench_drovik_roundtrip", "--pinned-copy", "--cpu",
        std::to_string(o.cpu),    "--seconds",     std::to_string(o.seconds)};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(o.cpu, &cpus);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (sched_setaffinity(0, sizeof cpus, &cpus) != 0) {
            static const char text[] = "bench: cannot pin to that CPU\n";
            (void)!write(2, text, sizeof text - 1);
            _exit(2);
        }
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    // The copy bounds its own waits, so this wait ends.
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The pinned copy: checks that it is pinned, then prints 1 to 3.
void runAsPinnedCopy(const Options &o) {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) != 1 ||
        !CPU_ISSET(o.cpu, &cpus))
        throw std::runtime_error("pinned copy: not pinned to CPU " + std::to_string(o.cpu));
    TempFolder folder;
    FarEnd far;
    far.start();
    std::printf("\n== pinned: this process, the far end and all their threads on CPU %d\n", o.cpu);
    RunRoundTripSection(far, folder.knownServersFile(), o.seconds);
}

int allowedCores() {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? CPU_COUNT(&cpus) : 0;
}

bool coreAllowed(int cpu) {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_ISSET(cpu, &cpus);
}

int run(const Options &o) {
    if (o.pinnedCopy) {
        runAsPinnedCopy(o);
        return 0;
    }
    // Refused before anything is measured rather than after half of the run.
    if (!o.unpinnedOnly && !coreAllowed(o.cpu))
        throw std::runtime_error("CPU " + std::to_string(o.cpu) +
                                 " is not among this process's allowed cores");
    printLoad("at start");
    std::printf(
        "%u cores, %d allowed to this process; masters here, slaves and echo server in a "
        "child process\n",
        std::thread::hardware_concurrency(), allowedCores());
    TempFolder folder;
    FarEnd far;
    far.start();  // before this process starts any thread
    if (!o.pinnedOnly) {
        std::printf("\n== unpinned: threads free to run on any allowed core\n");
        RunRoundTripSection(far, folder.knownServersFile(), o.seconds);
    }
    bool pinnedOk = o.unpinnedOnly || runPinnedCopy(o);
    MeasureConnects(far, folder.knownServersFile(), o.connects);
    MeasureThroughput(far, folder.knownServersFile(), o.seconds);
    std::printf("\n");
    printLoad("at end");
    if (!pinnedOk)
        std::fprintf(stderr, "bench: the pinned run failed\n");
    return pinnedOk ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    CLI::App app{
        "Round trips of the cluster library on loopback against a raw TCP echo, with "
        "and without TLS, unpinned and pinned to one core; connect time; jobs per "
        "second of 16 masters. The masters run in this process, the slaves and the echo "
        "server in a child process. A run takes about 6 x --seconds plus a few seconds."};
    app.option_defaults()->always_capture_default();
    app.add_option("--seconds", o.seconds, "Length of each timed phase")
        ->check(CLI::Range(0.5, 60.0));
    app.add_option("--connects", o.connects, "Connects timed per transport")
        ->check(CLI::Range(1, 10000));
    app.add_option("--cpu", o.cpu, "The core of the pinned run")
        ->check(CLI::Range(0, CPU_SETSIZE - 1));
    auto *pinned = app.add_flag("--pinned-only", o.pinnedOnly,
                                "Round trips, blocks and switches only pinned to one core");
    app.add_flag("--unpinned-only", o.unpinnedOnly,
                 "Round trips, blocks and switches only unpinned")
        ->excludes(pinned);
    app.add_flag("--pinned-copy", o.pinnedCopy, "Internal: this process is the pinned copy")
        ->group("");
    app.footer(
        "Prints p50/p99 of a blocking job's round trip (to its callback and to the waiting "
        "thread) over TLS and plaintext against a 4-byte raw TCP echo, the mean of alternating "
        "blocks of 1,000 calls and the context switches per call of master and slave, each "
        "unpinned and pinned; then connect time and 16-master throughput with and without TLS, "
        "and the load average at start and end. Known keys go to a temporary folder of the "
        "run's own.");
    CLI11_PARSE(app, argc, argv);
    signal(SIGPIPE, SIG_IGN);
    try {
        return run(o);
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "bench: %s\n", e.what());
        return 1;
    }
}
