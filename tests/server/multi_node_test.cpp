// Two real server processes over one PostgreSQL store and one Redis: one account has one session
// among the nodes, and messages, kicks and forced logins reach the node that holds the session.
// Needs CT_TEST_POSTGRES_URL and CT_TEST_REDIS_URL (scripts/test.sh starts both).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
        options_ = {"--db",
                    db,
                    "--redis",
                    RedisUrl(),
                    "--redis-namespace",
                    space,
                    "--presence-seconds",
                    std::to_string(kPresenceSeconds)};
        for (const std::string &option : nodeOptions())
            options_.push_back(option);
        for (size_t i = 0; i < nodes.size(); ++i)
            ASSERT_NO_FATAL_FAILURE(startNode(i));
    }
    // Starts node `i` (again, after it was killed) in the same community.
    void startNode(size_t i) {
        nodes[i] = std::make_unique<ServerProcess>(folders[i].path(), options_);
        ASSERT_TRUE(nodes[i]->started()) << nodes[i]->log();
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

private:
    std::vector<std::string> options_;  // of every node
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
                "0.01",
                "--login-failures",
                "4",
                "--address-flood-burst",
                "5",
                "--address-flood-rate",
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

    // Guesses spread over the nodes refuse the address on both.
    for (size_t node = 0; node < 2; ++node) {
        auto guesser = connect(node);
        EXPECT_EQ(guesser->login("ben", "guess1"), 3);
        EXPECT_EQ(guesser->login("ben", "guess2"), 3);
    }
    auto late = connect(0);
    EXPECT_EQ(late->login("ben"), 3) << "refused without a check, though right";
    auto lateElsewhere = connect(1);
    EXPECT_EQ(lateElsewhere->login("ben"), 3);
}

TEST_F(TwoNodesWithTightAllowances, TheAddressAllowanceSpansTheNodesAndCountsOnlyAdmittedMessages) {
    auto ann = user(0, "ann");
    auto ben = user(1, "ben");
    auto send = [](Client &client, int i) {
        return client.code("User_SendGlobalMessage", {"m" + std::to_string(i)});
    };
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(send(*ann, i), 1);
    EXPECT_EQ(send(*ann, 3), -DROVIK_EVENT_LIMIT) << "ann's own allowance";
    // The address had five; ann's refused message took none of them.
    EXPECT_EQ(send(*ben, 0), 1);
    EXPECT_EQ(send(*ben, 1), 1);
    EXPECT_EQ(send(*ben, 2), -DROVIK_EVENT_LIMIT)
        << "ben has one left, but the address spent its five on both nodes";
}

// A Redis of the test's own on a port chosen once, which the test stops and starts again.
class OwnRedis {
public:
    OwnRedis() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        close(fd);
    }
    ~OwnRedis() { stop(); }
    // `credentials`: "", ":PASSWORD@" or "USER:PASSWORD@".
    std::string url(const std::string &credentials = "") const {
        return "redis://" + credentials + "127.0.0.1:" + std::to_string(port_);
    }

    // True once it answers. With a password, it refuses commands until one authenticates.
    bool start(const std::string &password = "") {
        std::vector<std::string> args = {"redis-server",
                                         "--bind",
                                         "127.0.0.1",
                                         "--port",
                                         std::to_string(port_),
                                         "--save",
                                         "",
                                         "--appendonly",
                                         "no",
                                         "--dir",
                                         folder_.path().string()};
        if (!password.empty())
            args.insert(args.end(), {"--requirepass", password});
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
            return false;
        }
        for (int i = 0; i < 200; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<uint16_t>(port_));
            bool up = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
            close(fd);
            if (up)
                return true;
            std::this_thread::sleep_for(25ms);
        }
        return false;
    }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    TempFolder folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// Logs in `name` until it succeeds or 15 s passed; the last code.
int32_t LoginOnceItWorks(Client &client, const std::string &name) {
    int32_t code = 0;
    for (int i = 0; i < 300 && (code = client.login(name)) != 1; ++i)
        std::this_thread::sleep_for(50ms);
    return code;
}

// Acknowledged private messages to a recipient on the other node survive a kill -9 of either
// node: none is lost, and only the recipient's last stream, which no later job proved received,
// comes again.
TEST_F(TwoNodes, AcknowledgedPrivateMessagesSurviveAKillOfEitherNode) {
    auto texts = [](const std::string &prefix, int from, int end) {
        std::vector<StreamedMessage> messages;
        for (int i = from; i < end; ++i)
            messages.push_back({"ann", prefix + std::to_string(i)});
        return messages;
    };
    auto send = [](Client &from, const std::string &text) {
        return from.code("User_SendMessage", {std::string("ben"), text});
    };
    auto killNode = [&](size_t i) {
        kill(nodes[i]->pid(), SIGKILL);
        nodes[i]->waitForExit(10s);
    };

    // The sender's node dies right after its acknowledgements.
    auto ann = user(1, "ann");
    auto ben = user(0, "ben");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(send(*ann, "a" + std::to_string(i)), 1);
    killNode(1);
    EXPECT_EQ(ben->receiveUntil(3, 10s), texts("a", 0, 3));
    EXPECT_TRUE(ben->receive().empty()) << "each once";

    // The recipient's node dies with one stream proven received by a later job, one not proven
    // and one message not fetched.
    ASSERT_NO_FATAL_FAILURE(startNode(1));
    auto annAgain = connect(1);
    ASSERT_EQ(LoginOnceItWorks(*annAgain, "ann"), 1);
    ASSERT_EQ(send(*annAgain, "b0"), 1);
    ASSERT_EQ(send(*annAgain, "b1"), 1);
    ASSERT_EQ(ben->receiveUntil(2, 10s), texts("b", 0, 2));
    ASSERT_EQ(send(*annAgain, "b2"), 1);
    ASSERT_EQ(ben->receiveUntil(1, 10s), texts("b", 2, 3));
    ASSERT_EQ(send(*annAgain, "b3"), 1);
    killNode(0);
    auto benElsewhere = connect(1);
    ASSERT_EQ(LoginOnceItWorks(*benElsewhere, "ben"), 1);
    EXPECT_EQ(benElsewhere->receiveUntil(2, 10s), texts("b", 2, 4));
    EXPECT_TRUE(benElsewhere->receive().empty()) << "b0 and b1 were proven received";
}

