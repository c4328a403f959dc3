// Private-message stress: many connections send private messages as fast as the server answers
// them, to recipients who are logged in and polling, for a fixed time. Prints the messages
// committed per second, the store's commits per second (with synchronous=FULL in WAL mode each
// commit is one fsync of the log) and the round trip of a send.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "BenchServer.h"
#include "Percentile.h"

int main(int argc, char **argv) {
    int senders = 64, recipients = 16, seconds = 10, workers = 64, masters = 4, pollMs = 50;
    bool plaintext = false;
    CLI::App app{"Private messages per second through a community server with a durable store"};
    app.option_defaults()->always_capture_default();
    app.add_option("--senders", senders, "Sending connections, each its own account");
    app.add_option("--recipients", recipients, "Logged-in recipients, polling");
    app.add_option("--seconds", seconds, "Seconds measured");
    app.add_option("--workers", workers, "The server's job threads");
    app.add_option("--masters", masters, "Library masters carrying the connections");
    app.add_option("--poll-ms", pollMs, "Recipients' poll interval");
    app.add_flag("--plaintext", plaintext, "Server and clients without TLS");
    CLI11_PARSE(app, argc, argv);
    signal(SIGPIPE, SIG_IGN);

    auto folder =
        std::filesystem::temp_directory_path() / ("private-stress-" + std::to_string(getpid()));
    {
        BenchServer server(
            folder,
            {"--workers", std::to_string(workers), "--flood-burst", "100000", "--flood-rate",
             "100000", "--address-flood-burst", "1000000", "--address-flood-rate", "1000000",
             "--registration-burst", "100000", "--hash-slots", "128",
             // Every sender and recipient connects from 127.0.0.1.
             "--max-connections-per-address", "1000000", "--login-failures", "1000000"},
            plaintext);
        if (!server.start())
            return 1;
        std::vector<std::unique_ptr<drovik::Master>> libraryMasters;
        for (int m = 0; m < masters; ++m)
            libraryMasters.push_back(std::make_unique<drovik::Master>());

        std::atomic<bool> go{false}, stop{false};
        std::atomic<int> ready{0};
        std::atomic<uint64_t> acked{0}, refused{0}, received{0};
        std::mutex samplesMutex;
        std::vector<double> samples;
        std::vector<std::thread> threads;
        for (int r = 0; r < recipients; ++r)
            threads.emplace_back([&, r] {
                BenchClient client(*libraryMasters[size_t(r % masters)], server.endpoint());
                bool in = client.connected() && client.enter("recipient" + std::to_string(r));
                ++ready;
                std::vector<std::string> texts;
                while (in && !stop) {
                    texts.clear();
                    if (!client.receive(texts))
                        return;
                    received += texts.size();
                    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
                }
            });
        for (int s = 0; s < senders; ++s)
            threads.emplace_back([&, s] {
                BenchClient client(*libraryMasters[size_t(s % masters)], server.endpoint());
                bool in = client.connected() && client.enter("sender" + std::to_string(s));
                ++ready;
                while (!go)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::vector<double> mine;
                for (int i = 0; in && !stop; ++i) {
                    auto start = std::chrono::steady_clock::now();
                    int32_t code = client.send("recipient" + std::to_string((s + i) % recipients),
                                               "stress " + std::to_string(i));
                    mine.push_back(std::chrono::duration<double, std::milli>(
                                       std::chrono::steady_clock::now() - start)
                                       .count());
                    ++(code == 1 ? acked : refused);
                }
                std::lock_guard guard(samplesMutex);
                samples.insert(samples.end(), mine.begin(), mine.end());
            });
        while (ready < senders + recipients)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // The registrations and logins above are the store's too; count only the sends.
        go = true;
        auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        stop = true;
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (auto &t : threads)
            t.join();
        server.stop(SIGTERM);

        // "private messages: K kept and R removed in C commits (F failed)", logged at the stop.
        std::smatch m;
        std::string log = server.log();
        uint64_t kept = 0, removed = 0, commits = 0;
        if (std::regex_search(
                log, m,
                std::regex(R"(private messages: (\d+) kept and (\d+) removed in (\d+) commits)"))) {
            kept = std::stoull(m[1]);
            removed = std::stoull(m[2]);
            commits = std::stoull(m[3]);
        }
        std::printf(
            "private_stress: %d senders, %d polling recipients, %d server workers, %d "
            "cores, %s, %.1f s\n",
            senders, recipients, workers, int(sysconf(_SC_NPROCESSORS_ONLN)),
            plaintext ? "plaintext" : "TLS", elapsed);
        std::printf("  acknowledged %llu (%.0f msg/s), refused %llu, received %llu\n",
                    (unsigned long long)acked.load(), double(acked) / elapsed,
                    (unsigned long long)refused.load(), (unsigned long long)received.load());
        std::printf(
            "  store: %llu kept, %llu removed, %llu commits = fsyncs of the log "
            "(%.0f/s, %.1f messages each)\n",
            (unsigned long long)kept, (unsigned long long)removed, (unsigned long long)commits,
            double(commits) / elapsed, commits ? double(kept + removed) / double(commits) : 0.0);
        std::printf("  send round trip: p50 %.2f ms, p99 %.2f ms\n", Percentile(samples, 0.5),
                    Percentile(samples, 0.99));
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
