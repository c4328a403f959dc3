// Account requests against a scripted server: what each sends, the digest, the preferences that a
// login brings, and the failure paths.
#include "Network/Client/PreferencesBlock.h"
#include "request_fixture.h"

using AccountRequests = RequestTest;

TEST(PreferencesBlockTest, ReplacesOnlyTheBytesItHoldsAndNeverMoreThanTheRecord) {
    Preferences record;
    StorePreferencesBlock(PreferencesBlock({1, 2, 3, 4, 5, 6}, 24), record);
    StorePreferencesBlock(PreferencesBlock({10, 20}, 8), record);
    EXPECT_EQ(record.Unnamed, 10);
    EXPECT_EQ(record.MaxAvatarSize, 20);
    EXPECT_EQ(record.MaxAvatarWidth, 3);
    EXPECT_EQ(record.ProfileCacheSetting, 6);

    // A block that ends inside a field replaces its low bytes only.
    const uint8_t partial[] = {0, 0, 0, 0, 0, 0, 0, 0, 0xff};
    StorePreferencesBlock(partial, record);
    EXPECT_EQ(record.MaxAvatarWidth, 0xff);

    std::vector<uint8_t> longBlock = PreferencesBlock({7, 8, 9, 10, 11, 12}, 100);
    std::fill(longBlock.begin() + 24, longBlock.end(), 0xAB);
    // A canary right after the record shows that nothing beyond its 64 bytes was written.
    struct {
        Preferences Record;
        uint8_t Canary[64];
    } guarded{};
    EXPECT_EQ(StorePreferencesBlock(longBlock, guarded.Record), PreferencesSize);
    EXPECT_EQ(guarded.Record.ProfileCacheSetting, 12);
    EXPECT_EQ(guarded.Record.Reserved[39], 0xAB);
    for (uint8_t b : guarded.Canary)
        ASSERT_EQ(b, 0);
}

TEST_F(AccountRequests, RegisterSendsNameDigestAndLength) {
    AnswerWith("User_Register", 2);
    EXPECT_EQ(User_Register("alice", ""), 2);
    EXPECT_EQ(User_Register("bob_9", "12345678"), 2);
    const auto received = Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].Values,
              (ReceivedValues{"s:alice", "s:d41d8cd98f00b204e9800998ecf8427e", "l:0"}));
    EXPECT_EQ(received[1].Values,
              (ReceivedValues{"s:bob_9", "s:25d55ad283aa400af464c76d713c07ad", "l:8"}));
}

TEST_F(AccountRequests, RegisterRefusesAnInvalidNameWithoutSending) {
    SetLastError("earlier");
    for (const char *name : {"al ice", "al-ice", "J\xfcrgen"})
        EXPECT_EQ(User_Register(name, "secret1"), 5) << name;
    EXPECT_TRUE(Submitted().empty());
    EXPECT_EQ(GetLastErrorText(), "earlier");
    // The empty name passes the client's check; the server decides.
    AnswerWith("User_Register", 5);
    EXPECT_EQ(User_Register("", "secret1"), 5);
    EXPECT_EQ(Submitted().size(), 1u);
}

