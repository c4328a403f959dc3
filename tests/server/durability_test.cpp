// Nothing acknowledged is lost: private messages answered with 1 survive a kill -9 of the server
// at every stage of their delivery, and a store that cannot commit refuses them instead.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

class Durability : public ServerTest {
protected:
    std::vector<std::string> serverOptions() const override {
        return {"--inbox-limit",        "5",    "--flood-burst",         "1000",
                "--flood-rate",         "1000", "--address-flood-burst", "1000",
                "--address-flood-rate", "1000"};
    }
    void killAndRestart() {
        server->stop(SIGKILL);
        ASSERT_FALSE(server->running());
        startServer();
    }
    void send(Client &from, const std::string &to, int count, int first = 0) {
        for (int i = first; i < first + count; ++i)
            ASSERT_EQ(from.code("User_SendMessage", {to, to + "-" + std::to_string(i)}), 1);
    }
    static std::vector<StreamedMessage> expected(const std::string &to, int from, int end) {
        std::vector<StreamedMessage> messages;
        for (int i = from; i < end; ++i)
            messages.push_back({"ann", to + "-" + std::to_string(i)});
        return messages;
    }
    // Logs in on a new connection, collects until a poll brings nothing more and logs out.
    std::vector<StreamedMessage> collect(const std::string &name) {
        auto client = newClient();
        EXPECT_EQ(client->login(name), 1) << name;
        std::vector<StreamedMessage> all;
        for (;;) {
            auto some = client->receive();
            if (some.empty())
                break;
            all.insert(all.end(), some.begin(), some.end());
        }
        EXPECT_EQ(client->code("User_Logout"), 1);
        return all;
    }
};

TEST_F(Durability, AcknowledgedMessagesSurviveAKillAtEveryStageOfDelivery) {
    auto ann = newUser("ann");
    // Online, not yet polled; its inbox holds five, the other seven wait in the store.
    auto on = newUser("on");
    send(*ann, "on", 3);
    auto big = newUser("big");
    send(*ann, "big", 12);
    // Offline.
    for (const char *name : {"off", "taken"}) {
        auto client = newUser(name);
        ASSERT_EQ(client->code("User_Logout"), 1);
    }
    send(*ann, "off", 3);
    // Taken from the store by a login, not fetched.
    send(*ann, "taken", 3);
    auto taken = newClient();
    ASSERT_EQ(taken->login("taken"), 1);
    // Streamed, then the connection dropped before a next job could prove it arrived.
    auto broken = newUser("broken");
    send(*ann, "broken", 3);
    ASSERT_EQ(broken->receive(), expected("broken", 0, 3));
    broken->disconnect();
    send(*ann, "broken", 1, 3);
    // Streamed and proven by the next job: delivered, not to come again.
    auto done = newUser("done");
    send(*ann, "done", 3);
    ASSERT_EQ(done->receive(), expected("done", 0, 3));
    ASSERT_TRUE(done->text("User_GetOnlineUserList").has_value());
    send(*ann, "done", 1, 3);

    killAndRestart();

    EXPECT_EQ(collect("on"), expected("on", 0, 3));
    EXPECT_EQ(collect("big"), expected("big", 0, 12)) << "in order, none dropped";
    EXPECT_EQ(collect("off"), expected("off", 0, 3));
    EXPECT_EQ(collect("taken"), expected("taken", 0, 3));
    EXPECT_EQ(collect("broken"), expected("broken", 0, 4)) << "the broken stream comes again";
    EXPECT_EQ(collect("done"), expected("done", 3, 4));

    // Each collection ended with a logout, which proved the last stream: nothing comes again,
    // across another kill either.
    killAndRestart();
    EXPECT_TRUE(collect("big").empty());
    EXPECT_TRUE(collect("broken").empty());
}

