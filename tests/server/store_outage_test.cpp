// A node on a PostgreSQL server that goes away: it refuses what needs the store at once instead of
// waiting, acknowledges nothing it could not store, keeps its logged-in users, says so once in its
// log, and takes logins again by itself once the server is back. Runs where CT_TEST_POSTGRES_URL
// says PostgreSQL is installed, on a cluster of the test's own that it crashes and starts again.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <thread>

#include "ServerProcess.h"
#include "TestClient.h"

namespace {

using namespace std::chrono_literals;

// A throw-away cluster made by scripts/postgres-test-cluster.sh.
class OwnPostgres {
public:
    OwnPostgres() {
        // The cluster runs as an unprivileged user, who must reach its folder.
        chmod(parent_.path().c_str(), 0755);
        url_ = script("start");
    }
    ~OwnPostgres() { script("stop"); }
    const std::string &url() const { return url_; }
    // Stops it at once, as a crash of its machine's database server would.
    bool crash() { return ok(script("crash")); }
    bool restart() { return ok(script("restart")); }
    // Stops its processes where they stand, connections open, as a machine that hangs would.
    bool freeze() { return ok(script("freeze")); }
    bool thaw() { return ok(script("thaw")); }

private:
    static bool ok(const std::string &output) { return output != "(failed)"; }
    // The script's first line of output; "(failed)" when it failed.
    std::string script(const std::string &command) {
        const std::string line = "bash '" CT_SOURCE_DIR "/scripts/postgres-test-cluster.sh' " +
                                 command + " '" + folder().string() + "' 2>/dev/null";
        FILE *out = popen(line.c_str(), "r");
        if (!out)
            return "(failed)";
        std::string text;
        char buffer[512];
        while (fgets(buffer, sizeof buffer, out))
            text += buffer;
        if (pclose(out) != 0)
            return "(failed)";
        return text.substr(0, text.find('\n'));
    }
    std::filesystem::path folder() const { return parent_.path() / "postgres"; }

    TempFolder parent_;
    std::string url_;
};

size_t Occurrences(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A node on a cluster of the test's own, with ann logged in and ben registered.
class StoreUnreachable : public ::testing::Test {
protected:
    void SetUp() override {
        if (TestPostgresUrl().empty())
            GTEST_SKIP() << "needs CT_TEST_POSTGRES_URL (scripts/test.sh starts a PostgreSQL)";
        postgres.emplace();
        ASSERT_NE(postgres->url().rfind("postgresql://", 0), std::string::npos) << postgres->url();
    }

    // Starts the node with `options` besides its store; false when it did not come up.
    bool startNode(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--db", postgres->url()});
        node.emplace(folder.path(), options);
        if (!node->started())
            return false;
        ann.emplace(master, node->port());
        ben.emplace(master, node->port());
        return ann->enter("ann") && ben->registerAs("ben") == 1;
    }

    // The event that ends the job, waited for no longer than a client's 5 s time-out (event 0).
    int32_t within5s(Client &client, const std::string &job,
                     const std::vector<drovik::Value> &params) {
        return master.master.call(client.slave(), job, params, DROVIK_TYPE_LONG, 5s).event;
    }

    // Ben's login once the node takes logins again; its last code.
    int32_t benLogsInAgain() {
        int32_t code = 0;
        for (int i = 0; i < 300 && (code = ben->login("ben")) != 1; ++i)
            std::this_thread::sleep_for(50ms);
        return code;
    }

    std::optional<OwnPostgres> postgres;
    TempFolder folder;
    std::optional<ServerProcess> node;
    TestMaster master;
    std::optional<Client> ann, ben;
};

TEST_F(StoreUnreachable, NodeRefusesAtOnceAcknowledgesNothingAndTakesLoginsAgainByItself) {
    ASSERT_TRUE(startNode()) << node->log();
    ASSERT_EQ(ann->code("User_SendMessage", {std::string("ben"), std::string("before")}), 1);

    ASSERT_TRUE(postgres->crash());
    // Each answer comes before the time-out: the first job finds the outage, and the others are
    // refused without waiting for a connection.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(within5s(*ben, "User_Login", {std::string("ben"), Digest("password1")}),
                  DROVIK_EVENT_FAILED);
    EXPECT_EQ(within5s(*ann, "User_SendMessage", {std::string("ben"), std::string("lost")}),
              DROVIK_EVENT_FAILED)
        << "never acknowledged";
    EXPECT_EQ(ann->text("User_GetOnlineUserList"), "ann\n\r") << "ann stays logged in";
    EXPECT_EQ(Occurrences(node->log(), "store unreachable"), 1u) << node->log();
    EXPECT_EQ(Occurrences(node->log(), "job User_Login failed"), 0u) << "the outage, not each job";

    ASSERT_TRUE(postgres->restart());
    EXPECT_EQ(benLogsInAgain(), 1);
    std::smatch refused;
    const std::string log = node->log();
    ASSERT_TRUE(std::regex_search(log, refused, std::regex("store reachable again .*; (\\d+) ")))
        << log;
    EXPECT_GE(std::stoi(refused[1]), 3) << "at least the logins after the first";
    EXPECT_EQ(ann->code("User_SendMessage", {std::string("ben"), std::string("after")}), 1);
    const std::vector<StreamedMessage> expected = {{"ann", "before"}, {"ann", "after"}};
    EXPECT_EQ(ben->receiveUntil(2, 5s), expected);
}

// A server that hangs with its connections open answers nothing and closes nothing: a node waits
// for it no longer than its store time-out, then treats it as gone, and takes it back by itself.
TEST_F(StoreUnreachable, AServerThatHangsIsGivenUpOnAfterTheStoreTimeOut) {
    ASSERT_TRUE(startNode({"--store-timeout", "1"})) << node->log();
    ASSERT_EQ(ben->code("User_Logout"), 1);

    ASSERT_TRUE(postgres->freeze());
    const int32_t sent = within5s(*ann, "User_SendMessage", {std::string("ben"), std::string("x")});
    const int32_t login = within5s(*ben, "User_Login", {std::string("ben"), Digest("password1")});
    const std::string log = node->log();
    ASSERT_TRUE(postgres->thaw());
    EXPECT_EQ(sent, DROVIK_EVENT_FAILED) << "never acknowledged";
    EXPECT_EQ(login, DROVIK_EVENT_FAILED);
    EXPECT_NE(log.find("no answer within 1000 ms"), std::string::npos) << log;

    EXPECT_EQ(benLogsInAgain(), 1);
    EXPECT_EQ(ann->code("User_SendMessage", {std::string("ben"), std::string("after")}), 1);
    const std::vector<StreamedMessage> expected = {{"ann", "after"}};
    EXPECT_EQ(ben->receiveUntil(1, 5s), expected);
}

// Twelve users each start a job that waits for the store while PostgreSQL is frozen (store
// time-out 3 s), on a node with four job threads, and ann asks for the online list meanwhile.
struct ListDuringHungJobs {
    std::chrono::steady_clock::duration waited{};
    bool answered = false;
    int finished = 0;  // hung jobs that ended with FINISHED within a client's 5 s
};

class JobsOnAHungStore : public StoreUnreachable {
protected:
    void SetUp() override {
        StoreUnreachable::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(startNode({"--store-timeout", "3", "--workers", "4"})) << node->log();
        for (int i = 0; i < 12; ++i) {
            users.push_back(std::make_unique<Client>(master, node->port()));
            ASSERT_TRUE(users.back()->enter("user" + std::to_string(i)));
        }
    }

