// Starting, stopping and restarting: what survives, and what connected clients are told.
#include "ServerFixture.h"
#include "TestPictures.h"

namespace {

using namespace std::chrono_literals;

using Lifecycle = ServerTest;

TEST_F(Lifecycle, StoreSurvivesARestart) {
    const std::string profile = "VERSION 1\n\rFirstName: Ann";
    const drovik::Bytes bmp = MakeBmp();
    {
        auto admin = newAdmin("root");
        auto ann = newUser("Ann");
        auto ben = newUser("ben");
        ASSERT_EQ(ann->code("User_SetProfile", {profile}), 1);
        ASSERT_EQ(ann->code("User_SetProfileAvatar", {bmp}), 1);
        ASSERT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 1}), 1);
        ASSERT_EQ(admin->code("Control_ChangePassword", {Digest("changed")}), 1);
        ASSERT_EQ(ann->registerAs("cid"), 1);
        // One message for an offline user, one waiting in an online user's inbox at the stop.
        ASSERT_EQ(ann->code("User_SendMessage", {std::string("cid"), std::string("stored")}), 1);
        ASSERT_EQ(ann->code("User_SendMessage", {std::string("root"), std::string("pending")}), 1);
    }
    restartServer();

    auto c = newClient();
    EXPECT_EQ(c->registerAs("ann"), 2);
    EXPECT_EQ(c->login("ben"), 6);
    EXPECT_EQ(c->login("cid"), 1);
    EXPECT_EQ(c->receive(), (std::vector<StreamedMessage>{{"ann", "stored"}}));
    EXPECT_EQ(c->text("User_GetUserProfile", {std::string("ann")}), profile);
    EXPECT_EQ(c->memory("User_GetUserProfileAvatar", {std::string("ann")}).data, bmp);
    EXPECT_EQ(c->code("Control_Start", {std::string(kAdminDigest)}), 2);
    EXPECT_EQ(c->code("Control_Start", {Digest("changed")}), 1);
    auto root = newClient();
    EXPECT_EQ(root->login("root"), 1);
    EXPECT_EQ(root->receive(), (std::vector<StreamedMessage>{{"ann", "pending"}}));
}

TEST_F(Lifecycle, SigtermTellsEveryClientAndExitsCleanly) {
    auto a = newUser("ann");
    auto b = newClient();
    auto c = newUser("cid");
    EXPECT_EQ(server->stop(SIGTERM), 0);
    EXPECT_EQ(a->connectionEvent(5s), DROVIK_EVENT_SHUTDOWN);
    EXPECT_EQ(b->connectionEvent(5s), DROVIK_EVENT_SHUTDOWN);
    EXPECT_EQ(c->connectionEvent(5s), DROVIK_EVENT_SHUTDOWN);
    EXPECT_NE(server->log().find("stopped"), std::string::npos);
}

TEST_F(Lifecycle, SigintStopsToo) {
    auto a = newUser("ann");
    EXPECT_EQ(server->stop(SIGINT), 0);
    EXPECT_EQ(a->connectionEvent(5s), DROVIK_EVENT_SHUTDOWN);
}

TEST_F(Lifecycle, StopServerAnswersThenShutsDown) {
    auto admin = newAdmin("root");
    auto other = newUser("ben");
    EXPECT_EQ(admin->code("Control_StopServer"), 1);
    EXPECT_EQ(server->waitForExit(10s), 0);
    EXPECT_EQ(admin->connectionEvent(5s), DROVIK_EVENT_SHUTDOWN);
    EXPECT_EQ(other->connectionEvent(5s), DROVIK_EVENT_SHUTDOWN);
}

TEST(LifecycleStart, HelpListsEveryOptionWithItsDefault) {
    std::string command = ServerProcess::binary().string() + " --help";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string help;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        help.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    for (const char *option :
         {"--bind TEXT=127.0.0.1", "=7000", "--db TEXT=data/community.db", "--admin-password-file",
          "=10240", "--max-avatar-width", "--max-avatar-height", "--min-password-length",
          "--profile-cache-seconds", "=300", "--inbox-limit", "=10000"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(LifecycleStart, WithoutPasswordFileARandomPasswordIsPrintedOnce) {
    TempFolder folder;
    std::string db = (folder.path() / "sub" / "community.db").string();
    auto runOnce = [&] {
        // Stopped once it listens (or after 20 s), however slow the machine is today.
        const std::string outFile = (folder.path() / "out.txt").string();
        std::string command = ServerProcess::binary().string() +
                              " --port 0 --hash-ops 1 --hash-memory-kib 8 --db " + db + " >" +
                              outFile + " 2>/dev/null & pid=$!; for i in $(seq 200); do grep -q " +
                              "'^listening on' " + outFile + " && break; sleep 0.1; done; " +
                              "kill -TERM $pid; wait $pid; cat " + outFile;
        FILE *pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[512];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        pclose(pipe);
        return out;
    };
    std::string first = runOnce();
    EXPECT_NE(first.find("administrator password: "), std::string::npos) << first;
    EXPECT_NE(first.find("listening on 127.0.0.1:"), std::string::npos) << first;
    std::string second = runOnce();
    EXPECT_EQ(second.find("administrator password"), std::string::npos) << second;
    EXPECT_TRUE(std::filesystem::exists(db)) << "the folder is created";
}

}  // namespace
