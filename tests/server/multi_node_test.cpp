// Two real server processes over one PostgreSQL store and one Redis: one account has one session
// among the nodes, and messages, kicks and forced logins reach the node that holds the session.
// Needs CT_TEST_POSTGRES_URL and CT_TEST_REDIS_URL (scripts/test.sh starts both).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "ServerProcess.h"
#include "TestClient.h"

namespace {

using namespace std::chrono_literals;

// How long a dead node's claims last in these tests.
constexpr int kPresenceSeconds = 3;

std::string RedisUrl() {
    const char *url = std::getenv("CT_TEST_REDIS_URL");
    return url ? url : "";
}

class TwoNodes : public ::testing::Test {
protected:
    // Options added to both nodes.
    virtual std::vector<std::string> nodeOptions() const { return {}; }

    void SetUp() override {
        if (TestPostgresUrl().empty() || RedisUrl().empty())
            GTEST_SKIP() << "needs CT_TEST_POSTGRES_URL and CT_TEST_REDIS_URL "
                            "(scripts/test.sh starts a PostgreSQL and a Redis for the tests)";
        const std::string db = NewPostgresDatabase();
        ASSERT_FALSE(db.empty());
        // Tests run at once against the same Redis: each community gets a namespace of its own.
        const std::string space = "test" + std::to_string(std::random_device()());
        for (size_t i = 0; i < nodes.size(); ++i) {
            std::vector<std::string> options = {"--db",
                                                db,
                                                "--redis",
                                                RedisUrl(),
                                                "--redis-namespace",
                                                space,
                                                "--presence-seconds",
                                                std::to_string(kPresenceSeconds)};
            for (const std::string &option : nodeOptions())
                options.push_back(option);
            nodes[i] = std::make_unique<ServerProcess>(folders[i].path(), options);
            ASSERT_TRUE(nodes[i]->started()) << nodes[i]->log();
        }
    }
    void TearDown() override {
        if (HasFailure())
            for (size_t i = 0; i < nodes.size(); ++i)
                if (nodes[i])
                    std::cerr << "---- log of node " << i << " ----\n" << nodes[i]->log();
    }

    std::unique_ptr<Client> connect(size_t node) {
        auto client = std::make_unique<Client>(master, nodes[node]->port());
        EXPECT_TRUE(client->connected()) << master.master.lastError();
        return client;
    }
    std::unique_ptr<Client> user(size_t node, const std::string &name) {
        auto client = connect(node);
        EXPECT_TRUE(client->enter(name)) << name << " on node " << node;
        return client;
    }
    std::unique_ptr<Client> admin(size_t node, const std::string &name) {
        auto client = user(node, name);
        EXPECT_EQ(client->code("Control_Start", {std::string(kAdminDigest)}), 1);
        return client;
    }
    // The online list that a client sees, once it equals `expected` or after 15 s.
    std::string onlineListOnceIs(Client &client, const std::string &expected) {
        std::string list;
        for (int i = 0; i < 300; ++i) {
            list = client.text("User_GetOnlineUserList").value_or("(failed)");
            if (list == expected)
                break;
            std::this_thread::sleep_for(50ms);
        }
        return list;
    }

