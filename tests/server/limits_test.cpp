// The limits of work a client can cause: registrations per address, messages per account and per
// address, password hashes at once. Each crossed once, and the server still serves.
#include <algorithm>
#include <thread>

#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

// Each test restarts the server with its limits, which override the test server's defaults.
using LimitTest = ServerTest;

TEST_F(LimitTest, RegistrationsAreCountedPerAddressAcrossConnectionsAndOnlyWhenTheyWouldHash) {
    restartWith({"--registration-burst", "2", "--registrations-per-hour", "0.01"});
    auto first = newClient();
    EXPECT_EQ(first->registerAs("ann"), 1);
    EXPECT_EQ(first->registerAs("ann"), 2);  // taken: refused before any hash, costs nothing
    first->disconnect();

    auto second = newClient();
    EXPECT_EQ(second->registerAs("ben"), 1);
    // The address's allowance is spent, whatever the connection: the job ends with the limit
    // event, which the client reports as a failure.
    EXPECT_EQ(second->registerAs("cid"), -DROVIK_EVENT_LIMIT);
    EXPECT_EQ(newClient()->registerAs("cid"), -DROVIK_EVENT_LIMIT);
    // Those who have accounts still get in.
    EXPECT_EQ(second->login("ben"), 1);
}

TEST_F(LimitTest, MessagesAreCountedPerAccountAcrossReconnects) {
    restartWith({"--flood-burst", "3", "--flood-rate", "0.01"});
    auto ann = newUser("ann");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ann->code("User_SendGlobalMessage", {std::string("hi")}), 1);
    ann->disconnect();

    auto again = newClient();
    ASSERT_EQ(again->login("ann"), 1);
    EXPECT_EQ(again->code("User_SendGlobalMessage", {std::string("hi")}), -DROVIK_EVENT_LIMIT);
    // Another account has an allowance of its own.
    EXPECT_EQ(newUser("ben")->code("User_SendGlobalMessage", {std::string("hi")}), 1);
}

TEST_F(LimitTest, MessagesAreCountedPerAddressOverAllItsAccounts) {
    restartWith({"--address-flood-burst", "4", "--address-flood-rate", "0.01"});
    auto ann = newUser("ann");
    auto ben = newUser("ben");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ann->code("User_SendGlobalMessage", {std::string("a")}), 1);
        EXPECT_EQ(ben->code("User_SendMessage", {std::string("ann"), std::string("b")}), 1);
    }
    EXPECT_EQ(newUser("cid")->code("User_SendGlobalMessage", {std::string("c")}),
              -DROVIK_EVENT_LIMIT);
    EXPECT_EQ(ann->code("User_SendGlobalMessage", {std::string("a")}), -DROVIK_EVENT_LIMIT);
}

TEST_F(LimitTest, PasswordHashesBeyondTheSlotsAreRefusedAndOtherJobsGoOn) {
    // One slot, no waiting, and a hash slow enough that parallel logins overlap.
    restartWith({"--hash-slots", "1", "--hash-wait-ms", "0", "--hash-ops", "3", "--hash-memory-kib",
                 "65536"});
    ASSERT_EQ(newClient()->registerAs("ann"), 1);

    constexpr int kLogins = 6;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kLogins; ++i)
        clients.push_back(newClient());
    std::vector<int32_t> codes(kLogins);
    std::vector<std::thread> threads;
    for (int i = 0; i < kLogins; ++i)
        threads.emplace_back([&, i] { codes[i] = clients[i]->login("ann", "wrong-password"); });
    // A job that needs no hash is answered while the hashes run.
    auto bystander = newClient();
    EXPECT_EQ(bystander->code("User_Logout"), 1);
    for (auto &t : threads)
        t.join();
    const auto refused = std::count(codes.begin(), codes.end(), -DROVIK_EVENT_LIMIT);
    const auto checked = std::count(codes.begin(), codes.end(), 3);  // wrong password
    EXPECT_GE(refused, 1);
    EXPECT_GE(checked, 1);
    EXPECT_EQ(refused + checked, kLogins);
    EXPECT_EQ(bystander->login("ann"), 1);  // the slot is free again
}

}  // namespace
