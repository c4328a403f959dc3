// Registration, login, logout, preferences and the online list, through the real library.
#include <cstring>

#include "ServerFixture.h"

namespace {

class AccountJobs : public ServerTest {
protected:
    std::vector<std::string> serverOptions() const override {
        return {"--max-avatar-bytes",      "2048", "--max-avatar-width",     "64",
                "--max-avatar-height",     "48",   "--avatar-cache-seconds", "77",
                "--profile-cache-seconds", "33",   "--min-password-length",  "6",
                "--login-failures",        "3"};
    }
};

TEST_F(AccountJobs, RegisterAnswersEveryCode) {
    auto c = newClient();
    EXPECT_EQ(c->code("User_Register", {std::string(""), Digest(""), 0}), 5) << "empty name";
    EXPECT_EQ(c->registerAs("has blank"), 5);
    EXPECT_EQ(c->registerAs("umlaut\xe4"), 5);
    EXPECT_EQ(c->registerAs("hy-phen"), 5);
    EXPECT_EQ(c->registerAs(std::string(33, 'a')), 5);
    EXPECT_EQ(c->registerAs(std::string(32, 'a')), 1);
    EXPECT_EQ(c->registerAs("Alice_1"), 1);
    EXPECT_EQ(c->registerAs("alice_1"), 2) << "names differ only in case";
    EXPECT_EQ(c->registerAs("ALICE_1"), 2);
    EXPECT_EQ(c->registerAs("bob", "12345"), 3);
    EXPECT_EQ(c->code("User_Register", {std::string("bob"), Digest("x"), -1}), 3);
    EXPECT_EQ(c->registerAs("bob", "123456"), 1);
}

TEST_F(AccountJobs, LoginAnswersEveryCode) {
    auto first = newClient();
    auto second = newClient();
    ASSERT_EQ(first->registerAs("Carol", "carol-pw"), 1);
    ASSERT_EQ(first->registerAs("dave", "dave-pw"), 1);

    EXPECT_EQ(first->login("nobody"), 2);
    EXPECT_EQ(first->login("not valid!"), 2);
    EXPECT_EQ(first->login("carol", "wrong"), 3);
    EXPECT_EQ(first->login("CAROL", "carol-pw"), 1) << "names are case-insensitive";
    EXPECT_EQ(first->login("carol", "carol-pw"), 1) << "the same account again";
    EXPECT_EQ(second->login("carol", "carol-pw"), 4);
    EXPECT_EQ(first->login("dave", "dave-pw"), 5);

    // Logging out frees the name for another connection.
    EXPECT_EQ(first->code("User_Logout"), 1);
    EXPECT_EQ(first->code("User_Logout"), 1) << "also when not logged in";
    EXPECT_EQ(second->login("carol", "carol-pw"), 1);
}

TEST_F(AccountJobs, RepeatedWrongPasswordsRefuseTheAddressForAWhile) {
    auto c = newClient();
    ASSERT_EQ(c->registerAs("erin", "erin-pw"), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c->login("erin", "guess"), 3);
    EXPECT_EQ(c->login("erin", "erin-pw"), 3) << "the right password is refused for now";
    EXPECT_NE(server->log().find("logins from 127.0.0.1 refused for 60 s"), std::string::npos);
}

TEST_F(AccountJobs, PreferencesComeFromTheOptions) {
    auto c = newClient();
    drovik::Reply reply = c->memory("User_GetPreferences");
    ASSERT_EQ(reply.event, DROVIK_EVENT_FINISHED);
    ASSERT_EQ(reply.data.size(), 24u);
    int32_t fields[6];
    std::memcpy(fields, reply.data.data(), sizeof fields);
    EXPECT_EQ(fields[0], 1);
    EXPECT_EQ(fields[1], 2048);
    EXPECT_EQ(fields[2], 64);
    EXPECT_EQ(fields[3], 48);
    EXPECT_EQ(fields[4], 77) << "avatar cache";
    EXPECT_EQ(fields[5], 33) << "profile cache";
}

TEST_F(AccountJobs, OnlineListIsSortedLowerCaseWithLineEnds) {
    auto zed = newUser("Zed");
    auto amy = newUser("amy");
    auto mike = newUser("MIKE");
    EXPECT_EQ(amy->text("User_GetOnlineUserList"), "amy\n\rmike\n\rzed\n\r");

    // A closed connection logs its user out.
    mike->disconnect();
    std::string list;
    for (int i = 0;
         i < 200 && (list = amy->text("User_GetOnlineUserList").value_or("")) != "amy\n\rzed\n\r";
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(list, "amy\n\rzed\n\r");
    auto again = newClient();
    EXPECT_EQ(again->login("mike"), 1);
}

TEST_F(AccountJobs, JobsThatNeedALoginAreRefusedWithoutOne) {
    auto c = newClient();
    const std::vector<std::pair<std::string, std::vector<drovik::Value>>> jobs = {
        {"User_GetOnlineUserList", {}},
        {"User_SendGlobalMessage", {std::string("hi")}},
        {"User_SendMessage", {std::string("x"), std::string("hi")}},
        {"User_ReceiveMessages", {}},
        {"User_SetProfile", {std::string("p")}},
        {"User_GetProfile", {}},
        {"User_GetUserProfile", {std::string("x")}},
        {"User_SetProfileAvatar", {drovik::Bytes{1, 2, 3}}},
        {"User_GetProfileAvatar", {}},
        {"User_GetUserProfileAvatar", {std::string("x")}},
        {"Control_Stop", {}},
        {"Control_ChangePassword", {Digest("n")}},
        {"Control_StopServer", {}},
        {"Control_KickUser", {std::string("x")}},
        {"Control_BannUser", {std::string("x"), 3, 1}},
        {"Control_ForceLogin", {std::string("x")}},
    };
    for (const auto &[job, params] : jobs)
        EXPECT_EQ(c->call(job, params, DROVIK_TYPE_LONG).event, DROVIK_EVENT_DENIED) << job;
    // These five need none.
    EXPECT_EQ(c->code("User_Logout"), 1);
    EXPECT_EQ(c->memory("User_GetPreferences").event, DROVIK_EVENT_FINISHED);
    EXPECT_EQ(c->registerAs("frank"), 1);
    EXPECT_EQ(c->code("Control_Start", {Digest("wrong")}), 2);
    EXPECT_EQ(c->login("frank"), 1);
    EXPECT_EQ(c->text("User_GetOnlineUserList"), "frank\n\r");
}

TEST_F(AccountJobs, MalformedParameterListsAreInvalidAndTheServerGoesOn) {
    auto c = newClient();
    const std::vector<std::pair<std::string, std::vector<drovik::Value>>> malformed = {
        {"User_Register", {std::string("gina"), Digest("pw")}},                    // too few
        {"User_Register", {std::string("gina"), Digest("pw"), std::string("6")}},  // wrong type
        {"User_Login", {}},
        {"User_Login", {std::string("gina"), Digest("pw"), 1}},  // too many
        {"User_Logout", {1}},
        {"User_GetPreferences", {std::string("x")}},
        {"Control_Start", {7}},
    };
    for (const auto &[job, params] : malformed)
        EXPECT_EQ(c->call(job, params, DROVIK_TYPE_LONG).event, DROVIK_EVENT_INVALID) << job;
    EXPECT_EQ(c->call("User_NoSuchJob", {}, DROVIK_TYPE_LONG).event, DROVIK_EVENT_UNKNOWN);

    // Logged in, the jobs behind the access check are checked too.
    ASSERT_TRUE(c->enter("gina"));
    EXPECT_EQ(c->call("User_SendMessage", {std::string("gina")}, DROVIK_TYPE_LONG).event,
              DROVIK_EVENT_INVALID);
    EXPECT_EQ(c->call("User_SetProfile", {drovik::Bytes{1}}, DROVIK_TYPE_LONG).event,
              DROVIK_EVENT_INVALID);
    EXPECT_EQ(c->call("Control_KickUser", {}, DROVIK_TYPE_LONG).event, DROVIK_EVENT_INVALID);
    EXPECT_EQ(
        c->call("Control_BannUser", {std::string("gina"), 1, std::string("3")}, DROVIK_TYPE_LONG)
            .event,
        DROVIK_EVENT_INVALID);
    EXPECT_EQ(c->call("User_SetProfileAvatar", {std::string("not memory")}, DROVIK_TYPE_LONG).event,
              DROVIK_EVENT_INVALID);
    EXPECT_EQ(c->text("User_GetOnlineUserList"), "gina\n\r") << "still serving";
    EXPECT_TRUE(server->running());
}

}  // namespace
