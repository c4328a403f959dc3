// Crash harness for private messages: senders and recipients chat through a community server
// that is killed with SIGKILL at a random moment, then restarted on the same store; the
// recipients collect what is left. Per run it prints how many messages the server acknowledged,
// how many of those arrived, were lost, arrived more than once, and arrived out of order. Every
// acknowledged message must arrive: lost is 0 in every run.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "BenchServer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int runs = 20;
    int senders = 8;
    int recipients = 4;
    int minMs = 300, maxMs = 3000;  // the kill comes this long after the chat starts
    int pollMs = 20;
    bool plaintext = false;
};

// A message's text: "run sender recipient sequence".
std::string textOf(int run, int sender, int recipient, int64_t seq) {
    return std::to_string(run) + " " + std::to_string(sender) + " " + std::to_string(recipient) +
           " " + std::to_string(seq);
}

// What one run's senders had acknowledged and what its recipients received, in order.
struct Ledger {
    std::mutex mutex;
    std::set<std::string> acknowledged;
    std::map<std::string, int> received;             // text: times
    std::map<std::pair<int, int>, int64_t> lastSeq;  // (sender, recipient): highest seen
    uint64_t reordered = 0, foreign = 0;

    void receive(int run, const std::vector<std::string> &texts) {
        std::lock_guard guard(mutex);
        for (const std::string &t : texts) {
            int r = -1, s = -1, to = -1;
            long long seq = -1;
            if (std::sscanf(t.c_str(), "%d %d %d %lld", &r, &s, &to, &seq) != 4 || r != run) {
                ++foreign;
                continue;
            }
            if (++received[t] > 1)
                continue;  // a repeat says nothing about order
            int64_t &last = lastSeq.try_emplace({s, to}, -1).first->second;
            if (seq < last)
                ++reordered;
            last = std::max<int64_t>(last, seq);
        }
    }
};

void chat(const Options &o, int run, const BenchEndpoint &server, Ledger &ledger,
          std::atomic<bool> &stop) {
    drovik::Master master;
    std::vector<std::thread> threads;
    for (int r = 0; r < o.recipients; ++r)
        threads.emplace_back([&, r] {
            BenchClient client(master, server);
            if (!client.connected() || !client.enter("recipient" + std::to_string(r)))
                return;
            std::vector<std::string> texts;
            while (!stop) {
                texts.clear();
                if (!client.receive(texts))
                    return;  // the server is gone
                ledger.receive(run, texts);
                std::this_thread::sleep_for(std::chrono::milliseconds(o.pollMs));
            }
        });
    for (int s = 0; s < o.senders; ++s)
        threads.emplace_back([&, s] {
            BenchClient client(master, server);
            if (!client.connected() || !client.enter("sender" + std::to_string(s)))
                return;
            for (int64_t seq = 0; !stop; ++seq) {
                int to = static_cast<int>(seq % o.recipients);
                std::string text = textOf(run, s, to, seq);
                int32_t code = client.send("recipient" + std::to_string(to), text);
                if (code == 1) {
                    std::lock_guard guard(ledger.mutex);
                    ledger.acknowledged.insert(text);
                } else if (code == 0 || code == -DROVIK_EVENT_SHUTDOWN) {
                    return;  // the server is gone
                }
            }
        });
    for (auto &t : threads)
        t.join();
}

// After the restart: each recipient logs in and polls until a poll brings nothing.
void collect(const Options &o, int run, const BenchEndpoint &server, Ledger &ledger) {
    drovik::Master master;
    std::vector<std::thread> threads;
    for (int r = 0; r < o.recipients; ++r)
        threads.emplace_back([&, r] {
            BenchClient client(master, server);
            if (!client.connected() || !client.enter("recipient" + std::to_string(r)))
                return;
            std::vector<std::string> texts;
            do {
                texts.clear();
                if (!client.receive(texts))
                    return;
                ledger.receive(run, texts);
            } while (!texts.empty());
        });
    for (auto &t : threads)
        t.join();
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    std::string folder;
    CLI::App app{"Kills a chatting community server N times and counts lost private messages"};
    app.option_defaults()->always_capture_default();
    app.add_option("--runs", o.runs, "Kills and restarts");
    app.add_option("--senders", o.senders, "Sending connections, each its own account");
    app.add_option("--recipients", o.recipients, "Polling recipients");
    app.add_option("--min-ms", o.minMs, "Shortest chat before the kill");
    app.add_option("--max-ms", o.maxMs, "Longest chat before the kill");
    app.add_option("--poll-ms", o.pollMs, "Recipients' poll interval");
    app.add_option("--folder", folder, "Store folder (default: a new temporary one, removed)");
    app.add_flag("--plaintext", o.plaintext, "Server and clients without TLS");
    CLI11_PARSE(app, argc, argv);
    signal(SIGPIPE, SIG_IGN);

    bool removeFolder = folder.empty();
    if (removeFolder)
        folder =
            (std::filesystem::temp_directory_path() / ("crash-harness-" + std::to_string(getpid())))
                .string();
    BenchServer server(
        folder,
        {"--flood-burst", "100000", "--flood-rate", "100000", "--address-flood-burst", "100000",
         "--address-flood-rate", "100000", "--registration-burst", "1000", "--hash-slots", "64"},
        o.plaintext);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(o.minMs, o.maxMs);

    std::printf("%d runs, %d senders, %d recipients, kill after %d..%d ms, %s; store %s\n", o.runs,
                o.senders, o.recipients, o.minMs, o.maxMs, o.plaintext ? "plaintext" : "TLS",
                folder.c_str());
    std::printf("%4s %8s %13s %12s %10s %5s %11s %10s\n", "run", "kill ms", "acknowledged",
                "delivered", "unacked", "lost", "duplicated", "reordered");
    uint64_t totalAcked = 0, totalLost = 0, totalDuplicated = 0;
    for (int run = 1; run <= o.runs; ++run) {
        if (!server.start())
            return 1;
        Ledger ledger;
        std::atomic<bool> stop{false};
        std::thread load(
            [&, endpoint = server.endpoint()] { chat(o, run, endpoint, ledger, stop); });
        int ms = delay(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        server.stop(SIGKILL);
        stop = true;
        load.join();
        if (!server.start())
            return 1;
        collect(o, run, server.endpoint(), ledger);
        server.stop(SIGTERM);

        uint64_t delivered = 0, duplicated = 0, unacked = 0;
        for (const std::string &t : ledger.acknowledged)
            delivered += ledger.received.count(t);
        for (const auto &[text, times] : ledger.received) {
            duplicated += static_cast<uint64_t>(times - 1);
            unacked += ledger.acknowledged.count(text) ? 0 : 1;
        }
        uint64_t lost = ledger.acknowledged.size() - delivered;
        std::printf("%4d %8d %13zu %12llu %10llu %5llu %11llu %10llu\n", run, ms,
                    ledger.acknowledged.size(), (unsigned long long)delivered,
                    (unsigned long long)unacked, (unsigned long long)lost,
                    (unsigned long long)duplicated, (unsigned long long)ledger.reordered);
        std::fflush(stdout);
        totalAcked += ledger.acknowledged.size();
        totalLost += lost;
        totalDuplicated += duplicated;
    }
    std::printf(
        "total: %llu acknowledged, %llu lost, %llu duplicated (unacked: sent when the "
        "server died, committed but not answered)\n",
        (unsigned long long)totalAcked, (unsigned long long)totalLost,
        (unsigned long long)totalDuplicated);
    if (removeFolder) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return totalLost == 0 ? 0 : 2;
}
