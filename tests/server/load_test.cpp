// Two hundred clients logging in, chatting and polling at once: every message arrives exactly once.
#include <atomic>
#include <latch>
#include <map>
#include <set>
#include <thread>

#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

using Load = ServerTest;

TEST_F(Load, TwoHundredClientsLoseNoMessage) {
    constexpr int kClients = 200, kThreads = 20, kMasters = 4;
    constexpr int kPrivatePerClient = 5, kGlobalSenders = 4;
    auto name = [](int i) { return "user" + std::to_string(i); };

    // Each connection is a client of its own; a few masters carry them all.
    std::vector<std::unique_ptr<TestMaster>> masters;
    for (int m = 0; m < kMasters; ++m)
        masters.push_back(std::make_unique<TestMaster>());
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<Client>(*masters[size_t(i % kMasters)], server->port()));
        ASSERT_TRUE(clients.back()->connected());
    }

    // What each client must receive: its private messages and every global message.
    std::vector<std::multiset<std::pair<std::string, std::string>>> expected(kClients);
    for (int i = 0; i < kClients; ++i)
        for (int k = 1; k <= kPrivatePerClient; ++k)
            expected[size_t((i + k * 7) % kClients)].insert({name(i), "p" + std::to_string(k)});
    for (int g = 0; g < kGlobalSenders; ++g)
        for (auto &e : expected)
            e.insert({name(g * 50), "global"});

    std::vector<std::multiset<std::pair<std::string, std::string>>> received(kClients);
    std::atomic<int> failures{0};
    std::latch everyoneIn(kThreads);
    auto poll = [&](int i) {
        for (const StreamedMessage &m : clients[size_t(i)]->receive())
            received[size_t(i)].insert({m.sender, m.text});
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::vector<int> mine;
            for (int i = t; i < kClients; i += kThreads)
                mine.push_back(i);
            for (int i : mine)
                if (!clients[size_t(i)]->enter(name(i)))
                    ++failures;
            everyoneIn.arrive_and_wait();
            for (int k = 1; k <= kPrivatePerClient; ++k)
                for (int i : mine) {
                    std::string to = name((i + k * 7) % kClients);
                    if (clients[size_t(i)]->code("User_SendMessage",
                                                 {to, "p" + std::to_string(k)}) != 1)
                        ++failures;
                    if (k == 1 && i % 50 == 0 &&
                        clients[size_t(i)]->code("User_SendGlobalMessage",
                                                 {std::string("global")}) != 1)
                        ++failures;
                    poll(i);
                    if (k == 3 && !clients[size_t(i)]->text("User_GetOnlineUserList"))
                        ++failures;
                }
            auto deadline = std::chrono::steady_clock::now() + 30s;
            bool done = false;
            while (!done && std::chrono::steady_clock::now() < deadline) {
                done = true;
                for (int i : mine) {
                    if (received[size_t(i)].size() < expected[size_t(i)].size()) {
                        poll(i);
                        done = false;
                    }
                }
                if (!done)
                    std::this_thread::sleep_for(20ms);
            }
            for (int i : mine)
                poll(i);  // nothing more may come: a duplicate would show here
        });
    for (auto &thread : threads)
        thread.join();

    EXPECT_EQ(failures.load(), 0);
    int wrong = 0;
    for (int i = 0; i < kClients; ++i)
        if (received[size_t(i)] != expected[size_t(i)])
            ++wrong;
    EXPECT_EQ(wrong, 0) << "clients whose messages differ from what was sent to them";
    std::set<std::string> names;
    for (int i = 0; i < kClients; ++i)
        names.insert(name(i));
    std::string list;
    for (const std::string &n : names)
        list += n + "\n\r";
    EXPECT_EQ(clients[0]->text("User_GetOnlineUserList"), list);
}

}  // namespace