TEST_F(AccountRequests, LoginBringsThePreferences) {
    AnswerWith("User_GetPreferences", PreferencesBlock({9, 10240, 100, 90, 300, 60}, 24));
    EXPECT_EQ(User_Login("alice", "password"), 1);
    const auto received = Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].Name, "User_Login");
    EXPECT_EQ(received[0].Values,
              (ReceivedValues{"s:alice", "s:5f4dcc3b5aa765d61d8327deb882cf99"}));
    EXPECT_EQ(received[1].Name, "User_GetPreferences");
    const Preferences &p = ClientState.Preferences;
    EXPECT_EQ(p.Unnamed, 9);
    EXPECT_EQ(p.MaxAvatarSize, 10240);
    EXPECT_EQ(p.MaxAvatarWidth, 100);
    EXPECT_EQ(p.MaxAvatarHeight, 90);
    EXPECT_EQ(p.AvatarCacheSetting, 300);
    EXPECT_EQ(p.ProfileCacheSetting, 60);

    // An 8-byte block sets the first two fields only.
    AnswerWith("User_GetPreferences", PreferencesBlock({1, 2048}, 8));
    EXPECT_EQ(User_Login("alice", "password"), 1);
    EXPECT_EQ(p.MaxAvatarSize, 2048);
    EXPECT_EQ(p.MaxAvatarWidth, 100);

    // A 100-byte block is cut to the 64 bytes kept.
    AnswerWith("User_GetPreferences", PreferencesBlock({1, 4096, 64, 64, 5, 6}, 100));
    EXPECT_EQ(User_Login("alice", "password"), 1);
    EXPECT_EQ(p.MaxAvatarSize, 4096);
    EXPECT_EQ(p.ProfileCacheSetting, 6);
}

TEST_F(AccountRequests, RefusedLoginSendsNoPreferencesRequest) {
    AnswerWith("User_GetPreferences", PreferencesBlock({1, 2, 3, 4, 5, 6}, 24));
    for (const int32_t code : {2, 3, 4, 5, 6}) {
        AnswerWith("User_Login", code);
        EXPECT_EQ(User_Login("alice", "wrong"), code);
    }
    EXPECT_EQ(SubmittedNames(), std::vector<std::string>(5, "User_Login"));
    EXPECT_EQ(ClientState.Preferences.MaxAvatarSize, 0);
}

TEST_F(AccountRequests, PreferencesFailuresAfterALogin) {
    // Refused by the library: the login stands, the record is unchanged.
    RefuseSubmissionOf("User_GetPreferences");
    EXPECT_EQ(User_Login("alice", "password"), 1);
    EXPECT_EQ(ClientState.Preferences.MaxAvatarSize, 0);
    EXPECT_NE(GetLastErrorText(), "");

    // Ended by the server with an error: the login fails with that error's text.
    AcceptAllSubmissions();
    AnswerWith("User_GetPreferences", ErrorEvent{JobEvent_Failed});
    EXPECT_EQ(User_Login("alice", "password"), 0);
    EXPECT_EQ(GetLastErrorText(), "An error occurred during your last request");

    // No data: 0 from the request itself, the record unchanged.
    AnswerWith("User_GetPreferences", std::vector<uint8_t>{});
    EXPECT_EQ(User_GetPreferences(), 0);
    EXPECT_EQ(ClientState.Preferences.MaxAvatarSize, 0);
}

TEST_F(AccountRequests, LogoutAndPreferencesGoWithoutAParameterList) {
    AnswerWith("User_Logout", 7);
    EXPECT_EQ(User_Logout(), 7);
    AnswerWith("User_GetPreferences", PreferencesBlock({1, 2}, 8));
    EXPECT_EQ(User_GetPreferences(), 1);
    const auto submitted = Submitted();
    ASSERT_EQ(submitted.size(), 2u);
    EXPECT_FALSE(submitted[0].WithList);
    EXPECT_EQ(submitted[0].ReplyType, ReplyType_Long);
    EXPECT_FALSE(submitted[1].WithList);
    EXPECT_EQ(submitted[1].ReplyType, ReplyType_Memory);
}

TEST_F(AccountRequests, FailuresGiveZeroWithTheirText) {
    AnswerWith("User_Register", ErrorEvent{JobEvent_Denied});
    EXPECT_EQ(User_Register("alice", "secret1"), 0);
    EXPECT_EQ(GetLastErrorText(), "You have not the rights to do this request");

    ASSERT_EQ(Disconnect(), 0);
    SetLastError("");
    EXPECT_EQ(User_Logout(), 0);
    EXPECT_NE(GetLastErrorText(), "") << "the library's text of the refusal";
}
