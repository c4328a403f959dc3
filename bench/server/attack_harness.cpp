// Attack harness: for each attack, starts a community server on a fresh store, runs the attack
// from source addresses 127.0.0.2 and up while a well-behaved client on 127.0.0.1 logs in and
// polls at the client's rates, and prints what that client got (jobs, failures, p50 and p99) and
// what the attack cost the server (peak memory growth, CPU seconds). The goal per attack: no
// failure, p99 at most 50 ms, memory growth at most 100 MiB, the server still up.
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "AttackPeer.h"
#include "Attacks.h"
#include "BenchServer.h"
#include "GoodClient.h"
#include "Percentile.h"
#include "codec.h"

namespace {

using namespace std::chrono_literals;
using attack::Clock;

constexpr double kGoalP99Ms = 50;
constexpr double kGoalGrowthMiB = 100;

struct ProcessFigures {
    double peakMiB = 0;  // VmHWM: the most the process has ever had resident
    double cpuSeconds = 0;
    bool alive = false;
};

ProcessFigures readProcess(pid_t pid) {
    ProcessFigures f;
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream status(base + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            f.peakMiB = std::atof(line.c_str() + 6) / 1024;
    std::ifstream statFile(base + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The fields after the command's closing parenthesis: state is the first, utime the 12th.
    if (auto close = stat.rfind(')'); close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string state, skip;
        fields >> state;
        for (int i = 0; i < 10; ++i)
            fields >> skip;
        double utime = 0, stime = 0;
        fields >> utime >> stime;
        f.cpuSeconds = (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
        f.alive = state != "Z" && state != "X";
    }
    return f;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

// The largest frame the server takes, as it logs at start; 0 when it does not say.
uint32_t frameLimitOf(const std::string &log) {
    const std::string marker = "frames up to ";
    auto at = log.find(marker);
    return at == std::string::npos
               ? 0
               : static_cast<uint32_t>(std::strtoul(log.c_str() + at + marker.size(), nullptr, 10));
}

size_t lineCount(const std::string &text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

struct Options {
    double durationSeconds = 30;
    std::string attacks = "abcdefg";
    int attackerNice = 10;
    std::string serverOptions;
    std::string folder;
    bool plaintext = false;
    attack::AttackSizes sizes;
};

// Runs one attack against a fresh server; false when the server did not start.
bool runAttack(const Options &o, const attack::Attack &a, const std::filesystem::path &folder) {
    BenchServer server(folder, words(o.serverOptions), o.plaintext);
    if (!server.start())
        return false;
    const std::string goodName = "gooduser";
    GoodClient good(server.endpoint(), goodName);
    if (!good.registerAccount()) {
        std::fprintf(stderr, "the well-behaved client cannot register\n");
        return false;
    }
    const size_t logBefore = lineCount(server.log());
    const ProcessFigures before = readProcess(server.pid());

    attack::AttackTarget target;
    target.server = {asio::ip::make_address_v4("127.0.0.1"), static_cast<uint16_t>(server.port())};
    const auto tls = attack::AttackerTlsContext();
    target.tls = o.plaintext ? nullptr : tls.get();
    target.frameLimit = frameLimitOf(server.log());
    if (target.frameLimit == 0)
        target.frameLimit = drovik::wire::kMaxFrameLength;
    target.goodName = goodName;
    target.sizes = o.sizes;
    const auto duration = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(o.durationSeconds));
    target.until = Clock::now() + duration;
    attack::AttackCounts counts;
    GoodFigures figures;
    {
        asio::io_context io;
        a.start(io, target, counts);
        // The attacker runs at a lower priority: it stands in for machines elsewhere, and on this
        // one it should take from the server no more than it must.
        std::thread attacker([&] {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), o.attackerNice);
            io.run();
        });
        // A head start, so that the client's first login meets the attack under way.
        std::this_thread::sleep_for(std::min<Clock::duration>(1s, duration / 10));
        figures = good.run(target.until);
        std::this_thread::sleep_until(target.until);
        io.stop();
        attacker.join();
    }
    const ProcessFigures after = readProcess(server.pid());
    const size_t logLines = lineCount(server.log()) - logBefore;
    server.stop(SIGTERM);

    const double p50 = Percentile(figures.latencyMs, 0.50);
    const double p99 = Percentile(figures.latencyMs, 0.99);
    const double worst = figures.latencyMs.empty() ? 0
                                                   : *std::max_element(figures.latencyMs.begin(),
                                                                       figures.latencyMs.end());
    const double growth = after.peakMiB - before.peakMiB;
    std::string missed;
    if (figures.failures > 0)
        missed += " failures";
    if (p99 > kGoalP99Ms)
        missed += " p99";
    if (growth > kGoalGrowthMiB)
        missed += " memory";
    if (!after.alive)
        missed += " crashed";
    std::printf("(%c) %-31s %6llu %5llu %8.1f %8.1f %8.1f %9.1f %9.1f %7.1f %5s  %s\n", a.letter,
                a.name, static_cast<unsigned long long>(figures.jobs),
                static_cast<unsigned long long>(figures.failures), p50, p99, worst, growth,
                after.peakMiB, after.cpuSeconds - before.cpuSeconds, loadAverage().c_str(),
                missed.empty() ? "met" : ("MISSED:" + missed).c_str());
    std::printf("    attack: %s; server log +%zu lines\n", counts.describe().c_str(), logLines);
    for (const std::string &why : figures.firstFailures)
        std::printf("    good client failed: %s\n", why.c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    attack::AttackSizes &s = o.sizes;
    CLI::App app{
        "Runs each attack on a fresh community server while a well-behaved client uses it"};
    app.option_defaults()->always_capture_default();
    app.add_option("--duration", o.durationSeconds, "Seconds per attack");
    app.add_option("--attacks", o.attacks, "Which attacks, by letter");
    app.add_option("--attacker-nice", o.attackerNice, "Nice value of the attacking thread");
    app.add_option("--server-options", o.serverOptions,
                   "More options of the server, in one argument (\"--workers 4\")");
    app.add_option("--folder", o.folder, "Store folders (default: a new temporary one, removed)");
    app.add_flag("--plaintext", o.plaintext, "Server, attackers and client without TLS");
    app.add_option("--flood-connections", s.floodConnections, "(a) connections at once");
    app.add_option("--idle-connections", s.idleConnections, "(b) connections, 32 per address");
    app.add_option("--avatar-clients", s.avatarClients, "(c) accounts, one per address");
    app.add_option("--empty-string-peers", s.emptyStringPeers, "(d) connections");
    app.add_option("--registration-connections", s.registrationConnections, "(e) connections");
    app.add_option("--registrations-in-flight", s.registrationsInFlight, "(e) per connection");
    app.add_option("--rotate-addresses", s.rotateAddresses,
                   "(e) move to a fresh address once one's registrations are refused");
    app.add_option("--message-addresses", s.messageAddresses, "(f) addresses");
    app.add_option("--accounts-per-address", s.accountsPerAddress, "(f) accounts per address");
    app.add_option("--unfinished-connections", s.unfinishedConnections,
                   "(g) connections, 32 per address");
    CLI11_PARSE(app, argc, argv);
    std::signal(SIGPIPE, SIG_IGN);

    // Every attacking connection is a descriptor here too.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    const bool removeFolder = o.folder.empty();
    if (removeFolder)
        o.folder = (std::filesystem::temp_directory_path() /
                    ("attack-harness-" + std::to_string(getpid())))
                       .string();
    std::printf(
        "%.0f s per attack, %s, %ld cores, load average %s at start, open-file limit %llu, "
        "server options: %s\n",
        o.durationSeconds, o.plaintext ? "plaintext" : "TLS", sysconf(_SC_NPROCESSORS_ONLN),
        loadAverage().c_str(), static_cast<unsigned long long>(files.rlim_cur),
        o.serverOptions.empty() ? "cheap hashing only" : o.serverOptions.c_str());
    std::printf("goal: 0 failures, p99 <= %.0f ms, memory growth <= %.0f MiB, no crash\n",
                kGoalP99Ms, kGoalGrowthMiB);
    std::printf("%-35s %6s %5s %8s %8s %8s %9s %9s %7s %5s  %s\n", "attack", "jobs", "fail",
                "p50 ms", "p99 ms", "max ms", "mem +MiB", "peak MiB", "cpu s", "load", "goal");
    int status = 0;
    for (const attack::Attack &a : attack::AllAttacks()) {
        if (o.attacks.find(a.letter) == std::string::npos)
            continue;
        if (!runAttack(o, a,
                       std::filesystem::path(o.folder) / ("attack-" + std::string(1, a.letter))))
            status = 1;
    }
    if (removeFolder) {
        std::error_code ec;
        std::filesystem::remove_all(o.folder, ec);
    }
    return status;
}
