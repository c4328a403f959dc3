// The administrator's jobs: rights, kicks, bans, forced logins, the password and the log.
#include "ServerFixture.h"

namespace {

using namespace std::chrono_literals;

using ControlJobs = ServerTest;

TEST_F(ControlJobs, AdministratorModeComesAndGoesWithStartAndStop) {
    auto a = newUser("ann");
    const std::vector<std::pair<std::string, std::vector<drovik::Value>>> jobs = {
        {"Control_Stop", {}},
        {"Control_ChangePassword", {Digest("new")}},
        {"Control_StopServer", {}},
        {"Control_KickUser", {std::string("ann")}},
        {"Control_BannUser", {std::string("ann"), 3, 1}},
        {"Control_ForceLogin", {std::string("ann")}},
    };
    for (const auto &[job, params] : jobs)
        EXPECT_EQ(a->code(job, params), 3) << job << " outside administrator mode";

    EXPECT_EQ(a->code("Control_Start", {Digest("wrong")}), 2);
    EXPECT_EQ(a->code("Control_Start", {std::string(kAdminDigest)}), 1);
    EXPECT_EQ(a->code("Control_Start", {Digest(kAdminPassword)}), 1);
    EXPECT_EQ(a->code("Control_Stop"), 1);
    EXPECT_EQ(a->code("Control_Stop"), 3);
    EXPECT_EQ(a->code("Control_KickUser", {std::string("ann")}), 3);
    EXPECT_TRUE(server->running());
}

TEST_F(ControlJobs, FiveWrongPasswordsRefuseTheAddressWithoutChecking) {
    auto a = newClient();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a->code("Control_Start", {Digest("guess" + std::to_string(i))}), 2);
    EXPECT_EQ(a->code("Control_Start", {std::string(kAdminDigest)}), 2);
    auto b = newClient();  // the same address
    EXPECT_EQ(b->code("Control_Start", {std::string(kAdminDigest)}), 2);
}

TEST_F(ControlJobs, ChangedPasswordReplacesTheOld) {
    auto a = newAdmin("root");
    EXPECT_EQ(a->code("Control_ChangePassword", {Digest("n3w")}), 1);
    EXPECT_EQ(a->code("Control_ChangePassword", {std::string("")}), -DROVIK_EVENT_INVALID);
    auto b = newUser("ben");
    EXPECT_EQ(b->code("Control_Start", {std::string(kAdminDigest)}), 2);
    EXPECT_EQ(b->code("Control_Start", {Digest("n3w")}), 1);
}

TEST_F(ControlJobs, KickAnswersEveryCodeAndTheUserReceives163) {
    auto admin = newAdmin("root");
    auto target = newUser("ben");
    auto bystander = newUser("cid");
    ASSERT_EQ(bystander->registerAs("offline_one"), 1);

    EXPECT_EQ(admin->code("Control_KickUser", {std::string("nobody")}), 4);
    EXPECT_EQ(admin->code("Control_KickUser", {std::string("offline_one")}), 5);
    EXPECT_EQ(admin->code("Control_KickUser", {std::string("ROOT")}), 6);
    EXPECT_EQ(admin->code("Control_KickUser", {std::string("Ben")}), 1);
    EXPECT_EQ(target->connectionEvent(5s), DROVIK_EVENT_KICKED);
    EXPECT_EQ(bystander->connectionEvent(100ms), 0);
    EXPECT_EQ(bystander->text("User_GetOnlineUserList"), "cid\n\rroot\n\r");
    EXPECT_EQ(admin->code("Control_KickUser", {std::string("ben")}), 5);
}

TEST_F(ControlJobs, BanSetsAndLiftsTheFlag) {
    auto admin = newAdmin("root");
    auto c = newClient();
    ASSERT_EQ(c->registerAs("ben"), 1);

    EXPECT_EQ(admin->code("Control_BannUser", {std::string("nobody"), 3, 1}), 4);
    EXPECT_EQ(admin->code("Control_BannUser", {std::string("BEN"), 3, 1}), 1);
    EXPECT_EQ(c->login("ben"), 6);
    EXPECT_EQ(c->registerAs("ben"), 4);
    EXPECT_EQ(c->registerAs("Ben"), 4);
    EXPECT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 0}), 1);
    EXPECT_EQ(c->login("ben"), 1);
    EXPECT_EQ(c->registerAs("ben"), 2);
}

TEST_F(ControlJobs, KickThenBanAsTheClientComposesThem) {
    auto admin = newAdmin("root");
    auto target = newUser("ben");
    EXPECT_EQ(admin->code("Control_KickUser", {std::string("ben")}), 1);
    EXPECT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 1}), 1);
    EXPECT_EQ(target->connectionEvent(5s), DROVIK_EVENT_KICKED);
    auto again = newClient();
    EXPECT_EQ(again->login("ben"), 6);
}

TEST_F(ControlJobs, ForceLoginTakesOverTheAccount) {
    auto admin = newAdmin("root");
    auto holder = newUser("ben");
    auto sender = newUser("cid");
    ASSERT_EQ(sender->code("User_SendMessage", {std::string("ben"), std::string("for ben")}), 1);

    EXPECT_EQ(admin->code("Control_ForceLogin", {std::string("nobody")}), 4);
    EXPECT_EQ(admin->code("Control_ForceLogin", {std::string("Ben")}), 1);
    EXPECT_EQ(holder->connectionEvent(5s), DROVIK_EVENT_KICKED);
    EXPECT_EQ(admin->text("User_GetOnlineUserList"), "ben\n\rcid\n\r") << "root logged out";
    // The undelivered message went with the account.
    EXPECT_EQ(admin->receive(), (std::vector<StreamedMessage>{{"cid", "for ben"}}));
    EXPECT_EQ(admin->code("Control_Stop"), 1) << "still in administrator mode";

    // An account nobody holds.
    auto admin2 = newAdmin("dan");
    ASSERT_EQ(admin2->registerAs("eve"), 1);
    EXPECT_EQ(admin2->code("Control_ForceLogin", {std::string("eve")}), 1);
    EXPECT_EQ(admin2->code("User_SendGlobalMessage", {std::string("i am eve")}), 1);
    EXPECT_EQ(admin2->receive(), (std::vector<StreamedMessage>{{"eve", "i am eve"}}));
}

TEST_F(ControlJobs, EveryActionIsRecordedInTheStore) {
    {
        auto admin = newAdmin("root");
        auto target = newUser("ben");
        ASSERT_EQ(admin->code("Control_KickUser", {std::string("ben")}), 1);
        ASSERT_EQ(admin->code("Control_BannUser", {std::string("ben"), 3, 1}), 1);
        ASSERT_EQ(admin->code("Control_Stop"), 1);
    }
    ASSERT_EQ(server->stop(SIGTERM), 0);

    std::vector<std::string> rows;
    for (const auto &columns : QueryStore(folder.path(),
                                          "SELECT at, actor, address, action, target, detail "
                                          "FROM admin_log ORDER BY id")) {
        EXPECT_GT(std::stoll(columns[0]), 1600000000);
        EXPECT_EQ(columns[2].rfind("127.0.0.1:", 0), 0u);
        std::string row;
        for (int col : {1, 3, 4, 5})
            row += columns[col] + "|";
        rows.push_back(row);
    }
    const std::vector<std::string> expected = {
        "root|Control_Start|||",
        "root|Control_KickUser|ben||",
        "root|Control_BannUser|ben|banned=1 option=3|",
        "root|Control_Stop|||",
    };
    EXPECT_EQ(rows, expected);
}

}  // namespace