    std::array<TempFolder, 2> folders;
    std::array<std::unique_ptr<ServerProcess>, 2> nodes;
    TestMaster master;
};

TEST_F(TwoNodes, OneAccountLogsInOnExactlyOneNodeWhenBothTryAtOnce) {
    auto a = connect(0);
    auto b = connect(1);
    ASSERT_EQ(a->registerAs("ann"), 1);
    for (int round = 0; round < 5; ++round) {
        int32_t codes[2] = {0, 0};
        std::thread other([&] { codes[1] = b->login("ann"); });
        codes[0] = a->login("ann");
        other.join();
        ASSERT_EQ(std::count(codes, codes + 2, 1), 1) << codes[0] << " " << codes[1];
        EXPECT_EQ(std::count(codes, codes + 2, 4), 1) << "the other is told: logged in elsewhere";
        Client &winner = codes[0] == 1 ? *a : *b;
        Client &loser = codes[0] == 1 ? *b : *a;
        EXPECT_EQ(loser.login("ann"), 4);
        EXPECT_EQ(onlineListOnceIs(winner, "ann\n\r"), "ann\n\r");
        EXPECT_EQ(winner.code("User_Logout"), 1);
    }
    // Once logged out, the account is free on either node.
    EXPECT_EQ(b->login("ann"), 1);
}

TEST_F(TwoNodes, OnlineListAndGlobalMessagesSpanTheNodes) {
    auto ann = user(0, "ann");
    auto ben = user(1, "ben");
    EXPECT_EQ(onlineListOnceIs(*ann, "ann\n\rben\n\r"), "ann\n\rben\n\r");
    EXPECT_EQ(onlineListOnceIs(*ben, "ann\n\rben\n\r"), "ann\n\rben\n\r");

    EXPECT_EQ(ann->code("User_SendGlobalMessage", {std::string("hello all")}), 1);
    const std::vector<StreamedMessage> expected = {{"ann", "hello all"}};
    EXPECT_EQ(ben->receiveUntil(1, 5s), expected);
    EXPECT_EQ(ann->receiveUntil(1, 5s), expected) << "the sender gets it once";

    EXPECT_EQ(ben->code("User_Logout"), 1);
    EXPECT_EQ(onlineListOnceIs(*ann, "ann\n\r"), "ann\n\r");
}

TEST_F(TwoNodes, PrivateMessagesReachARecipientOnTheOtherNodeInOrder) {
    auto ann = user(0, "ann");
    auto ben = user(1, "ben");
    auto cid = user(1, "cid");
    // From both nodes at once, into one inbox: each sender's messages in the order sent.
    std::thread fromCid([&] {
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(cid->code("User_SendMessage", {std::string("ann"), "c" + std::to_string(i)}),
                      1);
    });
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(ben->code("User_SendMessage", {std::string("ann"), "b" + std::to_string(i)}), 1);
    fromCid.join();
    std::vector<StreamedMessage> received = ann->receiveUntil(20, 10s);
    ASSERT_EQ(received.size(), 20u);
    std::map<std::string, std::vector<std::string>> bySender;
    for (const StreamedMessage &m : received)
        bySender[m.sender].push_back(m.text);
    for (const auto &[sender, texts] : bySender)
        for (size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(texts[i], sender.substr(0, 1) + std::to_string(i)) << sender;
    EXPECT_EQ(bySender.size(), 2u);
    // Received, so gone from the store: a new login on the other node gets nothing again.
    EXPECT_EQ(ann->code("User_Logout"), 1);
    auto again = connect(1);
    ASSERT_EQ(again->login("ann"), 1);
    EXPECT_TRUE(again->receiveUntil(1, 1s).empty());
}

TEST_F(TwoNodes, KickAndForcedLoginReachTheNodeThatHoldsTheSession) {
    auto root = admin(0, "root");
    auto ben = user(1, "ben");
    auto cid = user(1, "cid");
    EXPECT_EQ(root->code("Control_KickUser", {std::string("ben")}), 1);
    EXPECT_EQ(ben->connectionEvent(5s), DROVIK_EVENT_KICKED);
    EXPECT_EQ(onlineListOnceIs(*root, "cid\n\rroot\n\r"), "cid\n\rroot\n\r");
    EXPECT_EQ(root->code("Control_KickUser", {std::string("ben")}), 5) << "not logged in";
    auto benAgain = connect(0);
    EXPECT_EQ(benAgain->login("ben"), 1) << "a kicked account logs in anywhere at once";

    EXPECT_EQ(root->code("Control_ForceLogin", {std::string("cid")}), 1);
    EXPECT_EQ(cid->connectionEvent(5s), DROVIK_EVENT_KICKED);
    EXPECT_EQ(onlineListOnceIs(*benAgain, "ben\n\rcid\n\r"), "ben\n\rcid\n\r");
    auto cidElsewhere = connect(1);
    EXPECT_EQ(cidElsewhere->login("cid"), 4) << "the forced login holds cid now";
}

TEST_F(TwoNodes, AKilledNodesUsersLogInElsewhereOnceItsClaimsExpire) {
    auto ann = user(0, "ann");
    auto ben = user(1, "ben");
    ASSERT_EQ(onlineListOnceIs(*ann, "ann\n\rben\n\r"), "ann\n\rben\n\r");
    kill(nodes[1]->pid(), SIGKILL);
    nodes[1]->waitForExit(10s);

    auto benElsewhere = connect(0);
    EXPECT_EQ(benElsewhere->login("ben"), 4) << "until the dead node's claim expires";
    EXPECT_EQ(onlineListOnceIs(*ann, "ann\n\r"), "ann\n\r");
    EXPECT_EQ(benElsewhere->login("ben"), 1);
    EXPECT_EQ(onlineListOnceIs(*ann, "ann\n\rben\n\r"), "ann\n\rben\n\r");
}

// Allowances that do not refill during the test.
class TwoNodesWithTightAllowances : public TwoNodes {
protected:
    std::vector<std::string> nodeOptions() const override {
        return {"--flood-burst",
                "3",
                "--flood-rate",
                "0.01",
                "--registration-burst",
                "2",
                "--registrations-per-hour",
                "0.01"};
    }
};

TEST_F(TwoNodesWithTightAllowances, AllowancesAreSharedByTheNodes) {
    auto first = connect(0);
    ASSERT_EQ(first->registerAs("ann"), 1);
    auto second = connect(1);
    ASSERT_EQ(second->registerAs("ben"), 1);
    EXPECT_EQ(first->registerAs("cid"), -DROVIK_EVENT_LIMIT) << "the address's two are taken";
    EXPECT_EQ(second->registerAs("cid"), -DROVIK_EVENT_LIMIT);

    ASSERT_EQ(first->login("ann"), 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(first->code("User_SendGlobalMessage", {"m" + std::to_string(i)}), 1);
    ASSERT_EQ(first->code("User_Logout"), 1);
    ASSERT_EQ(second->login("ann"), 1);
    EXPECT_EQ(second->code("User_SendGlobalMessage", {std::string("m2")}), 1);
    EXPECT_EQ(second->code("User_SendGlobalMessage", {std::string("m3")}), -DROVIK_EVENT_LIMIT)
        << "ann's allowance was spent on the other node";
}

}  // namespace
