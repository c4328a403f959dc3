// Who may do what: the password throttles, logins on a connection that holds an account, bans,
// administrator mode, and the privacy of the store's files.
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

using Authority = ServerTest;

size_t CountLines(const std::string &log, const std::string &what) {
    size_t count = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
        ++count;
    return count;
}

TEST_F(Authority, AGoodLoginOfAnotherAccountNeverLiftsTheAddressCount) {
    restartWith({"--login-failures", "10", "--account-failures", "1000"});
    auto guesser = newClient();
    ASSERT_EQ(guesser->registerAs("ann", "ann-pw"), 1);
    auto other = newClient();
    ASSERT_EQ(other->registerAs("ben", "ben-pw"), 1);

    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(guesser->login("ann", "guess"), 3);
    EXPECT_EQ(other->login("ben", "ben-pw"), 1);  // the same address
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(guesser->login("ann", "guess"), 3);
    EXPECT_EQ(guesser->login("ann", "ann-pw"), 3) << "the address is refused while the block lasts";
    EXPECT_NE(server->log().find("logins from 127.0.0.1 refused for 60 s"), std::string::npos);
}

TEST_F(Authority, AnAccountBeingGuessedIsSlowedNotLockedOut) {
    restartWith({"--account-failures", "3", "--account-max-delay-seconds", "1"});
    auto c = newClient();
    ASSERT_EQ(c->registerAs("ann", "ann-pw"), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c->login("ann", "guess"), 3);
    // The next check waits for the delay: even the right password is not checked before it.
    EXPECT_EQ(c->login("ann", "ann-pw"), 3);
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(c->login("ann", "ann-pw"), 1) << "the owner gets in once the delay has passed";
}

TEST_F(Authority, ParallelGuessesRunNoMorePasswordChecksThanTheLimit) {
    restartWith({"--admin-failures", "5"});
    constexpr int kGuesses = 64;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kGuesses; ++i)
        clients.push_back(newClient());
    std::vector<std::thread> threads;
    std::atomic<int> refused{0};
    for (int i = 0; i < kGuesses; ++i)
        threads.emplace_back([&, i] {
            refused +=
                clients[i]->code("Control_Start", {Digest("guess" + std::to_string(i))}) == 2;
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(refused, kGuesses);
    // Every connection's first refusal is logged: the wrong passwords are the checks that ran.
    const size_t checked = CountLines(server->log(), ": wrong password");
    EXPECT_GE(checked, 1u);
    EXPECT_LE(checked, 5u);
}

TEST_F(Authority, AConnectionHoldingAnAccountLearnsNothingOfAnotherAccountsPassword) {
    auto ann = newUser("ann");
    ASSERT_EQ(newClient()->registerAs("ben", "ben-pw"), 1);
    EXPECT_EQ(ann->login("ben", "ben-pw"), 5);
    EXPECT_EQ(ann->login("ben", "wrong"), 5);
    EXPECT_EQ(ann->login("ann"), 1) << "its own account is still its own";
}

TEST_F(Authority, ABanEndsTheLiveSessionAndKickThenBanLeavesNoWindow) {
    auto admin = newAdmin("root");
    auto ben = newUser("ben");
    EXPECT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 1}), 1);
    EXPECT_EQ(ben->connectionEvent(5s), DROVIK_EVENT_KICKED);
    EXPECT_EQ(admin->text("User_GetOnlineUserList"), "root\n\r");
    EXPECT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 0}), 1);

    // A client that logs in again the moment it is kicked, against the kick-then-ban the client
    // program composes: after the ban it is never left logged in.
    for (int round = 0; round < 5; ++round) {
        std::atomic<bool> stop{false};
        std::thread eager([&] {
            while (!stop) {
                auto c = newClient();
                if (c->login("ben") == 1)
                    c->connectionEvent(2s);  // until it is kicked
            }
        });
        std::this_thread::sleep_for(20ms);
        EXPECT_GT(admin->code("Control_KickUser", {std::string("ben")}), 0);
        EXPECT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 1}), 1);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(admin->text("User_GetOnlineUserList"), "root\n\r") << "round " << round;
        stop = true;
        eager.join();
        ASSERT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 0}), 1);
    }
}

TEST_F(Authority, AdministratorModeBelongsToTheAccountThatStartedIt) {
    auto ann = newAdmin("ann");
    ASSERT_EQ(ann->code("User_Logout"), 1);
    ASSERT_EQ(ann->login("ann"), 1);
    EXPECT_EQ(ann->code("Control_KickUser", {std::string("ann")}), 3) << "ended at the logout";

    // A forced login keeps the mode, and the log goes on naming the administrator.
    auto root = newAdmin("root");
    ASSERT_EQ(newClient()->registerAs("eve"), 1);
    ASSERT_EQ(root->code("Control_ForceLogin", {std::string("eve")}), 1);
    EXPECT_EQ(root->code("Control_BannUser", {std::string("ann"), 3, 1}), 1);
    ASSERT_EQ(server->stop(SIGTERM), 0);
    EXPECT_EQ(
        QueryStore(folder.path(), "SELECT actor FROM admin_log WHERE action='Control_BannUser'"),
        (std::vector<std::vector<std::string>>{{"root"}}));
}

TEST_F(Authority, TheEmptyPasswordIsNeverTheAdministratorPassword) {
    auto root = newAdmin("root");
    EXPECT_EQ(root->code("Control_ChangePassword", {Digest("")}), -DROVIK_EVENT_INVALID);
    EXPECT_EQ(newUser("ben")->code("Control_Start", {Digest("")}), 2);
    EXPECT_EQ(newUser("cid")->code("Control_Start", {std::string(kAdminDigest)}), 1);
}

TEST_F(Authority, StoreFilesArePrivateWhateverTheUmask) {
    // Readable by others, as a carelessly made file would be: used, and warned about.
    std::filesystem::permissions(folder.path() / "admin-password.txt",
                                 std::filesystem::perms::owner_read |
                                     std::filesystem::perms::owner_write |
                                     std::filesystem::perms::others_read);
    const mode_t previous = umask(0);
    ServerProcess private_(folder.path(), {"--db", (folder.path() / "new" / "store.db").string()});
    umask(previous);
    ASSERT_TRUE(private_.started()) << private_.log();
    {
        TestMaster m;  // a session makes SQLite open its WAL and shared-memory files
        Client c(m, private_.port());
        ASSERT_EQ(c.registerAs("ann"), 1);
        auto mode = [](const std::filesystem::path &p) {
            struct stat st {};
            return stat(p.c_str(), &st) == 0 ? int(st.st_mode & 0777) : -1;
        };
        EXPECT_EQ(mode(folder.path() / "new"), 0700);
        for (const char *file : {"store.db", "store.db-wal", "store.db-shm"})
            EXPECT_EQ(mode(folder.path() / "new" / file), 0600) << file;
    }
    ASSERT_EQ(private_.stop(SIGTERM), 0);
    EXPECT_NE(private_.log().find("can be read by other users"), std::string::npos);
}

}  // namespace