TEST(RedisUnreachable, NodeRefusesLoginsKeepsItsUsersAndConnectsAgainByItself) {
    if (TestPostgresUrl().empty() || RedisUrl().empty())
        GTEST_SKIP() << "needs CT_TEST_POSTGRES_URL and CT_TEST_REDIS_URL "
                        "(scripts/test.sh starts a PostgreSQL and a Redis for the tests)";
    OwnRedis redis;
    ASSERT_TRUE(redis.start());
    TempFolder folder;
    ServerProcess node(folder.path(), {"--db", NewPostgresDatabase(), "--redis", redis.url(),
                                       "--presence-seconds", std::to_string(kPresenceSeconds)});
    ASSERT_TRUE(node.started()) << node.log();
    TestMaster master;
    Client ann(master, node.port());
    Client ben(master, node.port());
    ASSERT_TRUE(ann.enter("ann"));
    ASSERT_EQ(ben.registerAs("ben"), 1);

    redis.stop();
    EXPECT_EQ(ben.login("ben"), -DROVIK_EVENT_FAILED);
    EXPECT_NE(node.log().find("Redis unreachable"), std::string::npos) << node.log();
    // What the node has keeps working: its users, and messages through the store.
    EXPECT_EQ(ann.text("User_GetOnlineUserList"), "ann\n\r");
    EXPECT_EQ(ann.code("User_SendMessage", {std::string("ben"), std::string("kept")}), 1);
    EXPECT_EQ(ann.code("User_SendGlobalMessage", {std::string("lost")}), -DROVIK_EVENT_FAILED)
        << "the other nodes cannot be told";
    EXPECT_EQ(ann.code("Control_Start", {std::string(kAdminDigest)}), 1);
    EXPECT_EQ(ann.code("Control_KickUser", {std::string("ben")}), -DROVIK_EVENT_FAILED)
        << "who holds ben cannot be known";

    ASSERT_TRUE(redis.start());
    EXPECT_EQ(LoginOnceItWorks(ben, "ben"), 1);
    const std::vector<StreamedMessage> expected = {{"ann", "kept"}};
    EXPECT_EQ(ben.receiveUntil(1, 5s), expected);
    // The heartbeat claimed ann again in the new Redis.
    for (int i = 0; i < 300 && ben.text("User_GetOnlineUserList") != "ann\n\rben\n\r"; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ben.text("User_GetOnlineUserList"), "ann\n\rben\n\r");
    EXPECT_TRUE(node.running());
}

TEST(RedisWithPassword, NodesAuthenticateAndAWrongPasswordIsAStartUpError) {
    if (TestPostgresUrl().empty() || RedisUrl().empty())
        GTEST_SKIP() << "needs CT_TEST_POSTGRES_URL and CT_TEST_REDIS_URL "
                        "(scripts/test.sh starts a PostgreSQL and a Redis for the tests)";
    OwnRedis redis;
    ASSERT_TRUE(redis.start("pass word%"));
    const std::string db = NewPostgresDatabase();
    // The password alone, and the default user's name with it, percent-encoded.
    TempFolder folders[2];
    ServerProcess first(folders[0].path(), {"--db", db, "--redis", redis.url(":pass%20word%25@")});
    ServerProcess second(folders[1].path(),
                         {"--db", db, "--redis", redis.url("default:pass%20word%25@")});
    ASSERT_TRUE(first.started()) << first.log();
    ASSERT_TRUE(second.started()) << second.log();
    TestMaster master;
    Client ann(master, first.port());
    ASSERT_TRUE(ann.enter("ann"));
    Client annElsewhere(master, second.port());
    EXPECT_EQ(annElsewhere.login("ann"), 4) << "the claim went through Redis";

    const std::pair<std::string, std::string> refusals[] = {
        {redis.url(":wrong@"), "refused the password"},
        {redis.url(), "needs a password"},
    };
    for (const auto &[url, reason] : refusals) {
        TempFolder folder;
        ServerProcess node(folder.path(), {"--db", db, "--redis", url});
        EXPECT_FALSE(node.started()) << url;
        EXPECT_EQ(node.waitForExit(10s), 1) << url;
        EXPECT_NE(node.log().find(reason), std::string::npos) << node.log();
        EXPECT_EQ(node.log().find("wrong@"), std::string::npos) << "no password in the log";
    }
}

}  // namespace