    // `hungJob` is each user's job once the store is frozen and `frozen` has run; true when it
    // ended with FINISHED.
    ListDuringHungJobs listWhile(const std::function<void()> &frozen,
                                 const std::function<bool(Client &)> &hungJob) {
        ListDuringHungJobs seen;
        EXPECT_TRUE(postgres->freeze());
        frozen();
        std::vector<std::thread> jobs;
        std::atomic<int> finished{0};
        for (auto &user : users)
            jobs.emplace_back([&, client = user.get()] {
                if (hungJob(*client))
                    ++finished;
            });
        std::this_thread::sleep_for(500ms);  // every job waits for the store by now
        const auto asked = std::chrono::steady_clock::now();
        seen.answered = ann->text("User_GetOnlineUserList").has_value();
        seen.waited = std::chrono::steady_clock::now() - asked;
        for (auto &t : jobs)
            t.join();
        EXPECT_TRUE(postgres->thaw());
        seen.finished = finished;
        return seen;
    }

    std::vector<std::unique_ptr<Client>> users;
};

// Messages waiting for their commit hold no job thread: with more of them than there are threads,
// other jobs are answered at once, nothing the store did not take is acknowledged, and the node
// serves as before once the store answers.
TEST_F(JobsOnAHungStore, MessagesHoldNoJobThreads) {
    const ListDuringHungJobs seen = listWhile(
        [] {},
        [&](Client &user) {
            return within5s(user, "User_SendMessage", {std::string("ben"), std::string("x")}) ==
                   DROVIK_EVENT_FINISHED;
        });
    EXPECT_TRUE(seen.answered);
    EXPECT_LT(seen.waited, 1s) << "four threads, twelve messages waiting: the list waited";
    EXPECT_EQ(seen.finished, 0) << "nothing the store did not take is acknowledged";
    EXPECT_EQ(benLogsInAgain(), 1);
    EXPECT_EQ(ann->code("User_SendMessage", {std::string("ben"), std::string("after")}), 1);
}

// Neither do polls whose new messages wait until the removal of what the last poll brought is
// committed: they end once the store has answered (or timed out), and the messages come then.
TEST_F(JobsOnAHungStore, PollsHoldNoJobThreads) {
    // Each has a message from its neighbour (one each: messages are limited per account).
    for (size_t i = 0; i < users.size(); ++i) {
        const std::string next = "user" + std::to_string((i + 1) % users.size());
        ASSERT_EQ(users[i]->code("User_SendMessage", {next, std::string("p")}), 1);
    }
    for (auto &user : users)
        ASSERT_EQ(user->receiveUntil(1, 5s).size(), 1u);
    std::atomic<int> globalsSeen{0};
    const ListDuringHungJobs seen = listWhile(
        [&] {
            // Needs no store: it goes straight to the inboxes, behind the removals.
            EXPECT_EQ(ann->code("User_SendGlobalMessage", {std::string("to all")}), 1);
        },
        [&](Client &user) {
            int32_t count = -1;
            const auto messages = user.receive(&count);
            if (messages.size() == 1 && messages[0].text == "to all")
                ++globalsSeen;
            return count >= 0;
        });
    EXPECT_TRUE(seen.answered);
    EXPECT_LT(seen.waited, 1s) << "four threads, twelve polls waiting: the list waited";
    EXPECT_EQ(seen.finished, 12);
    EXPECT_EQ(globalsSeen, 12);
}

}  // namespace
