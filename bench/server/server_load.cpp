// Load generator for the community server: N simulated clients, each its own connection, that
// log in and then poll and chat at the chat client's rates (see LoadWorker.cpp). Prints p50 and
// p99 round trip, messages sent, delivered and lost, and the server's CPU and memory.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "HeapReuse.h"
#include "LoadStats.h"
#include "LoadWorker.h"
#include "SlowJobs.h"

namespace {

// Descriptors the library's master uses per connection (socket, and its own event loop's), with
// room to spare; measured on Linux.
constexpr int kDescriptorsPerConnection = 5;

struct Child {
    pid_t pid = -1;
    int ready = -1, go = -1, result = -1;
};

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

int autoProcesses(int clients) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    long usable = long(limit.rlim_cur) - 200;
    long perProcess = std::max(1L, usable / kDescriptorsPerConnection);
    return int((clients + perProcess - 1) / perProcess);
}

}  // namespace

int main(int argc, char **argv) {
    // As the chat client does; the worker processes forked below inherit it.
    KeepFreedMemoryForReuse();
    LoadOptions o;
    CLI::App app{"Load generator for the community server"};
    app.option_defaults()->always_capture_default();
    app.add_option("--host", o.host, "Server address");
    app.add_option("--port", o.ports,
                   "Server port; given several times, the nodes of one community, each client "
                   "connecting to them in turn")
        ->required();
    app.add_option("--clients", o.clients, "Simulated clients, one connection each");
    app.add_option("--processes", o.processes,
                   "Processes sharing the clients (0: as many as the open-file limit needs)");
    app.add_option("--masters", o.masters, "Library masters per process");
    app.add_option("--warmup", o.warmupSeconds, "Seconds of chat before measuring");
    app.add_option("--duration", o.durationSeconds, "Seconds measured");
    app.add_option("--drain", o.drainSeconds,
                   "Most seconds of polling after the last send, until every message arrived");
    app.add_option("--poll-ms", o.pollMs, "Message collection interval per client");
    app.add_option("--list-ms", o.listMs, "Online list interval per client");
    app.add_option("--chat-ms", o.chatMs, "Private message interval per client");
    app.add_option("--global-ms", o.globalMs, "Global message interval per process");
    app.add_option("--server-pid", o.serverPids,
                   "Server process, for its CPU and memory (may be given for each node)");
    app.add_option("--watch", o.watchNames,
                   "Name of other processes to measure the CPU of, e.g. postgres, redis-server");
    app.add_option("--prefix", o.prefix, "Prefix of the user names");
    app.add_flag("--plaintext", o.plaintext,
                 "Connect without TLS, to a server started with --plaintext");
    app.add_flag("--probe-stalls", o.probeStalls,
                 "While measuring, a thread on each processor sleeps 1 ms at a time and counts "
                 "the wake-ups more than 3 ms late (the machine's own stalls), and the bursts of "
                 "slow round trips that began in one; costs about 1,000 wake-ups a second per "
                 "processor");
    app.add_option("--known-servers", o.knownServersFile,
                   "Known-servers file for the server's key (empty: the user's own)");
    CLI11_PARSE(app, argc, argv);
    if (o.processes <= 0)
        o.processes = autoProcesses(o.clients);

    // The workers are forked before any library thread exists.
    std::vector<Child> children;
    int first = 0;
    for (int p = 0; p < o.processes; ++p) {
        int share = o.clients / o.processes + (p < o.clients % o.processes ? 1 : 0);
        int ready[2], go[2], result[2];
        if (pipe(ready) || pipe(go) || pipe(result)) {
            std::perror("pipe");
            return 1;
        }
        pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(go[1]);
            close(result[0]);
            RunLoadWorker(o, {p, first, share, ready[1], go[0], result[1]});
        }
        close(ready[1]);
        close(go[0]);
        close(result[1]);
        children.push_back({pid, ready[0], go[1], result[0]});
        first += share;
    }

    auto t0 = std::chrono::steady_clock::now();
    long loggedIn = 0;
    for (Child &c : children) {
        std::string line = readLine(c.ready);
        if (line.rfind("ready ", 0) != 0) {
            std::fprintf(stderr, "a worker process failed before its clients were logged in\n");
            for (Child &k : children)
                kill(k.pid, SIGKILL);
            return 1;
        }
        loggedIn += std::stol(line.substr(6));
    }
    std::printf("%ld of %d clients connected (%s) and logged in over %d processes in %.1f s\n",
                loggedIn, o.clients, o.plaintext ? "plaintext" : "TLS", o.processes,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    std::fflush(stdout);
    for (Child &c : children)
        if (write(c.go, "go\n", 3) != 3)
            return 1;

    // The server is measured over the workers' window.
    std::this_thread::sleep_for(std::chrono::seconds(o.warmupSeconds));
    std::vector<double> serverCpu;
    std::vector<uint64_t> serverSwitches;
    for (int pid : o.serverPids) {
        serverCpu.push_back(ProcessCpuSeconds(pid));
        serverSwitches.push_back(ProcessContextSwitches(pid));
    }
    std::vector<std::map<int, double>> watched;
    for (const std::string &name : o.watchNames)
        watched.push_back(CpuSecondsByProcessNamed(name));
    auto m0 = std::chrono::steady_clock::now();
    std::optional<StallProbe> probe;
    if (o.probeStalls)
        probe.emplace();
    std::this_thread::sleep_for(std::chrono::seconds(o.durationSeconds));
    if (probe)
        probe->stop();
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m0).count();
    for (size_t i = 0; i < o.serverPids.size(); ++i) {
        serverCpu[i] = ProcessCpuSeconds(o.serverPids[i]) - serverCpu[i];
        serverSwitches[i] = ProcessContextSwitches(o.serverPids[i]) - serverSwitches[i];
    }
    std::vector<double> watchedCpu;
    for (size_t i = 0; i < o.watchNames.size(); ++i)
        watchedCpu.push_back(
            CpuSecondsBetween(watched[i], CpuSecondsByProcessNamed(o.watchNames[i])));

    auto perKind = std::make_unique<LatencyHistogram[]>(kKinds);
    auto all = std::make_unique<LatencyHistogram>();
    std::map<std::string, uint64_t> counters;
    struct Global {
        bool acked = false;
        uint64_t deliveries = 0;
    };
    std::map<std::string, Global> globals;
    SlowJobs slow;
    bool complete = true;
    for (Child &c : children) {
        bool ended = false;
        for (std::string line; !(line = readLine(c.result)).empty();) {
            std::istringstream in(line);
            std::string tag;
            in >> tag;
            if (tag == "H") {
                int kind = 0;
                size_t step = 0;
                uint64_t n = 0;
                in >> kind >> step >> n;
                perKind[size_t(kind)].addStep(step, n);
                if (kind >= 2)  // the steady jobs; logins ran before the window
                    all->addStep(step, n);
            } else if (tag == "C") {
                std::string name;
                uint64_t value = 0;
                in >> name >> value;
                counters[name] += value;
            } else if (tag == "S") {
                int64_t window = 0;
                uint64_t n = 0;
                in >> window >> n;
                slow.add(window, n);
            } else if (tag == "G") {
                std::string text;
                int acked = 0;
                uint64_t n = 0;
                in >> text >> acked >> n;
                globals[text].acked |= acked != 0;
                globals[text].deliveries += n;
            } else if (tag == "END") {
                ended = true;
            }
        }
        int status = 0;
        waitpid(c.pid, &status, 0);
        complete = complete && ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    uint64_t globalsSent = 0, globalDelivered = 0, globalLost = 0;
    for (auto &[text, g] : globals) {
        if (!g.acked)
            continue;
        ++globalsSent;
        globalDelivered += g.deliveries;
        if (g.deliveries < uint64_t(o.clients))
            globalLost += uint64_t(o.clients) - g.deliveries;
    }
    auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    uint64_t measured = all->count();
    std::printf(
        "measured %.1f s after %d s warm-up: %llu jobs (%.0f per second), %llu error "
        "events, %llu connection events\n",
        elapsed, o.warmupSeconds, u(measured), double(measured) / elapsed, u(counters["errors"]),
        u(counters["connection_events"]));
    std::printf("round trip: p50 %.2f ms, p99 %.2f ms, p99.9 %.2f ms\n", all->percentileMs(0.50),
                all->percentileMs(0.99), all->percentileMs(0.999));
    for (int k = 2; k < kKinds; ++k)
        std::printf("  %-24s %8llu jobs, p50 %.2f ms, p99 %.2f ms\n", kJobNames[k],
                    u(perKind[size_t(k)].count()), perKind[size_t(k)].percentileMs(0.50),
                    perKind[size_t(k)].percentileMs(0.99));
    const TailReport tail =
        ExplainTail(slow.windows(), probe ? probe->stalls() : std::vector<StallProbe::Stall>{});
    std::printf(
        "round trips over %lld ms: %llu; %llu of them in %llu bursts (%llu or more in %lld ms)",
        static_cast<long long>(kSlowJob.count()), u(tail.slowJobs), u(tail.jobsInBursts),
        u(tail.bursts), u(kBurstJobs), static_cast<long long>(kSlowWindow.count()));
    if (probe)
        std::printf(
            ", %llu in the %llu bursts that began while the machine stalled\n"
            "machine stalls: a 1-ms sleeper on each processor woke more than 3 ms late "
            "%llu times; the longest gap was %.1f ms\n",
            u(tail.jobsInStallBursts), u(tail.burstsInStalls), u(tail.stalls), tail.longestStallMs);
    else
        std::printf("\n");
    std::printf(
        "private messages: sent %llu, acknowledged %llu, refused %llu, delivered %llu, "
        "lost %llu, duplicated %llu\n",
        u(counters["sent"]), u(counters["acked"]), u(counters["refused"]), u(counters["delivered"]),
        u(counters["lost"]), u(counters["duplicates"]));
    if (counters["unacked"] || counters["unknown"])
        std::printf("  (delivered without acknowledgement %llu, unknown texts %llu)\n",
                    u(counters["unacked"]), u(counters["unknown"]));
    std::printf("global messages: sent %llu, deliveries expected %llu, delivered %llu, lost %llu\n",
                u(globalsSent), u(globalsSent * uint64_t(o.clients)), u(globalDelivered),
                u(globalLost));
    uint64_t switches = 0;
    for (size_t i = 0; i < o.serverPids.size(); ++i) {
        const int pid = o.serverPids[i];
        std::printf(
            "server%s: CPU %.0f%% of one core, %.0f context switches a second, memory "
            "%.1f MiB (peak %.1f MiB)\n",
            o.serverPids.size() > 1 ? (" " + std::to_string(i + 1)).c_str() : "",
            100.0 * serverCpu[i] / elapsed, double(serverSwitches[i]) / elapsed,
            ProcessMemoryMiB(pid, "VmRSS"), ProcessMemoryMiB(pid, "VmHWM"));
        switches += serverSwitches[i];
    }
    if (measured > 0)
        std::printf("server context switches per job: %.2f\n", double(switches) / double(measured));
    for (size_t i = 0; i < o.watchNames.size(); ++i)
        std::printf("%s (all its processes): CPU %.0f%% of one core\n", o.watchNames[i].c_str(),
                    100.0 * watchedCpu[i] / elapsed);
    std::printf("load generator: CPU %.0f%% of one core\n",
                100.0 * double(counters["cpu_ms"]) / 1000.0 / elapsed);
    if (!complete)
        std::printf("a worker process did not finish cleanly: the figures are incomplete\n");
    return complete && counters["lost"] == 0 && globalLost == 0 ? 0 : 2;
}