// Sets or clears the file's immutable flag, which stops writes even through open descriptors and
// even for root; false where the file system or the process's rights do not allow it.
bool SetImmutable(const std::filesystem::path &file, bool on) {
    int fd = open(file.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return ok;
}

TEST_F(Durability, StoreThatCannotCommitRefusesTheMessage) {
    auto ann = newUser("ann");
    auto ben = newUser("ben");
    send(*ann, "ben", 1, 0);
    const auto db = folder.path() / "community.db";
    const std::vector<std::filesystem::path> files = {db, db.string() + "-wal"};
    struct Writable {
        const std::vector<std::filesystem::path> &files;
        ~Writable() {
            for (const auto &f : files)
                SetImmutable(f, false);
        }
    } writable{files};
    for (const auto &f : files)
        if (!SetImmutable(f, true))
            GTEST_SKIP() << "cannot make " << f << " read-only here (needs root on ext4 or alike)";

    EXPECT_EQ(ann->code("User_SendMessage", {std::string("ben"), std::string("ben-refused")}),
              -DROVIK_EVENT_FAILED);
    EXPECT_NE(server->log().find("store cannot commit"), std::string::npos);

    for (const auto &f : files)
        ASSERT_TRUE(SetImmutable(f, false));
    send(*ann, "ben", 1, 1);
    EXPECT_EQ(ben->receive(), expected("ben", 0, 2)) << "the refused one is not among them";
}

// The same on PostgreSQL, whose refusal is made by a trigger that fails every new message.
TEST_F(Durability, DatabaseThatCannotCommitRefusesTheMessage) {
    if (!TestStoreIsPostgres())
        GTEST_SKIP() << "the store is a SQLite file here; the test above refuses its commits";
    auto ann = newUser("ann");
    auto ben = newUser("ben");
    send(*ann, "ben", 1, 0);
    QueryStore(folder.path(), R"sql(
        CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql
            AS $$ BEGIN RAISE EXCEPTION 'refused by the test'; END $$;
        CREATE TRIGGER refuse BEFORE INSERT ON private_messages
            FOR EACH ROW EXECUTE FUNCTION refuse();
        )sql");
    EXPECT_EQ(ann->code("User_SendMessage", {std::string("ben"), std::string("ben-refused")}),
              -DROVIK_EVENT_FAILED);
    EXPECT_NE(server->log().find("refused by the test"), std::string::npos) << server->log();

    QueryStore(folder.path(), "DROP TRIGGER refuse ON private_messages");
    send(*ann, "ben", 1, 1);
    EXPECT_EQ(ben->receive(), expected("ben", 0, 2)) << "the refused one is not among them";
}

// Connections that the database server ended are made again by the next jobs that need them;
// a job that met a broken one fails, and a message is acknowledged only if it was kept.
TEST_F(Durability, ConnectionsTheDatabaseEndedAreMadeAgain) {
    if (!TestStoreIsPostgres())
        GTEST_SKIP() << "the store is a SQLite file here";
    auto ann = newUser("ann");
    auto ben = newUser("ben");
    send(*ann, "ben", 1, 0);
    QueryStore(folder.path(),
               "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
               "WHERE datname = current_database() AND pid <> pg_backend_pid()");

    int acknowledged = 1;
    for (int i = 1; i < 4; ++i) {
        int32_t code =
            ann->code("User_SendMessage", {std::string("ben"), "ben-" + std::to_string(i)});
        if (code == 1)
            ++acknowledged;
        else
            EXPECT_EQ(code, -DROVIK_EVENT_FAILED);
    }
    EXPECT_GE(acknowledged, 3) << "at most the first message after the break is refused";
    int32_t registered = newClient()->registerAs("cid");
    if (registered != 1)
        registered = newClient()->registerAs("cid");
    EXPECT_EQ(registered, 1) << "at most the first job on a broken connection fails";
    const auto received = ben->receive();
    EXPECT_EQ(static_cast<int>(received.size()), acknowledged);
    EXPECT_EQ(received.front().text, "ben-0");
}

}  // namespace
